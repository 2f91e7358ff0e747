// Command line of fwu-devsim.
#pragma once

#include <string>

#include "device.h"

namespace devsim {

struct CommandLine {
  Options options;
  bool help = false;
  bool quiet = false;
};

// False with a message for an unknown option or a bad value.
bool ParseCommandLine(int argc, char** argv, CommandLine* commandLine, std::string* error);

// Answer text with C-style escapes (\\, \n, \r, \t, \0, \xHH) turned into bytes.
bool DecodeEscapes(const std::string& text, std::string* bytes);

const char* HelpText();

}  // namespace devsim
