// The one Qt application object and the runtime's event loop (module QtBase).
#pragma once

class QApplication;
class QEventLoop;

namespace rt {

void ApplicationStart();        // creates the QApplication (program arguments) and the QEventLoop
QApplication* Application();
QEventLoop* RuntimeEventLoop();

// Ends the current run of the event loop (deferred: on its next pass).
// Callable from any thread; repeated wake-ups merge into one, and a wake-up
// requested while no run is in progress ends the next run at once.
void EventLoopWake(int deferred);

}  // namespace rt
