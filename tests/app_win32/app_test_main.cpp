// The tests run as the program's body: the runtime starts its libraries in
// the program's own order, the tests run on the user-interface thread, and
// the libraries end afterwards. The Windows frame ends the process itself,
// so the result travels as the exit code.
#include <gtest/gtest.h>

#include "core/runtime_main.h"
#include "libraries.h"

namespace {

void RunTests() { rt::RuntimeSetExitCode(RUN_ALL_TESTS()); }

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  size_t count = 0;
  const rt::RuntimeLibrary* libraries = app::RuntimeLibraries(&count);
  return rt::RuntimeMain(argc, argv, libraries, count, RunTests);
}
