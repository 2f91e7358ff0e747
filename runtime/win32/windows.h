// Numbered main windows of the Win32 back end: what Windows adds to the
// shared declarations (ui/windows.h).
#pragma once

#include <windows.h>

#include <cstdint>

#include "ui/windows.h"
#include "win32/window_flags.h"

namespace rt {

// The full form: the window belongs to `parent` (may be null).
intptr_t WindowOpen(ObjectNumber number, int32_t x, int32_t y, int32_t width, int32_t height, RtString title,
                    int32_t flags, HWND parent);
// Title bar and system menu (flags 0x00C80000), no parent.
intptr_t WindowOpen(ObjectNumber number, int32_t x, int32_t y, int32_t width, int32_t height, RtString title);

HWND WindowHandle(ObjectNumber window);  // the HWND of a live window, or null
int64_t WindowColor(ObjectNumber window);  // the colour last set, or -1
// The runtime number of `window` or its nearest ancestor that is a runtime
// window, or -1.
int64_t WindowNumberOf(HWND window);
// Limits of the client area the user may drag the window to (0 = none).
void WindowSetSizeLimits(ObjectNumber window, int32_t minWidth, int32_t minHeight, int32_t maxWidth,
                         int32_t maxHeight);

// Window library start (after the events library) and end (frees every window).
void WindowLibraryStart();
void WindowLibraryEnd();

}  // namespace rt
