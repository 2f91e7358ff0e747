// Numbered main windows: one registered class per window, a client area of
// exactly the requested size, centring, and the window library's table.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/memory.h"
#include "win32/events.h"
#include "win32/gadget.h"
#include "win32/requesters.h"
#include "win32/window_internal.h"
#include "win32/windows.h"

namespace rt {

namespace {

// Bits of the flags that are the runtime's, not window styles.
constexpr uint32_t kCentreBits = WindowFlags::ScreenCentered | WindowFlags::WindowCentered;
constexpr uint32_t kRuntimeLowBits = kCentreBits | WindowFlags::Tool;
constexpr uint32_t kToolRemoves =
    WindowFlags::MaximizeGadget | WindowFlags::MinimizeGadget | WindowFlags::Maximize | WindowFlags::Minimize;

ObjectTable* g_windows = nullptr;
HICON g_defaultIcon = nullptr;
HCURSOR g_defaultCursor = nullptr;
HWND g_mainWindow = nullptr;              // the first window open, for the requesters
std::vector<int64_t> g_classesToRelease;  // identities whose class is still registered

std::wstring ClassName(int64_t identity) { return L"WindowClass_" + std::to_wstring(identity); }

void RegisterWindowClass(const std::wstring& name) {
  WNDCLASSW windowClass{};
  windowClass.style = CS_DBLCLKS;
  windowClass.lpfnWndProc = WindowClassProcedure;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hIcon = g_defaultIcon;
  windowClass.hCursor = g_defaultCursor;
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = name.c_str();
  RegisterClassW(&windowClass);  // one left registered under this name serves as well
}

void Centre(HWND window, uint32_t flags, HWND parent) {
  RECT frame;
  if (!GetWindowRect(window, &frame)) return;
  int32_t width = frame.right - frame.left, height = frame.bottom - frame.top;
  int32_t x, y;
  if (flags & WindowFlags::ScreenCentered) {
    const int32_t screenWidth = GetSystemMetrics(SM_CXSCREEN), screenHeight = GetSystemMetrics(SM_CYSCREEN);
    width = std::min(width, screenWidth);
    height = std::min(height, screenHeight);
    x = (screenWidth - width) / 2;
    y = (screenHeight - height) / 2;
  } else {
    RECT outer;
    if (!parent || !GetWindowRect(parent, &outer)) return;
    x = std::max<int32_t>(0, outer.left + (outer.right - outer.left - width) / 2);
    y = std::max<int32_t>(0, outer.top + (outer.bottom - outer.top - height) / 2);
  }
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool BuildAccelerators(WindowRecord* record) {
  auto* entries = static_cast<ACCEL*>(SizedAlloc(2 * sizeof(ACCEL)));
  if (!entries) return false;
  entries[0] = ACCEL{FVIRTKEY | FNOINVERT, VK_TAB, kNextGadgetCommand};
  entries[1] = ACCEL{FVIRTKEY | FNOINVERT | FSHIFT, VK_TAB, kPreviousGadgetCommand};
  record->accelerators = entries;
  record->acceleratorCount = 2;
  record->acceleratorTable = CreateAcceleratorTableW(entries, 2);
  return true;
}

intptr_t OpenOnThisThread(ObjectNumber number, int32_t x, int32_t y, int32_t width, int32_t height, RtString title,
                          int32_t flags, HWND parent) {
  auto* record = static_cast<WindowRecord*>(ObjectTableAllocate(g_windows, number));
  if (!record) return 0;
  const int64_t identity = number == DynamicNumber ? ObjectHandle(record) : number;
  // Any window this number had is gone by now, and so may be its class.
  g_classesToRelease.erase(std::remove(g_classesToRelease.begin(), g_classesToRelease.end(), identity),
                           g_classesToRelease.end());
  WindowClassReleasePending();
  const std::wstring className = ClassName(identity);
  RegisterWindowClass(className);

  uint32_t style = static_cast<uint32_t>(flags);
  const bool makeGadgetList = !(style & WindowFlags::NoGadgets);
  style &= ~static_cast<uint32_t>(WindowFlags::NoGadgets);
  if ((style & ~(kCentreBits | WindowFlags::Invisible)) == 0) style |= WindowFlags::TitleBar;
  const bool hidden = style & WindowFlags::Invisible;
  style &= ~static_cast<uint32_t>(WindowFlags::Invisible);
  const bool noActivate = style & WindowFlags::NoActivate;
  DWORD extendedStyle = 0;
  if (style & WindowFlags::Tool) {
    style &= ~kToolRemoves;
    style |= WindowFlags::TitleBar;
    extendedStyle = WS_EX_TOOLWINDOW;
  }
  const DWORD frameStyle = style & ~kRuntimeLowBits;
  const DWORD windowStyle = frameStyle & ~static_cast<DWORD>(WindowFlags::NoActivate);

  // The size asked for is the client area's.
  RECT outer{0, 0, width, height};
  AdjustWindowRectEx(&outer, frameStyle, FALSE, extendedStyle);

  const bool centred = style & kCentreBits;
  int32_t left = CW_USEDEFAULT, top = CW_USEDEFAULT;
  if (x != UnsetCoordinate && (y != UnsetCoordinate || centred)) {
    left = x;
    top = y;
    // With composition the visible frame of a resizable window sits inside
    // its outer rectangle; move it so that it starts at x.
    if ((style & WS_CAPTION) == WS_CAPTION && (style & WS_THICKFRAME)) left -= DesktopCompositionOffset();
  }

  HWND window = CreateWindowExW(extendedStyle, className.c_str(), reinterpret_cast<LPCWSTR>(title ? title : u""),
                                windowStyle, left, top, outer.right - outer.left, outer.bottom - outer.top, parent,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!window) {
    UnregisterClassW(className.c_str(), GetModuleHandleW(nullptr));
    ObjectTableRelease(g_windows, identity);
    return 0;
  }
  record->window = window;
  record->ready = 0;
  SetPropW(window, kWindowIdProperty, reinterpret_cast<HANDLE>(static_cast<intptr_t>(identity + 1)));

  if (centred) Centre(window, style, parent);
  if (!hidden) {
    int show = noActivate ? SW_SHOWNOACTIVATE : SW_SHOWNORMAL;
    if (style & WindowFlags::Maximize) {
      show = noActivate ? SW_SHOWNA : SW_SHOWMAXIMIZED;
    } else if (style & WindowFlags::Minimize) {
      show = noActivate ? SW_SHOWMINNOACTIVE : SW_SHOWMINIMIZED;
    }
    ShowWindow(window, show);
  }
  record->minimisedOrMaximised = (style & (WindowFlags::Maximize | WindowFlags::Minimize)) ? 1 : 0;
  BuildAccelerators(record);
  record->colour = -1;
  record->brush = nullptr;
  record->erase = EraseBackground;
  if (makeGadgetList) GadgetListSelect(window);
  if (!g_mainWindow) {
    g_mainWindow = window;
    RequesterSetMainWindow(window);
  }
  record->ready = 1;
  return number == DynamicNumber ? static_cast<intptr_t>(identity) : reinterpret_cast<intptr_t>(window);
}

}  // namespace

ObjectTable* WindowTable() { return g_windows; }

WindowRecord* WindowRecordOf(HWND window, int64_t* number) {
  const auto property = reinterpret_cast<intptr_t>(GetPropW(window, kWindowIdProperty));
  if (number) *number = property ? property - 1 : -1;
  if (!property) return nullptr;
  auto* record = static_cast<WindowRecord*>(ObjectTableGet(g_windows, property - 1));
  return record && record->window == window ? record : nullptr;
}

HWND RuntimeWindowAbove(HWND window) {
  for (; window; window = GetParent(window)) {
    if (GetPropW(window, kWindowIdProperty)) return window;
  }
  return nullptr;
}

int64_t WindowNumberOf(HWND window) {
  int64_t number = -1;
  if (HWND above = RuntimeWindowAbove(window)) WindowRecordOf(above, &number);
  return number;
}

void WindowForgetMain(HWND window) {
  if (window != g_mainWindow) return;
  g_mainWindow = nullptr;
  RequesterSetMainWindow(nullptr);
}

void WindowClassRelease(int64_t identity) { g_classesToRelease.push_back(identity); }

void WindowClassReleasePending() {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  g_classesToRelease.erase(std::remove_if(g_classesToRelease.begin(), g_classesToRelease.end(),
                                          [instance](int64_t identity) {
                                            return UnregisterClassW(ClassName(identity).c_str(), instance) ||
                                                   GetLastError() != ERROR_CLASS_HAS_WINDOWS;
                                          }),
                           g_classesToRelease.end());
}

intptr_t WindowOpen(ObjectNumber number, int32_t x, int32_t y, int32_t width, int32_t height, RtString title,
                    int32_t flags, HWND parent) {
  intptr_t result = 0;
  RunOnUserInterfaceThread([&] { result = OpenOnThisThread(number, x, y, width, height, title, flags, parent); });
  return result;
}

intptr_t WindowOpen(ObjectNumber number, int32_t x, int32_t y, int32_t width, int32_t height, RtString title,
                    int32_t flags) {
  return WindowOpen(number, x, y, width, height, title, flags, nullptr);
}

intptr_t WindowOpen(ObjectNumber number, int32_t x, int32_t y, int32_t width, int32_t height, RtString title) {
  return WindowOpen(number, x, y, width, height, title, WindowFlags::TitleBar | WindowFlags::SystemMenu, nullptr);
}

void WindowSetColor(ObjectNumber window, int64_t colour) {
  RunOnUserInterfaceThread([&] {
    auto* record = static_cast<WindowRecord*>(ObjectTableGet(g_windows, window));
    if (!record || record->colour == colour) return;
    if (record->brush) DeleteObject(record->brush);
    record->erase = EraseBackground;
    record->colour = colour;
    record->brush = colour == -1 ? nullptr : CreateSolidBrush(static_cast<COLORREF>(colour));
    InvalidateRect(record->window, nullptr, TRUE);
  });
}

int64_t WindowColor(ObjectNumber window) {
  int64_t colour = -1;
  RunOnUserInterfaceThread([&] {
    if (auto* record = static_cast<WindowRecord*>(ObjectTableGet(g_windows, window))) colour = record->colour;
  });
  return colour;
}

HWND WindowHandle(ObjectNumber window) {
  HWND handle = nullptr;
  RunOnUserInterfaceThread([&] {
    if (auto* record = static_cast<WindowRecord*>(ObjectTableGet(g_windows, window))) handle = record->window;
  });
  return handle;
}

void WindowSetSizeLimits(ObjectNumber window, int32_t minWidth, int32_t minHeight, int32_t maxWidth,
                         int32_t maxHeight) {
  RunOnUserInterfaceThread([&] {
    auto* record = static_cast<WindowRecord*>(ObjectTableGet(g_windows, window));
    if (!record) return;
    auto clamp = [](int32_t value) { return static_cast<uint16_t>(std::clamp(value, 0, 0xFFFF)); };
    record->minWidth = clamp(minWidth);
    record->minHeight = clamp(minHeight);
    record->maxWidth = clamp(maxWidth);
    record->maxHeight = clamp(maxHeight);
  });
}

// The table's free function: it runs with the table locked, and the window's
// own tear-down (WM_NCDESTROY) releases the record.
void WindowFree(ObjectNumber window) {
  RunOnUserInterfaceThread([&] {
    if (window == DynamicNumber) {
      ObjectTableReleaseAll(g_windows);
      WindowClassReleasePending();
      return;
    }
    auto* record = static_cast<WindowRecord*>(ObjectTableGet(g_windows, window));
    if (!record) return;
    EventUnbindWindow(window);
    HWND handle = record->window;
    // Hand the activation back to the owner before the window goes, so the
    // system does not activate some other program's window meanwhile.
    if (HWND owner = GetWindow(handle, GW_OWNER)) SetActiveWindow(owner);
    DestroyWindow(handle);
    EventPurge(-1, -1, window, -1);
    WindowClassReleasePending();
  });
}

void WindowLibraryStart() {
  if (!g_windows) g_windows = ObjectTableCreate(sizeof(WindowRecord), 16, WindowFree);
  // Icon resource 1 of the program; shared icons (LoadIconW) are the
  // system's to free.
  g_defaultIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1));
  g_defaultCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
}

void WindowLibraryEnd() { WindowFree(DynamicNumber); }

}  // namespace rt
