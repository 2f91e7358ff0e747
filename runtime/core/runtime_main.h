// The frame around the application: the start-up list, the body, the
// shut-down list. Each program composes its own list of libraries in the
// fixed order of its platform; ends run in reverse order of the starts.
#pragma once

#include <cstddef>

namespace rt {

struct RuntimeLibrary {
  const char* name;
  void (*start)();   // may be null
  void (*end)();     // may be null
};

// Keeps the arguments, sets the locale (user default, numbers always "C"),
// creates the start-up thread's workspace, starts the libraries in order,
// runs the body, ends the libraries in reverse order, gives up the thread-slot
// and workspace keys, and returns the exit code (0).
int RuntimeMain(int argc, char** argv, const RuntimeLibrary* libraries, size_t count, void (*body)());

int RuntimeArgumentCount();
char** RuntimeArguments();

}  // namespace rt
