// The test device as a program, for the black-box test and the demonstration:
//   fwu-testdevice --body N [--first ANSWER] [--second ANSWER] [--received FILE]
// Prints the path of its line (a pseudo-terminal) and runs until it is
// stopped (SIGTERM or SIGINT); then writes everything it received to FILE.
#include <poll.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "test_device.h"

namespace {

volatile sig_atomic_t stopRequested = 0;

void OnStop(int) { stopRequested = 1; }

}  // namespace

int main(int argc, char** argv) {
  apptest::DeviceBehaviour behaviour;
  std::string receivedPath;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i], value = argv[i + 1];
    if (option == "--body") {
      behaviour.bodyLength = std::atoll(value.c_str());
    } else if (option == "--first") {
      behaviour.firstAnswer = value;
    } else if (option == "--second") {
      behaviour.secondAnswer = value;
    } else if (option == "--received") {
      receivedPath = value;
    } else {
      std::fprintf(stderr, "%s: unknown option %s\n", argv[0], option.c_str());
      return 2;
    }
  }
  if (argc % 2 == 0) {
    std::fprintf(stderr, "usage: %s --body N [--first ANSWER] [--second ANSWER] [--received FILE]\n", argv[0]);
    return 2;
  }
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnStop;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);

  apptest::TestDevice device(behaviour);
  if (!device.ok()) {
    std::fprintf(stderr, "%s: cannot make a pseudo-terminal\n", argv[0]);
    return 1;
  }
  std::printf("%s\n", device.path().c_str());
  std::fflush(stdout);
  while (!stopRequested) poll(nullptr, 0, 50);
  if (!receivedPath.empty()) {
    const std::vector<uint8_t> received = device.Received();
    std::ofstream(receivedPath, std::ios::binary)
        .write(reinterpret_cast<const char*>(received.data()), std::streamsize(received.size()));
  }
  return 0;
}
