#include "io/console.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>

namespace rt {

namespace {

std::atomic<void (*)()> g_handler{nullptr};

void OnSignal(int) {
  if (auto handler = g_handler.load()) handler();
}

}  // namespace

bool ConsoleIsTerminal(FILE* stream) { return stream && isatty(fileno(stream)) == 1; }

void ConsoleOnInterrupt(void (*handler)()) {
  g_handler.store(handler);
  struct sigaction action = {};
  action.sa_handler = handler ? OnSignal : SIG_DFL;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a sleep or a wait the signal interrupts returns early, so
  // the run notices the flag at once.
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
}

// A POSIX program always has the streams its parent gave it.
bool ConsoleAttachParent() { return true; }

}  // namespace rt
