// Numbered main windows of the Qt back end.
#pragma once

#include <cstdint>

#include "core/types.h"
#include "ui/windows.h"

class QWidget;

namespace rt {

namespace WindowFlags {
constexpr int32_t Invisible = 0x0001;
constexpr int32_t Resizable = 0x0002;
constexpr int32_t SystemMenu = 0x0004;
constexpr int32_t TitleBar = 0x0008;
constexpr int32_t MaximizeGadget = 0x0010;
constexpr int32_t MinimizeGadget = 0x0020;
constexpr int32_t ScreenCentered = 0x0040;
constexpr int32_t BorderLess = 0x0080;
constexpr int32_t WindowCentered = 0x0100;
constexpr int32_t Maximize = 0x0200;
constexpr int32_t Minimize = 0x0400;
constexpr int32_t Tool = 0x0800;
constexpr int32_t NoGadgets = 0x1000;
}  // namespace WindowFlags

// WindowOpen (ui/windows.h) gives the KTQMainWindow for a fixed number;
// this form opens the window as a child of `parent`.
intptr_t WindowOpen(ObjectNumber number, int32_t x, int32_t y, int32_t width, int32_t height,
                    RtString title, int32_t flags, QWidget* parent);
intptr_t WindowOpen(ObjectNumber number, int32_t x, int32_t y, int32_t width, int32_t height, RtString title);
int64_t WindowColor(ObjectNumber window);  // the colour last set, or -1

// The KTQMainWindow of a live window, or null.
QWidget* WindowWidget(ObjectNumber window);
// The runtime number of the KTQMainWindow that is `widget`'s top-level window, or -1.
int64_t WindowNumberOfWidget(const QWidget* widget);

// Seam to the gadget library: WindowOpen makes each new window (unless
// NoGadgets) the calling thread's current gadget list through this hook,
// which the gadget library installs at its start.
using GadgetListSelectHook = void (*)(QWidget* window);
void WindowSetGadgetListHook(GadgetListSelectHook hook);

void WindowLibraryStart();
void WindowLibraryEnd();

}  // namespace rt
