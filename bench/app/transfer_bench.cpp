// Transfer speed of the whole program path (the worker's per-byte write,
// progress update carried to the user-interface thread and output-queue poll,
// with the user-interface thread running the program's event loop), next to
// a minimal loop making the same system calls on the same kind of
// pseudo-terminal, in the same run. Also the processor time the
// user-interface thread spends during the transfer. Prints figures and ratios.
//   app_transfer_bench [ROUNDS]
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/runtime_main.h"
#include "bench_support.h"
#include "device.h"
#include "libraries.h"
#include "minimal_loop.h"
#include "updater.h"
#include "window_harness.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int64_t Body = 65536;

int rounds = 3;
int exitCode = 0;

clockid_t uiClock{};

// Processor time of the user-interface thread, in seconds (readable from any thread).
double ThreadProcessorSeconds(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// The body's timing, taken on the worker as it hands the bar 1 % and 100 %.
std::mutex timingMutex;
Clock::time_point first, last;
double cpuFirst = 0, cpuLast = 0;

void OnProgress(int64_t value) {
  std::lock_guard<std::mutex> lock(timingMutex);
  if (value == 1 && cpuFirst == 0) {
    first = Clock::now();
    cpuFirst = ThreadProcessorSeconds(uiClock) + 1e-9;
  } else if (value == 100 && cpuLast == 0) {
    last = Clock::now();
    cpuLast = ThreadProcessorSeconds(uiClock);
  }
}

struct ProgramFigures {
  double bytesPerSecond = 0;
  double uiProcessorShare = 0;  // of one core, during the body
};

// One run through the real window; the body is timed from the bar's first
// move (1 %) to its last (100 %).
bool RunProgram(apptest::WindowHarness& harness, const std::string& firmware, ProgramFigures* figures) {
  appbench::Simulator device(Body);
  if (!device.ok()) return false;
  harness.BuildFreshWindow();
  app::SetProgressObserver(OnProgress);
  {
    std::lock_guard<std::mutex> lock(timingMutex);
    cpuFirst = cpuLast = 0;
  }
  harness.AddAndSelectPort(device.path());
  harness.SetFileName(firmware);
  harness.ClickUpdate();
  apptest::Outcome outcome;
  if (!harness.RunUntilFinished(&outcome, std::chrono::seconds(120)) || outcome.title != "Information") {
    std::fprintf(stderr, "program run failed: %s\n", outcome.title.toStdString().c_str());
    return false;
  }
  std::lock_guard<std::mutex> lock(timingMutex);
  const double seconds = std::chrono::duration<double>(last - first).count();
  // From the byte that made 1 % to the last byte.
  const double bytes = double(Body - (Body / 100));
  figures->bytesPerSecond = bytes / seconds;
  figures->uiProcessorShare = (cpuLast - cpuFirst) / seconds;
  return true;
}

// The same system calls with nothing around them: open and set up the line
// as the serial library does, header, answer, then per byte one write and
// output-queue polls until empty.
bool RunMinimalOnThisThread(double* bytesPerSecond);

// On a thread of its own, like the program's worker.
bool RunMinimal(double* bytesPerSecond) {
  bool ok = false;
  std::thread worker([&] { ok = RunMinimalOnThisThread(bytesPerSecond); });
  worker.join();
  return ok;
}

bool RunMinimalOnThisThread(double* bytesPerSecond) {
  appbench::Simulator device(Body);
  if (!device.ok()) return false;
  *bytesPerSecond = appbench::MinimalTransfer(device.path(), Body);
  return *bytesPerSecond > 0;
}

void TransferBody() {
  pthread_getcpuclockid(pthread_self(), &uiClock);
  const std::string firmware = appbench::WriteFirmware(Body);
  apptest::WindowHarness harness;
  std::vector<double> program, minimal, uiShare;
  for (int round = 0; round < rounds; ++round) {
    ProgramFigures figures;
    double loop = 0;
    // Alternate the order, so neither side always runs on a warmed-up machine.
    const bool ok = round % 2 == 0 ? RunProgram(harness, firmware, &figures) && RunMinimal(&loop)
                                   : RunMinimal(&loop) && RunProgram(harness, firmware, &figures);
    if (!ok) {
      exitCode = 1;
      break;
    }
    std::printf("  round %d: program %.0f bytes/s, minimal %.0f bytes/s\n", round + 1, figures.bytesPerSecond, loop);
    program.push_back(figures.bytesPerSecond);
    uiShare.push_back(figures.uiProcessorShare);
    minimal.push_back(loop);
  }
  std::remove(firmware.c_str());
  if (exitCode != 0) return;
  const double p = appbench::Median(program), m = appbench::Median(minimal);
  std::printf("transfer of a %lld-byte body through a pseudo-terminal (median of %d):\n", (long long)Body, rounds);
  std::printf("  program path: %.0f bytes/s\n", p);
  std::printf("  minimal loop: %.0f bytes/s\n", m);
  std::printf("  program time / minimal time: %.2fx (goal <= 1.25x)\n", m / p);
  std::printf("  user-interface thread during the transfer: %.1f %% of a core\n", appbench::Median(uiShare) * 100.0);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) rounds = std::max(1, std::atoi(argv[1]));
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  size_t count = 0;
  const rt::RuntimeLibrary* libraries = app::RuntimeLibraries(&count);
  rt::RuntimeMain(argc, argv, libraries, count, TransferBody);
  return exitCode;
}
