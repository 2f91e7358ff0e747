#include "qt/gadget.h"

#include <QFont>
#include <QVariant>
#include <QWidget>

#include "core/object_table.h"
#include "qt/gadget_create.h"
#include "qt/gadget_functions.h"
#include "qt/gadget_list.h"
#include "qt/gadget_text.h"
#include "qt/ui_thread.h"
#include "qt/windows.h"

namespace rt {

namespace {

ObjectTable* gadgetTable = nullptr;

// The live record, with or without its functions object. Check first: an
// arbitrary number outside the slots must not be taken for a handle.
GadgetRecord* RecordOf(ObjectNumber gadget) {
  if (!gadgetTable || ObjectTableCheck(gadgetTable, gadget) == 0) return nullptr;
  return static_cast<GadgetRecord*>(ObjectTableGet(gadgetTable, gadget));
}

void SetStateHere(ObjectNumber gadget, int64_t value) {
  if (GadgetRecord* record = GadgetLookup(gadget)) record->functions->SetState(value);
}

void FreeHere(ObjectNumber gadget) {
  if (!gadgetTable) return;
  if (gadget == DynamicNumber) {
    ObjectTableReleaseAll(gadgetTable);
    return;
  }
  GadgetRecord* record = RecordOf(gadget);
  if (!record) return;
  delete record->widget;  // its functions object releases the number
  // Whatever is left goes too, so a walk over the table always moves on.
  if (RecordOf(gadget) == record) ObjectTableRelease(gadgetTable, gadget);
}

}  // namespace

ObjectTable* GadgetTable() { return gadgetTable; }

GadgetRecord* GadgetLookup(ObjectNumber gadget) {
  GadgetRecord* record = RecordOf(gadget);
  return record && record->functions ? record : nullptr;
}

GadgetRecord* GadgetCreateBegin(ObjectNumber number, GuiThreadState* state, GadgetPlacement* placement) {
  if (!gadgetTable) return nullptr;
  auto* record = static_cast<GadgetRecord*>(ObjectTableAllocate(gadgetTable, number));
  if (!record) return nullptr;
  QWidget* container = state ? state->container.data() : nullptr;
  placement->parent = container;
  placement->identity.requested = number;
  placement->identity.id = number == DynamicNumber ? ObjectHandle(record) : number;
  placement->identity.window = container ? WindowNumberOfWidget(container) : -1;
  placement->identity.record = record;
  placement->font = state ? state->gadgetFont.get() : nullptr;
  return record;
}

void GadgetCreateName(QWidget* widget, const GadgetPlacement& placement) {
  widget->setProperty("KT_GadgetID", QVariant(qlonglong(placement.identity.id)));
  if (placement.font) widget->setFont(*placement.font);
}

intptr_t GadgetCreateEnd(GadgetRecord* record, QWidget* widget, KTGadgetFunctions* functions, int32_t kind,
                         const GadgetPlacement& placement, int32_t x, int32_t y, int32_t width, int32_t height) {
  record->widget = widget;
  record->functions = functions;
  record->kind = kind;
  record->font = placement.font;
  widget->move(x, y);
  widget->resize(width, height);
  widget->show();
  return placement.identity.requested == DynamicNumber ? static_cast<intptr_t>(placement.identity.id)
                                                       : reinterpret_cast<intptr_t>(widget);
}

void GadgetReleaseNumber(ObjectNumber id, const KTGadgetFunctions* functions) {
  const GadgetRecord* record = RecordOf(id);
  // The number may already name a newer gadget.
  if (record && record->functions == functions) ObjectTableRelease(gadgetTable, id);
}

void GadgetDisable(ObjectNumber gadget, int32_t state) {
  UiThreadRunVoid([gadget, state] {
    if (GadgetRecord* record = GadgetLookup(gadget)) record->widget->setEnabled(state == 0);
  });
}

void GadgetSetText(ObjectNumber gadget, RtString text) {
  UiThreadRunVoid([gadget, text] {
    if (GadgetRecord* record = GadgetLookup(gadget)) record->functions->SetText(ToQString(text));
  });
}

void GadgetGetText(ObjectNumber gadget, int64_t offset) {
  UiThreadReturnText(
      [gadget] {
        GadgetRecord* record = GadgetLookup(gadget);
        return record ? record->functions->GetText() : QString();
      },
      offset);
}

int32_t GadgetAddItem(ObjectNumber gadget, int32_t position, RtString text, intptr_t imageHandle, int32_t flags) {
  QImage* image = reinterpret_cast<QImage*>(imageHandle);
  return static_cast<int32_t>(UiThreadRunNumber([=] {
    GadgetRecord* record = GadgetLookup(gadget);
    return record ? record->functions->AddItem(position, ToQString(text), image, flags) : 0;
  }));
}

void GadgetSetState(ObjectNumber gadget, int64_t value) { UiThreadPostState(SetStateHere, gadget, value); }

int64_t GadgetGetState(ObjectNumber gadget) {
  return UiThreadRunNumber([gadget]() -> int64_t {
    GadgetRecord* record = GadgetLookup(gadget);
    return record ? record->functions->GetState() : 0;
  });
}

void GadgetFree(ObjectNumber gadget) {
  // Also the table's free function, called under its lock on this thread.
  if (UiThreadIsCurrent()) {
    FreeHere(gadget);
  } else {
    UiThreadRunVoid([gadget] { FreeHere(gadget); });
  }
}

void GadgetLibraryStart() {
  if (!gadgetTable) gadgetTable = ObjectTableCreate(sizeof(GadgetRecord), 16, GadgetFree);
  GadgetListStart();
  WindowSetGadgetListHook([](QWidget* window) { GadgetListSelect(window); });
  UiThreadStart();
}

void GadgetLibraryEnd() { UiThreadShutdown(); }

}  // namespace rt
