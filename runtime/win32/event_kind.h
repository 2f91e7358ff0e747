// Runtime event kinds and gadget event types of the Win32 back end. The
// values differ from the Qt back end's: a program compares against the ones
// of the platform it is built for.
#pragma once

#include <cstdint>

namespace rt {

namespace EventKind {
constexpr int32_t None = 0;
constexpr int32_t Gadget = 13100;
constexpr int32_t Shortcut = 13101;
constexpr int32_t TrayIcon = 13102;
constexpr int32_t Activated = 13104;
constexpr int32_t Minimized = 13107;
constexpr int32_t Maximized = 13108;
constexpr int32_t Restored = 13109;
constexpr int32_t Timer = 13110;
constexpr int32_t WindowRightClick = 13111;
constexpr int32_t WindowLeftClick = 13112;
constexpr int32_t WindowLeftDoubleClick = 13113;
constexpr int32_t Deactivated = 13114;
constexpr int32_t Redraw = 13115;
constexpr int32_t CloseRequest = 13116;
constexpr int32_t Moved = 13117;
constexpr int32_t Resized = 13118;
}  // namespace EventKind

namespace GadgetEventType {
constexpr int32_t LeftClick = 0;
constexpr int32_t RightClick = 1;
constexpr int32_t LeftDoubleClick = 2;
constexpr int32_t RightDoubleClick = 3;
constexpr int32_t Change = 768;  // also the edit control's EN_CHANGE (0x300)
constexpr int32_t FocusIn = 14000;
constexpr int32_t FocusOut = 14001;
constexpr int32_t DragBegin = 14002;
}  // namespace GadgetEventType

}  // namespace rt
