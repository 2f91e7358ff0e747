// Scripted updates: the same update as the window's, driven from the
// command line, with the outcome as one line on standard output, progress
// on standard error, and the ResultCode as the exit status.
//
//   PROGRAM --port PORT --file FIRMWARE   one update
//   PROGRAM --list                        the ports the scan finds
//   PROGRAM --help | --version
#pragma once

#include <string>
#include <vector>

namespace app {

// Exit statuses beside the ResultCodes 0 to 5.
constexpr int ExitUsage = 64;        // a command line that cannot be followed
constexpr int ExitInterrupted = 130;  // Ctrl+C during an update

struct CommandLine {
  enum class Action { Window, Update, List, Help, Version, Usage };
  Action action = Action::Window;
  std::string port;
  std::string file;
  std::string error;  // for Usage: what was wrong
};

// No arguments at all means the window; anything else is a command line.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// The usage text, ending in a newline.
std::string UsageText();

// The body a command-line run executes between the runtime's start-up and
// shut-down (only the console libraries are started: no display is needed).
// It sets the process's exit status.
void CommandLineBody();

}  // namespace app
