#include "busy_device.h"

#include <poll.h>

#include <cerrno>

namespace apptest {

using Clock = std::chrono::steady_clock;

BusyDevice::BusyDevice(int64_t bodyLength, int64_t pauseAfter, std::chrono::milliseconds pauseFor)
    : bodyLength_(bodyLength), pauseAfter_(pauseAfter), pauseFor_(pauseFor) {
  if (pty_.ok()) thread_ = std::thread([this] { Run(); });
}

BusyDevice::~BusyDevice() {
  stop_.store(true);
  if (thread_.joinable()) thread_.join();
}

std::vector<uint8_t> BusyDevice::Received() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

bool BusyDevice::WriteAll(const std::string& bytes) {
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

void BusyDevice::Run() {
  const int64_t headerEnd = 16, bodyEnd = headerEnd + bodyLength_;
  bool answered = false, paused = false, done = false;
  Clock::time_point answeredAt;
  uint8_t buffer[4096];
  while (!stop_.load() && !done) {
    pollfd p{pty_.master(), POLLIN, 0};
    const int ready = poll(&p, 1, 5);
    if (ready > 0 && (p.revents & POLLIN)) {
      const ssize_t n = read(pty_.master(), buffer, sizeof buffer);
      if (n > 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.insert(received_.end(), buffer, buffer + n);
      }
    } else if (ready > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));  // no host on the line yet
    }
    int64_t count;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      count = int64_t(received_.size());
    }
    if (!answered && count >= headerEnd) {
      answered = WriteAll("OK");
      answeredAt = Clock::now();
    }
    if (answered && !paused && count >= headerEnd + pauseAfter_) {
      paused = true;
      std::this_thread::sleep_for(pauseFor_);
    }
    // The host must have taken the first answer before the second arrives.
    if (answered && count >= bodyEnd && Clock::now() - answeredAt >= std::chrono::milliseconds(50)) {
      WriteAll("OK");
      done = true;
    }
  }
}

}  // namespace apptest
