// Single-line text fields ("Edit"). Typing raises EN_CHANGE (768) through
// the window procedure; focus changes are posted by the field's own
// procedure; colours come from the shared brush cache.
#include <windows.h>

#include <algorithm>

#include "win32/event_kind.h"
#include "win32/events.h"
#include "win32/gadget.h"
#include "win32/gadget_internal.h"
#include "win32/window_internal.h"

namespace rt {

namespace {

constexpr int32_t kNoBorder = 0x00020000;
constexpr DWORD kStringStyle = WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP | ES_AUTOHSCROLL;
constexpr int32_t kFront = 1, kBack = 2;

WNDPROC g_editProcedure = nullptr;  // the class's own, shared by every field

LRESULT CALLBACK FieldProcedure(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SETFOCUS:
      GadgetPostEvent(control, GadgetEventType::FocusIn);
      break;
    case WM_KILLFOCUS:
      GadgetPostEvent(control, GadgetEventType::FocusOut);
      break;
    case WM_KEYDOWN:
      // Older fields, and unthemed ones, do not know Ctrl+A; a repeat of the
      // held key selects nothing new.
      if (wParam == 'A' && GetAsyncKeyState(VK_CONTROL) < 0 && !(lParam & (1 << 30)) &&
          (SystemVersionCode() < 70 || !ApplicationThemed())) {
        PostMessageW(control, EM_SETSEL, 0, -1);
      }
      break;
    default:
      break;
  }
  return CallWindowProcW(g_editProcedure, control, message, wParam, lParam);
}

LRESULT Message(GadgetRecord* gadget, HWND, UINT message, WPARAM wParam, LPARAM, bool* handled) {
  const StringGadgetData& colours = gadget->string;
  if (message != WM_CTLCOLOREDIT && message != WM_CTLCOLORSTATIC) return 0;
  if (message == WM_CTLCOLORSTATIC && !IsWindowEnabled(gadget->control)) return 0;
  if (colours.front == -1 && colours.back == -1) return 0;
  const auto dc = reinterpret_cast<HDC>(wParam);
  *handled = true;
  if (colours.front != -1) SetTextColor(dc, static_cast<COLORREF>(colours.front));
  if (colours.back != -1) {
    SetBkColor(dc, static_cast<COLORREF>(colours.back));
    return reinterpret_cast<LRESULT>(colours.brush);
  }
  const int system = message == WM_CTLCOLOREDIT ? COLOR_WINDOW : COLOR_BTNFACE;
  SetBkColor(dc, GetSysColor(system));
  return reinterpret_cast<LRESULT>(GetSysColorBrush(system));
}

void Free(GadgetRecord* gadget) {
  if (gadget->string.back != -1) BrushCacheRelease(gadget->string.back);
  gadget->string.back = -1;
  gadget->string.brush = nullptr;
}

void SetColor(GadgetRecord* gadget, int32_t type, int64_t colour) {
  StringGadgetData& colours = gadget->string;
  if (type == kFront) {
    colours.front = colour;
  } else if (type == kBack) {
    if (colour == colours.back) return;
    HBRUSH brush = colour == -1 ? nullptr : BrushCacheAcquire(colour);
    if (colours.back != -1) BrushCacheRelease(colours.back);
    colours.back = colour;
    colours.brush = brush;
  } else {
    return;
  }
  RedrawWindow(gadget->control, nullptr, nullptr, RDW_INVALIDATE | RDW_INTERNALPAINT | RDW_ERASE | RDW_FRAME);
}

int64_t GetColor(GadgetRecord* gadget, int32_t type) {
  if (type == kFront) return gadget->string.front;
  if (type == kBack) return gadget->string.back;
  return -1;
}

int32_t GetAttribute(GadgetRecord* gadget, int32_t attribute) {
  return attribute == 1 ? static_cast<int32_t>(SendMessageW(gadget->control, EM_GETLIMITTEXT, 0, 0)) : 0;
}

void SetAttribute(GadgetRecord* gadget, int32_t attribute, int32_t value) {
  if (attribute == 1) SendMessageW(gadget->control, EM_SETLIMITTEXT, static_cast<WPARAM>(std::max(value, 1)), 0);
}

}  // namespace

const GadgetKindTable kStringKind = {GadgetKind::String, Message,  Free,         nullptr, nullptr,
                                     nullptr,            nullptr,  nullptr,      nullptr, nullptr,
                                     GetAttribute,       SetAttribute, SetColor, GetColor};

intptr_t StringGadget(ObjectNumber number, int32_t x, int32_t y, int32_t width, int32_t height, RtString text,
                      int32_t flags) {
  intptr_t result = 0;
  RunOnUserInterfaceThread([&] {
    const DWORD extendedStyle = (flags & kNoBorder) ? 0 : WS_EX_CLIENTEDGE;
    const DWORD style = static_cast<DWORD>(flags & ~kNoBorder) | kStringStyle;
    HWND control = CreateWindowExW(extendedStyle, L"Edit", reinterpret_cast<LPCWSTR>(text ? text : u""), style, x, y,
                                   width, height, GadgetCurrentList(), reinterpret_cast<HMENU>(-1),
                                   GadgetInstance(), nullptr);
    if (control) SubclassControl(control, FieldProcedure, &g_editProcedure);
    GadgetRecord* record = nullptr;
    result = GadgetRegister(number, control, &kStringKind, &record);
    if (!record) return;
    record->string.back = -1;
    record->string.front = -1;
    record->string.brush = nullptr;
  });
  return result;
}

}  // namespace rt
