// The current gadget list: the window new controls go into. A window keeps
// its container state in a property record while another list is current,
// and gets it back when it is selected again; the record goes with the
// window (the window is subclassed for that).
#include <windows.h>

#include <string>

#include "core/memory.h"
#include "win32/events.h"
#include "win32/gadget.h"
#include "win32/gadget_internal.h"

namespace rt {

namespace {

constexpr int32_t kStackStart = 10;

struct ListRecord {
  HWND window;
  HWND savedList;
  HWND* stack;  // SizedAlloc, or null while the list is current
  int32_t depth;
  int32_t capacity;
  WNDPROC previous;
};

// One gadget state for the whole process, used on the user-interface thread.
struct GadgetState {
  HWND currentList = nullptr;
  HWND owner = nullptr;  // the window whose record the state belongs to
  HWND* stack = nullptr;
  int32_t depth = 0;
  int32_t capacity = 0;
};

GadgetState g_state;

const wchar_t* PropertyName() {
  // Named after the program's instance, so that a second copy of the runtime
  // in the process (a plug-in) keeps records of its own.
  static const std::wstring name =
      L"KT_GadgetStack_" + std::to_wstring(reinterpret_cast<intptr_t>(GetModuleHandleW(nullptr)));
  return name.c_str();
}

ListRecord* RecordOf(HWND window) { return static_cast<ListRecord*>(GetPropW(window, PropertyName())); }

LRESULT CALLBACK ListProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  ListRecord* record = RecordOf(window);
  if (!record) return DefWindowProcW(window, message, wParam, lParam);
  const LRESULT result = CallWindowProcW(record->previous, window, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    RemovePropW(window, PropertyName());
    SizedFree(record->stack);
    SizedFree(record);
    if (g_state.owner == window) {
      g_state.owner = nullptr;
      g_state.currentList = nullptr;
      g_state.depth = 0;
    }
  }
  return result;
}

HWND Select(HWND window) {
  const HWND previous = g_state.currentList;
  if (!window) return previous;
  if (g_state.owner) {
    if (ListRecord* saved = RecordOf(g_state.owner)) {
      saved->savedList = g_state.currentList;
      saved->stack = g_state.stack;
      saved->depth = g_state.depth;
      saved->capacity = g_state.capacity;
      g_state.stack = nullptr;
      g_state.depth = g_state.capacity = 0;
    }
  }
  if (ListRecord* record = RecordOf(window)) {
    SizedFree(g_state.stack);
    g_state.currentList = record->savedList ? record->savedList : window;
    g_state.stack = record->stack;
    g_state.depth = record->depth;
    g_state.capacity = record->capacity;
    record->stack = nullptr;
    g_state.owner = window;
    return previous;
  }
  if (!g_state.stack) {
    g_state.stack = static_cast<HWND*>(SizedAlloc(kStackStart * sizeof(HWND)));
    g_state.capacity = g_state.stack ? kStackStart : 0;
    g_state.depth = 0;
  }
  g_state.currentList = window;
  g_state.owner = window;
  auto* record = static_cast<ListRecord*>(SizedAlloc(sizeof(ListRecord)));
  if (!record) return previous;  // the window works as a list all the same
  record->window = window;
  SetPropW(window, PropertyName(), record);
  record->previous = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ListProcedure)));
  return previous;
}

}  // namespace

HWND GadgetListSelect(HWND window) {
  HWND previous = nullptr;
  RunOnUserInterfaceThread([&] { previous = Select(window); });
  return previous;
}

HWND GadgetCurrentList() {
  if (g_state.currentList && !IsWindow(g_state.currentList)) g_state.currentList = nullptr;
  return g_state.currentList;
}

}  // namespace rt
