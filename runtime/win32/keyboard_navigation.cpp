// Tab and Shift+Tab between gadgets, through each window's accelerator
// table, and the keyboard cues (focus rectangles, underlined access keys)
// that show while the keyboard is in use.
#include <windows.h>
#include <richedit.h>

#include <vector>

#include "win32/window_internal.h"

namespace rt {

namespace {

bool ClassIs(HWND window, const wchar_t* name) {
  wchar_t actual[64];
  return GetClassNameW(window, actual, 64) && CompareStringOrdinal(actual, -1, name, -1, TRUE) == CSTR_EQUAL;
}

bool KeyDown(int key) { return GetKeyState(key) < 0; }

// A control that uses Tab itself: an editable rich-edit control or an
// editor component. Then Tab is typed, not used to move on.
bool WantsTab(HWND focus, const WindowRecord* record) {
  if (!KeyDown(VK_TAB) || KeyDown(VK_CONTROL) || KeyDown(VK_SHIFT) || KeyDown(VK_MENU)) return false;
  bool listsTab = false;
  for (int32_t i = 0; i < record->acceleratorCount; ++i) {
    const ACCEL& entry = record->accelerators[i];
    if (entry.key == VK_TAB && entry.cmd == kNextGadgetCommand) listsTab = true;
  }
  if (!listsTab) return false;
  wchar_t name[16] = {};
  GetClassNameW(focus, name, 16);
  const bool richEdit = (name[0] == L'R' && name[1] == L'i' && name[2] == L'c' && name[3] == L'h' &&
                         name[4] == L'E') ||
                        (name[0] == L'R' && name[1] == L'I' && name[2] == L'C' && name[3] == L'H');
  if (richEdit) return !(SendMessageW(focus, EM_GETOPTIONS, 0, 0) & ECO_READONLY);
  return lstrcmpW(name, L"Scintilla") == 0;
}

struct Candidates {
  std::vector<HWND> windows;
};

BOOL CALLBACK Collect(HWND child, LPARAM raw) {
  const LONG_PTR style = GetWindowLongPtrW(child, GWL_STYLE);
  if ((style & WS_TABSTOP) && IsWindowEnabled(child) && IsWindowVisible(child)) {
    reinterpret_cast<Candidates*>(raw)->windows.push_back(child);
  }
  return TRUE;
}

}  // namespace

HACCEL AcceleratorTableFor(HWND active) {
  if (!active) return nullptr;
  DWORD process = 0;
  GetWindowThreadProcessId(active, &process);
  if (process != GetCurrentProcessId()) return nullptr;
  const WindowRecord* record = WindowRecordOf(active, nullptr);
  if (!record || !record->acceleratorTable) return nullptr;
  if (HWND focus = GetFocus()) {
    if (GetPropW(focus, L"KT_Hotkey")) return nullptr;  // a hot-key field takes every key
    if (WantsTab(focus, record)) return nullptr;
  }
  if (KeyDown(VK_CONTROL) || KeyDown(VK_SHIFT) || KeyDown(VK_MENU)) ShowKeyboardCues(active, true);
  return record->acceleratorTable;
}

void MoveFocus(HWND active, bool forward) {
  if (!active) return;
  HWND root = active;
  HWND start = nullptr;
  HWND focus = GetFocus();
  if (focus && IsChild(active, focus)) {
    start = focus;
    // A compound control counts as one stop; inside an MDI child only its
    // own controls take part.
    for (HWND above = focus; above && above != active; above = GetParent(above)) {
      if (ClassIs(above, L"MDI_ChildClass")) {
        root = above;
        if (above == focus) start = nullptr;
        break;
      }
      if ((ClassIs(above, L"ComboBoxEx32") && (GetWindowLongPtrW(above, GWL_STYLE) & 1)) ||
          ClassIs(above, L"SysIPAddress32")) {
        start = above;
      }
    }
  }
  Candidates candidates;
  EnumChildWindows(root, Collect, reinterpret_cast<LPARAM>(&candidates));
  const std::vector<HWND>& list = candidates.windows;
  if (list.empty()) return;
  size_t at = list.size();
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i] == start) at = i;
  }
  HWND next;
  if (forward) {
    // Past the last one, or from nowhere, the first one.
    next = (at + 1 < list.size()) ? list[at + 1] : list.front();
  } else {
    next = (at != list.size() && at > 0) ? list[at - 1] : list.back();
  }
  SetFocus(next);
}

void ShowKeyboardCues(HWND window, bool show) {
  if (!window) return;
  const LRESULT state = SendMessageW(window, WM_QUERYUISTATE, 0, 0);
  constexpr LRESULT both = UISF_HIDEFOCUS | UISF_HIDEACCEL;
  if (show) {
    if (state & both) SendMessageW(window, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, both), 0);
  } else if ((state & both) != both) {
    SendMessageW(window, WM_CHANGEUISTATE, MAKEWPARAM(UIS_SET, both), 0);
  }
}

}  // namespace rt
