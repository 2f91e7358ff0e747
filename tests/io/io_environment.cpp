// The serial and file libraries run for the whole test program, as in the
// application; diagnostics are off unless a test captures them.
#include <gtest/gtest.h>

#include "io/file.h"
#include "io/serial.h"

namespace {

class IoEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    rt::FileLibraryStart();
    rt::SerialLibraryStart();
    rt::SerialSetDiagnosticStream(nullptr);
    rt::SerialSetDiagnosticPrefix("fwupdater");  // as the program names itself
  }
  void TearDown() override {
    rt::SerialLibraryEnd();
    rt::FileLibraryEnd();
  }
};

[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new IoEnvironment);

}  // namespace
