#include "test_device.h"

#include <poll.h>

#include <cerrno>

namespace apptest {

using Clock = std::chrono::steady_clock;

TestDevice::TestDevice(DeviceBehaviour behaviour) : behaviour_(std::move(behaviour)), watch_(pty_.path()) {
  if (pty_.ok()) thread_ = std::thread([this] { Run(); });
}

TestDevice::~TestDevice() {
  stop_.store(true);
  if (thread_.joinable()) thread_.join();
}

std::vector<uint8_t> TestDevice::Received() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

bool TestDevice::WriteAll(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size() && !stop_.load()) {
    const ssize_t n = write(pty_.master(), bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += size_t(n);
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
      return false;
    } else {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  }
  return done == bytes.size();
}

void TestDevice::Run() {
  // Wait for the program to open the line.
  while (!stop_.load() && !watch_.opened()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  if (stop_.load()) return;
  opened_.store(true);
  if (behaviour_.staleBytes > 0) {
    // Just after the open's input flush (microseconds after the open), and
    // early in the program's 100 ms pause even on a loaded machine.
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::string chatter(behaviour_.staleBytes, '\0');
    for (size_t i = 0; i < chatter.size(); ++i) chatter[i] = char('a' + i % 26);
    if (!WriteAll(chatter)) return;
  }

  const int64_t headerEnd = 16;
  const int64_t bodyEnd = headerEnd + std::max<int64_t>(behaviour_.bodyLength, 0);
  bool firstSent = false, secondSent = false, paused = false;
  Clock::time_point firstAnsweredAt;
  uint8_t buffer[4096];
  while (!stop_.load()) {
    pollfd p{pty_.master(), POLLIN, 0};
    const int ready = poll(&p, 1, 5);
    if (ready > 0 && (p.revents & POLLIN)) {
      const ssize_t n = read(pty_.master(), buffer, sizeof buffer);
      if (n > 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.insert(received_.end(), buffer, buffer + n);
      }
    } else if (ready > 0) {
      // No slave side open (before the open, or after the program closed it).
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    int64_t count;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      count = int64_t(received_.size());
    }
    if (behaviour_.hangUpAfter >= 0 && count >= headerEnd + behaviour_.hangUpAfter && firstSent) {
      // The adapter is pulled: the line goes away for good.
      pty_.HangUp();
      return;
    }
    if (behaviour_.pauseAfter >= 0 && !paused && firstSent && count >= headerEnd + behaviour_.pauseAfter) {
      // A busy device: the line's buffers fill up while it does not read.
      paused = true;
      std::this_thread::sleep_for(behaviour_.pauseFor);
    }
    if (!firstSent && count >= headerEnd) {
      firstSent = true;
      std::this_thread::sleep_for(behaviour_.firstDelay);
      if (!WriteAll(behaviour_.firstAnswer)) return;
      firstAnsweredAt = Clock::now();
    }
    // Never both answers at once: the host must have taken the first
    // (it looks every millisecond) before the second is on the line.
    if (firstSent && !secondSent && count >= bodyEnd && behaviour_.firstAnswer == "OK" &&
        Clock::now() - firstAnsweredAt >= std::chrono::milliseconds(50)) {
      secondSent = true;
      std::this_thread::sleep_for(behaviour_.secondDelay);
      if (!WriteAll(behaviour_.secondAnswer)) return;
    }
  }
}

}  // namespace apptest
