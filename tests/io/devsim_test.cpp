// The device simulator, driven in-process from the host side over a real
// pseudo-terminal, and as the fwu-devsim program.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>

#include "cli.h"
#include "device.h"
#include "devsim_host.h"

extern char** environ;

namespace {

using devsim::Device;
using devsim::Ending;
using devsim::Options;
using devsim::Status;
using iotest::Host;

std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, size_t from, size_t to) {
  return std::vector<uint8_t>(bytes.begin() + from, bytes.begin() + std::min(to, bytes.size()));
}

class Devsim : public ::testing::Test {
 protected:
  void TearDown() override { rt::SerialClose(rt::DynamicNumber); }

  Options Base() {
    Options o;
    o.startTimeoutMs = 10000;
    o.lingerMs = 100;
    return o;
  }
  std::vector<uint8_t> Firmware(size_t size, Options* o) {
    const std::vector<uint8_t> bytes = iotest::Pattern(size, static_cast<uint32_t>(size));
    o->firmwarePath = dir_.Write("firmware.fw", bytes);
    return bytes;
  }
  // Starts the device; the test fails when it cannot.
  void Launch(Device* device) {
    std::string error;
    ASSERT_TRUE(device->Open(&error)) << error;
    ASSERT_TRUE(device->Start());
  }
  // The update as the updater runs it: header, answer, body byte by byte, answer.
  void Update(Host* host, const std::vector<uint8_t>& firmware, std::string* first, std::string* second) {
    ASSERT_TRUE(host->Send(Slice(firmware, 0, 16)));
    *first = host->Receive(2);
    ASSERT_TRUE(host->Send(Slice(firmware, 16, firmware.size()), 1));
    *second = host->Receive(2);
  }

  iotest::TempDir dir_;
};

TEST_F(Devsim, AFullUpdateArrivesByteForByte) {
  Options o = Base();
  const std::vector<uint8_t> firmware = Firmware(16 + 5000, &o);
  o.outputPath = dir_.File("received.bin");
  Device device(o);
  Launch(&device);
  Host host(device.Path());
  ASSERT_TRUE(host.Open());
  std::string first, second;
  Update(&host, firmware, &first, &second);
  EXPECT_EQ(first, "OK");
  EXPECT_EQ(second, "OK");
  EXPECT_EQ(host.Listen(50), "");
  host.Close();

  ASSERT_TRUE(device.Wait(5000));
  EXPECT_EQ(device.status(), Status::Ok) << device.error();
  EXPECT_EQ(device.Received(), firmware);
  EXPECT_EQ(device.BytesReceived(), static_cast<int64_t>(firmware.size()));
  ASSERT_EQ(device.UpdatesServed(), 1);
  EXPECT_EQ(device.Updates()[0].ending, Ending::Complete);
  EXPECT_EQ(iotest::ReadFile(o.outputPath), firmware);
}

TEST_F(Devsim, AShortFirmwareIsAPaddedHeaderWithoutBody) {
  Options o = Base();
  const std::vector<uint8_t> firmware = Firmware(5, &o);
  Device device(o);
  Launch(&device);
  Host host(device.Path());
  ASSERT_TRUE(host.Open());
  std::vector<uint8_t> header = firmware;
  header.resize(16, 0);
  ASSERT_TRUE(host.Send(header));
  EXPECT_EQ(host.Receive(4), "OKOK");
  ASSERT_TRUE(device.Wait(5000));
  EXPECT_EQ(device.status(), Status::Ok) << device.error();
  EXPECT_EQ(device.Received(), header);
}

TEST_F(Devsim, TheLineSurvivesThePortScanAndStaleBytesWaitForEachOpen) {
  Options o = Base();
  const std::vector<uint8_t> firmware = Firmware(16 + 64, &o);
  o.staleBytes = 4096;
  o.staleByte = 0xA5;
  Device device(o);
  Launch(&device);
  Host host(device.Path());

  // The port scan opens and closes the line; the device's own end keeps it up.
  // Chatter is written at start, and again once the scan's open is seen.
  ASSERT_TRUE(iotest::WaitFor([&] { return device.BytesSent() == 4096; }));
  ASSERT_TRUE(host.Open());
  host.Close();
  ASSERT_TRUE(iotest::WaitFor([&] { return device.Opens() == 1 && device.BytesSent() == 8192; }));

  ASSERT_TRUE(host.Open());
  // A pseudo-terminal shows at most 4095 waiting bytes to one query.
  ASSERT_TRUE(iotest::WaitFor([] { return rt::SerialInputPending(Host::Port) >= 4095; }));
  EXPECT_EQ(rt::SerialInputPending(Host::Port), 4095);
  // Exactly one batch: what was written before this open was flushed by it.
  std::string stale;
  iotest::WaitFor([&] {
    char piece[17];
    const int64_t n = rt::SerialRead(Host::Port, piece, sizeof piece);
    if (n > 0) stale.append(piece, static_cast<size_t>(n));
    return stale.size() >= 4096;
  });
  EXPECT_EQ(stale, std::string(4096, '\xA5'));
  EXPECT_EQ(host.Listen(100), "");
  EXPECT_EQ(device.Opens(), 2);
  EXPECT_EQ(device.BytesSent(), 3 * 4096);

  std::string first, second;
  Update(&host, firmware, &first, &second);
  EXPECT_EQ(first + second, "OKOK");
  ASSERT_TRUE(device.Wait(5000));
  EXPECT_EQ(device.BytesSent(), 3 * 4096 + 4);
  EXPECT_EQ(device.status(), Status::Ok) << device.error();
  EXPECT_EQ(device.Received(), firmware);
}

TEST_F(Devsim, SilentDevice) {
  Options o = Base();
  const std::vector<uint8_t> firmware = Firmware(16 + 10, &o);
  o.first.silent = true;
  Device device(o);
  Launch(&device);
  Host host(device.Path());
  ASSERT_TRUE(host.Open());
  ASSERT_TRUE(host.Send(Slice(firmware, 0, 16)));
  EXPECT_EQ(host.Listen(300), "");
  ASSERT_TRUE(device.Wait(5000));
  EXPECT_EQ(device.status(), Status::Ok) << device.error();
  ASSERT_EQ(device.UpdatesServed(), 1);
  EXPECT_EQ(device.Updates()[0].ending, Ending::HeaderOnly);
}

TEST_F(Devsim, SilentOnlyAtTheSecondAnswer) {
  Options o = Base();
  const std::vector<uint8_t> firmware = Firmware(16 + 40, &o);
  o.second.silent = true;
  Device device(o);
  Launch(&device);
  Host host(device.Path());
  ASSERT_TRUE(host.Open());
  ASSERT_TRUE(host.Send(Slice(firmware, 0, 16)));
  EXPECT_EQ(host.Receive(2), "OK");
  ASSERT_TRUE(host.Send(Slice(firmware, 16, firmware.size()), 1));
  EXPECT_EQ(host.Listen(300), "");
  ASSERT_TRUE(device.Wait(5000));
  EXPECT_EQ(device.Received(), firmware);
}

TEST_F(Devsim, WrongAnswersAtEitherStep) {
  {
    Options o = Base();
    const std::vector<uint8_t> firmware = Firmware(16 + 8, &o);
    o.first.text = "ok";
    Device device(o);
    Launch(&device);
    Host host(device.Path());
    ASSERT_TRUE(host.Open());
    ASSERT_TRUE(host.Send(Slice(firmware, 0, 16)));
    EXPECT_EQ(host.Receive(2), "ok");
    ASSERT_TRUE(device.Wait(5000));
    EXPECT_EQ(device.Updates().at(0).ending, Ending::HeaderOnly);
    host.Close();
  }
  {
    Options o = Base();
    const std::vector<uint8_t> firmware = Firmware(16 + 8, &o);
    o.second.text = std::string("N\0\xFF", 3);
    Device device(o);
    Launch(&device);
    Host host(device.Path());
    ASSERT_TRUE(host.Open());
    std::string first, second;
    Update(&host, firmware, &first, &second);
    second += host.Receive(1, 500);
    EXPECT_EQ(first, "OK");
    EXPECT_EQ(second, std::string("N\0\xFF", 3));
    ASSERT_TRUE(device.Wait(5000));
    EXPECT_EQ(device.status(), Status::Ok) << device.error();
  }
}

TEST_F(Devsim, AnExtraByteFollowsTheAnswerAtOnce) {
  Options o = Base();
  const std::vector<uint8_t> firmware = Firmware(16 + 8, &o);
  o.first.extraByte = true;
  Device device(o);
  Launch(&device);
  Host host(device.Path());
  ASSERT_TRUE(host.Open());
  ASSERT_TRUE(host.Send(Slice(firmware, 0, 16)));
  // The updater only ever sees three bytes waiting, never exactly two.
  ASSERT_TRUE(iotest::WaitFor([] { return rt::SerialInputPending(Host::Port) == 3; }));
  EXPECT_EQ(host.Receive(3), "OK!");
}

TEST_F(Devsim, ALateAnswer) {
  Options o = Base();
  const std::vector<uint8_t> firmware = Firmware(16 + 8, &o);
  o.first.delayMs = 400;
  Device device(o);
  Launch(&device);
  Host host(device.Path());
  ASSERT_TRUE(host.Open());
  const auto sent = std::chrono::steady_clock::now();
  ASSERT_TRUE(host.Send(Slice(firmware, 0, 16)));
  EXPECT_EQ(host.Listen(150), "");
  EXPECT_EQ(host.Receive(2, 5000), "OK");
  EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(400));
  ASSERT_TRUE(host.Send(Slice(firmware, 16, 24), 1));
  EXPECT_EQ(host.Receive(2), "OK");
  ASSERT_TRUE(device.Wait(5000));
  EXPECT_EQ(device.status(), Status::Ok) << device.error();
}

TEST_F(Devsim, AHangUpInTheMiddleOfTheBody) {
  Options o = Base();
  const std::vector<uint8_t> firmware = Firmware(16 + 1000, &o);
  o.hangUpAfter = 100;
  Device device(o);
  Launch(&device);
  Host host(device.Path());
  ASSERT_TRUE(host.Open());
  ASSERT_TRUE(host.Send(Slice(firmware, 0, 16)));
  ASSERT_EQ(host.Receive(2), "OK");
  ASSERT_TRUE(host.Send(Slice(firmware, 16, 116), 1));
  ASSERT_TRUE(device.Wait(5000));
  EXPECT_EQ(device.status(), Status::Ok) << device.error();
  EXPECT_EQ(device.Updates().at(0).ending, Ending::HungUp);
  EXPECT_EQ(device.Received(), Slice(firmware, 0, 116));
  // The line is gone: writes and queue queries fail and count as 0.
  EXPECT_EQ(rt::SerialWrite(Host::Port, "x", 1), 0);
  EXPECT_EQ(rt::SerialOutputPending(Host::Port), 0);
  char buffer[4];
  EXPECT_EQ(rt::SerialRead(Host::Port, buffer, 4), 0);
}

TEST_F(Devsim, SeveralUpdatesInARow) {
  Options o = Base();
  const std::vector<uint8_t> firmware = Firmware(16 + 300, &o);
  o.repeat = 3;
  o.outputPath = dir_.File("update-%u.bin");
  Device device(o);
  Launch(&device);
  for (int run = 0; run < 3; ++run) {
    Host host(device.Path());
    ASSERT_TRUE(host.Open());
    std::string first, second;
    Update(&host, firmware, &first, &second);
    EXPECT_EQ(first + second, "OKOK") << "update " << run + 1;
  }
  ASSERT_TRUE(device.Wait(5000));
  EXPECT_EQ(device.status(), Status::Ok) << device.error();
  EXPECT_EQ(device.UpdatesServed(), 3);
  for (int n = 1; n <= 3; ++n) EXPECT_EQ(iotest::ReadFile(dir_.File("update-" + std::to_string(n) + ".bin")), firmware);
}

TEST_F(Devsim, ProtocolViolationsEndTheRun) {
  struct Case {
    const char* name;
    size_t bodyLength;
    std::vector<std::vector<uint8_t>> writes;  // each after the previous one's answer, if any
    Status status;
    const char* message;
  };
  const std::vector<uint8_t> header(16, 0x11);
  const std::vector<Case> cases = {
      {"header differs", 4, {std::vector<uint8_t>(16, 0x12)}, Status::Violation, "header byte 0"},
      {"data before the first answer", 4, {std::vector<uint8_t>(20, 0x11)}, Status::Violation,
       "before the first answer"},
      {"body longer than expected", 4, {header, std::vector<uint8_t>(6, 0)}, Status::Violation, "unexpected"},
      {"body stops half-way", 10, {header, std::vector<uint8_t>(5, 0)}, Status::Timeout, "5 of 10"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Options o = Base();
    std::vector<uint8_t> firmware(16 + c.bodyLength, 0);
    std::fill(firmware.begin(), firmware.begin() + 16, 0x11);
    o.firmwarePath = dir_.Write("expected.fw", firmware);
    o.timeoutMs = 300;
    Device device(o);
    Launch(&device);
    Host host(device.Path());
    ASSERT_TRUE(host.Open());
    for (const auto& bytes : c.writes) {
      ASSERT_TRUE(host.Send(bytes));
      host.Receive(2, 300);
    }
    ASSERT_TRUE(device.Wait(5000));
    EXPECT_EQ(device.status(), c.status) << device.error();
    EXPECT_NE(device.error().find(c.message), std::string::npos) << device.error();
    host.Close();
  }
}

TEST_F(Devsim, WaitingLimits) {
  {
    Options o = Base();
    o.bodyLength = 0;
    o.startTimeoutMs = 100;
    Device device(o);
    Launch(&device);
    ASSERT_TRUE(device.Wait(5000));
    EXPECT_EQ(device.status(), Status::Timeout);
    EXPECT_NE(device.error().find("no header"), std::string::npos);
  }
  {
    // A host that sends no body after the answer has given up: no error.
    Options o = Base();
    o.bodyLength = 50;
    o.timeoutMs = 200;
    Device device(o);
    Launch(&device);
    Host host(device.Path());
    ASSERT_TRUE(host.Open());
    ASSERT_TRUE(host.Send(std::vector<uint8_t>(16, 1)));
    EXPECT_EQ(host.Receive(2), "OK");
    ASSERT_TRUE(device.Wait(5000));
    EXPECT_EQ(device.status(), Status::Ok) << device.error();
    EXPECT_EQ(device.Updates().at(0).ending, Ending::HostGaveUp);
  }
  {
    Options o = Base();
    o.bodyLength = 0;
    o.repeat = 0;
    Device device(o);
    Launch(&device);
    device.Stop();
    ASSERT_TRUE(device.Wait(5000));
    EXPECT_EQ(device.status(), Status::Ok);
  }
}

TEST(DevsimCommandLine, OptionsAndEscapes) {
  std::string bytes;
  ASSERT_TRUE(devsim::DecodeEscapes("O\\x4b\\0\\\\\\n", &bytes));
  EXPECT_EQ(bytes, std::string("OK\0\\\n", 5));
  EXPECT_FALSE(devsim::DecodeEscapes("\\x4", &bytes));
  EXPECT_FALSE(devsim::DecodeEscapes("\\q", &bytes));
  EXPECT_FALSE(devsim::DecodeEscapes("trailing\\", &bytes));

  const char* argv[] = {"fwu-devsim", "--body-length=10", "--answer1", "NO", "--silent2", "--extra-byte1",
                        "--delay", "250", "--stale", "4096", "--stale-byte", "0x7e", "--hang-up-after", "3",
                        "--repeat", "0", "--timeout", "900", "--output", "/tmp/x", "--link", "/tmp/l", "-q"};
  devsim::CommandLine line;
  std::string error;
  ASSERT_TRUE(devsim::ParseCommandLine(static_cast<int>(std::size(argv)), const_cast<char**>(argv), &line, &error))
      << error;
  const Options& o = line.options;
  EXPECT_EQ(o.bodyLength, 10);
  EXPECT_EQ(o.first.text, "NO");
  EXPECT_TRUE(o.first.extraByte);
  EXPECT_FALSE(o.first.silent);
  EXPECT_TRUE(o.second.silent);
  EXPECT_EQ(o.first.delayMs, 250);
  EXPECT_EQ(o.second.delayMs, 250);
  EXPECT_EQ(o.staleBytes, 4096);
  EXPECT_EQ(o.staleByte, 0x7e);
  EXPECT_EQ(o.hangUpAfter, 3);
  EXPECT_EQ(o.repeat, 0);
  EXPECT_EQ(o.timeoutMs, 900);
  EXPECT_EQ(o.outputPath, "/tmp/x");
  EXPECT_EQ(o.linkPath, "/tmp/l");
  EXPECT_TRUE(line.quiet);

  for (std::vector<const char*> bad : std::vector<std::vector<const char*>>{
           {"fwu-devsim"},
           {"fwu-devsim", "--body-length", "-1"},
           {"fwu-devsim", "--body-length", "5", "--firmware", "x"},
           {"fwu-devsim", "--body-length", "5", "--bogus"},
           {"fwu-devsim", "--body-length", "5", "--delay"},
           {"fwu-devsim", "--body-length", "5", "--silent=1"},
           {"fwu-devsim", "--body-length", "5", "--timeout", "0"},
       }) {
    devsim::CommandLine other;
    EXPECT_FALSE(devsim::ParseCommandLine(static_cast<int>(bad.size()), const_cast<char**>(bad.data()), &other, &error))
        << bad.back();
  }
}

// Runs fwu-devsim with its standard output on a pipe.
class Program {
 public:
  explicit Program(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), FWU_DEVSIM_PROGRAM);
    std::vector<char*> argv;
    for (std::string& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    if (posix_spawn(&pid_, FWU_DEVSIM_PROGRAM, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    output_ = out[0];
    fcntl(output_, F_SETFL, O_NONBLOCK);
  }
  ~Program() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (output_ >= 0) close(output_);
  }
  // The first line of standard output (the line's path).
  std::string FirstLine(int timeoutMs = 5000) {
    iotest::WaitFor([&] {
      char chunk[256];
      const ssize_t n = read(output_, chunk, sizeof chunk);
      if (n > 0) text_.append(chunk, static_cast<size_t>(n));
      return text_.find('\n') != std::string::npos;
    }, timeoutMs);
    const size_t end = text_.find('\n');
    return end == std::string::npos ? "" : text_.substr(0, end);
  }
  std::string Output(int timeoutMs = 2000) {
    iotest::WaitFor([&] {
      char chunk[4096];
      const ssize_t n = read(output_, chunk, sizeof chunk);
      if (n > 0) text_.append(chunk, static_cast<size_t>(n));
      return n == 0;
    }, timeoutMs);
    return text_;
  }
  // Exit status, or -1 when the program has not ended within `timeoutMs`.
  int Exit(int timeoutMs = 10000) {
    int status = -1;
    const bool ended = iotest::WaitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, timeoutMs);
    if (!ended) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  bool started() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
  int output_ = -1;
  std::string text_;
};

TEST_F(Devsim, TheProgramServesAnUpdateThroughItsLink) {
  Options o;
  const std::vector<uint8_t> firmware = Firmware(16 + 700, &o);
  const std::string link = dir_.File("ttyUSB0");
  const std::string received = dir_.File("received.bin");
  Program program({"--firmware", o.firmwarePath, "--link", link, "--output", received, "--quiet",
                   "--start-timeout", "10000", "--linger", "100"});
  ASSERT_TRUE(program.started());
  const std::string path = program.FirstLine();
  ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
  char target[256] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(path, target);

  Host host(link);
  ASSERT_TRUE(host.Open());
  std::string first, second;
  Update(&host, firmware, &first, &second);
  EXPECT_EQ(first + second, "OKOK");
  host.Close();
  EXPECT_EQ(program.Exit(), 0);
  EXPECT_EQ(iotest::ReadFile(received), firmware);
  struct stat info;
  EXPECT_NE(lstat(link.c_str(), &info), 0) << "the link outlived the program";
}

TEST_F(Devsim, TheProgramsExitStatus) {
  {
    Program help({"--help"});
    EXPECT_NE(help.Output().find("--hang-up-after"), std::string::npos);
    EXPECT_EQ(help.Exit(), 0);
  }
  {
    Program bad({"--no-such-option"});
    EXPECT_EQ(bad.Exit(), 64);
  }
  {
    Options o;
    Firmware(16 + 4, &o);
    Program violated({"--firmware", o.firmwarePath, "--quiet", "--start-timeout", "10000"});
    const std::string path = violated.FirstLine();
    ASSERT_FALSE(path.empty());
    Host host(path);
    ASSERT_TRUE(host.Open());
    ASSERT_TRUE(host.Send(std::vector<uint8_t>(16, 0xEE)));
    EXPECT_EQ(violated.Exit(), 1);
  }
  {
    Program late({"--body-length", "0", "--quiet", "--start-timeout", "100"});
    EXPECT_EQ(late.Exit(), 2);
  }
}

}  // namespace
