// The Win32 serial ports under Wine, against COM ports that wine_bed.sh sets
// up (see CMakeLists.txt): COM5 and COM7 lead to one simulated device that
// takes firmware.fw again and again, COM6 is a plain file, and the 59-unit
// name below leads to COM5's line (Wine opens a pseudo-terminal as often as
// asked). Only the update round writes to the line: any other byte would
// break the device's protocol.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "io/file.h"
#include "io/serial.h"
#include "watchdog.h"

namespace {

constexpr char16_t LongName[] = u"COM5-a-device-name-of-exactly-fifty-nine-units-in-all-vwxyz";
static_assert(sizeof LongName / sizeof LongName[0] == 59 + 1, "the device's name is 59 units");

int64_t Open(rt::ObjectNumber number, const std::u16string& name) {
  return rt::SerialOpen(number, name.c_str(), 57600, 0, 8, 1.0f, 0, 16, 524288);
}

HANDLE AsHandle(int64_t handle) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle)); }

bool HandleIsOpen(int64_t handle) {
  DWORD flags = 0;
  return GetHandleInformation(AsHandle(handle), &flags) != 0;
}

std::u16string WorkPath(const char* file) {
  const char* work = std::getenv("FWU_BED_WORK");
  std::string path = std::string(work ? work : "") + "\\" + file;
  return std::u16string(path.begin(), path.end());
}

// Polls `done` every millisecond until it holds or `limitMs` passes.
template <typename Done>
bool WaitFor(Done done, int limitMs) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// The device's answer: a read waits for its full count, so only what is
// pending is read.
std::string Answer(rt::ObjectNumber port) {
  if (!WaitFor([&] { return rt::SerialInputPending(port) >= 2; }, 5000)) return "(no answer)";
  char answer[2] = {};
  if (rt::SerialRead(port, answer, 2) != 2) return "(read failed)";
  return std::string(answer, 2);
}

// Every test captures the diagnostic lines, under the name "fwu-test".
class Serial : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    rt::FileLibraryStart();
    rt::SerialLibraryStart();
  }
  static void TearDownTestSuite() {
    rt::SerialLibraryEnd();
    rt::FileLibraryEnd();
  }
  void SetUp() override {
    diagnostics_ = std::tmpfile();
    rt::SerialSetDiagnosticStream(diagnostics_);
    rt::SerialSetDiagnosticPrefix("fwu-test");
  }
  void TearDown() override {
    rt::SerialClose(rt::DynamicNumber);
    rt::FileClose(rt::DynamicNumber);
    rt::SerialSetDiagnosticStream(nullptr);
    if (diagnostics_) std::fclose(diagnostics_);
  }
  std::string Diagnostics() const {
    std::string text(4096, '\0');
    std::rewind(diagnostics_);
    text.resize(std::fread(&text[0], 1, text.size(), diagnostics_));
    return text;
  }
  FILE* diagnostics_ = nullptr;
};

// The updater's road through the real libraries: the firmware's size, its
// header, the device's "OK", every body byte as a write of its own, the
// second "OK". The device checks every byte it receives.
TEST_F(Serial, AnUpdateRoundThroughTheSimulatedDevice) {
  fwu_test::Watchdog watchdog(std::chrono::seconds(60), "the update round");
  const std::u16string firmware = WorkPath("firmware.fw");
  const int64_t size = rt::FileSizeOfPath(firmware.c_str());
  ASSERT_EQ(size, 20000);
  ASSERT_NE(rt::FileOpenForRead(0, firmware.c_str()), 0);
  const int64_t handle = Open(0, u"COM5");
  ASSERT_NE(handle, 0);
  EXPECT_NE(rt::SerialIsOpen(0), 0);

  DCB dcb = {};
  dcb.DCBlength = sizeof dcb;
  ASSERT_TRUE(GetCommState(AsHandle(handle), &dcb));
  EXPECT_EQ(dcb.BaudRate, 57600u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, NOPARITY);
  EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
  COMMTIMEOUTS timeouts = {};
  ASSERT_TRUE(GetCommTimeouts(AsHandle(handle), &timeouts));
  EXPECT_EQ(timeouts.ReadIntervalTimeout + timeouts.ReadTotalTimeoutMultiplier + timeouts.ReadTotalTimeoutConstant,
            0u);  // a read waits for its full count
  EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier, 100u);
  EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 10u);

  uint8_t header[16];
  for (uint8_t& byte : header) byte = static_cast<uint8_t>(rt::FileReadByte(0));
  ASSERT_EQ(rt::SerialWrite(0, header, 16), 16);
  ASSERT_EQ(Answer(0), "OK");

  // A write gives up after 110 ms when the line takes nothing (a busy
  // machine can keep the device from reading that long); the byte is then
  // offered again for up to a second, as the updater does.
  int refused = 0;
  for (int64_t i = 16; i < size; ++i) {
    const uint8_t byte = static_cast<uint8_t>(rt::FileReadByte(0));
    ASSERT_TRUE(WaitFor([&] { return rt::SerialWrite(0, &byte, 1) == 1 || (++refused, false); }, 1000))
        << "byte " << i;
  }
  if (refused) std::printf("the line refused %d writes\n", refused);
  EXPECT_EQ(rt::SerialOutputPending(0), 0);
  EXPECT_EQ(Answer(0), "OK");
  EXPECT_EQ(rt::FileReadByte(0), 0);  // the end of the file
  EXPECT_EQ(rt::SerialInputPending(0), 0);
}

TEST_F(Serial, AFailedOpenLeavesThePortUnderTheNumberAndASuccessfulOneReplacesIt) {
  const int64_t first = Open(0, u"COM5");
  ASSERT_NE(first, 0);

  EXPECT_EQ(Open(0, u"COM98"), 0);  // no such port
  EXPECT_EQ(Open(0, u"COM6"), 0);   // a file, no serial line
  EXPECT_NE(rt::SerialIsOpen(0), 0);
  EXPECT_TRUE(HandleIsOpen(first));

  const int64_t second = Open(0, u"COM7");
  ASSERT_NE(second, 0);
  EXPECT_NE(second, first);
  EXPECT_FALSE(HandleIsOpen(first));
  EXPECT_TRUE(HandleIsOpen(second));
  rt::SerialClose(0);
  EXPECT_FALSE(HandleIsOpen(second));
  EXPECT_EQ(rt::SerialIsOpen(0), 0);

  // The missing port says nothing (the port scan probes a hundred names);
  // the one that exists but is no line gets one line with the reason.
  const std::string text = Diagnostics();
  EXPECT_EQ(text.rfind("fwu-test: cannot open COM6: ", 0), 0u) << text;
  EXPECT_EQ(text.find("in use"), std::string::npos) << text;
  EXPECT_EQ(text.find('\n'), text.size() - 1) << text;
}

// Wine lets a pseudo-terminal be opened twice, so the busy port here is a
// file held without sharing: it fails in CreateFileW as a port that another
// program holds does on Windows.
TEST_F(Serial, APortAnotherProgramHoldsIsBusyAndSaysSo) {
  HANDLE holder = CreateFileW(L"\\\\.\\COM6", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Open(1, u"COM6"), 0);
  EXPECT_EQ(rt::SerialIsOpen(1), 0);
  CloseHandle(holder);
  EXPECT_EQ(Diagnostics(), "fwu-test: cannot open COM6: it is in use by another program\n");

  // Without a name set the line carries none.
  rt::SerialSetDiagnosticPrefix(nullptr);
  holder = CreateFileW(L"\\\\.\\COM6", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Open(rt::DynamicNumber, u"COM6"), 0);
  CloseHandle(holder);
  EXPECT_EQ(Diagnostics(),
            "fwu-test: cannot open COM6: it is in use by another program\n"
            "cannot open COM6: it is in use by another program\n");
}

TEST_F(Serial, NamesAreCutToFiftyNineUnitsAndClosingEveryPort) {
  const std::u16string name = LongName;
  const int64_t dynamic = Open(rt::DynamicNumber, name + u"-0123456789");  // the first 59 units name it
  ASSERT_NE(dynamic, 0);
  EXPECT_EQ(Open(1, name.substr(0, 58)), 0);
  EXPECT_EQ(rt::SerialOpen(1, nullptr, 57600, 0, 8, 1.0f, 0, 16, 16), 0);
  EXPECT_EQ(Open(1, u""), 0);
  EXPECT_EQ(Open(-2, u"COM5"), 0);  // not an object number
  EXPECT_EQ(rt::SerialIsOpen(1), 0);
  EXPECT_EQ(Diagnostics(), "");  // none of these is a port that exists

  const int64_t fixed0 = Open(0, u"COM5");
  const int64_t fixed3 = Open(3, u"COM7");
  ASSERT_NE(fixed0, 0);
  ASSERT_NE(fixed3, 0);
  EXPECT_EQ(rt::SerialIsOpen(dynamic), dynamic);
  rt::SerialClose(rt::DynamicNumber);
  for (const int64_t number : {int64_t(0), int64_t(3), dynamic}) {
    EXPECT_EQ(rt::SerialIsOpen(number), 0);
    EXPECT_EQ(rt::SerialInputPending(number), 0);
    EXPECT_EQ(rt::SerialWrite(number, "x", 1), 0);
  }
  EXPECT_FALSE(HandleIsOpen(fixed0));
  EXPECT_FALSE(HandleIsOpen(fixed3));
}

}  // namespace
