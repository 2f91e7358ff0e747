// Shared pieces of the I/O tests: real pseudo-terminals, UTF-16 names,
// temporary folders, bounded waits and a non-root probe.
#pragma once

#include <dirent.h>
#include <grp.h>
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace iotest {

// A UTF-16 copy of a UTF-8/ASCII path, for the runtime's RtString names.
inline std::u16string U16(const std::string& text) {
  std::u16string out;
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    uint32_t cp = c;
    size_t extra = 0;
    if (c >= 0xF0) { cp = c & 0x07; extra = 3; }
    else if (c >= 0xE0) { cp = c & 0x0F; extra = 2; }
    else if (c >= 0xC0) { cp = c & 0x1F; extra = 1; }
    for (size_t k = 1; k <= extra && i + k < text.size(); ++k) cp = (cp << 6) | (text[i + k] & 0x3F);
    i += 1 + extra;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 | (cp >> 10));
      out += static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

// Polls `done` until it holds or `timeoutMs` passes; the result of the last poll.
inline bool WaitFor(const std::function<bool()>& done, int timeoutMs = 3000) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// A pseudo-terminal pair; the slave stays open here (as a device's own end
// would) unless closed.
class Pty {
 public:
  Pty() {
    char name[128] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) return;
    termios raw{};
    tcgetattr(slave_, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave_, TCSANOW, &raw);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
    path_ = name;
  }
  ~Pty() {
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
  }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  bool ok() const { return master_ >= 0; }
  int master() const { return master_; }
  int slave() const { return slave_; }
  const std::string& path() const { return path_; }
  std::u16string name() const { return U16(path_); }

  termios Settings() const {
    termios t{};
    tcgetattr(slave_, &t);
    return t;
  }
  // Reads what the master has received within `timeoutMs`, until `count` bytes.
  std::string ReadMaster(size_t count, int timeoutMs = 2000) const {
    std::string out;
    WaitFor([&] {
      char buffer[4096];
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n > 0) out.append(buffer, static_cast<size_t>(n));
      return out.size() >= count;
    }, timeoutMs);
    return out;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/io_tests.XXXXXX";
    if (mkdtemp(pattern)) path_ = pattern;
  }
  ~TempDir() {
    if (!path_.empty()) {
      const std::string command = "rm -rf '" + path_ + "'";
      [[maybe_unused]] int ignored = std::system(command.c_str());
    }
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    const std::string file = File(name);
    FILE* f = fopen(file.c_str(), "wb");
    if (f) {
      if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
      fclose(f);
    }
    return file;
  }

 private:
  std::string path_;
};

inline std::vector<uint8_t> ReadFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return bytes;
  uint8_t chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
  fclose(f);
  return bytes;
}

inline std::vector<uint8_t> Pattern(size_t size, uint32_t seed = 1) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) {
    seed = seed * 1103515245u + 12345u;
    bytes[i] = static_cast<uint8_t>(seed >> 16);
  }
  return bytes;
}

// Descriptors this process has open.
inline int OpenDescriptors() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir)) ++count;
    closedir(dir);
  }
  return count;
}

constexpr uid_t NobodyId = 65534;

// Whether a process without root rights can open `path` read/write: a child
// drops to nobody (unless it is no root already) and tries. -1 when the probe itself could not run.
inline int OpenableByNobody(const std::string& path) {
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(NobodyId) != 0 || setuid(NobodyId) != 0)) _exit(3);
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    _exit(fd >= 0 ? 0 : 1);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  const int code = WEXITSTATUS(status);
  return code == 0 ? 1 : code == 1 ? 0 : -1;
}

}  // namespace iotest
