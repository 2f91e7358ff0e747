// Whole update runs through the real Win32 window under Wine, against device
// simulators that the test bed (wine_bed.sh, see CMakeLists.txt) puts behind
// COM ports: every outcome with its exact message, what the device received,
// the progress the bar was given, and the state every run leaves behind.
//
//   COM1  takes firmware.fw and answers "OK" twice; keeps what it received
//   COM2  answers "ok" to the header
//   COM3  answers "ok" after the body
//   COM4  never answers the header
//   COM5  has 4096 bytes of chatter waiting before the header
//   COM6  takes header.fw, a 16-byte file, and answers twice
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "updater.h"
#include "watchdog.h"
#include "window_harness.h"

namespace apptest {
namespace {

using namespace std::chrono_literals;

// The bed's work folder, where it made firmware.fw and header.fw.
std::string WorkFolder() {
  const char* work = std::getenv("FWU_BED_WORK");
  return work ? work : ".";
}

std::string WorkPath(const std::string& file) { return WorkFolder() + "\\" + file; }

std::u16string Units(const std::string& s) { return std::u16string(s.begin(), s.end()); }

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The simulator on COM1 writes what it received to com1-N.bin once the
// update is over, just after its last answer: the file may lag the result
// box by a moment, so the test waits for it to be complete.
std::vector<uint8_t> Received(int update, size_t expectedSize) {
  const std::string path = WorkPath("com1-" + std::to_string(update) + ".bin");
  const auto until = std::chrono::steady_clock::now() + 10s;
  std::vector<uint8_t> bytes;
  while (std::chrono::steady_clock::now() < until) {
    if (FileExists(path)) {
      bytes = ReadFile(path);
      if (bytes.size() >= expectedSize) break;
    }
    Sleep(5);
  }
  return bytes;
}

class UpdateTest : public testing::Test {
 protected:
  void SetUp() override {
    harness.BuildFreshWindow();
    firmware = ReadFile(WorkPath("firmware.fw"));
    ASSERT_GT(firmware.size(), 16u + 100u);
  }

  // One run through the real button; the state every outcome must leave is
  // checked here.
  Outcome Run(const std::u16string& port, const std::string& file, std::chrono::milliseconds limit = 30s) {
    fwu_test::Watchdog watchdog(limit + 10s, "an update run");
    if (!port.empty()) {
      EXPECT_TRUE(harness.ChoosePort(port)) << "not listed";
    }
    harness.SetFileName(Units(file));
    harness.ClickUpdate();
    Outcome outcome;
    EXPECT_TRUE(harness.RunUntilFinished(&outcome, limit)) << "the run did not finish";
    EXPECT_EQ(outcome.boxes, 1);
    EXPECT_FALSE(outcome.fileOpen);
    EXPECT_FALSE(outcome.portOpen);
    EXPECT_TRUE(outcome.gadgetsEnabled);
    EXPECT_EQ(outcome.barValue, 0);
    // The box belongs to the main window and keeps the user from it.
    EXPECT_EQ(outcome.owner, harness.MainWindow());
    EXPECT_FALSE(outcome.ownerEnabled);
    EXPECT_TRUE(harness.AllInputGadgetsEnabled());
    EXPECT_TRUE(IsWindowEnabled(harness.MainWindow()));
    EXPECT_EQ(harness.BarPosition(), 0);
    EXPECT_EQ(app::ProgressPercent(), 0);
    return outcome;
  }

  WindowHarness harness;
  std::vector<uint8_t> firmware;
  static int com1Updates;
};

int UpdateTest::com1Updates = 0;

TEST_F(UpdateTest, ScanListsTheBedsPortsInOrderAndSelectsNone) {
  EXPECT_EQ(harness.Ports(), (std::vector<std::u16string>{u"COM1", u"COM2", u"COM3", u"COM4", u"COM5", u"COM6"}));
  EXPECT_EQ(SendMessageW(harness.PortList(), CB_GETCURSEL, 0, 0), CB_ERR);
  EXPECT_TRUE(WindowText(harness.PortList()).empty());
}

TEST_F(UpdateTest, UpdateBeforeChoosingAPortNamesNoPort) {
  for (int round = 0; round < 2; ++round) {
    const Outcome outcome = Run(u"", WorkPath("firmware.fw"));
    EXPECT_EQ(outcome.title, u"ERROR:2");
    EXPECT_EQ(outcome.text, u"Can't open the serial port: ");
  }
}

TEST_F(UpdateTest, SuccessSendsHeaderAndBodyByteForByteAndTheBarOnlyRises) {
  for (int round = 0; round < 2; ++round) {
    const Outcome outcome = Run(u"COM1", WorkPath("firmware.fw"));
    EXPECT_EQ(outcome.title, u"Information");
    EXPECT_EQ(outcome.text, u"Device update!");
    EXPECT_EQ(Received(++com1Updates, firmware.size()), firmware) << "round " << round;
    // Set only when its value rises: each percentage once, then 0 from the report.
    std::vector<int64_t> expected;
    for (int v = 1; v <= 100; ++v) expected.push_back(v);
    expected.push_back(0);
    EXPECT_EQ(harness.ProgressValues(), expected);
  }
}

TEST_F(UpdateTest, SixteenByteFileSendsTheHeaderAlone) {
  const Outcome outcome = Run(u"COM6", WorkPath("header.fw"));
  EXPECT_EQ(outcome.title, u"Information");
  EXPECT_EQ(outcome.text, u"Device update!");
  EXPECT_EQ(harness.ProgressValues(), std::vector<int64_t>{0});
}

TEST_F(UpdateTest, MissingFirmwareAndADirectoryAreRefused) {
  for (const std::string& file : {WorkPath("missing.fw"), WorkFolder(), std::string()}) {
    const Outcome outcome = Run(u"COM1", file);
    EXPECT_EQ(outcome.title, u"ERROR:1") << file;
    EXPECT_EQ(outcome.text, u"Firmware missing!") << file;
  }
}

TEST_F(UpdateTest, ChatterBeforeTheHeaderIsDropped) {
  const Outcome outcome = Run(u"COM5", WorkPath("firmware.fw"));
  EXPECT_EQ(outcome.title, u"Information");
  EXPECT_EQ(outcome.text, u"Device update!");
}

TEST_F(UpdateTest, WrongFirstAnswer) {
  for (int round = 0; round < 2; ++round) {
    const Outcome outcome = Run(u"COM2", WorkPath("firmware.fw"));
    EXPECT_EQ(outcome.title, u"ERROR:4");
    EXPECT_EQ(outcome.text, u"No correct answer device!");
  }
}

TEST_F(UpdateTest, WrongSecondAnswer) {
  const Outcome outcome = Run(u"COM3", WorkPath("firmware.fw"));
  EXPECT_EQ(outcome.title, u"ERROR:5");
  EXPECT_EQ(outcome.text, u"Update wrong!");
}

TEST_F(UpdateTest, SilentDeviceDoesNotRespond) {
  // 5000 polls of about 1 ms: at least 5 s.
  const Outcome outcome = Run(u"COM4", WorkPath("firmware.fw"));
  EXPECT_EQ(outcome.title, u"ERROR:3");
  EXPECT_EQ(outcome.text, u"Device does not respond!");
  // The next run on a working device goes through at once.
  const Outcome next = Run(u"COM1", WorkPath("firmware.fw"));
  EXPECT_EQ(next.title, u"Information");
  EXPECT_EQ(Received(++com1Updates, firmware.size()), firmware);
}

}  // namespace
}  // namespace apptest
