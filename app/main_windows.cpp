// Entry of the Windows program: the window without arguments, a scripted
// update (or a port list) with them. It is linked for the GUI subsystem, so
// no console opens for the window; mingw-w64's start-up code calls main
// there as well.
#include "command_line.h"
#include "io/console.h"
#include "io/serial.h"
#include "libraries.h"
#include "updater.h"

int main(int argc, char** argv) {
  // Ports that exist but do not open are reported on standard error under
  // this name (which a GUI program has only when it was given one).
  rt::SerialSetDiagnosticPrefix("fwupdater-win");
  size_t count = 0;
  if (argc > 1) {
    // Started from a shell: answer on the shell's console.
    rt::ConsoleAttachParent();
    const rt::RuntimeLibrary* libraries = app::ConsoleLibraries(&count);
    return rt::RuntimeMain(argc, argv, libraries, count, app::CommandLineBody);
  }
  const rt::RuntimeLibrary* libraries = app::RuntimeLibraries(&count);
  // On Windows the frame ends the process itself with the exit code.
  return rt::RuntimeMain(argc, argv, libraries, count, app::ProgramBody);
}
