// A pseudo-terminal pair a test drives itself: the program opens the
// slave by path, the test reads and writes the master.
#pragma once

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <string>

namespace apptest {

class PtyPair {
 public:
  PtyPair() {
    int slave = -1;
    char name[128] = {};
    if (openpty(&master_, &slave, name, nullptr, nullptr) == 0) {
      termios raw{};
      tcgetattr(master_, &raw);
      cfmakeraw(&raw);
      tcsetattr(master_, TCSANOW, &raw);
      // Never blocks, so the device thread can always notice that it must stop.
      fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
      path_ = name;
      // Closed at once: the program opens the slave by its path, and the
      // master then sees a hang-up only when the program closes it.
      close(slave);
    }
  }
  ~PtyPair() {
    if (master_ >= 0) close(master_);
  }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool ok() const { return master_ >= 0; }
  // Closes the master: the slave side sees a hang-up, as when an adapter is unplugged.
  void HangUp() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }
  int master() const { return master_; }
  const std::string& path() const { return path_; }

 private:
  int master_ = -1;
  std::string path_;
};

}  // namespace apptest
