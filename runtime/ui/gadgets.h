// Gadgets: numbered controls inside runtime windows, created in the
// calling thread's current gadget list (the window opened last). What every
// back end provides; each kind's flag values are the back end's own.
//
// Every operation looks the gadget up by number (or DynamicNumber handle)
// and does nothing, returning 0 or an empty text, when it names no gadget.
// Each may be called from any thread: off the user-interface thread it is
// carried over to it, in the order issued, and a text or state read returns
// the gadget's current value.
#pragma once

#include <cstdint>

#include "core/types.h"

namespace rt {

// Creation: for DynamicNumber the gadget's handle, otherwise the native
// control; 0 on failure. `image` is an image handle (ImageHandle) or 0.
intptr_t ButtonGadget(ObjectNumber number, int32_t x, int32_t y, int32_t width, int32_t height, RtString text,
                      int32_t flags);
intptr_t ComboBoxGadget(ObjectNumber number, int32_t x, int32_t y, int32_t width, int32_t height, int32_t flags);
intptr_t StringGadget(ObjectNumber number, int32_t x, int32_t y, int32_t width, int32_t height, RtString text,
                      int32_t flags);
intptr_t ProgressBarGadget(ObjectNumber number, int32_t x, int32_t y, int32_t width, int32_t height, int32_t minimum,
                           int32_t maximum, int32_t flags);
intptr_t ImageGadget(ObjectNumber number, int32_t x, int32_t y, int32_t width, int32_t height, intptr_t image,
                     int32_t flags);

void GadgetDisable(ObjectNumber gadget, int32_t state);  // any nonzero state disables
void GadgetSetText(ObjectNumber gadget, RtString text);
// Writes the gadget's text at `offset` of the calling thread's workspace.
void GadgetGetText(ObjectNumber gadget, int64_t offset);
// Inserts an item at `position` (-1 or past the end: at the end); 1 when an
// item was added, 0 otherwise.
int32_t GadgetAddItem(ObjectNumber gadget, int32_t position, RtString text, intptr_t image, int32_t flags);
inline int32_t GadgetAddItem(ObjectNumber gadget, int32_t position, RtString text) {
  return GadgetAddItem(gadget, position, text, 0, 0);
}
void GadgetSetState(ObjectNumber gadget, int64_t value);
int64_t GadgetGetState(ObjectNumber gadget);
// Deletes the gadget; DynamicNumber frees all.
void GadgetFree(ObjectNumber gadget);

}  // namespace rt
