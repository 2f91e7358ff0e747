// Shared helpers of the window and event tests.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace qtw {

struct Event {
  int32_t kind;
  int64_t object;
  int64_t window;
  int64_t type;
  bool operator==(const Event& other) const {
    return kind == other.kind && object == other.object && window == other.window && type == other.type;
  }
};
void PrintTo(const Event& event, std::ostream* out);

// Takes every queued event.
std::vector<Event> TakeAll();
// Only the kinds of every queued event, taken in order.
std::vector<int32_t> TakeKinds();
bool Contains(const std::vector<Event>& events, int32_t kind);

// Lets Qt deliver whatever is pending (posted events, window-system events)
// without touching the runtime's event queue.
void Settle();

// Fails the test program instead of letting a test hang: unless destroyed
// within `limit`, it reports `what` and ends the process with status 1.
class Watchdog {
 public:
  Watchdog(std::chrono::milliseconds limit, std::string what);
  ~Watchdog();
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  bool finished_ = false;
  std::thread thread_;
};

// CPU time consumed by the calling thread, in nanoseconds.
int64_t ThreadCpuNanoseconds();

}  // namespace qtw
