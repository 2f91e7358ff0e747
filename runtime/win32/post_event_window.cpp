// The hidden post-event window: the door through which other threads reach
// the user-interface thread. A post arrives as the registered message
// "KT_PostEventMessage" with a record from the process heap; a call that
// must run on the user-interface thread arrives as a sent message, which the
// system delivers while that thread waits for messages (GetMessageW,
// PeekMessageW, MsgWaitForMultipleObjects, a modal loop) and which keeps the
// caller waiting until it has run.
#include <windows.h>

#include <atomic>

#include "win32/event_internal.h"
#include "win32/events.h"

namespace rt {

namespace {

constexpr wchar_t kClassName[] = L"PostEventClass";
// Our own class, so a private message number cannot collide with anything.
constexpr UINT kCallMessage = WM_APP + 1;

// The record a post from another thread carries: one leading word, then the
// event. The release routine and flags travel too, so nothing is lost.
struct PostedEventRecord {
  uint64_t lead;
  int32_t kind;
  int64_t object;
  int64_t window;
  int64_t type;
  int64_t data;
  EventReleaseFunction release;
  int32_t flags;
};

std::atomic<HWND> g_window{nullptr};
std::atomic<DWORD> g_userInterfaceThread{0};
UINT g_postMessage = 0;  // written before the window exists

LRESULT CALLBACK PostEventProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kCallMessage) {
    reinterpret_cast<void (*)(void*)>(wParam)(reinterpret_cast<void*>(lParam));
    return 0;
  }
  if (message == g_postMessage && g_postMessage != 0 && lParam) {
    auto* record = reinterpret_cast<PostedEventRecord*>(lParam);
    // Suspension is the user-interface thread's own business: a post another
    // thread asked for is never dropped by it.
    EventPost(record->kind, record->object, record->window, record->type, record->data, record->release,
              record->flags | EventPostAlways);
    HeapFree(GetProcessHeap(), 0, record);
  }
  SetLastError(0);
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

bool PostEventWindowCreate() {
  if (g_window.load()) return true;
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW windowClass{};
  windowClass.style = CS_DBLCLKS;
  windowClass.lpfnWndProc = PostEventProcedure;
  windowClass.hInstance = instance;
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kClassName;
  RegisterClassW(&windowClass);  // a class left by an earlier start is as good
  g_postMessage = RegisterWindowMessageW(L"KT_PostEventMessage");
  HWND window = CreateWindowExW(0, kClassName, L"", WS_CAPTION, 0, 0, 1, 1, nullptr, nullptr, instance, nullptr);
  if (!window) return false;
  g_userInterfaceThread.store(GetCurrentThreadId());
  g_window.store(window);
  return true;
}

void PostEventWindowDestroy() {
  HWND window = g_window.exchange(nullptr);
  if (!window) return;
  DestroyWindow(window);
  UnregisterClassW(kClassName, GetModuleHandleW(nullptr));
  // Posts still on their way are dropped with the window's queue; their
  // records are heap blocks the process gives back when it ends.
}

HWND PostEventWindow() { return g_window.load(); }

bool IsUserInterfaceThread() {
  const DWORD owner = g_userInterfaceThread.load();
  return owner == 0 || owner == GetCurrentThreadId();
}

bool PostEventFromOtherThread(int32_t kind, int64_t object, int64_t window, int64_t type, int64_t data,
                              void (*release)(int64_t), int32_t flags) {
  HWND target = g_window.load();
  if (!target) return false;
  auto* record = static_cast<PostedEventRecord*>(HeapAlloc(GetProcessHeap(), 0, sizeof(PostedEventRecord)));
  if (!record) return false;
  *record = PostedEventRecord{0, kind, object, window, type, data, release, flags};
  if (!PostMessageW(target, g_postMessage, 0, reinterpret_cast<LPARAM>(record))) {
    HeapFree(GetProcessHeap(), 0, record);
    return false;
  }
  return true;
}

void RunOnUserInterfaceThread(void (*call)(void* context), void* context) {
  if (IsUserInterfaceThread()) {
    call(context);
    return;
  }
  // Once the window is gone (the program is ending) the call is dropped and
  // the caller keeps its empty result.
  HWND target = g_window.load();
  if (target) SendMessageW(target, kCallMessage, reinterpret_cast<WPARAM>(call), reinterpret_cast<LPARAM>(context));
}

}  // namespace rt
