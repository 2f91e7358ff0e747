// The event queue and the event wait.
//
// Design of the wait
// ------------------
// The queue and the wake-up are two separate things. The queue is a FIFO of
// fixed records from a BlockPool, guarded by one recursive mutex; every
// operation on it (post, take, peek, purge) runs entirely under that mutex
// and may be called from any thread. The wake-up only ends a run of the
// runtime's QEventLoop; it carries no data.
//
// A wait (on the user-interface thread) does:
//   1. forget older wake-ups (EventLoopWakeReset): whatever they announced is
//      already in the queue;
//   2. take an event; if there is one, return it without running the loop;
//   3. run the loop (with a single-shot precise timer for a time-out >= 0);
//   4. take an event again, else report None (timer fired) or Interrupted.
//
// A post appends under the lock and then wakes the loop:
//   - on the user-interface thread, inside a run (a Qt handler): quit() the
//     loop directly; outside a run nothing is needed, since step 2 of the
//     next wait sees the event;
//   - from any other thread (or deferred): set an atomic "wake pending" flag
//     and, only if it was clear, write to an eventfd. A QSocketNotifier on the
//     user-interface thread drains the eventfd and, if the flag is still set
//     and the loop is running, clears it and quits the loop.
// The eventfd is level-triggered in the kernel, so a wake-up signalled after
// step 2 but before the loop has started is seen on the loop's first pass:
// no wake-up is lost, and a wait without time-out cannot sleep past a queued
// event. Wake-ups signalled while the flag is set cost nothing (one atomic
// exchange) and merge into one. A stale notification (its flag cleared by
// step 1) finds the flag clear and does not end the run. While idle the loop
// sleeps in poll(): no spinning. Everything our threads share is reached
// through the mutex, the atomics or the descriptor, never through Qt's own
// cross-thread machinery.
//
// Event bindings (callbacks keyed by kind, window, object and type) are left
// out: nothing can register one, so every lookup would miss and posting or
// taking behaves exactly as if they were looked up.
#include "qt/wait_window_event.h"

#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <mutex>

#include "core/block_pool.h"
#include "qt/qt_base.h"

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

// The current event is written under the queue lock and read without it by
// the waiting thread, hence the atomics (relaxed: each slot stands alone).
struct CurrentEvent {
  std::atomic<int32_t> kind{0};
  std::atomic<int64_t> object{0};
  std::atomic<int64_t> window{0};
  std::atomic<int64_t> type{0};
  int64_t data = 0;                       // only touched under the lock
  EventReleaseFunction release = nullptr;  // likewise
};

// The queue lock is recursive (a release function may post or take). There
// is exactly one, so each thread's hold count can live in a thread-local
// counter: re-entry costs no atomic operation, and the first entry is a
// plain mutex, noticeably cheaper than the C library's recursive one.
thread_local int queueLockDepth = 0;

class QueueLock {
 public:
  void lock() {
    if (queueLockDepth++ == 0) mutex_.lock();
  }
  void unlock() {
    if (--queueLockDepth == 0) mutex_.unlock();
  }

 private:
  std::mutex mutex_;
};

struct EventQueue {
  QueueLock lock;
  QueuedEvent* head = nullptr;
  QueuedEvent* tail = nullptr;
  BlockPool* pool = nullptr;
  // Records of taken events kept for the next posts, so that the steady
  // post-take rhythm of an interactive program stays off the pool entirely.
  QueuedEvent* spare = nullptr;
  int spareCount = 0;
  bool suppressed = false;
  CurrentEvent current;
};

EventQueue queue;

constexpr auto relaxed = std::memory_order_relaxed;
constexpr int kSpareRecords = 16;  // the size of the pool's first block, kept anyway

QueuedEvent* NewRecord() {
  if (QueuedEvent* record = queue.spare) {
    queue.spare = record->next;
    --queue.spareCount;
    return record;
  }
  return queue.pool ? static_cast<QueuedEvent*>(BlockPoolAlloc(queue.pool)) : nullptr;
}

void RecycleRecord(QueuedEvent* record) {
  if (queue.spareCount < kSpareRecords) {
    record->next = queue.spare;
    queue.spare = record;
    ++queue.spareCount;
  } else {
    BlockPoolFree(queue.pool, record);
  }
}

// An event that is not queued gives its data back.
void Discard(int64_t data, EventReleaseFunction release) {
  if (data && release) release(data);
}

}  // namespace

void EventQueueStart() {
  std::lock_guard<QueueLock> guard(queue.lock);
  if (queue.pool) return;
  queue.pool = BlockPoolCreate(sizeof(QueuedEvent), 16, 256, PoolUnlocked);
  // Keep the first block for the life of the process: the queue empties and
  // fills all the time, and would otherwise give its block back each time.
  if (queue.pool) BlockPoolAlloc(queue.pool);
}

void EventPostingSuppress(int suppressed) {
  std::lock_guard<QueueLock> guard(queue.lock);
  queue.suppressed = suppressed != 0;
}

void EventPost(int32_t kind, int64_t object, int64_t window, int64_t type, int64_t data,
               EventReleaseFunction release, int32_t flags) {
  std::lock_guard<QueueLock> guard(queue.lock);
  if (queue.suppressed && !(flags & EventPostAlways)) {
    Discard(data, release);
    return;
  }
  const QueuedEvent* tail = queue.tail;
  if (tail && kind <= 0xFFFF && !(flags & EventPostNoCoalesce) && tail->kind == kind && tail->object == object &&
      tail->window == window && tail->type == type) {
    Discard(data, release);  // a burst of identical events stays one event
    return;
  }
  QueuedEvent* record = NewRecord();
  if (!record) {
    Discard(data, release);
    return;
  }
  *record = QueuedEvent{nullptr, kind, flags, object, window, type, data, release};
  if (queue.tail)
    queue.tail->next = record;
  else
    queue.head = record;
  queue.tail = record;
  EventLoopWake(flags & EventPostDeferWake);
}

int32_t EventTake() {
  std::lock_guard<QueueLock> guard(queue.lock);
  CurrentEvent& current = queue.current;
  current.kind.store(0, relaxed);
  if (current.data && current.release) {
    EventReleaseFunction release = current.release;
    const int64_t data = current.data;
    current.data = 0;
    current.release = nullptr;
    release(data);
  }
  current.type.store(-1, relaxed);
  QueuedEvent* record = queue.head;
  if (!record) return 0;
  current.kind.store(record->kind, relaxed);
  current.object.store(record->object, relaxed);
  current.window.store(record->window, relaxed);
  current.type.store(record->type, relaxed);
  current.data = record->data;
  current.release = record->release;
  queue.head = record->next;
  if (queue.tail == record) queue.tail = nullptr;
  RecycleRecord(record);
  return current.kind.load(relaxed);
}

int32_t EventPeek() { return EventPeek(nullptr, nullptr, nullptr); }

int32_t EventPeek(int64_t* object, int64_t* window, int64_t* type) {
  std::lock_guard<QueueLock> guard(queue.lock);
  const QueuedEvent* record = queue.head;
  if (object) *object = record ? record->object : 0;
  if (window) *window = record ? record->window : 0;
  if (type) *type = record ? record->type : 0;
  return record ? record->kind : 0;
}

void EventPurgeWindow(int64_t window) {
  std::lock_guard<QueueLock> guard(queue.lock);
  // Unlink first and release afterwards: a release function may post, and
  // must find the queue whole.
  QueuedEvent* purged = nullptr;
  QueuedEvent** purgedEnd = &purged;
  QueuedEvent** link = &queue.head;
  QueuedEvent* last = nullptr;
  while (QueuedEvent* record = *link) {
    if (record->window == window) {
      *link = record->next;
      record->next = nullptr;
      *purgedEnd = record;
      purgedEnd = &record->next;
    } else {
      last = record;
      link = &record->next;
    }
  }
  queue.tail = last;
  while (QueuedEvent* record = purged) {
    purged = record->next;
    Discard(record->data, record->release);
    RecycleRecord(record);
  }
}

int32_t WindowEventWait(int32_t timeoutMs) {
  if (IsUserInterfaceThread()) EventLoopWakeReset();
  if (const int32_t kind = EventTake()) return kind;

  // The loop belongs to the user-interface thread and cannot run twice at
  // once; a wait from anywhere else only looks at the queue.
  QEventLoop* loop = RuntimeEventLoop();
  if (!loop || !IsUserInterfaceThread() || loop->isRunning()) return EventKind::None;

  bool interrupted = true;
  if (timeoutMs < 0) {
    if (!EventLoopRun()) return EventKind::None;
  } else {
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, loop, &QEventLoop::quit);
    timer.start(timeoutMs);
    if (!EventLoopRun()) return EventKind::None;
    interrupted = timer.isActive();
    timer.stop();
  }

  if (const int32_t kind = EventTake()) return kind;
  return interrupted ? EventKind::Interrupted : EventKind::None;
}

int32_t WindowEventPoll() { return WindowEventWait(0); }
int32_t WindowEventWaitForever() { return WindowEventWait(-1); }

int32_t CurrentEventKind() { return queue.current.kind.load(relaxed); }
int64_t CurrentEventGadget() { return queue.current.object.load(relaxed); }
int64_t CurrentEventShortcut() { return queue.current.object.load(relaxed); }
int64_t CurrentEventType() { return queue.current.type.load(relaxed); }
int64_t CurrentEventWindow() { return queue.current.window.load(relaxed); }

}  // namespace rt
