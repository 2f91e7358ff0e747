// A fixed amount of event-queue work, for instruction counts under
// valgrind --tool=callgrind (the timed benchmarks cannot give stable counts
// on a loaded machine).
//   qt_events_count <queue|deque> <single|burst> <burst size> <rounds>
// Each round posts `burst size` distinct events and then takes them all;
// `single` posts and takes one at a time. Prints the events handled.
#include <QByteArray>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "deque_queue.h"
#include "qt/qt_base.h"
#include "qt/wait_window_event.h"

namespace {

qtevents::DequeQueue dequeQueue;

struct RtQueue {
  static void Post(int32_t kind, int64_t object) { rt::EventPost(kind, object, 1, 0); }
  static int32_t Take() { return rt::EventTake(); }
};
struct Yardstick {
  static void Post(int32_t kind, int64_t object) { dequeQueue.Post(kind, object, 1, 0); }
  static int32_t Take() { return dequeQueue.Take(); }
};

template <typename Queue>
long long Run(bool single, long long burst, long long rounds) {
  long long handled = 0;
  volatile int32_t sink = 0;
  for (long long round = 0; round < rounds; ++round) {
    if (single) {
      for (long long i = 0; i < burst; ++i) {
        Queue::Post(rt::EventKind::Gadget, i);
        sink = Queue::Take();
        ++handled;
      }
    } else {
      for (long long i = 0; i < burst; ++i) Queue::Post(rt::EventKind::Gadget, i);
      while (const int32_t kind = Queue::Take()) {
        sink = kind;
        ++handled;
      }
    }
  }
  (void)sink;
  return handled;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s <queue|deque> <single|burst> <burst size> <rounds>\n", argv[0]);
    return 2;
  }
  if (qgetenv("QT_QPA_PLATFORM").isEmpty() && qgetenv("DISPLAY").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
  rt::ApplicationStart();
  rt::EventQueueStart();
  const bool queue = std::strcmp(argv[1], "queue") == 0;
  const bool single = std::strcmp(argv[2], "single") == 0;
  const long long burst = std::atoll(argv[3]);
  const long long rounds = std::atoll(argv[4]);
  const long long handled = queue ? Run<RtQueue>(single, burst, rounds) : Run<Yardstick>(single, burst, rounds);
  std::printf("%lld events\n", handled);
  return 0;
}
