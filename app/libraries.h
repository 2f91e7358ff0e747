// The runtime libraries of this program in their start-up order (ends run
// in reverse). The program's entry and the in-process tests use the same list.
#pragma once

#include <cstddef>

#include "core/runtime_main.h"

namespace app {

const rt::RuntimeLibrary* RuntimeLibraries(size_t* count);

// The same order without anything of the user interface, for a command-line
// run: it needs no display.
const rt::RuntimeLibrary* ConsoleLibraries(size_t* count);

}  // namespace app
