// The runtime's event queue and Qt's own event loop, as the tests of the Qt
// runtime see them.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <vector>

namespace fwu_test {

// One runtime event as EventTake reports it.
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

// Takes every queued runtime event.
std::vector<Event> TakeAll();
// Only the kinds of every queued event, taken in order.
std::vector<int32_t> TakeKinds();
bool Contains(const std::vector<Event>& events, int32_t kind);

// Lets Qt deliver whatever is pending (posted events, window-system events)
// without touching the runtime's event queue.
void Settle();

// Runs Qt until `done` holds; false when `limit` passed first.
bool SpinUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(5));

// CPU time consumed by the calling thread, in nanoseconds.
int64_t ThreadCpuNanoseconds();

}  // namespace fwu_test
