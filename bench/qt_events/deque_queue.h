// The yardstick for the event queue: the same record payload and the same
// pattern of use, with a std::deque doing the storage under a std::mutex.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>

namespace qtevents {

// The fields an event queue record carries besides its link.
struct Record {
  int32_t kind;
  int32_t flags;
  int64_t object;
  int64_t window;
  int64_t type;
  int64_t data;
  void (*release)(int64_t);
};
static_assert(sizeof(Record) == 48, "same payload as a queued event");

class DequeQueue {
 public:
  void Post(int32_t kind, int64_t object, int64_t window, int64_t type) {
    std::lock_guard<std::mutex> guard(lock_);
    records_.push_back(Record{kind, 0, object, window, type, 0, nullptr});
  }
  int32_t Take() {
    std::lock_guard<std::mutex> guard(lock_);
    if (records_.empty()) return 0;
    current_ = records_.front();
    records_.pop_front();
    return current_.kind;
  }
  int64_t CurrentObject() const { return current_.object; }

 private:
  std::mutex lock_;
  std::deque<Record> records_;
  Record current_{};
};

}  // namespace qtevents
