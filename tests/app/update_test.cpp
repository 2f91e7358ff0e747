// Whole update runs against the device simulator on a pseudo-terminal: every
// outcome with its exact message, what the device received, the progress the
// bar was given, and the state every run leaves behind.
#include <gtest/gtest.h>

#include <QProgressBar>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "busy_device.h"
#include "core/threads.h"
#include "core/workspace.h"
#include "device.h"
#include "pty_pair.h"
#include "update_front.h"
#include "updater.h"
#include "window_harness.h"

namespace apptest {
namespace {

using namespace std::chrono_literals;

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 generator(seed);
  std::vector<uint8_t> bytes(n);
  for (uint8_t& b : bytes) b = uint8_t(generator());
  return bytes;
}

// The simulator on its own thread for the length of a test.
class Simulator {
 public:
  explicit Simulator(devsim::Options options) : device_(std::move(options)) {
    std::string error;
    ok_ = device_.Open(&error) && device_.Start();
    if (!ok_) ADD_FAILURE() << "simulator: " << error;
  }
  ~Simulator() {
    device_.Stop();
    device_.Wait(10000);
  }
  bool ok() const { return ok_; }
  devsim::Device& device() { return device_; }
  const std::string& path() const { return device_.Path(); }
  // Waits until the simulator has served its update; its verdict on what it received.
  devsim::Status Finish() {
    EXPECT_TRUE(device_.Wait(10000)) << "the simulator is still waiting";
    return device_.status();
  }

 private:
  devsim::Device device_;
  bool ok_ = false;
};

class UpdateTest : public testing::Test {
 protected:
  void SetUp() override {
    harness.BuildFreshWindow();
    char name[] = "/tmp/fwu-firmware.XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    close(fd);
    firmwarePath = name;
  }
  void TearDown() override {
    EXPECT_TRUE(WaitForWorkers(10s)) << "a worker is still running";
    std::remove(firmwarePath.c_str());
  }

  void WriteFirmware(const std::vector<uint8_t>& bytes) {
    std::ofstream(firmwarePath, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    firmware = bytes;
  }

  // The simulator expecting this test's firmware (it checks every byte).
  devsim::Options Expecting() const {
    devsim::Options options;
    options.firmwarePath = firmwarePath;
    options.timeoutMs = 8000;
    return options;
  }

  // One run through the real button against the device on `path`; the state
  // every outcome must leave is checked here.
  Outcome Run(const std::string& path, std::chrono::milliseconds limit = 20s) {
    harness.AddAndSelectPort(path);
    harness.SetFileName(firmwarePath);
    harness.ClickUpdate();
    Outcome outcome;
    EXPECT_TRUE(harness.RunUntilFinished(&outcome, limit)) << "the run did not finish";
    EXPECT_FALSE(outcome.fileOpen);
    EXPECT_FALSE(outcome.portOpen);
    EXPECT_TRUE(outcome.gadgetsEnabled);
    EXPECT_EQ(outcome.barValue, 0);
    EXPECT_TRUE(harness.AllInputGadgetsEnabled());
    EXPECT_EQ(harness.ProgressBar()->value(), 0);
    EXPECT_EQ(app::ProgressPercent(), 0);
    return outcome;
  }

  // Header then body, exactly as in the file; a short file pads the header with zeros.
  std::vector<uint8_t> ExpectedOnTheLine() const {
    std::vector<uint8_t> line(firmware);
    if (line.size() < 16) line.resize(16, 0);
    return line;
  }

  WindowHarness harness;
  std::string firmwarePath;
  std::vector<uint8_t> firmware;
};

// The values the bar was given, with runs of the same value merged.
std::vector<int64_t> Distinct(const std::vector<int64_t>& values) {
  std::vector<int64_t> out;
  for (int64_t v : values)
    if (out.empty() || out.back() != v) out.push_back(v);
  return out;
}

TEST_F(UpdateTest, SuccessSendsHeaderAndBodyByteForByte) {
  WriteFirmware(RandomBytes(16 + 8192, 1));
  Simulator sim(Expecting());
  ASSERT_TRUE(sim.ok());
  const Outcome outcome = Run(sim.path());
  EXPECT_EQ(outcome.title, "Information");
  EXPECT_EQ(outcome.text, "Device update!");
  EXPECT_EQ(sim.Finish(), devsim::Status::Ok) << sim.device().error();
  EXPECT_EQ(sim.device().Received(), ExpectedOnTheLine());
  // Set after every body byte, then once to 0 by the report.
  const std::vector<int64_t> values = harness.ProgressValues();
  EXPECT_EQ(values.size(), 8192u + 1u);
  // Above 100 bytes every percentage comes, in order, up to exactly 100.
  std::vector<int64_t> expected;
  for (int v = 0; v <= 100; ++v) expected.push_back(v);
  expected.push_back(0);
  EXPECT_EQ(Distinct(values), expected);

  // A second run can start at once and goes through as well.
  Simulator again(Expecting());
  const Outcome second = Run(again.path());
  EXPECT_EQ(second.title, "Information");
  EXPECT_EQ(again.Finish(), devsim::Status::Ok) << again.device().error();
}

TEST_F(UpdateTest, ShortBodySkipsPercentagesButEndsAt100) {
  WriteFirmware(RandomBytes(16 + 7, 2));
  Simulator sim(Expecting());
  const Outcome outcome = Run(sim.path());
  EXPECT_EQ(outcome.title, "Information");
  EXPECT_EQ(sim.Finish(), devsim::Status::Ok) << sim.device().error();
  // i*100/7 truncated: 14, 28, 42, 57, 71, 85, 100.
  EXPECT_EQ(harness.ProgressValues(), (std::vector<int64_t>{14, 28, 42, 57, 71, 85, 100, 0}));
}

// With no body the simulator would send its second answer right behind the
// first, and four waiting bytes are no answer. A device that answers "OK
// twice" lets the first be taken before it sends the second.
devsim::Options HeaderOnlyDevice(devsim::Options options) {
  options.second.afterTaken = true;
  return options;
}

TEST_F(UpdateTest, SixteenByteFileSendsTheHeaderAlone) {
  WriteFirmware(RandomBytes(16, 3));
  Simulator sim(HeaderOnlyDevice(Expecting()));
  const Outcome outcome = Run(sim.path());
  EXPECT_EQ(outcome.title, "Information");
  EXPECT_EQ(outcome.text, "Device update!");
  EXPECT_EQ(sim.Finish(), devsim::Status::Ok) << sim.device().error();
  EXPECT_EQ(sim.device().Received(), ExpectedOnTheLine());
  EXPECT_EQ(harness.ProgressValues(), std::vector<int64_t>{0});
}

TEST_F(UpdateTest, FileShorterThanTheHeaderIsPaddedWithZeros) {
  WriteFirmware({0xDE, 0xAD, 0xBE, 0xEF, 0xFF});
  Simulator sim(HeaderOnlyDevice(Expecting()));
  const Outcome outcome = Run(sim.path());
  EXPECT_EQ(outcome.title, "Information");
  EXPECT_EQ(sim.Finish(), devsim::Status::Ok) << sim.device().error();
  EXPECT_EQ(sim.device().Received(),
            (std::vector<uint8_t>{0xDE, 0xAD, 0xBE, 0xEF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(harness.ProgressValues(), std::vector<int64_t>{0});
}

// The protocol alone, on this thread, with a front the test scripts: the
// firmware and port it names, and a look at the moment the port has opened.
class ScriptedFront : public app::UpdateFront {
 public:
  ScriptedFront(const std::string& firmware, const std::string& port, std::function<void()> opened)
      : firmware_(firmware.begin(), firmware.end()), port_(port.begin(), port.end()), opened_(std::move(opened)) {}
  int32_t code = -1;

  void Begin() override {}
  void FirmwarePath(int64_t offset) override { rt::ReturnString(firmware_.c_str(), offset); }
  void PortName(int64_t offset) override { rt::ReturnString(port_.c_str(), offset); }
  void PortOpened() override { opened_(); }
  void Progress(int64_t) override {}
  void Report(int32_t result) override { code = result; }

 private:
  std::u16string firmware_, port_;
  std::function<void()> opened_;
};

TEST_F(UpdateTest, StaleInputIsDroppedInPiecesAndTheUpdateSucceeds) {
  // The simulator writes its chatter when it sees the host open the line.
  // The run goes on only once all of it waits in the host's input queue, so
  // the order is certain whatever the load: chatter, then the drop (in
  // pieces of at most 17 bytes), then the header. 3000 bytes fit the
  // terminal's input queue in one delivery.
  WriteFirmware(RandomBytes(16 + 300, 4));
  devsim::Options options = Expecting();
  options.staleBytes = 3000;
  Simulator sim(options);
  ASSERT_TRUE(sim.ok());
  const int hostEnd = open(sim.path().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(hostEnd, 0);
  ScriptedFront front(firmwarePath, sim.path(), [&] {
    int waiting = 0;
    while (ioctl(hostEnd, FIONREAD, &waiting) == 0 && waiting < 3000) std::this_thread::yield();
  });
  app::AllocateBuffers();
  EXPECT_EQ(app::RunUpdate(front), app::UpdateDone);
  close(hostEnd);
  EXPECT_EQ(front.code, app::UpdateDone);
  EXPECT_EQ(sim.Finish(), devsim::Status::Ok) << sim.device().error();
  EXPECT_EQ(sim.device().Received(), ExpectedOnTheLine());
  EXPECT_GE(sim.device().BytesSent(), 3000 + 4);
}

TEST_F(UpdateTest, LowerCaseFirstAnswerIsRefused) {
  WriteFirmware(RandomBytes(16 + 50, 5));
  devsim::Options options = Expecting();
  options.first.text = "ok";
  Simulator sim(options);
  const Outcome outcome = Run(sim.path());
  EXPECT_EQ(outcome.title, "ERROR:4");
  EXPECT_EQ(outcome.text, "No correct answer device!");
  EXPECT_EQ(sim.Finish(), devsim::Status::Ok) << sim.device().error();
  EXPECT_EQ(sim.device().Received().size(), 16u) << "nothing of the body may follow";
}

TEST_F(UpdateTest, LowerCaseSecondAnswerIsRefused) {
  WriteFirmware(RandomBytes(16 + 50, 6));
  devsim::Options options = Expecting();
  options.second.text = "ok";
  Simulator sim(options);
  const Outcome outcome = Run(sim.path());
  EXPECT_EQ(outcome.title, "ERROR:5");
  EXPECT_EQ(outcome.text, "Update wrong!");
  EXPECT_EQ(sim.Finish(), devsim::Status::Ok) << sim.device().error();
  EXPECT_EQ(sim.device().Received(), ExpectedOnTheLine());
}

TEST_F(UpdateTest, LateButTimelyAnswerIsAccepted) {
  WriteFirmware(RandomBytes(16 + 20, 7));
  devsim::Options options = Expecting();
  options.first.delayMs = 3500;
  Simulator sim(options);
  const Outcome outcome = Run(sim.path());
  EXPECT_EQ(outcome.title, "Information");
}

TEST_F(UpdateTest, BytesTheLineRefusesWhileFullAreSentAgain) {
  // A pseudo-terminal, like some USB adapters, reports an empty output queue
  // while it still holds data, so its buffers fill while the device is busy.
  WriteFirmware(RandomBytes(16 + 65536, 13));
  // The pause fills the line in a few milliseconds; afterwards the device
  // works through the kernel's backlog in 4 KiB steps. The host offers a
  // refused byte again for 5 s, far longer than both even under load.
  BusyDevice device(65536, 1000, 150ms);
  ASSERT_TRUE(device.ok());
  const Outcome outcome = Run(device.path());
  EXPECT_EQ(outcome.title, "Information");
  EXPECT_EQ(device.Received(), ExpectedOnTheLine());
}

// The ERROR:3 cases each wait out 5000 polls of 1 ms.
TEST_F(UpdateTest, SilentDeviceDoesNotRespond) {
  WriteFirmware(RandomBytes(16 + 10, 8));
  devsim::Options options = Expecting();
  options.first.silent = true;
  Simulator sim(options);
  const Outcome outcome = Run(sim.path());
  EXPECT_EQ(outcome.title, "ERROR:3");
  EXPECT_EQ(outcome.text, "Device does not respond!");
  EXPECT_EQ(sim.device().Received().size(), 16u);
}

TEST_F(UpdateTest, ThirdAnswerByteMeansNoResponse) {
  WriteFirmware(RandomBytes(16 + 10, 9));
  devsim::Options options = Expecting();
  options.first.extraByte = true;
  // The simulator records whatever follows until the test stops it, so a
  // host that took "OK" out of "OK!" and sent the body would be seen.
  options.lingerMs = 600000;
  Simulator sim(options);
  const Outcome outcome = Run(sim.path());
  EXPECT_EQ(outcome.title, "ERROR:3");
  EXPECT_EQ(outcome.text, "Device does not respond!");
  // The port was closed before the box showed: nothing more can come.
  sim.device().Stop();
  EXPECT_EQ(sim.Finish(), devsim::Status::Ok) << sim.device().error();
  EXPECT_EQ(sim.device().Received().size(), 16u) << "no body may follow a refused answer";
}

TEST_F(UpdateTest, SingleAnswerByteAfterTheBodyMeansNoResponse) {
  WriteFirmware(RandomBytes(16 + 10, 10));
  devsim::Options options = Expecting();
  options.second.text = "O";
  Simulator sim(options);
  const Outcome outcome = Run(sim.path());
  EXPECT_EQ(outcome.title, "ERROR:3");
  EXPECT_EQ(sim.device().Received(), ExpectedOnTheLine());
}

TEST_F(UpdateTest, AnswerAfterTheWaitEndedIsTooLate) {
  // The wait is 5000 polls of at least 1 ms each: 5 s at best, longer when
  // the sleeps stretch (up to about 10 s under ThreadSanitizer with both cores
  // busy). A device that answers only after 60 s is late by any count, and
  // the host gives up on its own without waiting for it.
  WriteFirmware(RandomBytes(16 + 10, 11));
  devsim::Options options = Expecting();
  options.first.delayMs = 60000;
  Simulator sim(options);
  const Outcome outcome = Run(sim.path(), 40s);
  EXPECT_EQ(outcome.title, "ERROR:3");
  EXPECT_EQ(sim.device().Received().size(), 16u);
}

// A device that never stops talking: a boot log, a debug console, or a
// wrong line speed read as noise. It keeps the line busy until stopped and
// records what the host sends.
class Chatterbox {
 public:
  Chatterbox() {
    if (pty_.ok()) thread_ = std::thread([this] { Run(); });
  }
  ~Chatterbox() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
  }
  bool ok() const { return pty_.ok(); }
  const std::string& path() const { return pty_.path(); }
  size_t Received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }

 private:
  // 64 bytes a millisecond: ten times what a 57600-baud line carries, so
  // the line is never quiet, yet not a flood: the kernel delivers every
  // pseudo-terminal's data through shared work, and a writer in a tight
  // loop would hold up the other tests' lines.
  void Run() {
    const std::string noise(64, '\x55');
    uint8_t buffer[4096];
    while (!stop_.load()) {
      (void)!write(pty_.master(), noise.data(), noise.size());
      const ssize_t n = read(pty_.master(), buffer, sizeof buffer);
      if (n > 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        received_ += size_t(n);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  PtyPair pty_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  size_t received_ = 0;
  std::thread thread_;
};

TEST_F(UpdateTest, DeviceThatNeverStopsTalkingEndsTheRunWithNoResponse) {
  // The stale input is dropped for about a second, then the header goes out
  // and the answer wait finds far more than two bytes. Without the bound the
  // worker would drop for ever with every control locked.
  WriteFirmware(RandomBytes(16 + 10, 14));
  Chatterbox device;
  ASSERT_TRUE(device.ok());
  const Outcome outcome = Run(device.path(), 40s);
  EXPECT_EQ(outcome.title, "ERROR:3");
  EXPECT_EQ(outcome.text, "Device does not respond!");
  EXPECT_EQ(device.Received(), 16u) << "the header, and nothing of the body";
}

TEST_F(UpdateTest, OnlyARegularFileIsFirmware) {
  // A folder, a device node or a FIFO in the file field is refused before
  // the port is touched: the device must not get 16 bytes of nonsense.
  Simulator sim(HeaderOnlyDevice([] {
    devsim::Options options;
    options.bodyLength = 0;
    return options;
  }()));
  char folder[] = "/tmp/fwu-folder.XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string fifo = std::string(folder) + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {std::string(folder), std::string("/dev/zero"), fifo}) {
    harness.AddAndSelectPort(sim.path());
    harness.SetFileName(path);
    harness.ClickUpdate();
    Outcome outcome;
    ASSERT_TRUE(harness.RunUntilFinished(&outcome, 20s)) << path;
    EXPECT_EQ(outcome.title, "ERROR:1") << path;
    EXPECT_EQ(outcome.text, "Firmware missing!");
    EXPECT_FALSE(outcome.portOpen);
  }
  EXPECT_EQ(sim.device().Opens(), 0) << "the port must never be opened";
  EXPECT_TRUE(sim.device().Received().empty());
  std::remove(fifo.c_str());
  rmdir(folder);
}

TEST_F(UpdateTest, HangUpInTheMiddleOfTheBody) {
  WriteFirmware(RandomBytes(16 + 20000, 12));
  devsim::Options options = Expecting();
  options.hangUpAfter = 5000;
  Simulator sim(options);
  // Every write fails once the line is gone: the first such byte is offered
  // again for 5 s, then the second wait takes 5 s more.
  const Outcome outcome = Run(sim.path(), 40s);
  EXPECT_EQ(outcome.title, "ERROR:3");
  EXPECT_EQ(outcome.text, "Device does not respond!");
  const size_t received = sim.device().Received().size();
  EXPECT_GE(received, 16u + 5000u);
  EXPECT_LT(received, 16u + 20000u);
}

}  // namespace
}  // namespace apptest
