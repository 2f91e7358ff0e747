#include "core/run_once.h"

#include <thread>

namespace rt {

namespace {
constexpr platform::OnceState kRunning = 1;
constexpr platform::OnceState kDone = 2;
}  // namespace

void RunOnceInterlocked(platform::OnceState* state, void (*routine)()) {
  // The word stays a plain integer so that the system's own run-once can use
  // the same storage; the builtins make every access to it atomic.
  if (__atomic_load_n(state, __ATOMIC_ACQUIRE) == kDone) return;
  platform::OnceState expected = 0;
  if (__atomic_compare_exchange_n(state, &expected, kRunning, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) {
    routine();
    __atomic_store_n(state, kDone, __ATOMIC_RELEASE);
    return;
  }
  // Routines are short (a lock or a heap to create), so yielding is cheaper
  // than setting up anything to wait on.
  while (__atomic_load_n(state, __ATOMIC_ACQUIRE) != kDone) std::this_thread::yield();
}

}  // namespace rt
