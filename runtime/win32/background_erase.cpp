// The window's background: its brush fills the client area except where a
// child draws its own opaque face. Text fields, combo boxes and images stand
// on the window's background (their frames, rounded corners and transparent
// pixels show it), so the brush is laid beneath them; every other child's
// rectangle is left out, so it is not painted over and then again.
#include <windows.h>

#include "win32/gadget.h"
#include "win32/window_internal.h"

namespace rt {

namespace {

bool StandsOnBackground(HWND child) {
  wchar_t name[32];
  if (GetClassNameW(child, name, 32) && CompareStringOrdinal(name, -1, L"TOOLBARWINDOW32", -1, TRUE) == CSTR_EQUAL) {
    return true;
  }
  switch (GadgetKindOf(child)) {
    case GadgetKind::String:
    case 7:  // a kind this program does not have, drawn the same way
    case GadgetKind::ComboBox:
    case GadgetKind::Image:
      return true;
    default:
      return false;
  }
}

}  // namespace

void EraseBackground(HWND window, HDC dc, const WindowRecord* record) {
  const HBRUSH brush = record->brush ? record->brush : GetSysColorBrush(COLOR_BTNFACE);
  HRGN saved = CreateRectRgn(0, 0, 0, 0);
  const int hadClip = saved ? GetClipRgn(dc, saved) : -1;
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (!IsWindowVisible(child) || StandsOnBackground(child)) continue;
    RECT area;
    GetWindowRect(child, &area);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&area), 2);
    ExcludeClipRect(dc, area.left, area.top, area.right, area.bottom);
  }
  RECT client;
  GetClientRect(window, &client);
  FillRect(dc, &client, brush);
  SelectClipRgn(dc, hadClip == 1 ? saved : nullptr);
  if (saved) DeleteObject(saved);
}

}  // namespace rt
