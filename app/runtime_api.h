// The runtime operations the updater calls, gathered per platform.
#pragma once

#include "core/arrays.h"
#include "core/rt_string.h"
#include "core/threads.h"
#include "core/workspace.h"

#ifdef _WIN32
#error "the Windows runtime headers join here when the Win32 back end exists"
#else
#include "image/image.h"
#include "io/file.h"
#include "io/serial.h"
#include "qt/button_gadget.h"
#include "qt/combo_box_gadget.h"
#include "qt/gadget.h"
#include "qt/image_gadget.h"
#include "qt/progress_bar_gadget.h"
#include "qt/qt_image.h"
#include "qt/requesters.h"
#include "qt/string_gadget.h"
#include "qt/wait_window_event.h"
#include "qt/windows.h"
#endif
