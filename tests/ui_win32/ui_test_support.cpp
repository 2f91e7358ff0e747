#include "ui_test_support.h"

#include <thread>

#include "core/workspace.h"
#include "win32/events.h"
#include "win32/gadget.h"
#include "win32/windows.h"

namespace ui_test {

void StartUserInterface() {
  static const bool started = [] {
    rt::WorkspaceEnsure();
    rt::EventQueueStart();
    rt::WindowLibraryStart();
    rt::GadgetLibraryStart();
    return true;
  }();
  (void)started;
}

namespace {

void Keep(std::vector<Event>* seen) {
  if (seen && rt::CurrentEventKind() != 0) {
    seen->push_back(Event{rt::CurrentEventKind(), rt::CurrentEventGadget(), rt::CurrentEventWindow(),
                          rt::CurrentEventType()});
  }
}

}  // namespace

std::vector<Event> Drain() {
  std::vector<Event> seen;
  // A result of 0 from a poll means nothing was left: no message, no event.
  while (rt::WindowEventWait(0) != 0 || rt::CurrentEventKind() != 0) Keep(&seen);
  return seen;
}

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit, std::vector<Event>* seen) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    rt::WindowEventWait(10);
    Keep(seen);
  }
  return true;
}

size_t Count(const std::vector<Event>& events, int32_t kind, int64_t object, int64_t type) {
  size_t count = 0;
  for (const Event& event : events) {
    if (event.kind == kind && (object == -1 || event.object == object) && (type == -1 || event.type == type)) ++count;
  }
  return count;
}

std::u16string GadgetText(rt::ObjectNumber gadget) {
  const int64_t saved = rt::WorkspacePosition();
  rt::GadgetGetText(gadget, saved);
  std::u16string text(rt::WorkspaceString(saved));
  rt::WorkspaceRestore(saved);
  return text;
}

rt::RtString Rt(const char16_t* text) { return text; }

void WindowTest::SetUp() {
  window_ = static_cast<int64_t>(rt::WindowOpen(rt::DynamicNumber, 0, 0, 400, 200, u"Test window", 0x00C80001));
  ASSERT_NE(window_, 0);
  handle_ = rt::WindowHandle(window_);
  ASSERT_NE(handle_, nullptr);
  SetForegroundWindow(handle_);
  SetActiveWindow(handle_);
  ASSERT_TRUE(PumpUntil([this] { return GetActiveWindow() == handle_; }));
  Drain();
}

void WindowTest::TearDown() {
  rt::WindowFree(window_);
  Drain();
}

}  // namespace ui_test
