#include "command_line.h"

#include <atomic>
#include <cstdio>
#include <string>

#include "core/runtime_main.h"
#include "core/utf.h"
#include "io/console.h"
#include "platform.h"
#include "runtime_api.h"
#include "update_front.h"
#include "updater.h"

namespace app {

namespace {

constexpr rt::ObjectNumber Fixed = 0;  // the port the scan probes

std::u16string FromUtf8(const std::string& text) {
  const int64_t units = rt::Utf8ToUtf16(rt::CodePageUtf8, text.data(), int64_t(text.size()), nullptr, 0);
  std::u16string out(size_t(units > 0 ? units : 0), u'\0');
  if (units > 0) rt::Utf8ToUtf16(rt::CodePageUtf8, text.data(), int64_t(text.size()), out.data(), units);
  return out;
}

std::string ToUtf8(rt::RtString text) {
  char* converted = rt::ToUtf8(text);
  std::string out(converted);
  rt::FreeUtf8(converted);
  return out;
}

// Set from a signal handler or the system's console thread: only a flag.
std::atomic<bool> interruptRequested{false};
void OnInterrupt() { interruptRequested.store(true); }

// Progress on standard error: a bar redrawn in place on a terminal, a line
// every 10 % for a log or a pipe, so a script's log stays readable.
class ProgressDisplay {
 public:
  explicit ProgressDisplay(FILE* stream) : stream_(stream), redraw_(rt::ConsoleIsTerminal(stream)) {}

  void Show(int64_t percent) {
    if (percent == last_) return;
    last_ = percent;
    if (redraw_) {
      constexpr int Width = 40;
      char bar[Width + 1];
      const int filled = int(percent * Width / 100);
      for (int i = 0; i < Width; ++i) bar[i] = i < filled ? '#' : '.';
      bar[Width] = '\0';
      std::fprintf(stream_, "\r[%s] %3d %%", bar, int(percent));
      std::fflush(stream_);
      drawn_ = true;
    } else if (percent / 10 > lastTenth_) {
      lastTenth_ = percent / 10;
      std::fprintf(stream_, "progress: %d %%\n", int(lastTenth_ * 10));
      std::fflush(stream_);
    }
  }

  // Ends the redrawn line, so what follows starts on a line of its own.
  void Finish() {
    if (drawn_) std::fputc('\n', stream_);
    drawn_ = false;
    std::fflush(stream_);
  }

 private:
  FILE* stream_;
  bool redraw_;
  bool drawn_ = false;
  int64_t last_ = -1;
  int64_t lastTenth_ = 0;
};

class ConsoleFront : public UpdateFront {
 public:
  ConsoleFront(const CommandLine& line) : port_(FromUtf8(line.port)), file_(FromUtf8(line.file)), progress_(stderr) {}

  int32_t code() const { return code_; }

  void Begin() override {}
  void FirmwarePath(int64_t offset) override { Write(file_, offset); }
  void PortName(int64_t offset) override { Write(port_, offset); }
  void Progress(int64_t percent) override { progress_.Show(percent); }
  bool Interrupted() override { return interruptRequested.load(); }

  void Report(int32_t code) override {
    code_ = code;
    progress_.Finish();
    if (code == UpdateInterrupted) {
      std::printf("Interrupted: the update did not finish; the device may need the update again.\n");
    } else {
      const ResultMessage message = ResultMessageOf(code);
      std::string text = ToUtf8(message.text);
      if (code == PortNotOpened) text += ToUtf8(port_.c_str());
      std::printf("%s: %s\n", ToUtf8(message.title).c_str(), text.c_str());
    }
    std::fflush(stdout);
  }

 private:
  static void Write(const std::u16string& text, int64_t offset) {
    rt::ReturnString(text.c_str(), offset);
    rt::WorkspaceTerminate();
  }

  std::u16string port_;
  std::u16string file_;
  ProgressDisplay progress_;
  int32_t code_ = 0;
};

int RunOneUpdate(const CommandLine& line) {
  AllocateBuffers();
  ConsoleFront front(line);
  interruptRequested.store(false);
  rt::ConsoleOnInterrupt(OnInterrupt);
  RunUpdate(front);
  rt::ConsoleOnInterrupt(nullptr);
  return front.code() == UpdateInterrupted ? ExitInterrupted : front.code();
}

// The same probe as the window's scan; one name a line.
int ListPorts() {
  rt::WorkspaceEnsure();
  for (int64_t index = 0; index < PortCount; ++index) {
    const int64_t saved = rt::WorkspacePosition();
    rt::WorkspaceAppend(platform::PortPrefix);
    rt::ReturnNumber(index, rt::WorkspacePosition());
    rt::WorkspaceTerminate();
    if (rt::SerialOpen(Fixed, rt::WorkspaceString(saved), ScanBaud, 0, 8, 1.0f, 0, ScanBuffer, ScanBuffer)) {
      rt::SerialClose(Fixed);
      std::printf("%s\n", ToUtf8(rt::WorkspaceString(saved)).c_str());
    }
    rt::WorkspaceRestore(saved);
  }
  std::fflush(stdout);
  return 0;
}

int Run(const CommandLine& line) {
  switch (line.action) {
    case CommandLine::Action::Update:
      return RunOneUpdate(line);
    case CommandLine::Action::List:
      return ListPorts();
    case CommandLine::Action::Help:
      std::fputs(UsageText().c_str(), stdout);
      return 0;
    case CommandLine::Action::Version:
      std::printf("%s %s\n", platform::ProgramName, platform::ProgramVersion);
      return 0;
    case CommandLine::Action::Window:
    case CommandLine::Action::Usage:
      break;
  }
  std::fprintf(stderr, "%s: %s\n%s", platform::ProgramName, line.error.c_str(), UsageText().c_str());
  return ExitUsage;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  CommandLine line;
  if (arguments.empty()) return line;
  auto usage = [&line](const std::string& error) {
    line.action = CommandLine::Action::Usage;
    line.error = error;
    return line;
  };
  bool list = false, help = false, version = false, havePort = false, haveFile = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    std::string option = arguments[i];
    std::string value;
    bool inlineValue = false;
    const size_t equals = option.find('=');
    if (option.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = option.substr(equals + 1);
      option.resize(equals);
      inlineValue = true;
    }
    if (option == "--port" || option == "--file") {
      if (!inlineValue) {
        if (i + 1 == arguments.size()) return usage(option + " needs a value");
        value = arguments[++i];
      }
      if (value.empty()) return usage(option + " needs a value");
      bool& seen = option == "--port" ? havePort : haveFile;
      if (seen) return usage(option + " is given twice");
      seen = true;
      (option == "--port" ? line.port : line.file) = value;
    } else if (inlineValue) {
      return usage(option + " takes no value");
    } else if (option == "--list") {
      list = true;
    } else if (option == "--help" || option == "-h") {
      help = true;
    } else if (option == "--version") {
      version = true;
    } else {
      return usage("unknown option '" + arguments[i] + "'");
    }
  }
  if (help) {
    line.action = CommandLine::Action::Help;
  } else if (version) {
    line.action = CommandLine::Action::Version;
  } else if (list) {
    if (havePort || haveFile) return usage("--list takes no --port or --file");
    line.action = CommandLine::Action::List;
  } else if (havePort && haveFile) {
    line.action = CommandLine::Action::Update;
  } else {
    return usage(havePort ? "--port needs --file" : "--file needs --port");
  }
  return line;
}

std::string UsageText() {
  const std::string name = platform::ProgramName;
  return "usage: " + name + "                                 open the window\n" +
         "       " + name + " --port PORT --file FIRMWARE    update the device on PORT\n" +
         "       " + name + " --list                         list the serial ports that open\n" +
         "       " + name + " --help | --version\n" +
         "exit status: 0 updated, 1 firmware missing, 2 port not opened, 3 device does not respond,\n" +
         "             4 header refused, 5 firmware refused, 64 usage error, 130 interrupted\n";
}

void CommandLineBody() {
  std::vector<std::string> arguments;
  char** argv = rt::RuntimeArguments();
  for (int i = 1; i < rt::RuntimeArgumentCount(); ++i) arguments.emplace_back(argv[i] ? argv[i] : "");
  rt::RuntimeSetExitCode(Run(ParseCommandLine(arguments)));
}

}  // namespace app
