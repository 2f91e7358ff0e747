// Fails a test program instead of letting a test hang.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace fwu_test {

// Unless destroyed within `limit`, reports `what` and ends the process with
// status 1: a hung thread cannot be failed any other way.
class Watchdog {
 public:
  explicit Watchdog(std::chrono::milliseconds limit, std::string what = "test");
  ~Watchdog();
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  bool finished_ = false;
  std::thread thread_;
};

}  // namespace fwu_test
