// Window flags of the Win32 back end: bits 0 to 3, 25 and 28 belong to the
// runtime; every other bit is a Win32 window style passed on unchanged.
#pragma once

#include <cstdint>

namespace rt::WindowFlags {

constexpr int32_t ScreenCentered = 0x00000001;
constexpr int32_t WindowCentered = 0x00000002;  // on the parent window
constexpr int32_t Tool = 0x00000004;
constexpr int32_t NoGadgets = 0x00000008;  // not made the current gadget list
constexpr int32_t MaximizeGadget = 0x00010000;
constexpr int32_t MinimizeGadget = 0x00020000;
constexpr int32_t Resizable = 0x00040000;
constexpr int32_t SystemMenu = 0x00080000;
constexpr int32_t TitleBar = 0x00C00000;
constexpr int32_t Maximize = 0x01000000;
constexpr int32_t NoActivate = 0x02000000;
constexpr int32_t Invisible = 0x10000000;
constexpr int32_t Minimize = 0x20000000;

}  // namespace rt::WindowFlags
