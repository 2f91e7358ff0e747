// Entry of the Linux program: the window without arguments, a scripted
// update (or a port list) with them.
#include "command_line.h"
#include "io/serial.h"
#include "libraries.h"
#include "updater.h"

int main(int argc, char** argv) {
  // Ports that exist but do not open are reported on standard error under this name.
  rt::SerialSetDiagnosticPrefix("fwupdater");
  size_t count = 0;
  if (argc > 1) {
    const rt::RuntimeLibrary* libraries = app::ConsoleLibraries(&count);
    return rt::RuntimeMain(argc, argv, libraries, count, app::CommandLineBody);
  }
  const rt::RuntimeLibrary* libraries = app::RuntimeLibraries(&count);
  return rt::RuntimeMain(argc, argv, libraries, count, app::ProgramBody);
}
