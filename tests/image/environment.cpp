#include "image_test_support.h"

namespace {
// gtest owns the environment once it is added.
[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new rt::test::ImageEnvironment);
}  // namespace
