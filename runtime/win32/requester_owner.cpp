#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <atomic>

#include "win32/modal_scope.h"
#include "win32/requesters.h"

namespace rt {

namespace {

// Set by the window library on the user-interface thread, read by any
// thread that shows a requester.
std::atomic<HWND> g_mainWindow{nullptr};

struct ModalWindow {
  HWND window;
  bool wasTopmost;
  bool disabledByUs;
};

}  // namespace

void RequesterLibraryStart() {
  // The classes the gadgets use too; the dialogs draw with common controls.
  INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), 0xB48};
  InitCommonControlsEx(&classes);
  // Only the start-up thread, which runs the file dialog; a second call
  // on it is harmless and the apartment lives as long as the process.
  CoInitialize(nullptr);
}

void RequesterSetMainWindow(HWND window) { g_mainWindow.store(window, std::memory_order_release); }

HWND RequesterOwner() {
  HWND foreground = GetForegroundWindow();
  DWORD process = 0;
  if (foreground && GetWindowThreadProcessId(foreground, &process) && process == GetCurrentProcessId()) {
    return foreground;
  }
  HWND main = g_mainWindow.load(std::memory_order_acquire);
  if (main && IsWindow(main) && IsWindowVisible(main)) return main;
  return nullptr;
}

BOOL CALLBACK ModalScope::Note(HWND window, LPARAM raw) {
  auto* scope = reinterpret_cast<ModalScope*>(raw);
  if (GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId() || !IsWindowVisible(window)) return TRUE;
  auto* record = static_cast<ModalWindow*>(NodeListPush(&scope->windows_, sizeof(ModalWindow)));
  if (!record) return TRUE;  // out of memory: that window stays as it is
  record->window = window;
  record->wasTopmost = (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
  if (window != scope->foreground_ && IsWindowEnabled(window)) {
    EnableWindow(window, FALSE);
    record->disabledByUs = true;
  }
  return TRUE;
}

ModalScope::ModalScope() : foreground_(GetForegroundWindow()) {
  EnumWindows(Note, reinterpret_cast<LPARAM>(this));
  // Leaving the band must not activate the window: the requester is about
  // to take the activation, and its owner was chosen from the current one.
  for (void* node = NodeListFirst(windows_); node; node = NodeListNext(node)) {
    const auto* record = static_cast<const ModalWindow*>(node);
    if (record->wasTopmost) {
      SetWindowPos(record->window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
  }
}

ModalScope::~ModalScope() {
  while (void* node = NodeListFirst(windows_)) {
    const ModalWindow record = *static_cast<const ModalWindow*>(node);
    NodeListRemove(&windows_, node);
    if (!IsWindow(record.window)) continue;  // closed while the requester was up
    if (record.disabledByUs) EnableWindow(record.window, TRUE);
    if (record.wasTopmost) {
      SetWindowPos(record.window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
  }
}

}  // namespace rt
