// Bytes per second of a 64 KiB body sent the way the updater sends it (one
// SerialWrite and one SerialOutputPending poll per byte) to the simulated
// device on a pseudo-terminal, next to a minimal loop of the same system
// calls (write + ioctl TIOCOUTQ) on the same line in the same run.
// Goal: the library costs at most 1.1x the bare loop.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "device.h"
#include "io/serial.h"

namespace {

constexpr int64_t BodyLength = 64 * 1024;
constexpr rt::ObjectNumber Port = 0;

using Clock = std::chrono::steady_clock;

std::u16string U16(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// One device for the whole run, serving update after update.
devsim::Device& SharedDevice() {
  static std::unique_ptr<devsim::Device> device = [] {
    devsim::Options options;
    options.bodyLength = BodyLength;
    options.repeat = 0;
    auto d = std::make_unique<devsim::Device>(options);
    std::string error;
    if (!d->Open(&error) || !d->Start()) {
      fprintf(stderr, "io_serial_bench: cannot start the simulator: %s\n", error.c_str());
      std::exit(1);
    }
    return d;
  }();
  return *device;
}

// The line as the updater uses it, without the library: same flags, same settings.
struct RawLine {
  int fd = -1;
  explicit RawLine(const std::string& path) {
    fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios t{};
    t.c_iflag = IGNPAR;
    t.c_cflag = B57600 | CS8 | CREAD | CLOCAL;
    t.c_cc[VMIN] = 1;
    tcflush(fd, TCIFLUSH);
    tcsetattr(fd, TCSANOW, &t);
  }
  ~RawLine() { close(fd); }
};

bool AwaitOk(int fd) {
  std::string got;
  const auto until = Clock::now() + std::chrono::seconds(5);
  while (got.size() < 2 && Clock::now() < until) {
    pollfd p{fd, POLLIN, 0};
    poll(&p, 1, 100);
    char buffer[8];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) got.append(buffer, static_cast<size_t>(n));
  }
  return got == "OK";
}

const uint8_t kHeader[16] = {'F', 'W', 'U', 'B', 'E', 'N', 'C', 'H', 0, 1, 2, 3, 4, 5, 6, 7};

// Seconds spent on the body; retries counts writes that found the line full.
double RawUpdate(int64_t* retries) {
  RawLine line(SharedDevice().Path());
  if (write(line.fd, kHeader, 16) != 16 || !AwaitOk(line.fd)) return -1;
  const auto start = Clock::now();
  for (int64_t i = 0; i < BodyLength; ++i) {
    const uint8_t byte = static_cast<uint8_t>(i);
    while (write(line.fd, &byte, 1) != 1) ++*retries;
    int pending = 0;
    do {
      pending = 0;
      ioctl(line.fd, TIOCOUTQ, &pending);
    } while (pending != 0);
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return AwaitOk(line.fd) ? seconds : -1;
}

double LibraryUpdate(int64_t* retries) {
  const std::u16string name = U16(SharedDevice().Path());
  const int64_t fd = rt::SerialOpen(Port, name.c_str(), 57600, 0, 8, 1.0f, 0, 16, 524288);
  if (fd <= 0) return -1;
  double seconds = -1;
  if (rt::SerialWrite(Port, kHeader, 16) == 16 && AwaitOk(static_cast<int>(fd))) {
    const auto start = Clock::now();
    for (int64_t i = 0; i < BodyLength; ++i) {
      const uint8_t byte = static_cast<uint8_t>(i);
      while (rt::SerialWrite(Port, &byte, 1) != 1) ++*retries;
      while (rt::SerialOutputPending(Port) != 0) {
      }
    }
    seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!AwaitOk(static_cast<int>(fd))) seconds = -1;
  }
  rt::SerialClose(Port);
  return seconds;
}

// Both loops in every iteration, in alternating order, so that a busy
// machine slows them alike.
void BM_BodyTransfer(benchmark::State& state) {
  double library = 0;
  double raw = 0;
  int64_t libraryRetries = 0;
  int64_t rawRetries = 0;
  bool flip = false;
  for (auto _ : state) {
    double l, r;
    if (flip) {
      r = RawUpdate(&rawRetries);
      l = LibraryUpdate(&libraryRetries);
    } else {
      l = LibraryUpdate(&libraryRetries);
      r = RawUpdate(&rawRetries);
    }
    flip = !flip;
    if (l < 0 || r < 0) {
      state.SkipWithError("an update failed");
      return;
    }
    library += l;
    raw += r;
    state.SetIterationTime(l);
  }
  const double bytes = static_cast<double>(BodyLength) * static_cast<double>(state.iterations());
  state.counters["library_B/s"] = bytes / library;
  state.counters["raw_B/s"] = bytes / raw;
  state.counters["ratio"] = library / raw;
  state.counters["library_retries"] = static_cast<double>(libraryRetries);
  state.counters["raw_retries"] = static_cast<double>(rawRetries);
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_BodyTransfer)->UseManualTime()->Iterations(6)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  rt::SerialLibraryStart();
  rt::SerialSetDiagnosticStream(stderr);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  SharedDevice().Stop();
  rt::SerialLibraryEnd();
  return 0;
}
