#include "watchdog.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace fwu_test {

Watchdog::Watchdog(std::chrono::milliseconds limit, std::string what)
    : thread_([this, limit, what = std::move(what)] {
        std::unique_lock<std::mutex> lock(mutex_);
        if (done_.wait_for(lock, limit, [this] { return finished_; })) return;
        std::fprintf(stderr, "watchdog: %s did not finish within %lld ms\n", what.c_str(),
                     static_cast<long long>(limit.count()));
        std::fflush(stderr);
        // No abort: under Wine that would start the crash debugger and wait.
        std::_Exit(1);
      }) {}

Watchdog::~Watchdog() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
  }
  done_.notify_one();
  thread_.join();
}

}  // namespace fwu_test
