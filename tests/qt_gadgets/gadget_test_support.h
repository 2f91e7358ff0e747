// Shared helpers of the gadget, requester and cross-thread tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/types.h"
#include "qt_events.h"
#include "watchdog.h"

class QFileDialog;
class QString;
class QWidget;

namespace gt {

using fwu_test::Event;
using fwu_test::Settle;
using fwu_test::SpinUntil;
using fwu_test::TakeAll;
using fwu_test::Watchdog;

// Takes every queued event and keeps the gadget events (windows post their
// own redraws, clicks and moves beside them).
std::vector<Event> GadgetEvents();

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
