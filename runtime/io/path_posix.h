// Names handed to the operating system: checked UTF-16 in, UTF-8 path out.
#pragma once

#include "core/types.h"

namespace rt {

// A UTF-8 path for `name` (free it with FreeUtf8), or null when the name is
// absent, empty, not well-formed UTF-16 (a lone surrogate would otherwise turn
// into bytes that name a different file) or longer than PATH_MAX allows.
char* PathFromName(RtString name);

}  // namespace rt
