// Windows of the user interface, as numbered objects: what every back end
// (runtime/qt, runtime/win32) provides. The window flags are each back end's
// own encoding (qt/windows.h, win32/windows.h); everything else here means
// the same on both.
#pragma once

#include <cstdint>

#include "core/types.h"

namespace rt {

// A coordinate the window's placement chooses (centring, or the system's default).
constexpr int32_t UnsetCoordinate = -65535;

// For DynamicNumber the window's handle, otherwise the native window; 0 on failure.
intptr_t WindowOpen(ObjectNumber number, int32_t x, int32_t y, int32_t width, int32_t height, RtString title,
                    int32_t flags);
// Background of the window's content area; -1 restores the default.
void WindowSetColor(ObjectNumber window, int64_t colour);
// Deletes the window (DynamicNumber: every window); its queued events go with it.
void WindowFree(ObjectNumber window);

// red | green << 8 | blue << 16, inputs unmasked (shifted as unsigned, so
// that negative inputs give the two's-complement result without overflow).
inline int64_t RgbColor(int64_t red, int64_t green, int64_t blue) {
  return static_cast<int64_t>(static_cast<uint64_t>(red) | static_cast<uint64_t>(green) << 8 |
                              static_cast<uint64_t>(blue) << 16);
}

}  // namespace rt
