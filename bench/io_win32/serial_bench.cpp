// A firmware body sent to the simulated device the way the Windows updater
// sends it, one SerialWrite a byte, against the least a program must do on
// the same COM port: one WriteFile a byte on a handle opened and set up by
// hand. The machine is shared, so the two take turns in blocks of 512 bytes
// within each 64 KiB body, and each update starts with the other one; a
// round is two updates, 64 KiB through each of the two. Only the body is timed, with
// the performance counter; the figure is the median of the rounds' ratios.
// Goal: the runtime costs at most 1.1x the bare loop.
//
// Both handles are open on the port at once, which Wine allows on its
// pseudo-terminals (Windows would refuse the second). Runs in wine_bed.sh with
// a simulator on COM5 that takes 64 KiB bodies:
//   bench_serial_win32 [rounds]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "io/serial.h"

namespace {

constexpr int64_t BodyLength = 64 * 1024;  // an update's body, and what each of the two sends in a round
constexpr int64_t BlockLength = 512;
constexpr rt::ObjectNumber Port = 0;
const wchar_t* const DevicePath = L"\\\\.\\COM5";
const uint8_t Header[16] = {'F', 'W', 'U', 'B', 'E', 'N', 'C', 'H', 0, 1, 2, 3, 4, 5, 6, 7};

double Now() {
  static const double tick = [] {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1.0 / static_cast<double>(frequency.QuadPart);
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) * tick;
}

// Waits (at most 5 s) for the device's two-byte answer; a read waits for its
// full count, so it comes only once the bytes are there.
template <typename Pending, typename Read>
bool AwaitOk(Pending pending, Read read) {
  const double until = Now() + 5;
  while (pending() < 2) {
    if (Now() > until) return false;
    Sleep(1);
  }
  char answer[2] = {};
  return read(answer) && answer[0] == 'O' && answer[1] == 'K';
}

// The same port opened and set up as the runtime does, by hand.
HANDLE OpenBare() {
  HANDLE port = CreateFileW(DevicePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (port == INVALID_HANDLE_VALUE) return port;
  SetupComm(port, 16, 524288);
  DCB dcb = {};
  dcb.DCBlength = sizeof dcb;
  GetCommState(port, &dcb);
  dcb.BaudRate = 57600;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.fParity = TRUE;
  dcb.StopBits = ONESTOPBIT;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fRtsControl = RTS_CONTROL_DISABLE;
  SetCommState(port, &dcb);
  COMMTIMEOUTS timeouts = {0, 0, 0, 100, 10};
  SetCommTimeouts(port, &timeouts);
  return port;
}

struct Times {
  double library = 0;
  double bare = 0;
  int64_t refused = 0;  // writes that gave up (110 ms) and were offered again
};

// One update; the body in turns, `libraryFirst` choosing who starts.
bool Update(HANDLE bare, bool libraryFirst, Times* times) {
  const auto pending = [] { return rt::SerialInputPending(Port); };
  const auto read = [](char* answer) { return rt::SerialRead(Port, answer, 2) == 2; };
  if (rt::SerialWrite(Port, Header, 16) != 16 || !AwaitOk(pending, read)) return false;
  for (int64_t block = 0; block < BodyLength / BlockLength; ++block) {
    const bool library = (block % 2 == 0) == libraryFirst;
    const double start = Now();
    for (int64_t i = 0; i < BlockLength; ++i) {
      const uint8_t byte = static_cast<uint8_t>(i);
      if (library) {
        while (rt::SerialWrite(Port, &byte, 1) != 1) ++times->refused;
      } else {
        DWORD written = 0;
        while (!WriteFile(bare, &byte, 1, &written, nullptr) || written != 1) ++times->refused;
      }
    }
    (library ? times->library : times->bare) += Now() - start;
  }
  return AwaitOk(pending, read);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
  rt::SerialLibraryStart();
  rt::SerialSetDiagnosticStream(stderr);
  HANDLE bare = INVALID_HANDLE_VALUE;
  if (rt::SerialOpen(Port, u"COM5", 57600, 0, 8, 1.0f, 0, 16, 524288)) bare = OpenBare();
  if (bare == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "bench_serial_win32: COM5 does not open\n");
    return 1;
  }

  std::vector<double> library, direct, ratios;
  int64_t refused = 0;
  for (int round = 0; round < rounds; ++round) {
    Times times;
    if (!Update(bare, true, &times) || !Update(bare, false, &times)) {
      std::fprintf(stderr, "bench_serial_win32: an update failed in round %d\n", round + 1);
      return 1;
    }
    const double l = times.library * 1e6 / BodyLength;  // microseconds a byte
    const double b = times.bare * 1e6 / BodyLength;
    library.push_back(l);
    direct.push_back(b);
    ratios.push_back(l / b);
    refused += times.refused;
    std::printf("round %d: SerialWrite %.2f us a byte, bare WriteFile %.2f us a byte, %.3fx\n", round + 1, l, b,
                l / b);
    std::fflush(stdout);
  }
  CloseHandle(bare);
  rt::SerialClose(Port);
  const double ratio = Median(ratios);
  std::printf("median of %d rounds of 64 KiB each: SerialWrite %.2f us a byte (%.1f KB/s), bare WriteFile %.2f us "
              "a byte (%.1f KB/s), ratio %.3fx (goal at most 1.1x: %s); refused writes: %lld\n",
              rounds, Median(library), 1000 / Median(library), Median(direct), 1000 / Median(direct), ratio,
              ratio <= 1.1 ? "met" : "MISSED", static_cast<long long>(refused));
  rt::SerialLibraryEnd();
  return 0;
}
