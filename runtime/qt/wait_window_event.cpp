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
//      already in the queue (a wait nested in a handler forgets nothing: the
//      pending wake-up belongs to the run around it);
//   2. take an event; if there is one, return it without running the loop;
//   3. run the loop (with a single-shot precise timer for a time-out >= 0);
//   4. take an event again, else report None (timer fired) or Interrupted.
//
// A post appends under the lock and, if the queue was empty, wakes the loop
// (still under the lock, so that a wait which takes the event cannot be
// ended later by its wake-up). A post to a queue that already holds events
// needs no wake-up of its own: a run only starts after a look that found
// the queue empty, so the first of those events already woke it.
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

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <mutex>
#if __has_include(<sys/single_threaded.h>)
#include <sys/single_threaded.h>
#define RT_KNOWS_SINGLE_THREADED 1
#endif

#include "core/block_pool.h"
#include "qt/qt_base.h"

#if defined(__GNUC__)
#define RT_UNLIKELY(x) __builtin_expect(!!(x), 0)
#define RT_NOINLINE __attribute__((noinline))
#else
#define RT_UNLIKELY(x) (x)
#define RT_NOINLINE
#endif

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

constexpr auto relaxed = std::memory_order_relaxed;

// The queue lock is recursive (a release function may post or take). There
// is exactly one, so each thread's hold count can live in a thread-local
// counter: re-entry costs no atomic operation.
thread_local int queueLockDepth = 0;

// The lock itself is one atomic word (0 free, 1 held, 2 held with sleepers)
// over a futex. Its uncontended lock and unlock are one atomic instruction
// each, inline; the C library's mutex spends several times that in calls
// and type dispatch. Like that mutex, it skips the atomic instructions while
// the process has a single thread: no other thread can hold or wait for the
// lock then, and one created later sees the word through the thread start.
class QueueLock {
 public:
  void lock() {
    if (queueLockDepth++ != 0) return;
    if (SingleThreaded()) {
      state_.store(1, relaxed);
      return;
    }
    int seen = 0;
    if (!state_.compare_exchange_strong(seen, 1, std::memory_order_acquire, relaxed)) LockContended(seen);
  }
  void unlock() {
    if (--queueLockDepth != 0) return;
    if (SingleThreaded()) {
      state_.store(0, relaxed);  // nobody to wake: there is no other thread
      return;
    }
    if (state_.exchange(0, std::memory_order_release) == 2) WakeOne();
  }

 private:
  // Sleep at once, without spinning: on a machine with few cores the holder
  // is as likely to wait for the spinner's core as to be about to let go.
  // A thread that got here takes the lock as "held with sleepers": it cannot
  // tell whether others still sleep, so its unlock wakes one.
  RT_NOINLINE void LockContended(int seen) {
    if (seen != 2) seen = state_.exchange(2, std::memory_order_acquire);
    while (seen != 0) {
      syscall(SYS_futex, Word(), FUTEX_WAIT_PRIVATE, 2, nullptr, nullptr, 0);
      seen = state_.exchange(2, std::memory_order_acquire);
    }
  }
  RT_NOINLINE void WakeOne() { syscall(SYS_futex, Word(), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0); }
  int* Word() { return reinterpret_cast<int*>(&state_); }
  static bool SingleThreaded() {
#ifdef RT_KNOWS_SINGLE_THREADED
    return __libc_single_threaded != 0;
#else
    return false;
#endif
  }

  static_assert(sizeof(std::atomic<int>) == sizeof(int) && std::atomic<int>::is_always_lock_free,
                "the futex word is the atomic itself");
  std::atomic<int> state_{0};
};

// Taken records are kept for the next posts instead of going back to the
// pool, as many as the last burst needed: a record that sat unused through a
// whole burst (from one emptying of the queue to the next) is surplus and is
// given back when the queue next empties, all but kMinSpare of them. So a
// steady post-take rhythm and repeated bursts stay off the pool, while the
// memory of one large burst is held only until the next, smaller, one ends.
constexpr int kMinSpare = 16;    // the size of the pool's first block, kept anyway
constexpr int kMaxSpare = 4096;  // 256 KiB of 64-byte records at most

struct EventQueue {
  QueueLock lock;
  QueuedEvent* head = nullptr;
  QueuedEvent* tail = nullptr;
  BlockPool* pool = nullptr;
  QueuedEvent* spare = nullptr;  // a stack: the most recently taken on top
  int spareCount = 0;
  int spareLow = 0;  // the fewest spare records since the queue last emptied
  bool suppressed = false;
  CurrentEvent current;
};

EventQueue queue;

QueuedEvent* NewRecord() {
  if (QueuedEvent* record = queue.spare) {
    queue.spare = record->next;
    if (--queue.spareCount < queue.spareLow) queue.spareLow = queue.spareCount;
    return record;
  }
  return queue.pool ? static_cast<QueuedEvent*>(BlockPoolAlloc(queue.pool)) : nullptr;
}

void RecycleRecord(QueuedEvent* record) {
  if (queue.spareCount < kMaxSpare) {
    record->next = queue.spare;
    queue.spare = record;
    ++queue.spareCount;
  } else {
    BlockPoolFree(queue.pool, record);
  }
}

// The bottom spareLow records of the stack were never handed out during the
// burst that just ended; all but kMinSpare of them go back to the pool.
RT_NOINLINE void TrimSpare() {
  const int surplus = queue.spareLow - kMinSpare;
  QueuedEvent** link = &queue.spare;
  for (int kept = queue.spareCount - surplus; kept > 0; --kept) link = &(*link)->next;
  QueuedEvent* record = *link;
  *link = nullptr;
  queue.spareCount -= surplus;
  while (record) {
    QueuedEvent* next = record->next;
    BlockPoolFree(queue.pool, record);
    record = next;
  }
}

void QueueEmptied() {
  if (RT_UNLIKELY(queue.spareLow > kMinSpare)) TrimSpare();
  queue.spareLow = queue.spareCount;
}

// An event that is not queued gives its data back.
void Discard(int64_t data, EventReleaseFunction release) {
  if (data && release) release(data);
}

// The head becomes the current event.
int32_t TakeHead(QueuedEvent* record) {
  CurrentEvent& current = queue.current;
  const int32_t kind = record->kind;
  current.kind.store(kind, relaxed);
  current.object.store(record->object, relaxed);
  current.window.store(record->window, relaxed);
  current.type.store(record->type, relaxed);
  current.data = record->data;
  current.release = record->release;
  queue.head = record->next;
  RecycleRecord(record);
  if (!queue.head) {
    queue.tail = nullptr;
    QueueEmptied();
  }
  return kind;
}

// The current event's data is released with the kind already cleared and
// the type not yet, whatever the release function does meanwhile (it may
// post, or take).
RT_NOINLINE int32_t TakeReleasingCurrent() {
  CurrentEvent& current = queue.current;
  current.kind.store(0, relaxed);
  const EventReleaseFunction release = current.release;
  const int64_t data = current.data;
  current.data = 0;
  current.release = nullptr;
  release(data);
  current.type.store(-1, relaxed);
  if (QueuedEvent* record = queue.head) return TakeHead(record);
  return 0;
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
  if (RT_UNLIKELY(queue.suppressed) && !(flags & EventPostAlways)) {
    Discard(data, release);
    return;
  }
  QueuedEvent* const tail = queue.tail;
  if (tail && tail->kind == kind && tail->object == object && tail->window == window && tail->type == type &&
      kind <= 0xFFFF && !(flags & EventPostNoCoalesce)) {
    Discard(data, release);  // a burst of identical events stays one event
    return;
  }
  QueuedEvent* record = NewRecord();
  if (RT_UNLIKELY(!record)) {
    Discard(data, release);
    return;
  }
  *record = QueuedEvent{nullptr, kind, flags, object, window, type, data, release};
  queue.tail = record;
  if (tail) {
    tail->next = record;
  } else {
    queue.head = record;
    EventLoopWake(flags & EventPostDeferWake);
  }
}

int32_t EventTake() {
  std::lock_guard<QueueLock> guard(queue.lock);
  CurrentEvent& current = queue.current;
  if (RT_UNLIKELY(current.release != nullptr) && current.data) return TakeReleasingCurrent();
  if (QueuedEvent* record = queue.head) return TakeHead(record);
  current.kind.store(0, relaxed);
  current.type.store(-1, relaxed);
  return 0;
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
