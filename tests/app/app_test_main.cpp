// The tests run as the program's body: the runtime starts its libraries in
// the program's own order, the tests run on the user-interface thread, and
// the libraries end afterwards.
#include <gtest/gtest.h>

#include <cstdlib>

#include "core/runtime_main.h"
#include "libraries.h"

namespace {

int testResult = 1;

void RunTests() { testResult = RUN_ALL_TESTS(); }

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // Listing the tests (at build time) needs no user interface.
  if (testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  size_t count = 0;
  const rt::RuntimeLibrary* libraries = app::RuntimeLibraries(&count);
  rt::RuntimeMain(argc, argv, libraries, count, RunTests);
  return testResult;
}
