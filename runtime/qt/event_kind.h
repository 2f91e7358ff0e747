// Runtime event kinds and gadget event types of the Qt back end.
#pragma once

#include <cstdint>

namespace rt {

namespace EventKind {
constexpr int32_t None = 0;
constexpr int32_t Shortcut = 1;
constexpr int32_t CloseRequest = 2;
constexpr int32_t Gadget = 3;
constexpr int32_t Redraw = 4;
constexpr int32_t Moved = 5;
constexpr int32_t Resized = 6;
constexpr int32_t Activated = 7;
constexpr int32_t Deactivated = 8;
constexpr int32_t TrayIcon = 9;
constexpr int32_t Minimized = 12;
constexpr int32_t Maximized = 13;
constexpr int32_t Restored = 14;
constexpr int32_t Timer = 15;
constexpr int32_t WindowRightClick = 16;
constexpr int32_t WindowLeftClick = 17;
constexpr int32_t WindowLeftDoubleClick = 18;
constexpr int32_t Interrupted = -1;
}  // namespace EventKind

namespace GadgetEventType {
constexpr int32_t LeftClick = 0;
constexpr int32_t RightClick = 1;
constexpr int32_t LeftDoubleClick = 2;
constexpr int32_t RightDoubleClick = 3;
constexpr int32_t Resized = 6;
constexpr int32_t FocusIn = 256;
constexpr int32_t FocusOut = 512;
constexpr int32_t Change = 768;
constexpr int32_t ReturnPressed = 1281;
constexpr int32_t DragBegin = 2048;
}  // namespace GadgetEventType

}  // namespace rt
