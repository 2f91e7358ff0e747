// The class procedure of every runtime window: Win32 messages become runtime
// events, messages about gadgets go to their kinds, and WM_NCDESTROY tears
// the window's runtime state down.
#include <windows.h>

#include "core/memory.h"
#include "win32/event_kind.h"
#include "win32/events.h"
#include "win32/gadget.h"
#include "win32/gadget_internal.h"
#include "win32/window_internal.h"

namespace rt {

namespace {

constexpr UINT kTrayIconMessage = 0x30D5;
constexpr UINT kGadgetPrivateMessage = 0x3340;
// Controls with this identifier report as shortcuts, not as gadgets.
constexpr LONG_PTR kShortcutControlId = -10000;

void Post(int32_t kind, int64_t window, int64_t object = 0, int64_t type = 0) {
  EventPost(kind, object, window, type);
}

BOOL CALLBACK ForwardColourChange(HWND child, LPARAM) {
  SendMessageW(child, WM_SYSCOLORCHANGE, 0, 0);
  return TRUE;
}

void PostResized(int64_t number) {
  // Only the latest size matters: at most one resize event waits per window.
  EventPurge(EventKind::Resized, 0, number, 0);
  Post(EventKind::Resized, number);
}

LRESULT OnSize(WindowRecord* record, int64_t number, WPARAM sizeType, bool* handled) {
  if (!record || !record->ready) return 0;
  *handled = true;
  switch (sizeType) {
    case SIZE_MINIMIZED:
      record->minimisedOrMaximised = 1;
      Post(EventKind::Minimized, number);
      break;
    case SIZE_MAXIMIZED:
      record->minimisedOrMaximised = 1;
      Post(EventKind::Maximized, number);
      PostResized(number);
      break;
    case SIZE_RESTORED:
      if (record->minimisedOrMaximised) {
        record->minimisedOrMaximised = 0;
        Post(EventKind::Restored, number);
      }
      PostResized(number);
      break;
    default:
      PostResized(number);
      break;
  }
  return 0;
}

void OnActivate(HWND window, int64_t number, WPARAM state) {
  if (LOWORD(state) == WA_INACTIVE) {
    SetPropW(window, kFocusProperty, GetFocus());
    ShowKeyboardCues(window, false);
    Post(EventKind::Deactivated, number);
    return;
  }
  const auto focus = static_cast<HWND>(GetPropW(window, kFocusProperty));
  if (focus && IsWindow(focus) && IsChild(window, focus)) {
    SetFocus(focus);
  } else if (!HIWORD(state) && !IsChild(window, GetFocus())) {
    // The default procedure would give the window the focus; without any
    // focus the keys would reach no window, and Tab would not work.
    SetFocus(window);
  }
  Post(EventKind::Activated, number);
}

void OnMinMaxInfo(HWND window, const WindowRecord* record, MINMAXINFO* info) {
  RECT frame{0, 0, 0, 0};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE)));
  const LONG extraWidth = frame.right - frame.left, extraHeight = frame.bottom - frame.top;
  if (record->minWidth) info->ptMinTrackSize.x = record->minWidth + extraWidth;
  if (record->minHeight) info->ptMinTrackSize.y = record->minHeight + extraHeight;
  if (record->maxWidth) info->ptMaxTrackSize.x = record->maxWidth + extraWidth;
  if (record->maxHeight) info->ptMaxTrackSize.y = record->maxHeight + extraHeight;
  if (!record->minWidth && (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW)) info->ptMinTrackSize.x = 1;
}

LRESULT OnCommand(HWND window, HWND top, int64_t number, WPARAM wParam, LPARAM lParam) {
  const auto control = reinterpret_cast<HWND>(lParam);
  LRESULT answer = 0;
  if (control && GadgetParentMessage(control, window, WM_COMMAND, wParam, lParam, &answer)) return 0;
  if (control) {
    // The identifier of a gadget is its number or its record's address, which
    // the word in wParam cannot hold: read it from the control.
    const LONG_PTR id = GetWindowLongPtrW(control, GWLP_ID);
    if (id == -1) return 0;  // a gadget being torn down
    if (id != kShortcutControlId) {
      Post(EventKind::Gadget, number, id, HIWORD(wParam));
      return 0;
    }
  }
  if (!control && HIWORD(wParam) == 1 &&
      (LOWORD(wParam) == kNextGadgetCommand || LOWORD(wParam) == kPreviousGadgetCommand)) {
    MoveFocus(top, LOWORD(wParam) == kNextGadgetCommand);
    return 0;
  }
  Post(EventKind::Shortcut, number, LOWORD(wParam));
  return 0;
}

void OnTrayIcon(HWND window, int64_t number, WPARAM wParam, LPARAM lParam) {
  int64_t type = -1;
  switch (lParam) {
    case WM_LBUTTONUP: type = 0; break;
    case WM_RBUTTONUP: type = 1; break;
    case WM_LBUTTONDBLCLK: type = 2; break;
    case WM_RBUTTONDBLCLK: type = 3; break;
    default: break;
  }
  if (type < 0) return;
  Post(EventKind::TrayIcon, number, static_cast<int64_t>(wParam), type);
  PostMessageW(window, WM_NULL, 0, 0);  // the icon's message may come from outside a dispatch
}

void TearDown(HWND window) {
  int64_t number = -1;
  WindowRecord* record = WindowRecordOf(window, &number);
  if (number == -1) return;
  EventUnbindWindow(number);
  RemovePropW(window, kFocusProperty);
  RemovePropW(window, kWindowIdProperty);
  RemovePropW(window, kDropAcceptProperty);  // no window here accepts drops
  if (record) {
    if (record->acceleratorTable) DestroyAcceleratorTable(record->acceleratorTable);
    SizedFree(record->accelerators);
    if (record->brush) DeleteObject(record->brush);
    ObjectTableRelease(WindowTable(), number);
    WindowClassRelease(number);
  }
  WindowForgetMain(window);
  EventPurge(-1, -1, number, -1);
}

LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, bool* handled) {
  HWND top = RuntimeWindowAbove(window);
  int64_t number = -1;
  WindowRecord* record = top ? WindowRecordOf(top, &number) : nullptr;
  const bool self = top == window;
  if (!self) record = nullptr;  // a child of a runtime class has no record of its own
  *handled = true;
  switch (message) {
    case WM_MOVE:
      if (record && record->ready) {
        Post(EventKind::Moved, number, number);
        return 0;
      }
      break;
    case WM_SIZE:
      if (!self && top) return 1;
      {
        bool sized = false;
        const LRESULT result = OnSize(record, number, wParam, &sized);
        if (sized) return result;
      }
      break;
    case WM_ACTIVATE:
      OnActivate(window, number, wParam);
      return 1;
    case WM_CLOSE:
      // The window stays: closing is the program's decision.
      if (self && record) Post(EventKind::CloseRequest, number, number);
      return 0;
    case WM_ERASEBKGND: {
      bool erased = false;
      if (record && (record->brush || record->eraseAlways) && record->erase) {
        record->erase(window, reinterpret_cast<HDC>(wParam), record);
        erased = true;
      }
      if (top) Post(EventKind::Redraw, number);
      if (erased) return 1;
      break;
    }
    case WM_SYSCOLORCHANGE:
      EnumChildWindows(window, ForwardColourChange, 0);
      break;
    case WM_GETMINMAXINFO:
      if (record) {
        OnMinMaxInfo(window, record, reinterpret_cast<MINMAXINFO*>(lParam));
        return 0;
      }
      break;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      LRESULT answer = 0;
      if (header && GadgetParentMessage(header->hwndFrom, window, message, wParam, lParam, &answer)) return answer;
      break;
    }
    case WM_COMMAND:
      return OnCommand(window, top, number, wParam, lParam);
    case WM_TIMER:
      if (record) {
        Post(EventKind::Timer, number, static_cast<int64_t>(wParam));
        return 0;
      }
      break;
    case WM_HSCROLL:
    case WM_VSCROLL:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC:
    case kGadgetPrivateMessage: {
      LRESULT answer = 0;
      if (GadgetParentMessage(reinterpret_cast<HWND>(lParam), window, message, wParam, lParam, &answer)) return answer;
      break;
    }
    case WM_LBUTTONUP:
      Post(EventKind::WindowLeftClick, number);
      return 0;
    case WM_RBUTTONUP:
      Post(EventKind::WindowRightClick, number);
      return 0;
    case WM_LBUTTONDBLCLK:
      Post(EventKind::WindowLeftDoubleClick, number);
      return 0;
    case kTrayIconMessage:
      OnTrayIcon(window, number, wParam, lParam);
      return 0;
    case WM_NCDESTROY:
      TearDown(window);
      break;  // the default procedure frees what the system keeps for the window
    default:
      break;
  }
  *handled = false;
  return 0;
}

}  // namespace

LRESULT CALLBACK WindowClassProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  bool handled = false;
  const LRESULT result = HandleMessage(window, message, wParam, lParam, &handled);
  if (handled) return result;
  SetLastError(0);
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace rt
