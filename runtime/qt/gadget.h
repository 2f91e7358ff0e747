// The gadget library: numbered controls inside runtime windows.
//
// Every operation looks the gadget up by number (or DynamicNumber handle)
// and does nothing, returning 0 or an empty text, when it names no gadget.
// Each may be called from any thread: off the user-interface thread it is
// carried over to it (ui_thread.h).
#pragma once

#include <cstdint>

#include "core/types.h"
#include "ui/gadgets.h"

class QFont;
class QImage;
class QWidget;

namespace rt {

struct ObjectTable;
class KTGadgetFunctions;

namespace GadgetKind {
constexpr int32_t Button = 1;
constexpr int32_t String = 2;
constexpr int32_t ComboBox = 8;
constexpr int32_t Image = 9;
constexpr int32_t ProgressBar = 14;
}  // namespace GadgetKind

// Element of the gadget table; the widget is the presence word.
struct GadgetRecord {
  QWidget* widget;
  KTGadgetFunctions* functions;
  QFont* font;
  int32_t kind;
};

// Makes `window` the calling thread's current gadget list: new gadgets go
// into its central widget (or the window itself when it is no main window).
// The previous list's container stack is saved on it and comes back when it
// is selected again. Returns the previous list, or null; with window null it
// only returns the current one.
QWidget* GadgetListSelect(QWidget* window);

// The operations of ui/gadgets.h. Here an image handle is the address of an
// image object (a KTQImage, or any QImage); GadgetSetState from another
// thread does not wait (see ui_thread.h); GadgetFree deletes the gadget's
// widget, and with it its functions object, event filter and children.
inline int32_t GadgetAddItem(ObjectNumber gadget, int32_t position, RtString text, QImage* image,
                             int32_t flags = 0) {
  return GadgetAddItem(gadget, position, text, reinterpret_cast<intptr_t>(image), flags);
}

// Creates the gadget table, reserves the per-thread gadget-list state,
// installs the window library's gadget-list hook and makes the calling
// thread the user-interface thread for calls from other threads.
void GadgetLibraryStart();
// Gadgets die with their windows; the end only stops accepting calls from
// other threads and releases any that wait (UiThreadShutdown).
void GadgetLibraryEnd();

// For the gadget kinds and their tests, on the user-interface thread.
ObjectTable* GadgetTable();
GadgetRecord* GadgetLookup(ObjectNumber gadget);  // the live record, or null

}  // namespace rt
