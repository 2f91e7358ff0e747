// Transfer speed of the whole Windows program path under Wine (the worker's
// per-byte write, the bar carried to the user-interface thread when its value
// rises, the user-interface thread waiting in the program's event loop), next
// to a minimal loop of the same Win32 calls on the same kind of line, in the
// same run. Runs in the Wine test bed, whose COM ports lead to simulated
// devices: COM1 takes a 64 KiB body, COM2 a 1 MiB body, again and again.
//   app_win32_transfer_bench [ROUNDS]
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/runtime_main.h"
#include "libraries.h"
#include "updater.h"
#include "window_harness.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Line {
  const char16_t* port;
  const char* firmware;  // in the bed's work folder
  int64_t body;
};
const Line kLines[] = {{u"COM1", "body64k.fw", 65536}, {u"COM2", "body1m.fw", 1048576}};

int rounds = 5;
int exitCode = 0;

std::string WorkPath(const std::string& file) {
  const char* work = std::getenv("FWU_BED_WORK");
  return std::string(work ? work : ".") + "\\" + file;
}

// The body's timing, taken on the worker as it hands the bar 1 % and 100 %.
std::mutex timingMutex;
Clock::time_point first, last;
bool haveFirst = false, haveLast = false;

void OnProgress(int64_t value) {
  std::lock_guard<std::mutex> lock(timingMutex);
  if (value == 1 && !haveFirst) {
    first = Clock::now();
    haveFirst = true;
  } else if (value == 100 && !haveLast) {
    last = Clock::now();
    haveLast = true;
  }
}

// One run through the real window; the body is timed from the byte that made
// 1 % to the last byte (100 %).
bool RunProgram(apptest::WindowHarness& harness, const Line& line, double* bytesPerSecond) {
  harness.BuildFreshWindow();
  app::SetProgressObserver(OnProgress);
  {
    std::lock_guard<std::mutex> lock(timingMutex);
    haveFirst = haveLast = false;
  }
  if (!harness.ChoosePort(line.port)) {
    std::fprintf(stderr, "port not listed\n");
    return false;
  }
  const std::string path = WorkPath(line.firmware);
  harness.SetFileName(std::u16string(path.begin(), path.end()));
  harness.ClickUpdate();
  apptest::Outcome outcome;
  if (!harness.RunUntilFinished(&outcome, std::chrono::seconds(600)) || outcome.title != u"Information") {
    std::fprintf(stderr, "program run failed: %s\n", std::string(outcome.title.begin(), outcome.title.end()).c_str());
    return false;
  }
  std::lock_guard<std::mutex> lock(timingMutex);
  const double bytes = double(line.body - line.body / 100);
  *bytesPerSecond = bytes / std::chrono::duration<double>(last - first).count();
  return true;
}

DWORD Pending(HANDLE port, bool output) {
  DWORD errors = 0;
  COMSTAT status = {};
  if (!ClearCommError(port, &errors, &status)) return 0;
  return output ? status.cbOutQue : status.cbInQue;
}

bool WaitForAnswer(HANDLE port) {
  const Clock::time_point limit = Clock::now() + std::chrono::seconds(10);
  while (Pending(port, false) != 2) {
    if (Clock::now() > limit) return false;
    Sleep(1);
  }
  char answer[2];
  DWORD read = 0;
  return ReadFile(port, answer, 2, &read, nullptr) && read == 2 && answer[0] == 'O' && answer[1] == 'K';
}

// The same Win32 calls with nothing around them: open and set up the line as
// the serial library does, the header, the answer, then one WriteFile per
// body byte (again after a pause when refused), timed like the program from
// the byte that makes 1 %.
bool RunMinimalOnThisThread(const Line& line, double* bytesPerSecond) {
  const std::wstring path = L"\\\\.\\" + std::wstring(line.port, line.port + 4);
  HANDLE port = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (port == INVALID_HANDLE_VALUE) return false;
  SetupComm(port, 16, 524288);
  DCB dcb = {};
  dcb.DCBlength = sizeof dcb;
  GetCommState(port, &dcb);
  dcb.BaudRate = 57600;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = TRUE;
  SetCommState(port, &dcb);
  COMMTIMEOUTS timeouts = {0, 0, 0, 100, 10};
  SetCommTimeouts(port, &timeouts);

  std::ifstream in(WorkPath(line.firmware), std::ios::binary);
  const std::vector<char> firmware((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  DWORD written = 0;
  bool ok = firmware.size() == size_t(16 + line.body) && WriteFile(port, firmware.data(), 16, &written, nullptr);
  do {
    Sleep(1);
  } while (ok && Pending(port, true) != 0);
  ok = ok && WaitForAnswer(port);
  Clock::time_point start;
  for (int64_t i = 1; ok && i <= line.body; ++i) {
    // A byte the line refuses (its write timed out on a full line) is
    // offered again, as the program does.
    while (!WriteFile(port, &firmware[size_t(15 + i)], 1, &written, nullptr) || written != 1) Sleep(1);
    if (i == line.body / 100) start = Clock::now();
  }
  const Clock::time_point end = Clock::now();
  ok = ok && WaitForAnswer(port);
  CloseHandle(port);
  if (ok) *bytesPerSecond = double(line.body - line.body / 100) / std::chrono::duration<double>(end - start).count();
  return ok;
}

// On a thread of its own, like the program's worker.
bool RunMinimal(const Line& line, double* bytesPerSecond) {
  bool ok = false;
  std::thread worker([&] { ok = RunMinimalOnThisThread(line, bytesPerSecond); });
  worker.join();
  return ok;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double Fastest(const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); }

void TransferBody() {
  apptest::WindowHarness harness;
  for (const Line& line : kLines) {
    std::vector<double> program, minimal;
    for (int round = 0; round < rounds; ++round) {
      double p = 0, m = 0;
      // Alternate the order, so neither side always runs on a warmed-up machine.
      const bool ok = round % 2 == 0 ? RunProgram(harness, line, &p) && RunMinimal(line, &m)
                                     : RunMinimal(line, &m) && RunProgram(harness, line, &p);
      if (!ok) {
        std::fprintf(stderr, "round %d on %s failed\n", round + 1, line.firmware);
        exitCode = 1;
        return;
      }
      std::printf("  %lld-byte body, round %d: program %.0f bytes/s, minimal %.0f bytes/s\n", (long long)line.body,
                  round + 1, p, m);
      std::fflush(stdout);
      program.push_back(p);
      minimal.push_back(m);
    }
    // Each write waits on the Wine server and on the simulator, so on a busy
    // machine single rounds scatter widely; the fastest round of each shows
    // the cost that is the program's own.
    const double p = Median(program), m = Median(minimal);
    std::printf("transfer of a %lld-byte body through a COM port under Wine (median of %d; fastest):\n",
                (long long)line.body, rounds);
    std::printf("  program path: %.0f bytes/s; %.0f bytes/s\n", p, Fastest(program));
    std::printf("  minimal loop: %.0f bytes/s; %.0f bytes/s\n", m, Fastest(minimal));
    std::printf("  program time / minimal time: %.2fx; %.2fx (goal <= 1.25x)\n", m / p,
                Fastest(minimal) / Fastest(program));
    std::fflush(stdout);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) rounds = std::max(1, std::atoi(argv[1]));
  size_t count = 0;
  const rt::RuntimeLibrary* libraries = app::RuntimeLibraries(&count);
  rt::RuntimeSetExitCode(0);
  return rt::RuntimeMain(argc, argv, libraries, count, [] {
    TransferBody();
    rt::RuntimeSetExitCode(exitCode);
  });
}
