#include "qt/qt_base.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <cstdint>

#include "core/runtime_main.h"

// The wake-up travels outside Qt: an eventfd watched by a QSocketNotifier on
// the user-interface thread. The kernel keeps the signal until the loop reads
// it, so it cannot be lost between a wait's last look at the queue and the
// start of its run, and nothing crosses threads through Qt's own (to the
// thread sanitizer invisible) locks. The full design is described in
// wait_window_event.cpp.

namespace rt {
namespace {

QApplication* application = nullptr;
QEventLoop* eventLoop = nullptr;
thread_local bool onUserInterfaceThread = false;

// Runs of the loop in progress on the user-interface thread (only touched there).
int runDepth = 0;

int wakeDescriptor = -1;
std::atomic<bool> wakePending{false};
std::atomic<long long> wakeDeliveries{0};

// QApplication keeps a reference to the count and the vector for its whole
// life. Without the program's own arguments (an embedding test) Qt still
// needs a name; the runtime has none of its own to give.
int argumentCount = 0;
char fallbackName[] = "runtime";
char* fallbackArguments[] = {fallbackName, nullptr};

void WakeArrived() {
  wakeDeliveries.fetch_add(1, std::memory_order_relaxed);
  // Only a wake-up requested since the current wait began ends the run;
  // an older one belongs to an event the wait has already taken.
  if (runDepth > 0 && wakePending.exchange(false, std::memory_order_acq_rel)) eventLoop->quit();
}

void DrainAndWake() {
  // Drain first: a wake-up signalled after this read finds the flag set (and
  // is merged into this one) or clear (and writes again).
  uint64_t count;
  while (read(wakeDescriptor, &count, sizeof count) < 0 && errno == EINTR) {
  }
  WakeArrived();
}

void SignalWake() {
  if (wakePending.exchange(true, std::memory_order_acq_rel)) return;  // one is already on its way
  if (wakeDescriptor >= 0) {
    const uint64_t one = 1;
    while (write(wakeDescriptor, &one, sizeof one) < 0 && errno == EINTR) {
    }
  } else {
    // No descriptor could be had: fall back to a queued call on the loop's thread.
    QMetaObject::invokeMethod(eventLoop, &WakeArrived, Qt::QueuedConnection);
  }
}

}  // namespace

void ApplicationStart() {
  if (application) return;
  application = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (!application) {
    argumentCount = RuntimeArgumentCount();
    char** arguments = RuntimeArguments();
    if (argumentCount > 0 && arguments) {
      application = new QApplication(argumentCount, arguments);
    } else {
      argumentCount = 1;
      application = new QApplication(argumentCount, fallbackArguments);
    }
  }
  // Windows close only when the program frees them. An automatic quit would
  // also make every later run of the loop return at once.
  application->setQuitOnLastWindowClosed(false);
  onUserInterfaceThread = true;
  eventLoop = new QEventLoop(application);

  wakeDescriptor = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeDescriptor >= 0) {
    auto* notifier = new QSocketNotifier(wakeDescriptor, QSocketNotifier::Read, application);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] { DrainAndWake(); });
  }
}

QApplication* Application() { return application; }
QEventLoop* RuntimeEventLoop() { return eventLoop; }

bool IsUserInterfaceThread() { return onUserInterfaceThread; }

void EventLoopWake(int deferred) {
  if (!eventLoop) return;
  if (!deferred && onUserInterfaceThread) {
    // A handler running inside the wait: end the run now. Outside a run
    // there is nothing to end; the event is queued and the next wait takes
    // it before it runs the loop.
    if (runDepth > 0) eventLoop->quit();
    return;
  }
  SignalWake();
}

bool EventLoopRun() {
  if (!eventLoop || !IsUserInterfaceThread() || runDepth > 0) return false;
  ++runDepth;
  eventLoop->exec(QEventLoop::AllEvents);
  --runDepth;
  return true;
}

void EventLoopWakeReset() {
  // A wait nested in a handler must not forget the wake-up that is to end
  // the run around it: the events it announced may still be queued.
  if (onUserInterfaceThread && runDepth > 0) return;
  wakePending.store(false, std::memory_order_release);
}

long long EventLoopWakeDeliveries() { return wakeDeliveries.load(std::memory_order_relaxed); }

}  // namespace rt
