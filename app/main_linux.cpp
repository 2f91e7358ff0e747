// Entry of the Linux program.
#include "libraries.h"
#include "updater.h"

int main(int argc, char** argv) {
  size_t count = 0;
  const rt::RuntimeLibrary* libraries = app::RuntimeLibraries(&count);
  return rt::RuntimeMain(argc, argv, libraries, count, app::ProgramBody);
}
