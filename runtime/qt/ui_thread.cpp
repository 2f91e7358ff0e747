#include "qt/ui_thread.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

namespace rt {

namespace {

// While state changes stream in, the queue is taken this often: a bar that is
// repainted a hundred times a second looks continuous and costs little.
constexpr int StatePaceMs = 10;

struct Waiter {
  uint64_t token;
  UiCallStart start;
  void* context;
  UiCallResult* result;
  bool done;       // the caller may go on
  bool completed;  // ... with a result (not released by a shut-down)
};

struct Item {
  UiStateApply apply;  // a state change when set,
  ObjectNumber gadget;
  int64_t value;
  uint64_t token;      // otherwise the waiting call with this token
};

void Drain();
void Paced();

// Lives on the user-interface thread. The wake-up travels outside Qt, through
// an eventfd the dispatcher watches: the kernel keeps it until it is read,
// and no Qt structure is touched by another thread.
class Dispatcher : public QObject {
 public:
  Dispatcher() : descriptor_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    pacer_.setSingleShot(true);
    pacer_.setInterval(StatePaceMs);
    QObject::connect(&pacer_, &QTimer::timeout, this, [] { Paced(); });
    if (descriptor_ >= 0) {
      notifier_ = new QSocketNotifier(descriptor_, QSocketNotifier::Read, this);
      QObject::connect(notifier_, &QSocketNotifier::activated, this, [this] {
        uint64_t count;
        while (read(descriptor_, &count, sizeof count) < 0 && errno == EINTR) {
        }
        Drain();
      });
    }
  }
  bool Usable() const { return descriptor_ >= 0; }
  void StartPacer() { pacer_.start(); }
  // Any thread.
  void Wake() const {
    const uint64_t one = 1;
    while (write(descriptor_, &one, sizeof one) < 0 && errno == EINTR) {
    }
  }

 private:
  int descriptor_;
  QSocketNotifier* notifier_ = nullptr;
  QTimer pacer_;
};

struct Queue {
  std::mutex mutex;
  std::condition_variable released;
  // Guarded by mutex.
  std::vector<Item> pending;
  std::vector<Waiter*> waiting;
  uint64_t lastToken = 0;
  uint64_t running = 0;   // the call whose start runs right now
  bool posted = false;    // a wake-up event is on its way
  bool paced = false;     // the pacing timer will take the queue
  Dispatcher* dispatcher = nullptr;
  std::atomic<bool> shutDown{false};
  std::atomic<std::thread::id> owner{};
  // User-interface thread only.
  bool draining = false;
  std::vector<Item> batch;
  std::vector<QPointer<QObject>> dialogs;
};

Queue& TheQueue() {
  // Never destroyed: a detached worker may still wait on it while the process ends.
  static Queue* const queue = new Queue;
  return *queue;
}

// Releases every waiting call but the one running now. Lock held.
void ReleaseWaiting(Queue& q) {
  auto kept = q.waiting.begin();
  for (Waiter* w : q.waiting) {
    if (w->token == q.running) {
      *kept++ = w;
    } else {
      w->done = true;
    }
  }
  q.waiting.erase(kept, q.waiting.end());
  q.released.notify_all();
}

// Whether the caller must wake the dispatcher; merged while a wake-up is on
// its way. Lock held.
bool WakeUpLocked(Queue& q) {
  if (q.posted) return false;
  q.posted = true;
  return true;
}

void RunItem(Queue& q, const Item& item, bool* states) {
  if (q.shutDown.load(std::memory_order_acquire)) return;
  if (item.apply) {
    item.apply(item.gadget, item.value);
    *states = true;
    return;
  }
  UiCallStart start = nullptr;
  void* context = nullptr;
  {
    std::lock_guard<std::mutex> lock(q.mutex);
    const auto it = std::find_if(q.waiting.begin(), q.waiting.end(),
                                 [&item](const Waiter* w) { return w->token == item.token; });
    if (it == q.waiting.end()) return;
    q.running = item.token;
    start = (*it)->start;
    context = (*it)->context;
  }
  start(context, item.token);
  std::lock_guard<std::mutex> lock(q.mutex);
  q.running = 0;
  // A shut-down from another thread spared the running call; release it now
  // if it did not complete (a requester still open).
  if (q.shutDown.load(std::memory_order_relaxed)) ReleaseWaiting(q);
}

void Pace() {
  Queue& q = TheQueue();
  {
    std::lock_guard<std::mutex> lock(q.mutex);
    if (q.paced || !q.dispatcher || q.shutDown.load(std::memory_order_relaxed)) return;
    q.paced = true;
  }
  q.dispatcher->StartPacer();
}

void Drain() {
  Queue& q = TheQueue();
  if (q.draining) return;
  q.draining = true;
  bool states = false;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(q.mutex);
      if (q.pending.empty()) {
        q.posted = false;
        break;
      }
      q.batch.swap(q.pending);
    }
    for (const Item& item : q.batch) RunItem(q, item, &states);
    q.batch.clear();
  }
  q.draining = false;
  if (states) Pace();
}

void Paced() {
  Queue& q = TheQueue();
  {
    std::lock_guard<std::mutex> lock(q.mutex);
    q.paced = false;
  }
  Drain();
}

}  // namespace

void UiThreadStart() {
  Queue& q = TheQueue();
  q.owner.store(std::this_thread::get_id(), std::memory_order_release);
  std::lock_guard<std::mutex> lock(q.mutex);
  if (!q.dispatcher) {
    auto* dispatcher = new Dispatcher;  // lives on this thread, for the life of the process
    if (dispatcher->Usable()) {
      q.dispatcher = dispatcher;
    } else {
      delete dispatcher;  // no descriptor: every thread keeps calling directly
      q.owner.store(std::thread::id(), std::memory_order_release);
    }
  }
  q.shutDown.store(false, std::memory_order_release);
}

void UiThreadShutdown() {
  Queue& q = TheQueue();
  {
    std::lock_guard<std::mutex> lock(q.mutex);
    q.shutDown.store(true, std::memory_order_release);
    q.pending.clear();
    ReleaseWaiting(q);
  }
  if (q.owner.load(std::memory_order_acquire) != std::this_thread::get_id()) return;
  std::vector<QPointer<QObject>> dialogs;
  dialogs.swap(q.dialogs);
  for (const QPointer<QObject>& dialog : dialogs) delete dialog.data();
}

bool UiThreadIsCurrent() {
  const std::thread::id owner = TheQueue().owner.load(std::memory_order_acquire);
  return owner == std::thread::id() || owner == std::this_thread::get_id();
}

void UiThreadFlush() {
  Queue& q = TheQueue();
  if (q.owner.load(std::memory_order_acquire) != std::this_thread::get_id()) return;
  Drain();
}

bool UiThreadCall(UiCallStart start, void* context, UiCallResult* result) {
  Queue& q = TheQueue();
  if (UiThreadIsCurrent()) return false;  // the caller runs the operation directly there
  Waiter waiter{0, start, context, result, false, false};
  const Dispatcher* target = nullptr;
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(q.mutex);
    if (q.shutDown.load(std::memory_order_relaxed) || !q.dispatcher) return false;
    waiter.token = ++q.lastToken;
    q.waiting.push_back(&waiter);
    q.pending.push_back(Item{nullptr, 0, 0, waiter.token});
    wake = WakeUpLocked(q);
    target = q.dispatcher;
  }
  if (wake) target->Wake();
  std::unique_lock<std::mutex> lock(q.mutex);
  q.released.wait(lock, [&waiter] { return waiter.done; });
  return waiter.completed;
}

void UiThreadComplete(uint64_t token, int64_t number, std::u16string text) {
  Queue& q = TheQueue();
  std::lock_guard<std::mutex> lock(q.mutex);
  const auto it = std::find_if(q.waiting.begin(), q.waiting.end(), [token](const Waiter* w) { return w->token == token; });
  if (it == q.waiting.end()) return;
  Waiter* w = *it;
  w->result->number = number;
  w->result->text = std::move(text);
  w->done = true;
  w->completed = true;
  q.waiting.erase(it);
  q.released.notify_all();
}

void UiThreadPostState(UiStateApply apply, ObjectNumber gadget, int64_t value) {
  if (UiThreadIsCurrent()) {
    UiThreadFlush();
    apply(gadget, value);
    return;
  }
  Queue& q = TheQueue();
  const Dispatcher* target = nullptr;
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(q.mutex);
    if (q.shutDown.load(std::memory_order_relaxed) || !q.dispatcher) return;
    if (!q.pending.empty()) {
      Item& tail = q.pending.back();
      if (tail.apply == apply && tail.gadget == gadget) {
        tail.value = value;  // a wake-up for the tail is already on its way
        return;
      }
    }
    q.pending.push_back(Item{apply, gadget, value, 0});
    if (!q.paced) wake = WakeUpLocked(q);
    target = q.dispatcher;
  }
  if (wake) target->Wake();
}

int64_t UiThreadWaitingCount() {
  Queue& q = TheQueue();
  std::lock_guard<std::mutex> lock(q.mutex);
  return static_cast<int64_t>(q.waiting.size());
}

void UiThreadAdoptDialog(QObject* dialog) {
  Queue& q = TheQueue();
  q.dialogs.erase(std::remove_if(q.dialogs.begin(), q.dialogs.end(), [](const QPointer<QObject>& d) { return d.isNull(); }),
                  q.dialogs.end());
  q.dialogs.emplace_back(dialog);
}

}  // namespace rt
