// Heap requests of the block pools and keyed maps. They go through one place
// so that tests can make them fail and check that every structure is left as
// it was when memory runs out.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rt {

void* ContainerHeapAlloc(size_t bytes);  // zero-filled SizedAlloc block, or null
void ContainerHeapFree(void* block);     // null is ignored

// On the calling thread only: the next `successes` container heap requests
// succeed, then `failures` requests fail (a negative count: every one after),
// and then requests succeed again. A negative `successes` never fails.
void ContainerHeapFailAfter(int64_t successes, int64_t failures = -1);

}  // namespace rt
