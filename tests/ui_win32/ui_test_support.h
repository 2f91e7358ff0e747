// Shared by the Win32 user-interface tests: the libraries started once, a
// runtime window per test, and pumping the event wait until a condition
// holds (never a fixed sleep).
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "core/types.h"

namespace ui_test {

using namespace std::chrono_literals;

// The events, window and gadget libraries, on the thread that runs the tests.
void StartUserInterface();

struct Event {
  int32_t kind;
  int64_t object;
  int64_t window;
  int64_t type;
};

// Every event the wait returns while the pending messages are handled.
std::vector<Event> Drain();
// Waits (in slices of the event wait) until done() or the limit has passed,
// keeping the events seen on the way in *seen when given.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s,
               std::vector<Event>* seen = nullptr);
size_t Count(const std::vector<Event>& events, int32_t kind, int64_t object = -1, int64_t type = -1);

std::u16string GadgetText(rt::ObjectNumber gadget);
rt::RtString Rt(const char16_t* text);

// A runtime window for one test: 400 x 200, the program's flags, active;
// freed at the end of the test.
class WindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { StartUserInterface(); }
  void SetUp() override;
  void TearDown() override;

  int64_t window_ = 0;  // its number (a DynamicNumber handle)
  HWND handle_ = nullptr;
};

}  // namespace ui_test
