// The one Qt application object and the runtime's event loop (module QtBase).
#pragma once

class QApplication;
class QEventLoop;

namespace rt {

// Creates the QApplication (from the program's arguments, or a fixed name
// when RuntimeMain has not run) and the QEventLoop whose parent it is. The
// calling thread becomes the user-interface thread. Later calls do nothing.
void ApplicationStart();
QApplication* Application();
QEventLoop* RuntimeEventLoop();

// Ends the current run of the event loop (deferred: on its next pass).
// Callable from any thread. Repeated wake-ups merge into one, and a wake-up
// requested from another thread can never be lost: if no run is in progress
// yet, the run that the current wait starts ends at once.
void EventLoopWake(int deferred);

// Runs the event loop until a wake-up (or a quit) ends the run. Only on the
// user-interface thread and not from inside a run: false, and nothing done,
// otherwise.
bool EventLoopRun();

// For the event wait: forgets wake-ups requested before the wait began (their
// events are already queued, and the wait takes them before it runs the loop).
void EventLoopWakeReset();

// True on the thread that called ApplicationStart.
bool IsUserInterfaceThread();

// How many times a wake-up signalled from another thread (or deferred) has
// reached the loop's thread; merged wake-ups count once.
long long EventLoopWakeDeliveries();

}  // namespace rt
