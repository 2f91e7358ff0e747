// The frame around the application: the start-up list, the body, the
// shut-down list. Each program composes its own list of libraries in the
// fixed order of its platform; ends run in reverse order of the starts.
#pragma once

#include <cstddef>

namespace rt {

struct RuntimeLibrary {
  const char* name;
  void (*start)();     // may be null
  void (*end)();       // may be null
  // Called instead of `end` when the body returns while runtime threads are
  // still running: the process then ends at once, so nothing is freed under
  // a running thread. It must only undo state that would outlive the process
  // (such as a terminal's exclusive-use flag), never close or free. May be null.
  void (*abandon)();
};

// Keeps the arguments, sets the locale (user default, numbers always "C"),
// creates the start-up thread's workspace, starts the libraries in order,
// runs the body, ends the libraries in reverse order, gives up the start-up
// thread's slots, workspace and clean-ups, and returns the exit code (0).
// When a started thread is still running after the body, the abandon
// functions run in reverse order and the process ends at once with the exit
// code.
//
// Windows wraps this in the program heap: created before anything else and
// destroyed after everything else, after which the process ends with
// ExitProcess and the exit code. There RuntimeMain never returns.
int RuntimeMain(int argc, char** argv, const RuntimeLibrary* libraries, size_t count, void (*body)());

// The program leaves the exit code at 0. A harness that runs tests as the
// body sets it to report their result, since on Windows the frame ends the
// process itself.
void RuntimeSetExitCode(int code);

int RuntimeArgumentCount();
char** RuntimeArguments();

}  // namespace rt
