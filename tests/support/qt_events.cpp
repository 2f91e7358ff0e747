#include "qt_events.h"

#include <time.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include "qt/wait_window_event.h"

namespace fwu_test {

void PrintTo(const Event& event, std::ostream* out) {
  *out << "{kind " << event.kind << ", object " << event.object << ", window " << event.window << ", type "
       << event.type << "}";
}

std::vector<Event> TakeAll() {
  std::vector<Event> events;
  while (rt::EventTake() != 0) {
    events.push_back({rt::CurrentEventKind(), rt::CurrentEventGadget(), rt::CurrentEventWindow(),
                      rt::CurrentEventType()});
  }
  return events;
}

std::vector<int32_t> TakeKinds() {
  std::vector<int32_t> kinds;
  for (const Event& event : TakeAll()) kinds.push_back(event.kind);
  return kinds;
}

bool Contains(const std::vector<Event>& events, int32_t kind) {
  for (const Event& event : events)
    if (event.kind == kind) return true;
  return false;
}

void Settle() {
  for (int pass = 0; pass < 3; ++pass) {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
  }
}

bool SpinUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > limit.count()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QThread::usleep(200);
  }
  return true;
}

int64_t ThreadCpuNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

}  // namespace fwu_test
