// Push buttons: a click reaches the window as BN_CLICKED, which the window
// procedure posts as gadget event type 0.
#include <windows.h>

#include "win32/events.h"
#include "win32/gadget.h"
#include "win32/gadget_internal.h"

namespace rt {

namespace {

constexpr DWORD kButtonStyle = WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP | BS_PUSHBUTTON;

int64_t GetState(GadgetRecord* gadget) { return SendMessageW(gadget->control, BM_GETCHECK, 0, 0) & 1; }

void SetState(GadgetRecord* gadget, int64_t value) {
  SendMessageW(gadget->control, BM_SETCHECK, value != 0, 0);
}

}  // namespace

const GadgetKindTable kButtonKind = {GadgetKind::Button, nullptr, nullptr, GetState, SetState, nullptr, nullptr,
                                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};

intptr_t ButtonGadget(ObjectNumber number, int32_t x, int32_t y, int32_t width, int32_t height, RtString text,
                      int32_t flags) {
  intptr_t result = 0;
  RunOnUserInterfaceThread([&] {
    // Created with identifier -1, which no event is posted for, until the
    // gadget has its number.
    HWND control = CreateWindowExW(0, L"Button", reinterpret_cast<LPCWSTR>(text ? text : u""),
                                   static_cast<DWORD>(flags) | kButtonStyle, x, y, width, height,
                                   GadgetCurrentList(), reinterpret_cast<HMENU>(-1), GadgetInstance(), nullptr);
    GadgetRecord* record = nullptr;
    result = GadgetRegister(number, control, &kButtonKind, &record);
  });
  return result;
}

}  // namespace rt
