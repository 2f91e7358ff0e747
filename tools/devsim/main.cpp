// fwu-devsim: a simulated device for the firmware updater (see --help).
#include <signal.h>

#include <cstdio>

#include "cli.h"
#include "device.h"

namespace {

devsim::Device* g_device = nullptr;

void OnSignal(int) {
  if (g_device) g_device->Stop();
}

}  // namespace

int main(int argc, char** argv) {
  devsim::CommandLine commandLine;
  std::string error;
  if (!devsim::ParseCommandLine(argc, argv, &commandLine, &error)) {
    fprintf(stderr, "fwu-devsim: %s\nTry 'fwu-devsim --help'.\n", error.c_str());
    return 64;
  }
  if (commandLine.help) {
    fputs(devsim::HelpText(), stdout);
    return 0;
  }
  if (!commandLine.quiet) {
    commandLine.options.log = [](const std::string& line) { fprintf(stderr, "fwu-devsim: %s\n", line.c_str()); };
  }

  devsim::Device device(commandLine.options);
  if (!device.Open(&error)) {
    fprintf(stderr, "fwu-devsim: %s\n", error.c_str());
    return 3;
  }
  g_device = &device;
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  printf("%s\n", device.Path().c_str());
  fflush(stdout);

  const devsim::Status status = device.Run();
  g_device = nullptr;
  if (status != devsim::Status::Ok) fprintf(stderr, "fwu-devsim: %s\n", device.error().c_str());
  return static_cast<int>(status);
}
