// The runtime operations the updater calls: one set of declarations for
// both programs, free of any toolkit or operating-system type. Each back end
// (runtime/qt with the POSIX I/O, runtime/win32 with its I/O) implements
// exactly these; the per-platform values (event kinds, window flags) live in
// app/platform_*.cpp.
#pragma once

#include "core/arrays.h"
#include "core/rt_string.h"
#include "core/threads.h"
#include "core/workspace.h"
#include "image/image.h"
#include "io/file.h"
#include "io/serial.h"
#include "ui/events.h"
#include "ui/gadgets.h"
#include "ui/requesters.h"
#include "ui/windows.h"
