// The host end of the update protocol for the simulator tests, written
// against the runtime's serial library on a real pseudo-terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "io/serial.h"
#include "io_support.h"

namespace iotest {

class Host {
 public:
  static constexpr rt::ObjectNumber Port = 9;

  explicit Host(const std::string& path) : name_(U16(path)) {}
  ~Host() { Close(); }
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  bool Open() { return rt::SerialOpen(Port, name_.c_str(), 57600, 0, 8, 1.0f, 0, 16, 524288) != 0; }
  void Close() { rt::SerialClose(Port); }

  // Sends every byte in writes of at most `piece` bytes, retrying while the
  // line is full; false when a write makes no progress for `timeoutMs`.
  bool Send(const std::vector<uint8_t>& bytes, size_t piece = SIZE_MAX, int timeoutMs = 5000) {
    size_t sent = 0;
    while (sent < bytes.size()) {
      const size_t n = std::min(piece, bytes.size() - sent);
      int64_t written = 0;
      if (!WaitFor([&] {
            written = rt::SerialWrite(Port, bytes.data() + sent, static_cast<int32_t>(n));
            return written > 0;
          }, timeoutMs)) {
        return false;
      }
      sent += static_cast<size_t>(written);
    }
    return true;
  }
  bool Send(const std::string& text) { return Send(std::vector<uint8_t>(text.begin(), text.end())); }

  // What arrives until `count` bytes are in or `timeoutMs` has passed.
  std::string Receive(size_t count, int timeoutMs = 3000) {
    std::string out;
    WaitFor([&] {
      char buffer[512];
      const int64_t n = rt::SerialRead(Port, buffer, sizeof buffer);
      if (n > 0) out.append(buffer, static_cast<size_t>(n));
      return out.size() >= count;
    }, timeoutMs);
    return out;
  }
  // Everything that arrives within `ms`.
  std::string Listen(int ms) { return Receive(SIZE_MAX, ms); }

 private:
  std::u16string name_;
};

}  // namespace iotest
