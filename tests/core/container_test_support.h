// Helpers shared by the block pool and keyed map tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "core/container_heap.h"
#include "watchdog.h"

namespace container_test {

// Makes container heap requests on this thread fail as planned, and always
// lets them succeed again at the end of the scope.
class HeapFailures {
 public:
  explicit HeapFailures(int64_t successes, int64_t failures = -1) { rt::ContainerHeapFailAfter(successes, failures); }
  ~HeapFailures() { rt::ContainerHeapFailAfter(-1); }
  HeapFailures(const HeapFailures&) = delete;
  HeapFailures& operator=(const HeapFailures&) = delete;
};

using fwu_test::Watchdog;

}  // namespace container_test
