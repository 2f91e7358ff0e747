#include "qt_test_support.h"

#include <gtest/gtest.h>
#include <time.h>

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>

#include "qt/qt_base.h"
#include "qt/wait_window_event.h"
#include "qt/windows.h"

namespace qtw {
namespace {

// The runtime's user-interface libraries, started once per test program the
// way the program's start-up list starts them.
class QtRuntime : public ::testing::Environment {
 public:
  void SetUp() override {
    rt::ApplicationStart();
    rt::EventQueueStart();
    rt::WindowLibraryStart();
  }
  void TearDown() override { rt::WindowLibraryEnd(); }
};

[[maybe_unused]] ::testing::Environment* const environment = ::testing::AddGlobalTestEnvironment(new QtRuntime);

}  // namespace

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

Watchdog::Watchdog(std::chrono::milliseconds limit, std::string what)
    : thread_([this, limit, what = std::move(what)] {
        std::unique_lock<std::mutex> lock(mutex_);
        if (done_.wait_for(lock, limit, [this] { return finished_; })) return;
        std::fprintf(stderr, "watchdog: %s did not finish within %lld ms\n", what.c_str(),
                     static_cast<long long>(limit.count()));
        std::fflush(stderr);
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

int64_t ThreadCpuNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

}  // namespace qtw
