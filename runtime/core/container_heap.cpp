#include "core/container_heap.h"

#include "core/memory.h"

namespace rt {

namespace {
// Per thread, so that a test provoking failures cannot disturb other threads.
thread_local int64_t t_successes = -1;  // negative: no failures planned
thread_local int64_t t_failures = 0;    // negative: fail for ever
}  // namespace

void* ContainerHeapAlloc(size_t bytes) {
  if (t_successes > 0) {
    --t_successes;
  } else if (t_successes == 0) {
    if (t_failures == 0) {
      t_successes = -1;
    } else {
      if (t_failures > 0) --t_failures;
      return nullptr;
    }
  }
  return SizedAlloc(bytes);
}

void ContainerHeapFree(void* block) { SizedFree(block); }

void ContainerHeapFailAfter(int64_t successes, int64_t failures) {
  t_successes = successes < 0 ? -1 : successes;
  t_failures = failures;
}

}  // namespace rt
