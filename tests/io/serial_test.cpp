// Serial ports on real pseudo-terminals.
#include <gtest/gtest.h>

#include <errno.h>
#include <sys/file.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "io/serial.h"
#include "io_support.h"

namespace {

using iotest::Pty;
using iotest::U16;

int64_t Open(rt::ObjectNumber number, const std::u16string& name, int32_t baud = 57600, int32_t parity = 0,
             int32_t dataBits = 8, float stops = 1.0f, int32_t handshake = 0) {
  return rt::SerialOpen(number, name.c_str(), baud, parity, dataBits, stops, handshake, 16, 524288);
}

class Serial : public ::testing::Test {
 protected:
  void TearDown() override { rt::SerialClose(rt::DynamicNumber); }
};

TEST_F(Serial, OpenPutsTheLineIntoRawModeWithTheRequestedSettings) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  const int64_t fd = Open(0, pty.name(), 57600, 1, 8, 1.5f, 2);
  ASSERT_GT(fd, 0);
  const termios t = pty.Settings();
  EXPECT_EQ(t.c_cflag & CBAUD, tcflag_t(B57600));
  EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
  // A pseudo-terminal keeps PARODD and CMSPAR but always clears PARENB.
  EXPECT_EQ(t.c_cflag & PARODD, tcflag_t(PARODD));
  EXPECT_EQ(t.c_cflag & CSTOPB, tcflag_t(CSTOPB));
  EXPECT_EQ(t.c_cflag & CRTSCTS, tcflag_t(CRTSCTS));
  EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), tcflag_t(CREAD | CLOCAL));
  EXPECT_EQ(t.c_iflag, tcflag_t(IGNPAR));
  EXPECT_EQ(t.c_oflag, 0u);
  EXPECT_EQ(t.c_lflag, 0u);
  EXPECT_EQ(t.c_cc[VMIN], 1);
  EXPECT_EQ(t.c_cc[VTIME], 0);
  EXPECT_EQ(t.c_cc[VSTART], 0x15);
  EXPECT_EQ(t.c_cc[VSTOP], 0x17);
  // The fixed-number handle is the descriptor itself, non-blocking.
  EXPECT_TRUE(fcntl(static_cast<int>(fd), F_GETFL) & O_NONBLOCK);
  // Not inherited by programs the process starts: they would hold the port.
  EXPECT_TRUE(fcntl(static_cast<int>(fd), F_GETFD) & FD_CLOEXEC);
  EXPECT_NE(rt::SerialIsOpen(0), 0);

  ASSERT_GT(Open(0, pty.name(), 9600, 3, 8, 1.0f, 3), 0);
  const termios u = pty.Settings();
  EXPECT_EQ(u.c_cflag & CBAUD, tcflag_t(B9600));
  EXPECT_EQ(u.c_cflag & (CMSPAR | PARODD), tcflag_t(CMSPAR | PARODD));
  EXPECT_EQ(u.c_cflag & (CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(u.c_iflag, tcflag_t(IGNPAR | IXON | IXOFF | IXANY));
}

TEST_F(Serial, BaudZeroIsTheHangUpSpeedAndParitySevenMeansNone) {
  Pty pty;
  ASSERT_GT(Open(0, pty.name(), 0, 7), 0);
  const termios t = pty.Settings();
  EXPECT_EQ(t.c_cflag & CBAUD, tcflag_t(B0));
  EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), 0u);
}

TEST_F(Serial, RejectedSettingsOpenNothing) {
  Pty pty;
  const termios before = pty.Settings();
  const int descriptors = iotest::OpenDescriptors();
  EXPECT_EQ(Open(0, pty.name(), 230400), 0);
  EXPECT_EQ(Open(0, pty.name(), 57600, 0, 9), 0);
  EXPECT_EQ(Open(0, pty.name(), 57600, 0, 8, 1.0f, -1), 0);
  EXPECT_EQ(Open(rt::DynamicNumber, pty.name(), 57600, 0, 8, 1.0f, 4), 0);
  EXPECT_EQ(iotest::OpenDescriptors(), descriptors);
  EXPECT_EQ(rt::SerialIsOpen(0), 0);
  const termios after = pty.Settings();
  EXPECT_EQ(after.c_cflag, before.c_cflag);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
}

TEST_F(Serial, BadNamesReturnZero) {
  const int descriptors = iotest::OpenDescriptors();
  EXPECT_EQ(rt::SerialOpen(0, nullptr, 57600, 0, 8, 1.0f, 0, 16, 16), 0);
  EXPECT_EQ(Open(0, u""), 0);
  EXPECT_EQ(Open(0, u"/dev/\xD800tty"), 0);       // lone high surrogate
  EXPECT_EQ(Open(0, u"/dev/tty\xDC00"), 0);       // lone low surrogate
  EXPECT_EQ(Open(0, u"/dev/pts/\xD800"), 0);      // high surrogate at the end
  EXPECT_EQ(Open(0, std::u16string(PATH_MAX, u'a')), 0);
  EXPECT_EQ(Open(0, u"/dev/" + std::u16string(PATH_MAX / 2, u'\x00E9')), 0);  // short in units, long in bytes
  EXPECT_EQ(Open(-2, U16("/dev/null")), 0);      // not an object number
  EXPECT_EQ(iotest::OpenDescriptors(), descriptors);
}

TEST_F(Serial, AMissingDeviceLeavesThePortUnderTheSameNumberOpen) {
  Pty pty;
  ASSERT_GT(Open(0, pty.name()), 0);
  EXPECT_EQ(Open(0, U16("/dev/ttyUSB-does-not-exist")), 0);
  ASSERT_NE(rt::SerialIsOpen(0), 0);
  EXPECT_EQ(rt::SerialWrite(0, "ping", 4), 4);
  EXPECT_EQ(pty.ReadMaster(4), "ping");
}

TEST_F(Serial, ReopeningANumberClosesTheOldPortAfterTheNewOneOpened) {
  Pty first;
  Pty second;
  const int64_t old = Open(0, first.name());
  ASSERT_GT(old, 0);
  const int64_t fresh = Open(0, second.name());
  ASSERT_GT(fresh, 0);
  EXPECT_NE(fresh, old);
  errno = 0;
  EXPECT_EQ(fcntl(static_cast<int>(old), F_GETFD), -1);
  EXPECT_EQ(errno, EBADF);
  EXPECT_EQ(rt::SerialWrite(0, "x", 1), 1);
  EXPECT_EQ(second.ReadMaster(1), "x");
}

TEST_F(Serial, ReadWriteAndQueueCounts) {
  Pty pty;
  ASSERT_GT(Open(0, pty.name()), 0);
  char buffer[32] = {};
  // Nothing received: returns at once (the descriptor never blocks).
  EXPECT_EQ(rt::SerialRead(0, buffer, sizeof buffer), 0);
  EXPECT_EQ(rt::SerialInputPending(0), 0);

  ASSERT_EQ(write(pty.master(), "hello", 5), 5);
  ASSERT_TRUE(iotest::WaitFor([] { return rt::SerialInputPending(0) == 5; }));
  EXPECT_EQ(rt::SerialRead(0, buffer, -1), 0);  // a negative length moves nothing
  EXPECT_EQ(rt::SerialInputPending(0), 5);
  EXPECT_EQ(rt::SerialRead(0, buffer, 2), 2);
  EXPECT_EQ(std::string(buffer, 2), "he");
  EXPECT_EQ(rt::SerialRead(0, buffer, sizeof buffer), 3);
  EXPECT_EQ(std::string(buffer, 3), "llo");

  EXPECT_EQ(rt::SerialWrite(0, "abc", -3), 0);
  EXPECT_EQ(rt::SerialWrite(0, "0123456789abcdef", 16), 16);
  EXPECT_EQ(pty.ReadMaster(16), "0123456789abcdef");
  EXPECT_EQ(rt::SerialOutputPending(0), 0);
}

TEST_F(Serial, NumbersWithoutAPortDoNothing) {
  char buffer[4];
  EXPECT_EQ(rt::SerialIsOpen(5), 0);
  EXPECT_EQ(rt::SerialInputPending(5), 0);
  EXPECT_EQ(rt::SerialOutputPending(5), 0);
  EXPECT_EQ(rt::SerialRead(5, buffer, 4), 0);
  EXPECT_EQ(rt::SerialWrite(5, "abcd", 4), 0);
  rt::SerialClose(5);
  rt::SerialClose(123456);
  EXPECT_EQ(rt::SerialIsOpen(0x7fff0000), 0);
}

TEST_F(Serial, DynamicHandlesAndClosingEveryPort) {
  Pty a, b, c, d;
  ASSERT_GT(Open(0, a.name()), 0);
  ASSERT_GT(Open(3, b.name()), 0);
  const int64_t h1 = Open(rt::DynamicNumber, c.name());
  const int64_t h2 = Open(rt::DynamicNumber, d.name());
  ASSERT_NE(h1, 0);
  ASSERT_NE(h2, 0);
  EXPECT_NE(h1, h2);
  EXPECT_EQ(rt::SerialIsOpen(h1), h1);
  EXPECT_EQ(rt::SerialWrite(h2, "d", 1), 1);
  EXPECT_EQ(d.ReadMaster(1), "d");

  rt::SerialClose(rt::DynamicNumber);
  EXPECT_EQ(rt::SerialIsOpen(0), 0);
  EXPECT_EQ(rt::SerialIsOpen(3), 0);
  EXPECT_EQ(rt::SerialIsOpen(h1), 0);
  EXPECT_EQ(rt::SerialIsOpen(h2), 0);
  EXPECT_EQ(rt::SerialWrite(h2, "d", 1), 0);
}

TEST_F(Serial, DescriptorZeroIsNeverStoredAsAPort) {
  // With standard input closed the next open gets descriptor 0, which would
  // read as "no port" and leak.
  Pty pty;
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(0);
    const int64_t fd = Open(0, pty.name());
    if (fd <= 0 || !rt::SerialIsOpen(0)) _exit(1);
    if (rt::SerialWrite(0, "z", 1) != 1) _exit(2);
    rt::SerialClose(0);
    _exit(fcntl(0, F_GETFD) == -1 ? 0 : 3);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(pty.ReadMaster(1), "z");
}

TEST_F(Serial, AFileThatIsNotATerminalStillOpens) {
  iotest::TempDir dir;
  const std::string file = dir.Write("plain", {});
  ASSERT_GT(Open(0, U16(file)), 0);
  EXPECT_EQ(rt::SerialWrite(0, "abc", 3), 3);
  rt::SerialClose(0);
  EXPECT_EQ(iotest::ReadFile(file).size(), 3u);
}

// Captures the diagnostic stream for the length of a test.
class Diagnostics {
 public:
  Diagnostics() : file_(tmpfile()) { rt::SerialSetDiagnosticStream(file_); }
  ~Diagnostics() {
    rt::SerialSetDiagnosticStream(nullptr);
    rt::SerialSetDiagnosticPrefix("fwupdater");
    if (file_) fclose(file_);
  }
  std::string Text() const {
    std::string text;
    rewind(file_);
    char chunk[512];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, file_)) > 0) text.append(chunk, n);
    return text;
  }
  int Lines() const {
    const std::string text = Text();
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
  }

 private:
  FILE* file_;
};

TEST_F(Serial, APortHeldByAnotherProgramIsBusyAndSaysSo) {
  Pty pty;
  Diagnostics diagnostics;
  const int holder = open(pty.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(Open(0, pty.name()), 0);
  EXPECT_EQ(rt::SerialIsOpen(0), 0);
  EXPECT_EQ(diagnostics.Lines(), 1);
  EXPECT_EQ(diagnostics.Text(),
            "fwupdater: cannot open " + pty.path() + ": it is in use by another program\n");
  close(holder);
  EXPECT_GT(Open(0, pty.name()), 0);
  EXPECT_EQ(diagnostics.Lines(), 1);
}

TEST_F(Serial, APortAnotherProgramHoldsForExclusiveUseIsBusyEvenForRoot) {
  Pty pty;
  Diagnostics diagnostics;
  ASSERT_EQ(ioctl(pty.slave(), TIOCEXCL), 0);
  EXPECT_EQ(Open(0, pty.name()), 0);
  EXPECT_EQ(diagnostics.Text(), "fwupdater: cannot open " + pty.path() + ": it is in use by another program\n");
  ASSERT_EQ(ioctl(pty.slave(), TIOCNXCL), 0);
  EXPECT_GT(Open(0, pty.name()), 0);
}

TEST_F(Serial, TheSameDeviceCannotBeOpenedTwice) {
  Pty pty;
  Diagnostics diagnostics;
  rt::SerialSetDiagnosticPrefix("updater-test");
  ASSERT_GT(Open(0, pty.name()), 0);
  EXPECT_EQ(Open(1, pty.name()), 0);
  EXPECT_NE(diagnostics.Text().find("updater-test: cannot open " + pty.path()), std::string::npos);
  EXPECT_NE(rt::SerialIsOpen(0), 0);

  // Until the program names itself the line carries no name at all.
  rt::SerialSetDiagnosticPrefix(nullptr);
  EXPECT_EQ(Open(1, pty.name()), 0);
  EXPECT_NE(diagnostics.Text().find("\ncannot open " + pty.path() + ": it is in use by another program\n"),
            std::string::npos);
}

TEST_F(Serial, MissingDevicesAreNotReported) {
  Diagnostics diagnostics;
  EXPECT_EQ(Open(0, U16("/dev/ttyUSB-does-not-exist")), 0);
  EXPECT_EQ(Open(0, U16("/nonexistent-folder/ttyUSB0")), 0);
  EXPECT_EQ(Open(0, U16("/dev/null/ttyUSB0")), 0);  // a path through a non-directory
  EXPECT_EQ(diagnostics.Text(), "");
}

TEST_F(Serial, APortThatExistsButCannotBeOpenedIsReportedOnce) {
  // A directory exists but is no terminal: open fails with EISDIR.
  Diagnostics diagnostics;
  iotest::TempDir dir;
  EXPECT_EQ(Open(0, U16(dir.path())), 0);
  EXPECT_EQ(diagnostics.Lines(), 1);
  EXPECT_NE(diagnostics.Text().find("fwupdater: cannot open " + dir.path() + ": Is a directory"), std::string::npos);
}

TEST_F(Serial, PermissionDeniedNamesTheDialoutGroup) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to drop to an unprivileged user";
  Pty pty;
  ASSERT_EQ(chmod(pty.path().c_str(), 0600), 0);
  iotest::TempDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
  const std::string log = dir.File("diagnostics");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(iotest::NobodyId) != 0 || setuid(iotest::NobodyId) != 0) _exit(3);
    FILE* stream = fopen(log.c_str(), "w");
    if (!stream) _exit(4);
    rt::SerialSetDiagnosticStream(stream);
    const int64_t handle = Open(0, pty.name());
    fclose(stream);
    _exit(handle == 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  const std::vector<uint8_t> bytes = iotest::ReadFile(log);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
            "fwupdater: cannot open " + pty.path() +
                ": Permission denied (your user must be in the 'dialout' group: sudo usermod -aG dialout $USER, "
                "then log in again)\n");
}

TEST_F(Serial, ExclusiveUseEndsWithClose) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to drop to an unprivileged user";
  Pty pty;  // its slave stays open: the terminal outlives our use of it
  ASSERT_EQ(chmod(pty.path().c_str(), 0666), 0);
  ASSERT_EQ(iotest::OpenableByNobody(pty.path()), 1);

  ASSERT_GT(Open(0, pty.name()), 0);
  EXPECT_EQ(iotest::OpenableByNobody(pty.path()), 0);
  rt::SerialClose(0);
  EXPECT_EQ(iotest::OpenableByNobody(pty.path()), 1);

  // Replacing a port and closing every port clear it as well.
  ASSERT_GT(Open(0, pty.name()), 0);
  Pty other;
  ASSERT_GT(Open(0, other.name()), 0);
  EXPECT_EQ(iotest::OpenableByNobody(pty.path()), 1);
  ASSERT_GT(Open(rt::DynamicNumber, pty.name()), 0);
  EXPECT_EQ(iotest::OpenableByNobody(pty.path()), 0);
  rt::SerialLibraryEnd();
  EXPECT_EQ(iotest::OpenableByNobody(pty.path()), 1);
}

TEST_F(Serial, ReopeningTheSameDeviceUnderItsNumberKeepsExclusiveUse) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to drop to an unprivileged user";
  Pty pty;
  ASSERT_EQ(chmod(pty.path().c_str(), 0666), 0);
  // As an ordinary user, whom the terminal's exclusive flag would lock out.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(iotest::NobodyId) != 0 || setuid(iotest::NobodyId) != 0) _exit(3);
    if (Open(0, pty.name(), 9600) <= 0) _exit(4);
    const int64_t again = Open(0, pty.name(), 115200);
    if (again <= 0) _exit(5);
    if ((pty.Settings().c_cflag & CBAUD) != B115200) _exit(6);
    if (iotest::OpenableByNobody(pty.path()) != 0) _exit(7);
    const int other = open(pty.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (other >= 0) _exit(8);
    rt::SerialClose(0);
    if (iotest::OpenableByNobody(pty.path()) != 1) _exit(9);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(Serial, AbandonGivesUpExclusiveUseButClosesNothing) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to drop to an unprivileged user";
  Pty pty;
  ASSERT_EQ(chmod(pty.path().c_str(), 0666), 0);
  const int64_t handle = Open(rt::DynamicNumber, pty.name());
  ASSERT_NE(handle, 0);
  ASSERT_EQ(iotest::OpenableByNobody(pty.path()), 0);

  rt::SerialLibraryAbandon();
  EXPECT_EQ(iotest::OpenableByNobody(pty.path()), 1);
  EXPECT_NE(rt::SerialIsOpen(handle), 0);
  EXPECT_EQ(rt::SerialWrite(handle, "still", 5), 5);
  EXPECT_EQ(pty.ReadMaster(5), "still");

  // After an abandon no new port takes the flag; a new start re-arms it.
  Pty late;
  ASSERT_EQ(chmod(late.path().c_str(), 0666), 0);
  ASSERT_GT(Open(1, late.name()), 0);
  EXPECT_EQ(iotest::OpenableByNobody(late.path()), 1);
  rt::SerialClose(1);
  rt::SerialLibraryStart();
  ASSERT_GT(Open(1, late.name()), 0);
  EXPECT_EQ(iotest::OpenableByNobody(late.path()), 0);
}

}  // namespace
