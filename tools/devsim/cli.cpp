#include "cli.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace devsim {

namespace {

bool ParseInteger(const std::string& text, int64_t low, int64_t high, int64_t* value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long long parsed = strtoll(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || parsed < low || parsed > high) return false;
  *value = parsed;
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool DecodeEscapes(const std::string& text, std::string* bytes) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (++i == text.size()) return false;
    switch (text[i]) {
      case '\\': out += '\\'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case '0': out += '\0'; break;
      case 'x': {
        const int high = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
        const int low = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
        if (high < 0 || low < 0) return false;
        out += static_cast<char>(high * 16 + low);
        i += 2;
        break;
      }
      default: return false;
    }
  }
  *bytes = out;
  return true;
}

bool ParseCommandLine(int argc, char** argv, CommandLine* commandLine, std::string* error) {
  Options& o = commandLine->options;
  auto bad = [&](const std::string& message) {
    *error = message;
    return false;
  };
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    bool hasValue = false;
    if (arg.rfind("--", 0) == 0) {
      const size_t equals = arg.find('=');
      if (equals != std::string::npos) {
        value = arg.substr(equals + 1);
        arg.resize(equals);
        hasValue = true;
      }
    }
    auto take = [&](std::string* out) {
      if (hasValue) {
        *out = value;
        return true;
      }
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    auto number = [&](int64_t low, int64_t high, int64_t* out) {
      std::string text;
      if (!take(&text)) return bad(arg + " needs a value");
      if (!ParseInteger(text, low, high, out)) return bad("bad value for " + arg + ": " + text);
      return true;
    };
    auto milliseconds = [&](int* out) {
      int64_t v;
      if (!number(0, 3600000, &v)) return false;
      *out = static_cast<int>(v);
      return true;
    };
    auto answerText = [&](Answer* answer) {
      std::string text;
      if (!take(&text)) return bad(arg + " needs a value");
      if (!DecodeEscapes(text, &answer->text)) return bad("bad escape in " + arg + ": " + text);
      answer->silent = false;
      return true;
    };
    auto noValue = [&] {
      if (hasValue) return bad(arg + " takes no value");
      return true;
    };
    int64_t v = 0;

    if (arg == "-h" || arg == "--help") {
      commandLine->help = true;
    } else if (arg == "-q" || arg == "--quiet") {
      commandLine->quiet = true;
    } else if (arg == "--firmware") {
      if (!take(&o.firmwarePath)) return bad(arg + " needs a file");
    } else if (arg == "--body-length") {
      if (!number(0, INT64_MAX / 2, &o.bodyLength)) return false;
    } else if (arg == "--answer") {
      if (!answerText(&o.first)) return false;
      o.second.text = o.first.text;
      o.second.silent = false;
    } else if (arg == "--answer1") {
      if (!answerText(&o.first)) return false;
    } else if (arg == "--answer2") {
      if (!answerText(&o.second)) return false;
    } else if (arg == "--silent") {
      if (!noValue()) return false;
      o.first.silent = o.second.silent = true;
    } else if (arg == "--silent1") {
      if (!noValue()) return false;
      o.first.silent = true;
    } else if (arg == "--silent2") {
      if (!noValue()) return false;
      o.second.silent = true;
    } else if (arg == "--extra-byte") {
      if (!noValue()) return false;
      o.first.extraByte = o.second.extraByte = true;
    } else if (arg == "--extra-byte1") {
      if (!noValue()) return false;
      o.first.extraByte = true;
    } else if (arg == "--extra-byte2") {
      if (!noValue()) return false;
      o.second.extraByte = true;
    } else if (arg == "--delay") {
      if (!milliseconds(&o.first.delayMs)) return false;
      o.second.delayMs = o.first.delayMs;
    } else if (arg == "--delay1") {
      if (!milliseconds(&o.first.delayMs)) return false;
    } else if (arg == "--delay2") {
      if (!milliseconds(&o.second.delayMs)) return false;
    } else if (arg == "--after-taken2") {
      if (!noValue()) return false;
      o.second.afterTaken = true;
    } else if (arg == "--stale") {
      if (!number(0, 1 << 24, &o.staleBytes)) return false;
    } else if (arg == "--stale-byte") {
      if (!number(0, 255, &v)) return false;
      o.staleByte = static_cast<uint8_t>(v);
    } else if (arg == "--hang-up-after") {
      if (!number(0, INT64_MAX / 2, &o.hangUpAfter)) return false;
    } else if (arg == "--repeat") {
      if (!number(0, 1000000, &v)) return false;
      o.repeat = static_cast<int>(v);
    } else if (arg == "--timeout") {
      if (!milliseconds(&o.timeoutMs)) return false;
      if (o.timeoutMs == 0) return bad("--timeout must be above 0");
    } else if (arg == "--start-timeout") {
      if (!milliseconds(&o.startTimeoutMs)) return false;
    } else if (arg == "--linger") {
      if (!milliseconds(&o.lingerMs)) return false;
    } else if (arg == "--tty") {
      if (!take(&o.ttyPath)) return bad(arg + " needs a terminal");
    } else if (arg == "--baud") {
      if (!number(1, 4000000, &v)) return false;
      o.baud = static_cast<int>(v);
    } else if (arg == "--link") {
      if (!take(&o.linkPath)) return bad(arg + " needs a path");
    } else if (arg == "--output") {
      if (!take(&o.outputPath)) return bad(arg + " needs a file");
    } else {
      return bad("unknown option " + std::string(argv[i]));
    }
  }
  if (commandLine->help) return true;
  if (o.firmwarePath.empty() && o.bodyLength < 0) return bad("give --firmware FILE or --body-length N");
  if (!o.firmwarePath.empty() && o.bodyLength >= 0) return bad("give --firmware or --body-length, not both");
  return true;
}

const char* HelpText() {
  return R"(Usage: fwu-devsim (--firmware FILE | --body-length N) [options]

Plays the device end of the firmware update over a pseudo-terminal, so the
updater can run a real update without hardware. The line's path is printed
on standard output as one line; point the updater at it (or use --link).
For each update the device
  1. receives the 16-byte header and answers "OK",
  2. receives the body (its length: --body-length, or the firmware's size
     less 16; a firmware shorter than 16 bytes means a header only),
  3. answers "OK" again.
The device keeps its own end of the line open, so the line stays up while
the updater's port scan opens and closes it.

What to expect:
  --firmware FILE       the firmware the host will send; every header and
                        body byte is checked against it
  --body-length N       body bytes to expect, without checking them
  --repeat N            serve N updates in a row (default 1; 0 = until
                        stopped by SIGINT or SIGTERM)

Misbehaviour (1 = the answer after the header, 2 = after the body):
  --answer TEXT, --answer1 TEXT, --answer2 TEXT
                        answer with TEXT instead of "OK" (e.g. ok, NO);
                        escapes \\ \n \r \t \0 \xHH give any bytes. After a
                        first answer other than "OK" no body is expected.
  --silent, --silent1, --silent2
                        never answer
  --extra-byte, --extra-byte1, --extra-byte2
                        send one more byte ('!') right after the answer
  --delay MS, --delay1 MS, --delay2 MS
                        answer this late
  --after-taken2        send the second answer only once the host has read
                        the first (for a firmware with no body)
  --stale N             N bytes of chatter waiting for the host before the
                        header: written at start and again each time the host
                        opens the line (its open flushes its input), until
                        the header begins. A pseudo-terminal holds about
                        20 KiB, and one FIONREAD reports at most 4095 bytes.
  --stale-byte B        the chatter's byte value (default 0x55)
  --hang-up-after K     close the line after K body bytes, as if unplugged;
                        the run then ends

Line:
  --tty PATH            use this terminal instead of a new pseudo-terminal
  --baud N              its speed (default 57600)
  --link PATH           also make PATH a symbolic link to the line (removed
                        at the end; an existing symbolic link is replaced)

Results and limits:
  --output FILE         after each update write everything received (header
                        and body) to FILE; "%u" in FILE becomes the update's
                        number, counted from 1
  --timeout MS          longest pause inside an exchange (default 5000)
  --start-timeout MS    longest wait for a header to begin (default 0: wait
                        for ever)
  --linger MS           after the last update, bytes arriving within MS are
                        a violation (default 200)
  -q, --quiet           no progress lines on standard error
  -h, --help            this text

A host that sends no body after the first answer has given up on its side;
that ends the update without an error. A hang-up on purpose ends the run.

Exit status: 0 all updates served; 1 protocol violation (a header or body
byte that differs from the firmware, bytes before an answer or after the
body or the last answer); 2 time-out (header or body stopped half-way, no
header within --start-timeout, answer not taken); 3 system error;
64 bad command line.
)";
}

}  // namespace devsim
