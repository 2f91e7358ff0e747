// The event queue: a first-in first-out list of records from a block pool,
// and the current event. Everything here runs on the user-interface thread
// (window procedures run on the thread that made their window), so nothing
// is locked; a post from another thread is carried over by the post-event
// window.
#include <atomic>

#include "core/block_pool.h"
#include "win32/event_internal.h"
#include "win32/events.h"

namespace rt {

namespace {

struct QueuedEvent {
  QueuedEvent* next;
  int32_t kind;
  int32_t flags;
  int64_t object;
  int64_t window;
  int64_t type;
  int64_t data;
  EventReleaseFunction release;
};

struct CurrentEvent {
  int32_t kind = 0;
  int64_t window = 0;
  int64_t object = 0;
  int64_t type = -1;
  int64_t data = 0;
  EventReleaseFunction release = nullptr;
};

struct EventState {
  BlockPool* pool = nullptr;
  QueuedEvent* head = nullptr;
  QueuedEvent* tail = nullptr;
  // Raised by the program around its own changes of a gadget; atomic only so
  // that a stray call from another thread cannot tear it.
  std::atomic<int32_t> suspended{0};
  CurrentEvent current;
};

EventState g_state;

void Release(int64_t data, EventReleaseFunction release) {
  if (release && data) release(data);
}

bool Matches(int64_t value, int64_t wanted) { return wanted == -1 || value == wanted; }

}  // namespace

void EventQueueCreate() {
  if (!g_state.pool) g_state.pool = BlockPoolCreate(sizeof(QueuedEvent), 16, 256, PoolUnlocked);
}

void EventPost(int32_t kind, int64_t object, int64_t window, int64_t type, int64_t data,
               EventReleaseFunction release, int32_t flags) {
  if (!IsUserInterfaceThread()) {
    if (!PostEventFromOtherThread(kind, object, window, type, data, release, flags)) Release(data, release);
    return;
  }
  if (g_state.suspended.load(std::memory_order_relaxed) != 0 && !(flags & EventPostAlways)) {
    Release(data, release);
    return;
  }
  QueuedEvent* tail = g_state.tail;
  if (tail && kind <= 0xFFFF && !(flags & EventPostNoCoalesce) && tail->kind == kind && tail->object == object &&
      tail->window == window && tail->type == type) {
    Release(data, release);  // the queued twin stands for it
  } else {
    auto* record = g_state.pool ? static_cast<QueuedEvent*>(BlockPoolAlloc(g_state.pool)) : nullptr;
    if (!record) {
      Release(data, release);
      return;
    }
    *record = QueuedEvent{nullptr, kind, flags, object, window, type, data, release};
    if (tail) {
      tail->next = record;
    } else {
      g_state.head = record;
    }
    g_state.tail = record;
    EventWaitWakeIfBlocked();
  }
  if (!(flags & EventPostNoCoalesce)) {
    // Bindings see this event as the current one while they run.
    const CurrentEvent saved = g_state.current;
    g_state.current = CurrentEvent{kind, window, object, type, data, release};
    EventBindingsRun(kind, object, window, type);
    g_state.current = saved;
  }
}

namespace {

int32_t Take() {
  CurrentEvent& current = g_state.current;
  current.kind = 0;
  if (current.data && current.release) {
    const EventReleaseFunction release = current.release;
    const int64_t data = current.data;
    current.data = 0;
    current.release = nullptr;
    release(data);
  }
  current.type = -1;
  QueuedEvent* head = g_state.head;
  if (!head) return 0;
  current = CurrentEvent{head->kind, head->window, head->object, head->type, head->data, head->release};
  const int32_t flags = head->flags;
  g_state.head = head->next;
  if (!g_state.head) g_state.tail = nullptr;
  BlockPoolFree(g_state.pool, head);
  if (flags & EventPostNoCoalesce) EventBindingsRun(current.kind, current.object, current.window, current.type);
  return current.kind;
}

void Purge(int32_t kind, int64_t object, int64_t window, int64_t type) {
  QueuedEvent* kept = nullptr;
  QueuedEvent** link = &g_state.head;
  while (QueuedEvent* record = *link) {
    if ((kind == -1 || record->kind == kind) && Matches(record->object, object) && Matches(record->window, window) &&
        Matches(record->type, type)) {
      *link = record->next;
      Release(record->data, record->release);
      BlockPoolFree(g_state.pool, record);
    } else {
      kept = record;
      link = &record->next;
    }
  }
  g_state.tail = kept;
}

}  // namespace

// From another thread these run on the user-interface thread, whose queue it is.
int32_t EventTake() {
  int32_t kind = 0;
  RunOnUserInterfaceThread([&] { kind = Take(); });
  return kind;
}

int32_t EventPeek() { return EventPeek(nullptr, nullptr, nullptr); }

int32_t EventPeek(int64_t* object, int64_t* window, int64_t* type) {
  int32_t kind = 0;
  RunOnUserInterfaceThread([&] {
    const QueuedEvent* head = g_state.head;
    if (object) *object = head ? head->object : 0;
    if (window) *window = head ? head->window : 0;
    if (type) *type = head ? head->type : 0;
    kind = head ? head->kind : 0;
  });
  return kind;
}

void EventPurge(int32_t kind, int64_t object, int64_t window, int64_t type) {
  RunOnUserInterfaceThread([&] { Purge(kind, object, window, type); });
}

void EventPostSuspend() { g_state.suspended.fetch_add(1, std::memory_order_relaxed); }
void EventPostResume() { g_state.suspended.fetch_sub(1, std::memory_order_relaxed); }

int32_t CurrentEventKind() { return g_state.current.kind; }
int64_t CurrentEventGadget() { return g_state.current.object; }
int64_t CurrentEventShortcut() { return g_state.current.object; }
int64_t CurrentEventType() { return g_state.current.type; }
int64_t CurrentEventWindow() { return g_state.current.window; }

void EventQueueStart() {
  EventQueueCreate();
  EventBindingsCreate();
  PostEventWindowCreate();
}

void EventQueueEnd() {
  PostEventWindowDestroy();
  EventBindingsClear();
  EventPurge(-1, -1, -1, -1);
}

}  // namespace rt
