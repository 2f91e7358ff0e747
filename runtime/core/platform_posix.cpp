// POSIX back end of the core's platform seam: the C library's heap,
// pthreads, SIGUSR1, nanosleep.
#include "core/platform.h"

#include "core/run_once.h"

#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace rt::platform {

namespace {
// Every new thread installs the handler again, so it is stored atomically.
std::atomic<void (*)()> g_pauseHandler{nullptr};
static_assert(std::atomic<void (*)()>::is_always_lock_free, "read from a signal handler");
void OnPauseSignal(int) {
  if (auto handler = g_pauseHandler.load(std::memory_order_relaxed)) handler();
}

struct StartPacket {
  ThreadEntry entry;
  void* argument;
};

void* Trampoline(void* raw) {
  StartPacket packet = *static_cast<StartPacket*>(raw);
  delete static_cast<StartPacket*>(raw);
  packet.entry(packet.argument);
  return nullptr;
}
}  // namespace

void ProcessStart() {}

int ProcessEnd(int code) { return code; }

void* HeapAllocate(size_t bytes) { return std::calloc(1, bytes); }

void* HeapReallocate(void* block, size_t bytes) { return std::realloc(block, bytes); }

void HeapRelease(void* block) { std::free(block); }

bool ThreadCreateDetached(ThreadEntry entry, void* argument, size_t stackSize, uint64_t* identity) {
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) return false;
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_attr_setstacksize(&attr, stackSize);
  auto* packet = new (std::nothrow) StartPacket{entry, argument};
  if (!packet) {
    pthread_attr_destroy(&attr);
    return false;
  }
  pthread_t thread{};
  // pthread_create writes the identity before the new thread can run past
  // the caller's lock, which is what the start handshake relies on.
  static_assert(sizeof(pthread_t) <= sizeof(uint64_t), "thread identity must fit 64 bits");
  const int rc = pthread_create(&thread, &attr, Trampoline, packet);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete packet;
    return false;
  }
  *identity = static_cast<uint64_t>(thread);
  return true;
}

uint64_t ThreadSelf() { return static_cast<uint64_t>(pthread_self()); }

// A detached pthread cannot be asked about once it may have ended.
bool ThreadNotEnded(uint64_t) { return false; }

void ThreadForgetAll() {}

void RunOnce(OnceState* state, void (*routine)()) { RunOnceInterlocked(state, routine); }

void InstallPauseHandler(void (*handler)()) {
  g_pauseHandler.store(handler, std::memory_order_relaxed);
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnPauseSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGUSR1, &action, nullptr);
}

int SleepOnce(int64_t seconds, int64_t nanoseconds) {
  timespec ts;
  ts.tv_sec = static_cast<time_t>(seconds);
  ts.tv_nsec = static_cast<long>(nanoseconds);
  return nanosleep(&ts, nullptr);
}

void SleepSeconds(unsigned seconds) { sleep(seconds); }

void ExitNow(int code) { _exit(code); }

}  // namespace rt::platform
