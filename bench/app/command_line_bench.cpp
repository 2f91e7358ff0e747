// The command line's figures, next to yardsticks measured in the same run:
// - the transfer of a 1 MiB body by `fwupdater --port --file` against the
//   minimal loop of the same system calls, both timed where the bytes arrive
//   (the simulator), from the body's first 1 % to its last byte;
// - the time from starting the program to the port being open (the
//   simulator sees the open's input flush).
//   app_command_line_bench FWUPDATER [ROUNDS]
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "device.h"
#include "minimal_loop.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int64_t Body = 1048576;

// Bytes per second of the body as the device receives it, from 1 % to the
// end; watched from this thread with 100 us looks (a few thousand a second).
double WatchBody(devsim::Device& device, const std::function<bool()>& running) {
  const int64_t from = 16 + Body / 100, to = 16 + Body;
  Clock::time_point start{}, end{};
  while (running() || device.BytesReceived() < to) {
    const int64_t got = device.BytesReceived();
    if (start == Clock::time_point{} && got >= from) start = Clock::now();
    if (got >= to) {
      end = Clock::now();
      break;
    }
    if (!running() && got < to) return 0;
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  if (end == Clock::time_point{} || start == Clock::time_point{}) return 0;
  return double(to - from) / std::chrono::duration<double>(end - start).count();
}

pid_t Spawn(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int WaitExit(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct ProgramRun {
  double bytesPerSecond = 0;
  double startToOpenMs = 0;
};

bool RunProgram(const std::string& program, const std::string& firmware, ProgramRun* run) {
  appbench::Simulator sim(Body);
  if (!sim.ok()) return false;
  const Clock::time_point started = Clock::now();
  const pid_t pid = Spawn({program, "--port", sim.device().Path(), "--file", firmware});
  if (pid < 0) return false;
  // The open: the simulator counts the input flush with which the host opens the line.
  while (sim.device().Opens() == 0 && Clock::now() - started < std::chrono::seconds(10)) {
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
  run->startToOpenMs = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
  std::atomic<bool> exited{false};
  int status = -1;
  std::thread waiter([&] {
    status = WaitExit(pid);
    exited = true;
  });
  run->bytesPerSecond = WatchBody(sim.device(), [&] { return !exited; });
  waiter.join();
  if (status != 0 || run->bytesPerSecond <= 0) {
    std::fprintf(stderr, "program: exit status %d, %.0f bytes/s; device: %s, %lld bytes received\n", status,
                 run->bytesPerSecond, sim.device().error().c_str(), (long long)sim.device().BytesReceived());
  }
  return status == 0 && run->bytesPerSecond > 0;
}

bool RunMinimal(double* bytesPerSecond) {
  appbench::Simulator sim(Body);
  if (!sim.ok()) return false;
  std::atomic<bool> done{false};
  std::thread loop([&] {
    appbench::MinimalTransfer(sim.device().Path(), Body);
    done = true;
  });
  *bytesPerSecond = WatchBody(sim.device(), [&] { return !done; });
  loop.join();
  return *bytesPerSecond > 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FWUPDATER [ROUNDS]\n", argv[0]);
    return 64;
  }
  const std::string program = argv[1];
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  const std::string firmware = appbench::WriteFirmware(Body);
  std::vector<double> cli, minimal, open;
  int exitCode = 0;
  for (int round = 0; round < rounds; ++round) {
    ProgramRun run;
    double loop = 0;
    // Alternate the order, so neither side always runs on a warmed-up machine.
    const bool ok = round % 2 == 0 ? RunProgram(program, firmware, &run) && RunMinimal(&loop)
                                   : RunMinimal(&loop) && RunProgram(program, firmware, &run);
    if (!ok) {
      std::fprintf(stderr, "round %d failed\n", round + 1);
      exitCode = 1;
      break;
    }
    std::printf("  round %d: command line %.0f bytes/s, minimal %.0f bytes/s, start to open %.1f ms\n", round + 1,
                run.bytesPerSecond, loop, run.startToOpenMs);
    cli.push_back(run.bytesPerSecond);
    minimal.push_back(loop);
    open.push_back(run.startToOpenMs);
  }
  std::remove(firmware.c_str());
  if (exitCode != 0) return exitCode;
  const double c = appbench::Median(cli), m = appbench::Median(minimal);
  std::printf("command-line transfer of a %lld-byte body through a pseudo-terminal (median of %d):\n",
              (long long)Body, rounds);
  std::printf("  command line: %.0f bytes/s\n", c);
  std::printf("  minimal loop: %.0f bytes/s\n", m);
  std::printf("  command-line time / minimal time: %.2fx (goal <= 1.1x)\n", m / c);
  std::printf("  start of the program to the port open: %.1f ms (goal < 50 ms)\n", appbench::Median(open));
  return 0;
}
