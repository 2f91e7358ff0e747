// What the application benchmarks share: a firmware file of random bytes,
// the device simulator on its own thread, and the median of the rounds.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "device.h"

namespace appbench {

// A temporary firmware of a 16-byte header and `body` bytes; its path.
inline std::string WriteFirmware(int64_t body) {
  char name[] = "/tmp/fwu-bench.XXXXXX";
  const int fd = mkstemp(name);
  std::mt19937 generator(7);
  std::vector<char> bytes(size_t(16 + body));
  for (char& b : bytes) b = char(generator());
  if (fd < 0 || write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size())) std::abort();
  close(fd);
  return name;
}

// The simulator on its own thread for the length of a round, expecting a
// body of `body` bytes (their values unchecked).
class Simulator {
 public:
  explicit Simulator(int64_t body) : device_(Expecting(body)) { ok_ = device_.Open(&error_) && device_.Start(); }
  ~Simulator() {
    device_.Stop();
    device_.Wait(10000);
  }
  bool ok() const { return ok_; }
  const std::string& path() const { return device_.Path(); }
  devsim::Device& device() { return device_; }

 private:
  static devsim::Options Expecting(int64_t body) {
    devsim::Options options;
    options.bodyLength = body;
    options.timeoutMs = 20000;
    return options;
  }
  devsim::Device device_;
  std::string error_;
  bool ok_ = false;
};

inline double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace appbench
