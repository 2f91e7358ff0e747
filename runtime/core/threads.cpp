#include "core/threads.h"

#include "core/memory.h"
#include "core/platform.h"
#include "core/thread_slots.h"
#include "core/workspace.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>

namespace rt {

namespace {

struct ThreadRecord {
  uint64_t identity;  // 0 until creation has succeeded
  ThreadProcedure procedure;
  int64_t argument;
  std::atomic<int32_t> pauseCount;  // read by the pause handler
};

constexpr size_t kThreadStackSize = 0x100000;

// The thread-library lock guards the thread list and is the start handshake.
// It is never destroyed: detached threads may still take it while the
// process ends.
std::recursive_mutex& ThreadLock() {
  static auto* lock = new std::recursive_mutex;
  return *lock;
}
NodeListHead g_threads = nullptr;

// The running thread's own record, for its pause handler. A signal handler
// must not take the list lock (the signal may land while this very thread
// holds it, half-way through a list change), so each thread finds its record
// here instead of by a search of the list.
thread_local std::atomic<ThreadRecord*> t_self{nullptr};

void OnPauseSignal() {
  const int savedErrno = errno;
  if (ThreadRecord* self = t_self.load(std::memory_order_relaxed)) {
    while (self->pauseCount.load(std::memory_order_relaxed) > 0) platform::SleepSeconds(1);
  }
  errno = savedErrno;
}

// The same on both builds: a runtime thread has its own workspace and slots
// and the tables stay locked, rather than every thread sharing one unlocked
// set, which would hold only while the user-interface thread builds no text
// during an update.
void ThreadBody(void* raw) {
  auto* record = static_cast<ThreadRecord*>(raw);
  {
    // Wait until ThreadStart has stored the identity and let go of the lock.
    std::lock_guard<std::recursive_mutex> handshake(ThreadLock());
  }
  t_self.store(record, std::memory_order_relaxed);
  platform::InstallPauseHandler(OnPauseSignal);
  WorkspaceCreate();

  record->procedure(record->argument);

  t_self.store(nullptr, std::memory_order_relaxed);
  // Everything of this thread's is given back before its record leaves the
  // list: once ThreadRunningCount reads 0 the program may shut down, and a
  // thread still freeing its workspace or slots would then race with that.
  WorkspaceDestroy();
  ThreadSlotThreadEnd();
  std::lock_guard<std::recursive_mutex> guard(ThreadLock());
  if (NodeListContains(g_threads, record)) {
    record->~ThreadRecord();
    NodeListRemove(&g_threads, record);
  }
}

}  // namespace

uint64_t ThreadStart(ThreadProcedure procedure, int64_t argument) {
  if (!procedure) return 0;
  std::lock_guard<std::recursive_mutex> guard(ThreadLock());
  void* node = NodeListPush(&g_threads, sizeof(ThreadRecord));
  if (!node) return 0;
  auto* record = new (node) ThreadRecord{0, procedure, argument, {0}};

  uint64_t identity = 0;
  if (!platform::ThreadCreateDetached(ThreadBody, record, kThreadStackSize, &identity)) {
    record->~ThreadRecord();
    NodeListRemove(&g_threads, record);
    return 0;
  }
  record->identity = identity;
  return identity;
}

bool ThreadIsRunning(uint64_t identity) {
  if (identity == 0) return false;
  std::lock_guard<std::recursive_mutex> guard(ThreadLock());
  for (void* node = NodeListFirst(g_threads); node; node = NodeListNext(node)) {
    if (static_cast<ThreadRecord*>(node)->identity == identity) return true;
  }
  return platform::ThreadNotEnded(identity);
}

int64_t ThreadRunningCount() {
  std::lock_guard<std::recursive_mutex> guard(ThreadLock());
  int64_t count = 0;
  for (void* node = NodeListFirst(g_threads); node; node = NodeListNext(node)) ++count;
  return count;
}

void ThreadLibraryStart() { ThreadLock(); }

// Running threads are neither waited for nor stopped; the program frame ends
// the process at once when any is left.
void ThreadLibraryEnd() { platform::ThreadForgetAll(); }

int32_t DelayMs(int32_t milliseconds) {
  const DelaySplit split = SplitDelayMs(milliseconds);
  return platform::SleepOnce(split.seconds, split.nanoseconds);
}

int64_t TruncateToInteger(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  if (bits == ~uint64_t{0} || std::isinf(value)) return 0;
  // Only values inside [-2^63, 2^63) convert; a plain cast of anything else
  // (NaN included) is undefined, so those give the indefinite result here.
  constexpr double kLimit = 9223372036854775808.0;  // 2^63, exact in a double
  if (!(value >= -kLimit && value < kLimit)) return INT64_MIN;
  // The conversion truncates toward zero whatever the rounding mode.
  return static_cast<int64_t>(value);
}

}  // namespace rt
