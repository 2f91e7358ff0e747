// The creation steps every gadget kind shares (for the kinds' own files).
#pragma once

#include <cstdint>

#include "core/types.h"
#include "qt/gadget.h"
#include "qt/gadget_functions.h"
#include "qt/gadget_list.h"
#include "qt/ui_thread.h"

class QWidget;

namespace rt {

struct GadgetPlacement {
  QWidget* parent;  // the creating thread's current container, or null (a top-level widget)
  GadgetIdentity identity;
  QFont* font;
};

// Gets the record for `number` (a live gadget there is freed first) and works
// out the new gadget's id and window. Null when the table cannot hold the
// number; nothing is created then.
GadgetRecord* GadgetCreateBegin(ObjectNumber number, GuiThreadState* state, GadgetPlacement* placement);
// Names the new widget by KT_GadgetID (before its functions object exists, so
// that colour selectors registered by it match) and gives it the font.
void GadgetCreateName(QWidget* widget, const GadgetPlacement& placement);
// Fills the record, places and shows the widget; the handle to return.
intptr_t GadgetCreateEnd(GadgetRecord* record, QWidget* widget, KTGadgetFunctions* functions, int32_t kind,
                         const GadgetPlacement& placement, int32_t x, int32_t y, int32_t width, int32_t height);

// Called by a functions object as it dies.
void GadgetReleaseNumber(ObjectNumber id, const KTGadgetFunctions* functions);

// makeWidget(parent) creates the kind's widget; setUp(widget, identity,
// &width, &height) creates its functions object and does the kind's own
// set-up (it may change the size). Runs on the user-interface thread; the
// container is the calling thread's.
template <class MakeWidget, class SetUp>
intptr_t GadgetCreate(ObjectNumber number, int32_t kind, int32_t x, int32_t y, int32_t width, int32_t height,
                      MakeWidget&& makeWidget, SetUp&& setUp) {
  GuiThreadState* state = CurrentGuiThreadState();
  return static_cast<intptr_t>(UiThreadRunNumber([&]() -> intptr_t {
    GadgetPlacement placement{};
    GadgetRecord* record = GadgetCreateBegin(number, state, &placement);
    if (!record) return 0;
    QWidget* widget = makeWidget(placement.parent);
    GadgetCreateName(widget, placement);
    int32_t w = width;
    int32_t h = height;
    KTGadgetFunctions* functions = setUp(widget, placement.identity, &w, &h);
    return GadgetCreateEnd(record, widget, functions, kind, placement, x, y, w, h);
  }));
}

}  // namespace rt
