// The yardstick of the transfer benchmarks: the same system calls the
// program makes, with nothing around them. Opens and sets up the line as the
// serial library does, sends a header, waits for the two answer bytes, then
// per body byte one write and output-queue polls until empty.
#pragma once

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <thread>

namespace appbench {

// The body's bytes per second as the loop itself times them; 0 on failure.
inline double MinimalTransfer(const std::string& path, int64_t body) {
  using Clock = std::chrono::steady_clock;
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return 0;
  termios t{};
  t.c_iflag = IGNPAR;
  t.c_cflag = B57600 | CS8 | CREAD | CLOCAL;
  t.c_cc[VMIN] = 1;
  tcflush(fd, TCIFLUSH);
  tcsetattr(fd, TCSANOW, &t);
  uint8_t header[16] = {};
  if (write(fd, header, sizeof header) != 16) {
    close(fd);
    return 0;
  }
  int pending = 0;
  const Clock::time_point limit = Clock::now() + std::chrono::seconds(10);
  do {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    pending = 0;
    ioctl(fd, FIONREAD, &pending);
  } while (pending != 2 && Clock::now() < limit);
  uint8_t answer[2];
  if (read(fd, answer, 2) != 2) {
    close(fd);
    return 0;
  }
  std::mt19937 generator(7);
  const Clock::time_point start = Clock::now();
  for (int64_t i = 0; i < body; ++i) {
    const uint8_t byte = uint8_t(generator());
    // A byte the line refuses is offered again after a short pause, as the
    // program does; dropping it would leave the device waiting.
    while (write(fd, &byte, 1) != 1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    int queued;
    do {
      queued = 0;
      ioctl(fd, TIOCOUTQ, &queued);
    } while (queued != 0);
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  // Let the device take everything before the line closes.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  close(fd);
  return double(body) / seconds;
}

}  // namespace appbench
