// Helpers shared by the block pool and keyed map tests.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "core/container_heap.h"

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

// Ends the process with a message if the scope is not left in time: a hung
// worker thread cannot be failed any other way.
class Watchdog {
 public:
  explicit Watchdog(std::chrono::seconds limit)
      : thread_([this, limit] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!done_cv_.wait_for(lock, limit, [this] { return done_; })) {
            std::fprintf(stderr, "watchdog: test did not finish in time\n");
            std::abort();
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    done_cv_.notify_one();
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable done_cv_;
  bool done_ = false;
  std::thread thread_;
};

}  // namespace container_test
