#include "core/runtime_main.h"

#include "core/platform.h"
#include "core/thread_cleanup.h"
#include "core/thread_slots.h"
#include "core/threads.h"
#include "core/workspace.h"

#include <clocale>
#include <cstdio>

namespace rt {

namespace {
int g_argumentCount = 0;
char** g_arguments = nullptr;
int g_exitCode = 0;  // the program never sets another value
}  // namespace

int RuntimeMain(int argc, char** argv, const RuntimeLibrary* libraries, size_t count, void (*body)()) {
  // Windows: the program heap, before anything of the runtime is allocated.
  platform::ProcessStart();
  g_argumentCount = argc;
  g_arguments = argv;

  // Everything follows the user's environment except numbers, which are
  // always written and read with a full stop.
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");

  WorkspaceStartup();
  if (!libraries) count = 0;
  for (size_t i = 0; i < count; ++i) {
    if (libraries[i].start) libraries[i].start();
  }

  if (body) body();

  if (ThreadRunningCount() > 0) {
    // A worker in mid-transfer must never touch an object the shut-down has
    // freed, nor write to a descriptor number that has been reused: undo only
    // what would outlive the process and end it here.
    for (size_t i = count; i-- > 0;) {
      if (libraries[i].abandon) libraries[i].abandon();
    }
    std::fflush(nullptr);
    platform::ExitNow(g_exitCode);
  }

  for (size_t i = count; i-- > 0;) {
    if (libraries[i].end) libraries[i].end();
  }
  // The start-up thread gives back its own per-thread state here rather than
  // at its end: on Windows the program heap that holds it is destroyed next,
  // and the system still runs the thread's end callbacks inside ExitProcess.
  // Before the slots shut down, so that each slot's clean-up still runs.
  ThreadSlotThreadEnd();
  ThreadSlotShutdown();
  WorkspaceShutdown();
  ThreadCleanupThreadEnd();
  // Windows destroys the program heap and ends the process here.
  return platform::ProcessEnd(g_exitCode);
}

void RuntimeSetExitCode(int code) { g_exitCode = code; }

int RuntimeArgumentCount() { return g_argumentCount; }

char** RuntimeArguments() { return g_arguments; }

}  // namespace rt
