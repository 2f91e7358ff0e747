// A device at the far end of a pseudo-terminal, run on its own thread: it
// takes the 16-byte header, answers, takes the body, answers again, and can
// misbehave in the ways a real board does (silence, wrong or extra answer
// bytes, late answers, a hang-up in the middle, chatter before the header).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pty_pair.h"

namespace apptest {

struct DeviceBehaviour {
  int64_t bodyLength = 0;            // body bytes to take before the second answer
  std::string firstAnswer = "OK";    // empty: stay silent
  std::string secondAnswer = "OK";
  std::chrono::milliseconds firstDelay{0};   // after the header
  std::chrono::milliseconds secondDelay{0};  // after the body
  size_t staleBytes = 0;             // sent right after the port opens
  int64_t hangUpAfter = -1;          // close the line after this many body bytes
  int64_t pauseAfter = -1;           // stop reading for a while after this many body bytes
  std::chrono::milliseconds pauseFor{0};

  static DeviceBehaviour Body(int64_t length) {
    DeviceBehaviour b;
    b.bodyLength = length;
    return b;
  }
  DeviceBehaviour& First(std::string answer) { firstAnswer = std::move(answer); return *this; }
  DeviceBehaviour& Second(std::string answer) { secondAnswer = std::move(answer); return *this; }
  DeviceBehaviour& FirstAfter(std::chrono::milliseconds delay) { firstDelay = delay; return *this; }
  DeviceBehaviour& Stale(size_t bytes) { staleBytes = bytes; return *this; }
  DeviceBehaviour& HangUpAfter(int64_t bodyBytes) { hangUpAfter = bodyBytes; return *this; }
  DeviceBehaviour& PauseAfter(int64_t bodyBytes, std::chrono::milliseconds duration) {
    pauseAfter = bodyBytes;
    pauseFor = duration;
    return *this;
  }
};

class TestDevice {
 public:
  explicit TestDevice(DeviceBehaviour behaviour);
  ~TestDevice();
  TestDevice(const TestDevice&) = delete;
  TestDevice& operator=(const TestDevice&) = delete;

  bool ok() const { return pty_.ok(); }
  const std::string& path() const { return pty_.path(); }

  // Everything received so far, in order.
  std::vector<uint8_t> Received() const;
  bool Opened() const { return opened_.load(); }

 private:
  void Run();
  bool WriteAll(const std::string& bytes);

  DeviceBehaviour behaviour_;
  PtyPair pty_;
  OpenWatch watch_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> opened_{false};
  mutable std::mutex mutex_;
  std::vector<uint8_t> received_;
  std::thread thread_;
};

}  // namespace apptest
