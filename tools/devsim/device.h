// The device end of the firmware update protocol, played over a
// pseudo-terminal (or a given terminal) so that the updater can run a real
// update without hardware: it takes the 16-byte header, answers, takes the
// body, answers again, and can misbehave the ways a real board does.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace devsim {

constexpr int64_t HeaderLength = 16;

struct Answer {
  bool silent = false;     // send nothing at all
  std::string text = "OK";
  bool extraByte = false;  // one more byte ('!') right after the text, in the same write
  int delayMs = 0;         // wait this long before answering
  // Answer only once the host has read what was sent to it before (the
  // pseudo-terminal's input queue towards the host has held it and is empty
  // again), then wait delayMs: a device that answers twice in a row without
  // outrunning a host that takes exactly two bytes at a time. Pseudo-terminals only.
  bool afterTaken = false;
};

struct Options {
  // The firmware the host is expected to send: its size gives the body
  // length and every header and body byte is checked against it (a file
  // shorter than 16 bytes gives a zero-padded header and no body).
  std::string firmwarePath;
  int64_t bodyLength = -1;  // used when no firmware is given; one of the two is required

  Answer first;   // after the header
  Answer second;  // after the body

  // Chatter waiting for the host before the header: written when the run
  // starts and again every time the host opens the line (a pseudo-terminal
  // reports the open's input flush), until the header begins.
  int64_t staleBytes = 0;
  uint8_t staleByte = 0x55;

  int64_t hangUpAfter = -1;  // close the line after this many body bytes (>= 0)
  int repeat = 1;            // updates to serve; 0 = until stopped
  int timeoutMs = 5000;      // longest pause inside an exchange
  int startTimeoutMs = 0;    // longest wait for a header to begin; 0 = no limit
  int lingerMs = 200;        // after the last update, any byte within this time is a violation (and is
                             // added to Received()); a test that stops the device itself may linger for ever

  std::string ttyPath;  // use this terminal instead of a new pseudo-terminal
  int baud = 57600;     // line speed set on ttyPath
  std::string linkPath;    // a symbolic link to the line's path, removed at the end
  std::string outputPath;  // each update's received bytes; "%u" becomes the update's number (from 1)

  std::function<void(const std::string&)> log;  // progress lines; null keeps quiet
};

enum class Status { Ok = 0, Violation = 1, Timeout = 2, SystemError = 3 };

enum class Ending {
  Complete,    // header, body and both answers
  HeaderOnly,  // the first answer was one after which no body can follow
  HostGaveUp,  // the host sent no (more) body, or opened the line anew
  HungUp,      // the line was closed on purpose after hangUpAfter body bytes
};

struct Update {
  std::vector<uint8_t> received;  // header + body as received
  Ending ending;
};

const char* EndingName(Ending ending);

class Device {
 public:
  explicit Device(Options options);
  ~Device();
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  // Loads the firmware and opens the line. After this Path() names the
  // terminal the host should open.
  bool Open(std::string* error);
  const std::string& Path() const { return path_; }

  // Runs the device on a background thread, or on the calling thread.
  bool Start();
  Status Run();

  // Ends the run at the next chance; safe from a signal handler.
  void Stop();
  // True once the run has ended (waits at most timeoutMs).
  bool Wait(int timeoutMs);

  Status status() const;
  std::string error() const;
  bool finished() const { return finished_.load(); }

  // The bytes of the update in progress, or of the last one until the next begins.
  std::vector<uint8_t> Received() const;
  int64_t BytesReceived() const { return bytesReceived_.load(); }
  int64_t Opens() const { return opens_.load(); }  // host opens seen (pseudo-terminal only)
  int64_t BytesSent() const { return bytesSent_.load(); }  // chatter and answers, all updates
  std::vector<Update> Updates() const;
  int UpdatesServed() const;

 private:
  enum class Wake { Progress, Timeout, Stopped, Failed };
  using Millis = int64_t;

  Status Serve(Ending* ending);
  Status ReceiveHeader();
  Status SendAnswer(const Answer& answer, const char* moment, bool* reopened);
  Status ReceiveBody(Ending* ending);
  Status Linger();
  Wake Pump(Millis deadline);
  bool ReadLine();
  void QueueStale();
  void Consume(size_t count);
  void HangUp();
  Status Fail(Status status, const std::string& message);
  void Log(const std::string& line) const;
  void SaveOutput(int number, const std::vector<uint8_t>& bytes);
  void CloseLine();

  Options options_;
  std::vector<uint8_t> firmware_;
  bool haveFirmware_ = false;
  int64_t bodyLength_ = 0;

  std::string path_;
  int line_ = -1;    // master side, or the given terminal
  int slave_ = -1;   // kept open so the line never hangs up between host opens
  bool packetMode_ = false;
  int wake_[2] = {-1, -1};
  bool linked_ = false;

  std::vector<uint8_t> inbox_;   // received, not yet taken by the protocol
  std::vector<uint8_t> outbox_;  // queued for the host
  bool reopened_ = false;        // the host opened the line since the protocol last looked

  std::atomic<bool> stop_{false};
  std::atomic<bool> finished_{false};
  std::atomic<int64_t> bytesReceived_{0};
  std::atomic<int64_t> opens_{0};
  std::atomic<int64_t> bytesSent_{0};

  mutable std::mutex mutex_;
  std::condition_variable finishedChanged_;
  std::vector<uint8_t> current_;
  bool currentFresh_ = true;  // the next byte starts a new update
  std::vector<Update> updates_;
  Status status_ = Status::Ok;
  std::string error_;
  std::thread thread_;
};

}  // namespace devsim
