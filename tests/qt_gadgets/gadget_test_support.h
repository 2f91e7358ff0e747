// Shared helpers of the gadget, requester and cross-thread tests.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/types.h"

class QFileDialog;
class QString;
class QWidget;

namespace gt {

struct Event {
  int32_t kind;
  int64_t object;
  int64_t window;
  int64_t type;
  bool operator==(const Event& other) const {
    return kind == other.kind && object == other.object && window == other.window && type == other.type;
  }
};
void PrintTo(const Event& event, std::ostream* out);

// Takes every queued runtime event.
std::vector<Event> TakeAll();
// Takes every queued event and keeps the gadget events (windows post their
// own redraws, clicks and moves beside them).
std::vector<Event> GadgetEvents();

// Lets Qt deliver what is pending without taking runtime events.
void Settle();

// Runs Qt until `done` holds; false when `limit` passed first.
bool SpinUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(5));

// Fails the test program instead of letting a test hang: unless destroyed
// within `limit`, it reports `what` and ends the process with status 1.
class Watchdog {
 public:
  Watchdog(std::chrono::milliseconds limit, std::string what);
  ~Watchdog();
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  bool finished_ = false;
  std::thread thread_;
};

// Answers Qt's own file dialog as a user would: types `names` into its
// file-name field (selectFile is ignored once that field has the focus) and
// accepts.
void ChooseInFileDialog(QFileDialog* dialog, const QString& names);

// The gadget's text through GadgetGetText, on the calling thread.
std::u16string GadgetText(rt::ObjectNumber gadget);
// The widget of a live gadget.
QWidget* GadgetWidget(rt::ObjectNumber gadget);

// Every test starts with a shown runtime window (the current gadget list)
// and an empty event queue; the window and every gadget go at the end.
class GadgetTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  int64_t window_ = 0;        // the window's number (a handle)
  QWidget* windowWidget_ = nullptr;
};

}  // namespace gt
