// Gadget calls from a worker thread, as the update worker makes them: each
// runs on the user-interface thread while that thread waits, in the order
// issued, and a read returns the gadget's current value. A close request
// stays deliverable while they stream in.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "core/workspace.h"
#include "ui_test_support.h"
#include "watchdog.h"
#include "win32/event_kind.h"
#include "win32/events.h"
#include "win32/gadget.h"
#include "win32/windows.h"

namespace {

using fwu_test::Watchdog;
using ui_test::GadgetText;
namespace EventKind = rt::EventKind;
using namespace std::chrono_literals;

constexpr int64_t kWorkerDone = 4242;  // a timer event the worker posts at its end

class GadgetThreadTest : public ui_test::WindowTest {
 protected:
  // Runs the user-interface thread's loop until the worker says it is done.
  void WaitForWorker() {
    for (;;) {
      if (rt::WindowEventWait(-1) == EventKind::Timer && rt::CurrentEventGadget() == kWorkerDone) return;
    }
  }
};

TEST_F(GadgetThreadTest, CallsArriveInOrderAndReadsAreCurrent) {
  Watchdog watchdog(60s, "gadget calls from a worker");
  const auto field = static_cast<int64_t>(rt::StringGadget(rt::DynamicNumber, 90, 70, 200, 20, u"trx.fw", 0));
  const auto bar = static_cast<int64_t>(rt::ProgressBarGadget(rt::DynamicNumber, 10, 110, 380, 30, 0, 100, 0));
  const auto button = static_cast<int64_t>(rt::ButtonGadget(rt::DynamicNumber, 140, 160, 140, 30, u"UPDATE!", 0));
  const DWORD uiThread = GetCurrentThreadId();
  std::atomic<int> mismatches{0};
  std::atomic<bool> ranOnUiThread{true};
  std::thread worker([&] {
    rt::WorkspaceEnsure();
    if (GadgetText(field) != u"trx.fw") ++mismatches;
    rt::GadgetDisable(button, 1);
    if (IsWindowEnabled(rt::GadgetHandle(button))) ++mismatches;
    for (int round = 0; round < 20; ++round) {
      const std::u16string text = u"file" + std::u16string(1, static_cast<char16_t>(u'a' + round)) + u".fw";
      rt::GadgetSetText(field, text.c_str());
      if (GadgetText(field) != text) ++mismatches;
    }
    for (int64_t value = 0; value <= 100; ++value) {
      rt::GadgetSetState(bar, value);
      if (rt::GadgetGetState(bar) != value) ++mismatches;
    }
    rt::GadgetDisable(button, 0);
    if (!IsWindowEnabled(rt::GadgetHandle(button))) ++mismatches;
    // Whatever runs for the worker runs on the user-interface thread.
    const HWND made = rt::GadgetHandle(rt::ImageGadget(rt::DynamicNumber, 0, 0, 10, 10, 0, 0));
    if (!made || GetWindowThreadProcessId(made, nullptr) != uiThread) ranOnUiThread = false;
    rt::EventPost(EventKind::Timer, kWorkerDone, window_, 0);
  });
  WaitForWorker();
  worker.join();
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_TRUE(ranOnUiThread.load());
  EXPECT_EQ(GadgetText(field), u"filet.fw");
  EXPECT_EQ(rt::GadgetGetState(bar), 100);
}

TEST_F(GadgetThreadTest, CloseRequestGetsThroughWhileAWorkerSetsTheBar) {
  Watchdog watchdog(60s, "a close request during gadget calls");
  const auto bar = static_cast<int64_t>(rt::ProgressBarGadget(rt::DynamicNumber, 10, 110, 380, 30, 0, 100, 0));
  std::atomic<bool> stop{false};
  std::thread worker([&] {
    // The program's own changes suspend posting; that must never swallow
    // what the user does meanwhile.
    for (int64_t value = 0; !stop.load(); value = (value + 1) % 101) rt::GadgetSetState(bar, value);
    rt::EventPost(EventKind::Timer, kWorkerDone, window_, 0);
  });
  PostMessageW(handle_, WM_SYSCOMMAND, SC_CLOSE, 0);
  bool closed = false;
  while (!closed) {
    closed = rt::WindowEventWait(-1) == EventKind::CloseRequest;
  }
  stop = true;
  WaitForWorker();
  worker.join();
  EXPECT_TRUE(IsWindow(handle_));
}

}  // namespace
