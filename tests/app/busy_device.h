// A device that stops reading for a while in the middle of the body, the way
// a board busy writing its flash does, so the line's buffers fill up. The
// simulator never pauses; everything else about the device is its job.
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

class BusyDevice {
 public:
  BusyDevice(int64_t bodyLength, int64_t pauseAfter, std::chrono::milliseconds pauseFor);
  ~BusyDevice();
  BusyDevice(const BusyDevice&) = delete;
  BusyDevice& operator=(const BusyDevice&) = delete;

  bool ok() const { return pty_.ok(); }
  const std::string& path() const { return pty_.path(); }
  std::vector<uint8_t> Received() const;

 private:
  void Run();
  bool WriteAll(const std::string& bytes);

  const int64_t bodyLength_;
  const int64_t pauseAfter_;
  const std::chrono::milliseconds pauseFor_;
  PtyPair pty_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<uint8_t> received_;
  std::thread thread_;
};

}  // namespace apptest
