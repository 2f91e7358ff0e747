// Whole update runs against a device on a pseudo-terminal: every outcome with
// its exact message, what the device received, the progress the bar showed,
// and the state every run leaves behind.
#include <gtest/gtest.h>

#include <QProgressBar>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "core/threads.h"
#include "io/serial.h"
#include "test_device.h"
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
    std::ofstream(firmwarePath, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    firmware = bytes;
  }

  // One run through the real button against `device`; the state every
  // outcome must leave is checked here.
  Outcome Run(TestDevice& device, std::chrono::milliseconds limit = 20s) {
    harness.AddAndSelectPort(device.path());
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
  TestDevice device(DeviceBehaviour::Body(8192));
  ASSERT_TRUE(device.ok());
  const Outcome outcome = Run(device);
  EXPECT_EQ(outcome.title, "Information");
  EXPECT_EQ(outcome.text, "Device update!");
  EXPECT_EQ(device.Received(), ExpectedOnTheLine());
  // Set after every body byte, then once to 0 by the report.
  const std::vector<int64_t> values = harness.ProgressValues();
  EXPECT_EQ(values.size(), 8192u + 1u);
  // Above 100 bytes every percentage comes, in order, up to exactly 100.
  std::vector<int64_t> expected;
  for (int v = 0; v <= 100; ++v) expected.push_back(v);
  expected.push_back(0);
  EXPECT_EQ(Distinct(values), expected);

  // A second run can start at once and goes through as well.
  TestDevice again(DeviceBehaviour::Body(8192));
  const Outcome second = Run(again);
  EXPECT_EQ(second.title, "Information");
  EXPECT_EQ(again.Received(), ExpectedOnTheLine());
}

TEST_F(UpdateTest, ShortBodySkipsPercentagesButEndsAt100) {
  WriteFirmware(RandomBytes(16 + 7, 2));
  TestDevice device(DeviceBehaviour::Body(7));
  const Outcome outcome = Run(device);
  EXPECT_EQ(outcome.title, "Information");
  EXPECT_EQ(device.Received(), ExpectedOnTheLine());
  // i*100/7 truncated: 14, 28, 42, 57, 71, 85, 100.
  EXPECT_EQ(harness.ProgressValues(), (std::vector<int64_t>{14, 28, 42, 57, 71, 85, 100, 0}));
}

TEST_F(UpdateTest, SixteenByteFileSendsTheHeaderAlone) {
  WriteFirmware(RandomBytes(16, 3));
  TestDevice device(DeviceBehaviour::Body(0));
  const Outcome outcome = Run(device);
  EXPECT_EQ(outcome.title, "Information");
  EXPECT_EQ(outcome.text, "Device update!");
  EXPECT_EQ(device.Received(), ExpectedOnTheLine());
  EXPECT_EQ(harness.ProgressValues(), std::vector<int64_t>{0});
}

TEST_F(UpdateTest, FileShorterThanTheHeaderIsPaddedWithZeros) {
  WriteFirmware({0xDE, 0xAD, 0xBE, 0xEF, 0xFF});
  TestDevice device(DeviceBehaviour::Body(0));
  const Outcome outcome = Run(device);
  EXPECT_EQ(outcome.title, "Information");
  EXPECT_EQ(device.Received(),
            (std::vector<uint8_t>{0xDE, 0xAD, 0xBE, 0xEF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(harness.ProgressValues(), std::vector<int64_t>{0});
}

TEST_F(UpdateTest, StaleInputIsDroppedInPiecesAndTheUpdateSucceeds) {
  WriteFirmware(RandomBytes(16 + 300, 4));
  TestDevice device(DeviceBehaviour::Body(300).Stale(4096));
  const Outcome outcome = Run(device);
  EXPECT_EQ(outcome.title, "Information");
  EXPECT_EQ(device.Received(), ExpectedOnTheLine());
}

TEST_F(UpdateTest, BytesTheLineRefusesWhileFullAreSentAgain) {
  // A pseudo-terminal, like some USB adapters, reports an empty output queue
  // while it still holds data, so its buffers fill while the device is busy.
  WriteFirmware(RandomBytes(16 + 65536, 13));
  TestDevice device(DeviceBehaviour::Body(65536).PauseAfter(1000, 300ms));
  const Outcome outcome = Run(device);
  EXPECT_EQ(outcome.title, "Information");
  EXPECT_EQ(device.Received(), ExpectedOnTheLine());
}

TEST_F(UpdateTest, LowerCaseFirstAnswerIsRefused) {
  WriteFirmware(RandomBytes(16 + 50, 5));
  TestDevice device(DeviceBehaviour::Body(50).First("ok"));
  const Outcome outcome = Run(device);
  EXPECT_EQ(outcome.title, "ERROR:4");
  EXPECT_EQ(outcome.text, "No correct answer device!");
  // Nothing of the body went out.
  EXPECT_EQ(device.Received().size(), 16u);
}

TEST_F(UpdateTest, LowerCaseSecondAnswerIsRefused) {
  WriteFirmware(RandomBytes(16 + 50, 6));
  TestDevice device(DeviceBehaviour::Body(50).Second("ok"));
  const Outcome outcome = Run(device);
  EXPECT_EQ(outcome.title, "ERROR:5");
  EXPECT_EQ(outcome.text, "Update wrong!");
  EXPECT_EQ(device.Received(), ExpectedOnTheLine());
}

TEST_F(UpdateTest, LateButTimelyAnswerIsAccepted) {
  WriteFirmware(RandomBytes(16 + 20, 7));
  TestDevice device(DeviceBehaviour::Body(20).FirstAfter(3500ms));
  const Outcome outcome = Run(device);
  EXPECT_EQ(outcome.title, "Information");
}

// The ERROR:3 cases each wait out 5000 polls of 1 ms.
TEST_F(UpdateTest, SilentDeviceDoesNotRespond) {
  WriteFirmware(RandomBytes(16 + 10, 8));
  TestDevice device(DeviceBehaviour::Body(10).First(""));
  const Outcome outcome = Run(device);
  EXPECT_EQ(outcome.title, "ERROR:3");
  EXPECT_EQ(outcome.text, "Device does not respond!");
  EXPECT_EQ(device.Received().size(), 16u);
}

TEST_F(UpdateTest, ThirdAnswerByteMeansNoResponse) {
  WriteFirmware(RandomBytes(16 + 10, 9));
  TestDevice device(DeviceBehaviour::Body(10).First("OKX"));
  const Outcome outcome = Run(device);
  EXPECT_EQ(outcome.title, "ERROR:3");
  EXPECT_EQ(outcome.text, "Device does not respond!");
}

TEST_F(UpdateTest, SingleAnswerByteAfterTheBodyMeansNoResponse) {
  WriteFirmware(RandomBytes(16 + 10, 10));
  TestDevice device(DeviceBehaviour::Body(10).Second("O"));
  const Outcome outcome = Run(device);
  EXPECT_EQ(outcome.title, "ERROR:3");
  EXPECT_EQ(device.Received(), ExpectedOnTheLine());
}

TEST_F(UpdateTest, AnswerAfterTheWaitEndedIsTooLate) {
  WriteFirmware(RandomBytes(16 + 10, 11));
  TestDevice device(DeviceBehaviour::Body(10).FirstAfter(6000ms));
  const Outcome outcome = Run(device);
  EXPECT_EQ(outcome.title, "ERROR:3");
}

TEST_F(UpdateTest, HangUpInTheMiddleOfTheBody) {
  WriteFirmware(RandomBytes(16 + 20000, 12));
  TestDevice device(DeviceBehaviour::Body(20000).HangUpAfter(5000));
  const Outcome outcome = Run(device);
  EXPECT_EQ(outcome.title, "ERROR:3");
  EXPECT_EQ(outcome.text, "Device does not respond!");
  EXPECT_GE(device.Received().size(), 16u + 5000u);
  EXPECT_LT(device.Received().size(), 16u + 20000u);
}

}  // namespace
}  // namespace apptest
