// Entry of the Linux program.
#include "io/serial.h"
#include "libraries.h"
#include "updater.h"

int main(int argc, char** argv) {
  // Ports that exist but do not open are reported on standard error under this name.
  rt::SerialSetDiagnosticPrefix("fwupdater");
  size_t count = 0;
  const rt::RuntimeLibrary* libraries = app::RuntimeLibraries(&count);
  return rt::RuntimeMain(argc, argv, libraries, count, app::ProgramBody);
}
