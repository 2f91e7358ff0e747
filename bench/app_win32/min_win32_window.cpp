// The yardstick for start-up and idle figures: a minimal Win32 program with
// the same window (400 x 200 client area, centred, title bar and system menu)
// and the same five kinds of controls, waiting in GetMessageW. No runtime,
// no banner decode, no port scan.
#include <windows.h>

#include <commctrl.h>

namespace {

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void Control(HWND parent, const wchar_t* type, const wchar_t* text, DWORD style, int x, int y, int w, int h) {
  CreateWindowExW(0, type, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent, nullptr, GetModuleHandleW(nullptr),
                  nullptr);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  WNDCLASSW type = {};
  type.lpfnWndProc = Procedure;
  type.hInstance = instance;
  type.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
  type.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  type.lpszClassName = L"MinimalWindow";
  RegisterClassW(&type);
  const DWORD style = WS_CAPTION | WS_SYSMENU;
  RECT frame = {0, 0, 400, 200};
  AdjustWindowRectEx(&frame, style, FALSE, 0);
  const int w = frame.right - frame.left, h = frame.bottom - frame.top;
  HWND window = CreateWindowExW(0, L"MinimalWindow", L"Minimal window", style, (GetSystemMetrics(SM_CXSCREEN) - w) / 2,
                                (GetSystemMetrics(SM_CYSCREEN) - h) / 2, w, h, nullptr, nullptr, instance, nullptr);
  Control(window, L"STATIC", L"", SS_NOTIFY, 0, 0, 400, 60);
  Control(window, L"ComboBox", L"", CBS_DROPDOWNLIST | WS_TABSTOP | WS_VSCROLL, 10, 70, 70, 200);
  Control(window, L"Edit", L"trx.fw", WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL, 90, 70, 200, 20);
  Control(window, L"Button", L"Open", WS_TABSTOP, 300, 70, 90, 20);
  Control(window, PROGRESS_CLASSW, L"", 0, 10, 110, 380, 30);
  Control(window, L"Button", L"UPDATE!", WS_TABSTOP, 140, 160, 140, 30);
  ShowWindow(window, SW_SHOWNORMAL);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
