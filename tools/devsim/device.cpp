#include "device.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace devsim {

namespace {

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::string SystemError(const std::string& what) {
  char text[128];
  return what + ": " + strerror_r(errno, text, sizeof text);
}

std::string Hex(uint8_t byte) {
  char text[8];
  snprintf(text, sizeof text, "0x%02X", byte);
  return text;
}

// Shows answer bytes readably in the log: printable as is, others as \xHH.
std::string Printable(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char text[8];
      snprintf(text, sizeof text, "\\x%02X", c);
      out += text;
    }
  }
  return out;
}

std::string Describe(const Answer& answer) {
  if (answer.silent) return "(silent)";
  std::string text = "\"" + Printable(answer.text) + (answer.extraByte ? "!" : "") + "\"";
  if (answer.delayMs > 0) text += " after " + std::to_string(answer.delayMs) + " ms";
  return text;
}

speed_t SpeedCode(int baud) {
  switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 921600: return B921600;
    default: return B0;
  }
}

bool MakeRaw(int fd, int baud) {
  termios t;
  if (tcgetattr(fd, &t) != 0) return false;
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  const speed_t speed = SpeedCode(baud);
  if (speed != B0) cfsetspeed(&t, speed);
  return tcsetattr(fd, TCSANOW, &t) == 0;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes) {
  FILE* file = fopen(path.c_str(), "rbe");
  if (!file) return false;
  uint8_t chunk[65536];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, file)) > 0) bytes->insert(bytes->end(), chunk, chunk + n);
  const bool ok = !ferror(file);
  fclose(file);
  return ok;
}

}  // namespace

const char* EndingName(Ending ending) {
  switch (ending) {
    case Ending::Complete: return "complete";
    case Ending::HeaderOnly: return "header only";
    case Ending::HostGaveUp: return "host gave up";
    case Ending::HungUp: return "hung up";
  }
  return "?";
}

Device::Device(Options options) : options_(std::move(options)) {}

Device::~Device() {
  Stop();
  if (thread_.joinable()) thread_.join();
  CloseLine();
  if (wake_[0] >= 0) close(wake_[0]);
  if (wake_[1] >= 0) close(wake_[1]);
  if (linked_) unlink(options_.linkPath.c_str());
}

bool Device::Open(std::string* error) {
  auto fail = [&](const std::string& message) {
    if (error) *error = message;
    CloseLine();
    return false;
  };
  if (line_ >= 0) return fail("the line is already open");

  if (!options_.firmwarePath.empty()) {
    if (options_.bodyLength >= 0) return fail("give either a firmware file or a body length, not both");
    firmware_.clear();
    if (!ReadWholeFile(options_.firmwarePath, &firmware_)) {
      return fail(SystemError("cannot read the firmware " + options_.firmwarePath));
    }
    bodyLength_ = std::max<int64_t>(0, static_cast<int64_t>(firmware_.size()) - HeaderLength);
    // A short file reaches the device as a zero-padded header.
    if (firmware_.size() < static_cast<size_t>(HeaderLength)) firmware_.resize(HeaderLength, 0);
    haveFirmware_ = true;
  } else if (options_.bodyLength >= 0) {
    bodyLength_ = options_.bodyLength;
  } else {
    return fail("the body length is unknown: give a firmware file or a body length");
  }

  if (wake_[0] < 0 && pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) return fail(SystemError("pipe"));

  if (options_.ttyPath.empty()) {
    line_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (line_ < 0) return fail(SystemError("cannot open a pseudo-terminal"));
    char name[128];
    if (grantpt(line_) != 0 || unlockpt(line_) != 0 || ptsname_r(line_, name, sizeof name) != 0) {
      return fail(SystemError("cannot set up the pseudo-terminal"));
    }
    path_ = name;
    slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (slave_ < 0) return fail(SystemError("cannot open " + path_));
    // Raw from the start, so chatter written before the host sets the line up
    // is neither echoed back nor held for a line end.
    if (!MakeRaw(slave_, 57600)) return fail(SystemError("cannot set up " + path_));
    // Packet mode reports the input flush with which the host opens the line.
    int on = 1;
    if (ioctl(line_, TIOCPKT, &on) != 0) return fail(SystemError("cannot enable packet mode"));
    packetMode_ = true;
  } else {
    if (SpeedCode(options_.baud) == B0) return fail("unsupported baud rate " + std::to_string(options_.baud));
    line_ = open(options_.ttyPath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (line_ < 0) return fail(SystemError("cannot open " + options_.ttyPath));
    if (!MakeRaw(line_, options_.baud)) return fail(SystemError("cannot set up " + options_.ttyPath));
    tcflush(line_, TCIOFLUSH);
    path_ = options_.ttyPath;
  }

  if (!options_.linkPath.empty()) {
    struct stat info;
    if (lstat(options_.linkPath.c_str(), &info) == 0) {
      if (!S_ISLNK(info.st_mode)) return fail(options_.linkPath + " exists and is not a symbolic link");
      unlink(options_.linkPath.c_str());
    }
    if (symlink(path_.c_str(), options_.linkPath.c_str()) != 0) {
      return fail(SystemError("cannot create the link " + options_.linkPath));
    }
    linked_ = true;
  }
  return true;
}

void Device::CloseLine() {
  if (line_ >= 0) close(line_);
  if (slave_ >= 0) close(slave_);
  line_ = -1;
  slave_ = -1;
}

bool Device::Start() {
  if (line_ < 0 || thread_.joinable()) return false;
  thread_ = std::thread([this] { Run(); });
  return true;
}

void Device::Stop() {
  stop_.store(true);
  if (wake_[1] >= 0) {
    const char byte = 1;
    [[maybe_unused]] ssize_t ignored = write(wake_[1], &byte, 1);
  }
}

bool Device::Wait(int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return finishedChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return finished_.load(); });
}

Status Device::status() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return status_;
}

std::string Device::error() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return error_;
}

std::vector<uint8_t> Device::Received() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return current_;
}

std::vector<Update> Device::Updates() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return updates_;
}

int Device::UpdatesServed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(updates_.size());
}

void Device::Log(const std::string& line) const {
  if (options_.log) options_.log(line);
}

Status Device::Fail(Status status, const std::string& message) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (status_ == Status::Ok) {
    status_ = status;
    error_ = message;
  }
  return status;
}

Status Device::Run() {
  Status result = Status::Ok;
  if (line_ < 0) {
    result = Fail(Status::SystemError, "the line is not open");
  } else {
    if (options_.staleBytes > 0) QueueStale();
    int served = 0;
    Ending ending = Ending::Complete;
    while (!stop_.load() && (options_.repeat == 0 || served < options_.repeat)) {
      result = Serve(&ending);
      if (result != Status::Ok || stop_.load()) break;
      ++served;
      if (ending == Ending::HungUp) break;
    }
    if (result == Status::Ok && !stop_.load() && ending != Ending::HungUp) result = Linger();
  }
  std::lock_guard<std::mutex> lock(mutex_);
  finished_.store(true);
  finishedChanged_.notify_all();
  return result;
}

Status Device::Serve(Ending* ending) {
  if (!packetMode_ && options_.staleBytes > 0 && UpdatesServed() > 0) QueueStale();

  Status status = ReceiveHeader();
  if (status != Status::Ok || stop_.load()) return status;
  if (haveFirmware_) {
    const std::vector<uint8_t> header = Received();
    for (int64_t i = 0; i < HeaderLength; ++i) {
      if (header[i] != firmware_[i]) {
        return Fail(Status::Violation, "header byte " + std::to_string(i) + " is " + Hex(header[i]) +
                                           ", the firmware has " + Hex(firmware_[i]));
      }
    }
  }

  bool reopened = false;
  *ending = Ending::Complete;
  status = SendAnswer(options_.first, "after the header, before the first answer", &reopened);
  if (status != Status::Ok || stop_.load()) return status;

  const Answer& first = options_.first;
  const bool bodyFollows = !first.silent && first.text == "OK" && !first.extraByte;
  if (reopened) {
    *ending = Ending::HostGaveUp;
  } else if (!bodyFollows) {
    *ending = Ending::HeaderOnly;
  } else {
    // Tells a watching script that the transfer is under way.
    Log("update " + std::to_string(UpdatesServed() + 1) + ": header answered, receiving the body of " +
        std::to_string(bodyLength_) + " bytes");
    status = ReceiveBody(ending);
    if (status != Status::Ok || stop_.load()) return status;
    if (*ending == Ending::Complete) {
      status = SendAnswer(options_.second, "after the body, before the second answer", &reopened);
      if (status != Status::Ok || stop_.load()) return status;
      if (reopened) *ending = Ending::HostGaveUp;
    }
  }

  std::vector<uint8_t> received;
  int number;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    received = current_;
    updates_.push_back(Update{current_, *ending});
    number = static_cast<int>(updates_.size());
    currentFresh_ = true;
  }
  const int64_t body = std::max<int64_t>(0, static_cast<int64_t>(received.size()) - HeaderLength);
  Log("update " + std::to_string(number) + ": " + EndingName(*ending) + "; received " +
      std::to_string(received.size()) + " bytes (body " + std::to_string(body) + " of " +
      std::to_string(bodyLength_) + "); answers " + Describe(options_.first) + " / " + Describe(options_.second));
  if (!options_.outputPath.empty()) SaveOutput(number, received);
  return this->status();
}

void Device::QueueStale() {
  outbox_.assign(static_cast<size_t>(options_.staleBytes), options_.staleByte);
}

void Device::Consume(size_t count) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (currentFresh_) {
      current_.clear();
      currentFresh_ = false;
    }
    current_.insert(current_.end(), inbox_.begin(), inbox_.begin() + static_cast<ptrdiff_t>(count));
    bytesReceived_.store(static_cast<int64_t>(current_.size()));
  }
  inbox_.erase(inbox_.begin(), inbox_.begin() + static_cast<ptrdiff_t>(count));
}

Status Device::ReceiveHeader() {
  int64_t deadline = options_.startTimeoutMs > 0 ? NowMs() + options_.startTimeoutMs : -1;
  size_t have = 0;
  for (;;) {
    if (reopened_) {
      reopened_ = false;
      if (have > 0) {
        // The host started over; what it sent before belongs to nothing.
        std::lock_guard<std::mutex> lock(mutex_);
        currentFresh_ = true;
        have = 0;
      }
      if (options_.staleBytes > 0) QueueStale();
    }
    if (!inbox_.empty()) {
      // The host has begun to speak: chatter not yet sent is dropped.
      if (have == 0) outbox_.clear();
      const size_t n = std::min(static_cast<size_t>(HeaderLength) - have, inbox_.size());
      Consume(n);
      have += n;
      deadline = NowMs() + options_.timeoutMs;
      if (have == static_cast<size_t>(HeaderLength)) return Status::Ok;
    }
    switch (Pump(deadline)) {
      case Wake::Progress: break;
      case Wake::Stopped: return Status::Ok;
      case Wake::Failed: return status();
      case Wake::Timeout:
        if (have == 0) {
          return Fail(Status::Timeout, "no header within " + std::to_string(options_.startTimeoutMs) + " ms");
        }
        return Fail(Status::Timeout, "time-out: the header stopped after " + std::to_string(have) + " of 16 bytes");
    }
  }
}

Status Device::SendAnswer(const Answer& answer, const char* moment, bool* reopened) {
  *reopened = false;
  if (answer.silent) return Status::Ok;
  auto unexpected = [&] {
    return Fail(Status::Violation, "unexpected " + std::to_string(inbox_.size()) + " bytes " + moment);
  };
  if (!inbox_.empty()) return unexpected();
  if (answer.afterTaken && slave_ >= 0) {
    // The slave is this device's own descriptor of the host's end: its
    // input count is what the host has not read yet. What was written
    // reaches that queue a moment after the write, so first wait to see it
    // there (or for 2 s, when the host took it before a look came), then
    // for the host to take it.
    const int64_t arrivalLimit = NowMs() + 2000;
    bool arrived = false;
    for (;;) {
      int waiting = 0;
      if (ioctl(slave_, FIONREAD, &waiting) != 0) break;
      if (waiting > 0) arrived = true;
      if (waiting == 0 && (arrived || NowMs() >= arrivalLimit)) break;
      const Wake wake = Pump(NowMs() + 1);
      if (wake == Wake::Stopped) return Status::Ok;
      if (wake == Wake::Failed) return status();
      if (reopened_) {
        *reopened = true;
        return Status::Ok;
      }
      if (!inbox_.empty()) return unexpected();
    }
  }
  if (answer.delayMs > 0) {
    const int64_t until = NowMs() + answer.delayMs;
    for (;;) {
      const Wake wake = Pump(until);
      if (wake == Wake::Stopped) return Status::Ok;
      if (wake == Wake::Failed) return status();
      if (reopened_) {
        *reopened = true;
        return Status::Ok;
      }
      if (!inbox_.empty()) return unexpected();
      if (wake == Wake::Timeout) break;
    }
  }
  outbox_.insert(outbox_.end(), answer.text.begin(), answer.text.end());
  if (answer.extraByte) outbox_.push_back('!');
  const int64_t deadline = NowMs() + options_.timeoutMs;
  while (!outbox_.empty()) {
    switch (Pump(deadline)) {
      case Wake::Progress: break;
      case Wake::Stopped: return Status::Ok;
      case Wake::Failed: return status();
      case Wake::Timeout: return Fail(Status::Timeout, "time-out: the host does not take the answer");
    }
  }
  return Status::Ok;
}

Status Device::ReceiveBody(Ending* ending) {
  *ending = Ending::Complete;
  const int64_t hangAt = options_.hangUpAfter;
  int64_t body = 0;
  int64_t deadline = NowMs() + options_.timeoutMs;
  for (;;) {
    if (hangAt >= 0 && body >= hangAt) {
      HangUp();
      *ending = Ending::HungUp;
      return Status::Ok;
    }
    if (body >= bodyLength_) return Status::Ok;
    if (reopened_) {
      *ending = Ending::HostGaveUp;
      return Status::Ok;
    }
    if (!inbox_.empty()) {
      int64_t n = std::min<int64_t>(bodyLength_ - body, static_cast<int64_t>(inbox_.size()));
      if (hangAt >= 0) n = std::min(n, hangAt - body);
      if (haveFirmware_) {
        for (int64_t i = 0; i < n; ++i) {
          const uint8_t expected = firmware_[static_cast<size_t>(HeaderLength + body + i)];
          if (inbox_[static_cast<size_t>(i)] != expected) {
            return Fail(Status::Violation, "body byte " + std::to_string(body + i) + " is " +
                                               Hex(inbox_[static_cast<size_t>(i)]) + ", the firmware has " +
                                               Hex(expected));
          }
        }
      }
      Consume(static_cast<size_t>(n));
      body += n;
      deadline = NowMs() + options_.timeoutMs;
      continue;
    }
    switch (Pump(deadline)) {
      case Wake::Progress: break;
      case Wake::Stopped: return Status::Ok;
      case Wake::Failed: return status();
      case Wake::Timeout:
        // A host that never starts the body has given up on its side (it
        // saw no answer it could accept); one that stops half-way is broken.
        if (body == 0) {
          *ending = Ending::HostGaveUp;
          return Status::Ok;
        }
        return Fail(Status::Timeout, "time-out: the body stopped after " + std::to_string(body) + " of " +
                                         std::to_string(bodyLength_) + " bytes");
    }
  }
}

void Device::HangUp() {
  Log("hanging up after " + std::to_string(options_.hangUpAfter) + " body bytes");
  CloseLine();
}

Status Device::Linger() {
  if (options_.lingerMs <= 0) return Status::Ok;
  const int64_t until = NowMs() + options_.lingerMs;
  for (;;) {
    if (!inbox_.empty()) {
      // Kept with the last update, so a test sees exactly what followed it
      // (a body sent after an answer that should have stopped the host).
      const size_t count = inbox_.size();
      {
        std::lock_guard<std::mutex> lock(mutex_);
        currentFresh_ = false;
      }
      Consume(count);
      return Fail(Status::Violation, "unexpected " + std::to_string(count) + " bytes after the last answer");
    }
    const Wake wake = Pump(until);
    if (wake == Wake::Failed) return status();
    if (wake != Wake::Progress) return Status::Ok;
  }
}

Device::Wake Device::Pump(int64_t deadline) {
  for (;;) {
    if (stop_.load()) return Wake::Stopped;
    int timeout = -1;
    if (deadline >= 0) {
      const int64_t left = deadline - NowMs();
      if (left <= 0) return Wake::Timeout;
      timeout = static_cast<int>(std::min<int64_t>(left, 60000));
    }
    pollfd fds[2] = {{line_, static_cast<short>(POLLIN | (outbox_.empty() ? 0 : POLLOUT)), 0},
                     {wake_[0], POLLIN, 0}};
    const int ready = poll(fds, 2, timeout);
    if (ready < 0) {
      if (errno == EINTR) continue;
      Fail(Status::SystemError, SystemError("poll"));
      return Wake::Failed;
    }
    if (ready == 0) continue;
    if (fds[1].revents) return Wake::Stopped;

    bool progress = false;
    if ((fds[0].revents & POLLOUT) && !outbox_.empty()) {
      const ssize_t written = write(line_, outbox_.data(), outbox_.size());
      if (written > 0) {
        bytesSent_.fetch_add(written);
        outbox_.erase(outbox_.begin(), outbox_.begin() + written);
        progress = true;
      } else if (written < 0 && errno != EAGAIN && errno != EINTR) {
        Fail(Status::SystemError, SystemError("write to the line"));
        return Wake::Failed;
      }
    }
    if (fds[0].revents & (POLLIN | POLLPRI)) {
      if (!ReadLine()) return Wake::Failed;
      progress = true;
    } else if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
      Fail(Status::SystemError, "the line hung up");
      return Wake::Failed;
    }
    if (progress) return Wake::Progress;
  }
}

bool Device::ReadLine() {
  uint8_t chunk[8192];
  const ssize_t n = read(line_, chunk, sizeof chunk);
  if (n < 0) {
    if (errno == EAGAIN || errno == EINTR) return true;
    Fail(Status::SystemError, SystemError("read from the line"));
    return false;
  }
  if (n == 0) return true;
  if (!packetMode_) {
    inbox_.insert(inbox_.end(), chunk, chunk + n);
    return true;
  }
  if (chunk[0] != TIOCPKT_DATA) {
    // The host flushed its input: it has just opened the line. Whatever came
    // before belongs to an earlier session.
    if (chunk[0] & TIOCPKT_FLUSHREAD) {
      opens_.fetch_add(1);
      reopened_ = true;
      inbox_.clear();
    }
    return true;
  }
  inbox_.insert(inbox_.end(), chunk + 1, chunk + n);
  return true;
}

void Device::SaveOutput(int number, const std::vector<uint8_t>& bytes) {
  std::string name = options_.outputPath;
  const size_t mark = name.find("%u");
  if (mark != std::string::npos) name.replace(mark, 2, std::to_string(number));
  // Written aside and renamed, so a reader never sees half a file.
  const std::string temporary = name + ".part";
  FILE* file = fopen(temporary.c_str(), "wbe");
  bool ok = file != nullptr;
  if (file) {
    if (!bytes.empty() && fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) ok = false;
    if (fclose(file) != 0) ok = false;
  }
  if (!ok || rename(temporary.c_str(), name.c_str()) != 0) {
    Fail(Status::SystemError, SystemError("cannot write " + name));
    unlink(temporary.c_str());
  }
}

}  // namespace devsim
