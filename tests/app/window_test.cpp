// The main window as the application builds it, the dispatcher, the file
// chooser, and the runs that end before any device is involved.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "core/threads.h"
#include "core/workspace.h"
#include "io/file.h"
#include "io/serial.h"
#include "device.h"
#include "qt/event_kind.h"
#include "qt/requesters.h"
#include "qt/wait_window_event.h"
#include "qt/windows.h"
#include "updater.h"
#include "window_harness.h"

namespace apptest {
namespace {

using namespace std::chrono_literals;

class WindowTest : public testing::Test {
 protected:
  void SetUp() override { harness.BuildFreshWindow(); }
  void TearDown() override { EXPECT_TRUE(WaitForWorkers(10s)) << "a worker is still running"; }

  WindowHarness harness;
};

TEST_F(WindowTest, WindowHasTheLayoutTextsAndColourOfTheProgram) {
  QWidget* window = rt::WindowWidget(app::Gadgets().window);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->windowTitle(), "Update firmware 1.0.1");
  EXPECT_EQ(window->minimumSize(), QSize(400, 200));
  EXPECT_EQ(window->maximumSize(), QSize(400, 200));
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(window->windowFlags() & Qt::WindowCloseButtonHint);

  struct Expected {
    QWidget* widget;
    QRect geometry;
  } expected[] = {
      {harness.PortList(), QRect(10, 70, 70, 20)},    {harness.FileName(), QRect(90, 70, 200, 20)},
      {harness.OpenButton(), QRect(300, 70, 90, 20)}, {harness.ProgressBar(), QRect(10, 110, 380, 30)},
      {harness.UpdateButton(), QRect(140, 160, 140, 30)},
  };
  for (const Expected& e : expected) {
    ASSERT_NE(e.widget, nullptr);
    EXPECT_EQ(e.widget->geometry(), e.geometry) << e.widget->metaObject()->className();
    EXPECT_TRUE(e.widget->isEnabled());
  }
  EXPECT_EQ(harness.FileName()->text(), "trx.fw");
  EXPECT_EQ(harness.OpenButton()->text(), "Open");
  EXPECT_EQ(harness.UpdateButton()->text(), "UPDATE!");
  EXPECT_FALSE(harness.PortList()->isEditable());
  EXPECT_EQ(harness.ProgressBar()->minimum(), 0);
  EXPECT_EQ(harness.ProgressBar()->maximum(), 100);
  EXPECT_EQ(harness.ProgressBar()->value(), 0);
  EXPECT_EQ(app::ProgressPercent(), 0);

  // The banner: image gadget 0 at the top, showing the decoded 400 x 60 picture.
  auto* banner = qobject_cast<QLabel*>(harness.GadgetWidget(0));
  ASSERT_NE(banner, nullptr);
  EXPECT_EQ(banner->geometry(), QRect(0, 0, 400, 60));
  EXPECT_EQ(banner->pixmap(Qt::ReturnByValue).size(), QSize(400, 60));

  // The dark background reaches the content area.
  QWidget* content = harness.PortList()->parentWidget();
  content->ensurePolished();
  EXPECT_EQ(content->palette().color(QPalette::Window), QColor(42, 42, 42));
}

TEST_F(WindowTest, CloseRequestEndsTheLoopAndOtherEventsDoNot) {
  EXPECT_EQ(app::Dispatch(rt::EventKind::CloseRequest), 0);
  EXPECT_EQ(app::Dispatch(rt::EventKind::None), 1);
  EXPECT_EQ(app::Dispatch(rt::EventKind::Redraw), 1);
  EXPECT_EQ(app::Dispatch(rt::EventKind::Interrupted), 1);

  // A shortcut is read and changes nothing.
  harness.Pump(50ms);  // the window's own start-up events first
  rt::EventPost(rt::EventKind::Shortcut, 7, app::Gadgets().window, 0);
  ASSERT_EQ(rt::EventTake(), rt::EventKind::Shortcut);
  EXPECT_EQ(app::Dispatch(rt::EventKind::Shortcut), 1);
  EXPECT_EQ(rt::ThreadRunningCount(), 0);
  EXPECT_TRUE(harness.AllInputGadgetsEnabled());
  EXPECT_EQ(harness.FileName()->text(), "trx.fw");
}

TEST_F(WindowTest, EventsOfOtherGadgetsAreIgnored) {
  harness.Pump(50ms);
  for (int64_t gadget : {app::Gadgets().portList, app::Gadgets().fileName, app::Gadgets().progressBar, int64_t(0)}) {
    rt::EventPost(rt::EventKind::Gadget, gadget, app::Gadgets().window, rt::GadgetEventType::LeftClick);
    ASSERT_EQ(rt::EventTake(), rt::EventKind::Gadget);
    EXPECT_EQ(app::Dispatch(rt::EventKind::Gadget), 1);
  }
  EXPECT_EQ(rt::ThreadRunningCount(), 0);
  EXPECT_TRUE(harness.AllInputGadgetsEnabled());
}

// Runs "Open" through the dispatcher while a timer deals with the dialog.
template <typename Answer>
void ChooseWith(WindowHarness& harness, Answer answer) {
  bool seen = false;
  QTimer timer;
  timer.setInterval(5);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* dialog = qobject_cast<QFileDialog*>(w);
      if (dialog && dialog->isVisible() && !seen) {
        seen = true;
        answer(dialog);
      }
    }
  });
  timer.start();
  // A timer object of this frame (not a free single shot), so it can never
  // fire after the function returned and touch `seen` out of scope.
  QTimer deadline;
  deadline.setSingleShot(true);
  QObject::connect(&deadline, &QTimer::timeout, [&] {
    if (!seen) ADD_FAILURE() << "no file dialog appeared";
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* dialog = qobject_cast<QFileDialog*>(w)) dialog->reject();
  });
  deadline.start(10000);
  QTest::mouseClick(harness.OpenButton(), Qt::LeftButton);
  harness.Pump(std::chrono::milliseconds(50));
  EXPECT_TRUE(seen);
}

TEST_F(WindowTest, CancellingTheFileDialogPutsTheDefaultNameBack) {
  harness.FileName()->setText("my-other-name.fw");
  ChooseWith(harness, [](QFileDialog* dialog) {
    EXPECT_EQ(dialog->windowTitle(), "Please choose file to load");
    EXPECT_EQ(dialog->nameFilters(), QStringList{"Firmware (*.fw )"});
    dialog->reject();
  });
  EXPECT_EQ(harness.FileName()->text(), "trx.fw");
}

TEST_F(WindowTest, ChoosingAFilePutsItsFullPathIntoTheField) {
  char dir[] = "/tmp/fwu-choose.XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/board.fw";
  std::ofstream(path) << "0123456789abcdefBODY";
  ChooseWith(harness, [&](QFileDialog* dialog) {
    dialog->selectFile(QString::fromStdString(path));
    QMetaObject::invokeMethod(dialog, "accept");
  });
  EXPECT_EQ(harness.FileName()->text().toStdString(), path);
  std::remove(path.c_str());
  rmdir(dir);
}

TEST_F(WindowTest, MissingFirmwareIsReportedAndThePortIsNeverOpened) {
  devsim::Options options;
  options.bodyLength = 0;
  devsim::Device device(options);
  std::string error;
  ASSERT_TRUE(device.Open(&error) && device.Start()) << error;
  harness.AddAndSelectPort(device.Path());
  for (const char* name : {"/nonexistent/trx.fw", ""}) {
    harness.SetFileName(name);
    harness.ClickUpdate();
    Outcome outcome;
    ASSERT_TRUE(harness.RunUntilFinished(&outcome, 10s)) << name;
    EXPECT_EQ(outcome.title, "ERROR:1");
    EXPECT_EQ(outcome.text, "Firmware missing!");
    EXPECT_FALSE(outcome.fileOpen);
    EXPECT_FALSE(outcome.portOpen);
    EXPECT_TRUE(outcome.gadgetsEnabled);
    EXPECT_EQ(outcome.barValue, 0);
    EXPECT_EQ(device.Opens(), 0) << "the port was opened for \"" << name << "\"";
  }
  device.Stop();
  device.Wait(5000);
}

TEST_F(WindowTest, NoPortSelectedNamesNothingAfterTheColon) {
  ASSERT_EQ(harness.PortList()->count(), 0);
  harness.SetFileName(QCoreApplication::applicationFilePath().toStdString());
  harness.ClickUpdate();
  Outcome outcome;
  ASSERT_TRUE(harness.RunUntilFinished(&outcome, 10s));
  EXPECT_EQ(outcome.title, "ERROR:2");
  EXPECT_EQ(outcome.text, "Can't open the serial port: ");
  EXPECT_FALSE(outcome.fileOpen);
  EXPECT_FALSE(outcome.portOpen);
  EXPECT_TRUE(outcome.gadgetsEnabled);
}

TEST_F(WindowTest, PortThatCannotBeOpenedIsNamedInTheMessage) {
  harness.AddAndSelectPort("/dev/ttyUSB-not-here");
  harness.SetFileName(QCoreApplication::applicationFilePath().toStdString());
  harness.ClickUpdate();
  Outcome outcome;
  ASSERT_TRUE(harness.RunUntilFinished(&outcome, 10s));
  EXPECT_EQ(outcome.title, "ERROR:2");
  EXPECT_EQ(outcome.text, "Can't open the serial port: /dev/ttyUSB-not-here");
  EXPECT_FALSE(outcome.fileOpen);
  EXPECT_FALSE(outcome.portOpen);
  EXPECT_TRUE(outcome.gadgetsEnabled);

  // A second run can start at once.
  harness.SetFileName("/nonexistent.fw");
  harness.ClickUpdate();
  ASSERT_TRUE(harness.RunUntilFinished(&outcome, 10s));
  EXPECT_EQ(outcome.title, "ERROR:1");
}

TEST_F(WindowTest, QueuedSecondActivationStartsNoSecondRun) {
  harness.SetFileName("/nonexistent.fw");
  // Two activations already queued before the first is taken (different
  // types, so the queue keeps both).
  rt::EventPost(rt::EventKind::Gadget, app::Gadgets().updateButton, app::Gadgets().window,
                rt::GadgetEventType::LeftClick);
  rt::EventPost(rt::EventKind::Gadget, app::Gadgets().updateButton, app::Gadgets().window,
                rt::GadgetEventType::LeftDoubleClick);
  Outcome outcome;
  ASSERT_TRUE(harness.RunUntilFinished(&outcome, 10s));
  EXPECT_EQ(outcome.boxes, 1);
  EXPECT_EQ(outcome.title, "ERROR:1");
  Outcome second;
  EXPECT_FALSE(harness.RunUntilFinished(&second, 500ms));
  EXPECT_FALSE(second.shown) << "a second run reported " << second.title.toStdString();
  EXPECT_EQ(rt::ThreadRunningCount(), 0);
  EXPECT_TRUE(harness.AllInputGadgetsEnabled());
}

int64_t ReportFromWorker(int64_t) {
  rt::WorkspaceEnsure();
  rt::ShowMessage(u"ERROR:3", u"Device does not respond!");
  return 0;
}

TEST_F(WindowTest, ResultBoxBlocksTheWindowWhenAnotherProgramIsActive) {
  // The user switched to another program during the transfer: no window of
  // ours is active when the worker's box opens. It must still belong to the
  // main window and block it, or "UPDATE!" (enabled again before the box
  // shows) could start a second run while this one waits in its box.
  // A plain window of no runtime window stands in for the other program
  // (this platform re-activates our window when nothing else is active).
  QWidget elsewhere;
  elsewhere.setWindowTitle("another program");
  elsewhere.show();
  QApplication::setActiveWindow(&elsewhere);
  ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == &elsewhere; }, 5000));
  ASSERT_NE(rt::ThreadStart(ReportFromWorker, 0), 0u);
  Outcome outcome;
  ASSERT_TRUE(harness.RunUntilFinished(&outcome, 20s));
  EXPECT_EQ(outcome.title, "ERROR:3");
  EXPECT_EQ(outcome.boxOwner, rt::WindowWidget(app::Gadgets().window));
  EXPECT_EQ(outcome.boxModality, Qt::ApplicationModal);
  EXPECT_TRUE(outcome.boxWasModal) << "the box did not block the program's windows";
}

}  // namespace
}  // namespace apptest
