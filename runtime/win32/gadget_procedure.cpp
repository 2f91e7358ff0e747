// The common gadget procedure every control is subclassed with, the
// identification of a control as a gadget, gadget events, and the tear-down
// that runs when the control is destroyed (by GadgetFree, by reuse of its
// number, or with its window).
#include <windows.h>

#include "win32/event_kind.h"
#include "win32/events.h"
#include "win32/gadget_internal.h"
#include "win32/windows.h"

namespace rt {

namespace {

constexpr wchar_t kDropAcceptProperty[] = L"KT_DropAccept";

void TearDown(HWND control, GadgetRecord* record) {
  const int64_t identity = GetWindowLongPtrW(control, GWLP_ID);
  EventUnbindObject(EventKind::Gadget, identity);
  if (record->kind->free) record->kind->free(record);
  RemovePropW(control, kGadgetIdProperty);
  RemovePropW(control, kDropAcceptProperty);  // no gadget here accepts drops
  // From here on the control counts as torn down: no event, no record.
  SetWindowLongPtrW(control, GWLP_ID, -1);
  EventPurge(EventKind::Gadget, identity, -1, -1);
  ObjectTableRelease(GadgetTable(), identity);
}

LRESULT CALLBACK GadgetProcedure(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
  GadgetRecord* record = GadgetOfControl(control);
  if (!record) return DefWindowProcW(control, message, wParam, lParam);
  const WNDPROC previous = record->previous;
  const LRESULT result = CallWindowProcW(previous, control, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    // The record outlived the control's own handling; look again all the same.
    if (GadgetRecord* still = GadgetOfControl(control)) TearDown(control, still);
  }
  return result;
}

}  // namespace

GadgetRecord* GadgetOfControl(HWND control) {
  if (!control) return nullptr;
  const LONG_PTR id = GetWindowLongPtrW(control, GWLP_ID);
  if (id == -1) return nullptr;
  // The identifier is only trusted when the record names this control back:
  // number 0 is a plain control's identifier as well.
  auto* record = static_cast<GadgetRecord*>(ObjectTableGet(GadgetTable(), id));
  return record && record->control == control ? record : nullptr;
}

int64_t GadgetIdentity(const GadgetRecord* gadget) { return GetWindowLongPtrW(gadget->control, GWLP_ID); }

intptr_t GadgetRegister(ObjectNumber number, HWND control, const GadgetKindTable* kind, GadgetRecord** created) {
  *created = nullptr;
  if (!control) return 0;
  auto* record = static_cast<GadgetRecord*>(ObjectTableAllocate(GadgetTable(), number));
  if (!record) {
    DestroyWindow(control);
    return 0;
  }
  const int64_t identity = number == DynamicNumber ? ObjectHandle(record) : number;
  record->control = control;
  record->kind = kind;
  record->previous = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(GadgetProcedure)));
  SetWindowLongPtrW(control, GWLP_ID, static_cast<LONG_PTR>(identity));
  SetPropW(control, kGadgetIdProperty, reinterpret_cast<HANDLE>(static_cast<intptr_t>(identity)));
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(GadgetCurrentFont()), FALSE);
  *created = record;
  return number == DynamicNumber ? static_cast<intptr_t>(identity) : reinterpret_cast<intptr_t>(control);
}

void GadgetPostEvent(HWND control, int64_t type) {
  const LONG_PTR id = GetWindowLongPtrW(control, GWLP_ID);
  if (id == -1) return;
  EventPost(EventKind::Gadget, id, WindowNumberOf(control), type);
}

bool GadgetParentMessage(HWND control, HWND parent, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  GadgetRecord* record = GadgetOfControl(control);
  if (!record || !record->kind->message) return false;
  bool handled = false;
  const LRESULT answer = record->kind->message(record, parent, message, wParam, lParam, &handled);
  if (handled) *result = answer;
  return handled;
}

WNDPROC SubclassControl(HWND control, WNDPROC procedure, WNDPROC* saved) {
  const auto previous =
      reinterpret_cast<WNDPROC>(SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure)));
  if (!*saved) *saved = previous;
  return previous;
}

}  // namespace rt
