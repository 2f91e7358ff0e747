// Qt events on a runtime window become runtime events.
#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <vector>

#include "qt/ktqmainwindow.h"
#include "qt/wait_window_event.h"
#include "qt/windows.h"
#include "qt_test_support.h"

namespace {

using qtw::Event;
using qtw::TakeAll;
namespace EventKind = rt::EventKind;
namespace Flags = rt::WindowFlags;

class WindowEventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    id_ = rt::WindowOpen(rt::DynamicNumber, 40, 30, 300, 200, u"events",
                         Flags::SystemMenu | Flags::Resizable | Flags::MaximizeGadget | Flags::MinimizeGadget);
    window_ = qobject_cast<KTQMainWindow*>(rt::WindowWidget(id_));
    ASSERT_NE(window_, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_, 3000));
    qtw::Settle();
    TakeAll();
  }
  void TearDown() override {
    rt::WindowFree(rt::DynamicNumber);
    qtw::Settle();
    TakeAll();
  }
  // The kinds of this window's queued events, in order.
  std::vector<int32_t> Kinds() {
    qtw::Settle();
    std::vector<int32_t> kinds;
    for (const Event& event : TakeAll()) {
      if (event.window == id_) kinds.push_back(event.kind);
    }
    return kinds;
  }
  static bool Has(const std::vector<int32_t>& kinds, int32_t kind) {
    for (int32_t k : kinds)
      if (k == kind) return true;
    return false;
  }

  int64_t id_ = 0;
  KTQMainWindow* window_ = nullptr;
};

TEST_F(WindowEventsTest, TheCloseButtonOfAnEnabledWindowAsksAndTheWindowStays) {
  EXPECT_FALSE(window_->close());
  EXPECT_TRUE(window_->isVisible());
  const std::vector<Event> events = TakeAll();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0], (Event{EventKind::CloseRequest, 0, id_, 0}));

  // A close event from the window system is ignored just the same.
  QCloseEvent spontaneous;
  QCoreApplication::sendEvent(window_, &spontaneous);
  EXPECT_FALSE(spontaneous.isAccepted());
  EXPECT_EQ(rt::EventTake(), EventKind::CloseRequest);
}

TEST_F(WindowEventsTest, TheCloseButtonOfADisabledWindowDoesNothing) {
  window_->setEnabled(false);
  qtw::Settle();
  TakeAll();
  EXPECT_FALSE(window_->close());
  EXPECT_TRUE(window_->isVisible());
  EXPECT_FALSE(Has(Kinds(), EventKind::CloseRequest));
}

TEST_F(WindowEventsTest, WindowStateChangesPostMinimizedMaximizedAndRestored) {
  window_->showMinimized();
  EXPECT_TRUE(Has(Kinds(), EventKind::Minimized));
  window_->showMaximized();
  EXPECT_TRUE(Has(Kinds(), EventKind::Maximized));
  window_->showNormal();
  EXPECT_TRUE(Has(Kinds(), EventKind::Restored));
  // Minimised wins over maximised.
  window_->setWindowState(Qt::WindowMinimized | Qt::WindowMaximized);
  const std::vector<int32_t> kinds = Kinds();
  EXPECT_TRUE(Has(kinds, EventKind::Minimized));
  EXPECT_FALSE(Has(kinds, EventKind::Maximized));
}

TEST_F(WindowEventsTest, MovingAndResizingPostMovedAndResized) {
  window_->move(window_->x() + 25, window_->y() + 5);
  EXPECT_TRUE(Has(Kinds(), EventKind::Moved));
  window_->resize(350, 260);
  EXPECT_TRUE(Has(Kinds(), EventKind::Resized));
}

TEST_F(WindowEventsTest, GainingAndLosingTheFocusPostActivatedAndDeactivated) {
  window_->setFocusPolicy(Qt::StrongFocus);
  window_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window_, 3000));
  window_->setFocus(Qt::OtherFocusReason);
  EXPECT_TRUE(Has(Kinds(), EventKind::Activated));
  window_->clearFocus();
  EXPECT_TRUE(Has(Kinds(), EventKind::Deactivated));
}

TEST_F(WindowEventsTest, MouseButtonsOnTheWindowsOwnAreaPostClicks) {
  QWidget* area = window_->ContentWidget();
  QTest::mouseClick(area, Qt::LeftButton);
  EXPECT_EQ(Kinds(), (std::vector<int32_t>{EventKind::WindowLeftClick}));
  QTest::mouseClick(area, Qt::RightButton);
  EXPECT_EQ(Kinds(), (std::vector<int32_t>{EventKind::WindowRightClick}));
  QTest::mouseClick(area, Qt::MiddleButton);
  EXPECT_TRUE(Kinds().empty());

  QTest::mousePress(area, Qt::LeftButton);
  QTest::mouseDClick(area, Qt::LeftButton);
  QTest::mouseRelease(area, Qt::LeftButton);
  EXPECT_EQ(Kinds(), (std::vector<int32_t>{EventKind::WindowLeftDoubleClick}));
  // The double-click state lasts until the next left press.
  QTest::mouseClick(area, Qt::LeftButton);
  EXPECT_EQ(Kinds(), (std::vector<int32_t>{EventKind::WindowLeftClick}));
  // A right double click is an ordinary right click.
  QTest::mouseDClick(area, Qt::RightButton);
  QTest::mouseRelease(area, Qt::RightButton);
  EXPECT_EQ(Kinds(), (std::vector<int32_t>{EventKind::WindowRightClick}));
}

TEST_F(WindowEventsTest, PaintingTheContentPostsRedraw) {
  window_->ContentWidget()->repaint();
  EXPECT_TRUE(Has(Kinds(), EventKind::Redraw));
  EXPECT_FALSE(window_->ContentWidget()->InRepaint());
}

TEST_F(WindowEventsTest, TimerAndShortcutSlotsPostTheSendersNumber) {
  QTimer timer;
  timer.setSingleShot(true);
  timer.setProperty("KT_TimerID", 9);
  QObject::connect(&timer, &QTimer::timeout, window_, &KTQMainWindow::timerTimeout);
  timer.start(0);
  qtw::Settle();
  EXPECT_EQ(TakeAll(), (std::vector<Event>{{EventKind::Timer, 9, id_, 0}}));

  QTimer unnamed;
  unnamed.setSingleShot(true);
  QObject::connect(&unnamed, &QTimer::timeout, window_, &KTQMainWindow::shortcutActivated);
  unnamed.start(0);
  qtw::Settle();
  EXPECT_EQ(TakeAll(), (std::vector<Event>{{EventKind::Shortcut, -1, id_, 0}}));

  unnamed.setProperty("KT_ShortcutID", "not a number");
  unnamed.start(0);
  qtw::Settle();
  EXPECT_EQ(TakeAll(), (std::vector<Event>{{EventKind::Shortcut, -1, id_, 0}}));

  unnamed.setProperty("KT_ShortcutID", 3);
  unnamed.start(0);
  qtw::Settle();
  EXPECT_EQ(TakeAll(), (std::vector<Event>{{EventKind::Shortcut, 3, id_, 0}}));

  // Called directly there is no sender.
  QMetaObject::invokeMethod(window_, "timerTimeout");
  EXPECT_EQ(TakeAll(), (std::vector<Event>{{EventKind::Timer, -1, id_, 0}}));
}

TEST_F(WindowEventsTest, TrayActivationReasonsBecomeEventTypes) {
  QSystemTrayIcon tray;
  tray.setProperty("KT_SysTrayID", 5);
  QObject::connect(&tray, &QSystemTrayIcon::activated, window_, &KTQMainWindow::sysTrayActivated);
  const std::vector<std::pair<QSystemTrayIcon::ActivationReason, int64_t>> cases = {
      {QSystemTrayIcon::Context, 1},     {QSystemTrayIcon::DoubleClick, 2}, {QSystemTrayIcon::Trigger, 2},
      {QSystemTrayIcon::MiddleClick, 0}, {QSystemTrayIcon::Unknown, 0},
  };
  for (const auto& [reason, type] : cases) {
    emit tray.activated(reason);
    EXPECT_EQ(TakeAll(), (std::vector<Event>{{EventKind::TrayIcon, 5, id_, type}})) << reason;
  }
}

TEST_F(WindowEventsTest, AWindowEventPostedInsideAWaitEndsIt) {
  qtw::Watchdog watchdog(std::chrono::seconds(5), "a wait ended by a window event");
  QTimer::singleShot(20, window_, [this] { window_->close(); });
  EXPECT_EQ(rt::WindowEventWaitForever(), EventKind::CloseRequest);
  EXPECT_EQ(rt::CurrentEventWindow(), id_);
}

}  // namespace
