// Event bindings: callbacks keyed by (kind, window, object), each with the
// event type it wants (-1 for any). Like the queue they live on the
// user-interface thread and take no lock.
#include <cstdio>
#include <vector>

#include "core/keyed_map.h"
#include "core/memory.h"
#include "win32/event_internal.h"
#include "win32/events.h"

namespace rt {

namespace {

struct Binding {
  EventCallback callback;
  int64_t type;
};

// The key's parts are kept beside the list, so that a window's or a
// gadget's bindings can be found without reading keys back.
struct BindingList {
  int32_t kind;
  int64_t window;
  int64_t object;
  NodeListHead bindings;  // Binding nodes
};

KeyedMap* g_bindings = nullptr;

struct Key {
  RtChar units[64];
};

Key MakeKey(int32_t kind, int64_t window, int64_t object) {
  char text[64];
  const int length = std::snprintf(text, sizeof text, "%d:%lld:%lld", kind, static_cast<long long>(window),
                                   static_cast<long long>(object));
  Key key{};
  for (int i = 0; i < length && i < 63; ++i) key.units[i] = static_cast<RtChar>(text[i]);
  return key;
}

void FreeList(BindingList* list) {
  while (void* node = NodeListFirst(list->bindings)) NodeListRemove(&list->bindings, node);
}

// Collects first, so that a callback may bind or unbind while the others run.
void Collect(int32_t kind, int64_t window, int64_t object, int64_t type, bool typed, std::vector<EventCallback>* out) {
  auto* list = static_cast<BindingList*>(KeyedMapFind(g_bindings, MakeKey(kind, window, object).units));
  if (!list) return;
  for (void* node = NodeListFirst(list->bindings); node; node = NodeListNext(node)) {
    const auto* binding = static_cast<const Binding*>(node);
    if (binding->type == -1 || (typed && binding->type == type)) out->push_back(binding->callback);
  }
}

template <class Match>
void RemoveWhere(Match match) {
  if (!g_bindings) return;
  KeyedMapReset(g_bindings);
  while (void* element = KeyedMapNext(g_bindings)) {
    auto* list = static_cast<BindingList*>(element);
    if (!match(*list)) continue;
    FreeList(list);
    KeyedMapDeleteCurrent(g_bindings);
  }
}

}  // namespace

void EventBindingsCreate() {
  if (!g_bindings) KeyedMapCreate(sizeof(BindingList), 0, nullptr, &g_bindings, 1024);
}

void EventBindingsClear() {
  RemoveWhere([](const BindingList&) { return true; });
}

namespace {

bool Bind(int32_t kind, int64_t window, int64_t object, int64_t type, EventCallback callback) {
  if (!g_bindings || !callback) return false;
  const Key key = MakeKey(kind, window, object);
  auto* list = static_cast<BindingList*>(KeyedMapFind(g_bindings, key.units));
  if (!list) {
    list = static_cast<BindingList*>(KeyedMapAdd(g_bindings, key.units, 1));
    if (!list) return false;
    *list = BindingList{kind, window, object, nullptr};
  }
  auto* binding = static_cast<Binding*>(NodeListPush(&list->bindings, sizeof(Binding)));
  if (!binding) return false;
  *binding = Binding{callback, type};
  return true;
}

}  // namespace

// The table is the user-interface thread's; other threads are carried there.
bool EventBind(int32_t kind, int64_t window, int64_t object, int64_t type, EventCallback callback) {
  bool bound = false;
  RunOnUserInterfaceThread([&] { bound = Bind(kind, window, object, type, callback); });
  return bound;
}

void EventUnbindWindow(int64_t window) {
  RunOnUserInterfaceThread(
      [&] { RemoveWhere([window](const BindingList& list) { return list.window == window; }); });
}

void EventUnbindObject(int32_t kind, int64_t object) {
  RunOnUserInterfaceThread([&] {
    RemoveWhere([kind, object](const BindingList& list) { return list.kind == kind && list.object == object; });
  });
}

void EventBindingsRun(int32_t kind, int64_t object, int64_t window, int64_t type) {
  if (!g_bindings || KeyedMapCount(g_bindings) == 0) return;
  std::vector<EventCallback> callbacks;
  Collect(kind, window, object, type, true, &callbacks);
  Collect(kind, window, -1, type, false, &callbacks);
  Collect(kind, -1, -1, type, false, &callbacks);
  Collect(kind, -1, object, type, true, &callbacks);
  for (EventCallback callback : callbacks) callback();
}

}  // namespace rt
