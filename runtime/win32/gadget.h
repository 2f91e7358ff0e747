// Gadgets of the Win32 back end: what Windows adds to the shared
// declarations (ui/gadgets.h). Each gadget is a standard control inside the
// current gadget list; its number (or, for DynamicNumber, its record's
// address) is also its control identifier and its "KT_ID" property.
//
// The operations of ui/gadgets.h may be called from any thread: off the
// user-interface thread each is carried over whole (RunOnUserInterfaceThread,
// win32/events.h) and runs there in the order issued.
#pragma once

#include <windows.h>

#include <cstdint>

#include "ui/gadgets.h"

namespace rt {

namespace GadgetKind {
constexpr int32_t Button = 1;
constexpr int32_t String = 2;
constexpr int32_t ComboBox = 8;
constexpr int32_t Image = 9;
constexpr int32_t ProgressBar = 14;
}  // namespace GadgetKind

// Makes `window` the current gadget list, into which new gadgets go; its
// container state is saved on the previous list and comes back when that is
// selected again. Returns the previous list (null when none).
HWND GadgetListSelect(HWND window);

HWND GadgetHandle(ObjectNumber gadget);  // the control of a live gadget, or null
int32_t GadgetKindOf(HWND control);      // the kind of a runtime gadget's control, or 0

// Moves and sizes a gadget; UnsetCoordinate keeps the current value.
void GadgetResize(ObjectNumber gadget, int32_t x, int32_t y, int32_t width, int32_t height);
// Colour type 1 front (text, bar), 2 back; -1 restores the system colour.
void GadgetSetColor(ObjectNumber gadget, int32_t type, int64_t colour);
int64_t GadgetGetColor(ObjectNumber gadget, int32_t type);
int32_t GadgetGetAttribute(ObjectNumber gadget, int32_t attribute);
void GadgetSetAttribute(ObjectNumber gadget, int32_t attribute, int32_t value);
int32_t GadgetCountItems(ObjectNumber gadget);

// Gadget library start (after the window library) and end (frees every
// gadget still alive, then the font).
void GadgetLibraryStart();
void GadgetLibraryEnd();

}  // namespace rt
