#include "qt_test_support.h"

#include <gtest/gtest.h>

#include "qt/qt_base.h"
#include "qt/wait_window_event.h"
#include "qt/windows.h"

namespace qtw {
namespace {

// The runtime's user-interface libraries, started once per test program the
// way the program's start-up list starts them.
class QtRuntime : public ::testing::Environment {
 public:
  void SetUp() override {
    rt::ApplicationStart();
    rt::EventQueueStart();
    rt::WindowLibraryStart();
  }
  void TearDown() override { rt::WindowLibraryEnd(); }
};

[[maybe_unused]] ::testing::Environment* const environment = ::testing::AddGlobalTestEnvironment(new QtRuntime);

}  // namespace
}  // namespace qtw
