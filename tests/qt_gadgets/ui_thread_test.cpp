// Gadget operations and requesters called from another thread: carried over
// to the user-interface thread in order, answered, and released at shut-down.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <atomic>
#include <thread>

#include "core/workspace.h"
#include "gadget_test_support.h"
#include "qt/button_gadget.h"
#include "qt/combo_box_gadget.h"
#include "qt/event_kind.h"
#include "qt/gadget.h"
#include "qt/gadget_list.h"
#include "qt/progress_bar_gadget.h"
#include "qt/requesters.h"
#include "qt/string_gadget.h"
#include "qt/ui_thread.h"
#include "qt/wait_window_event.h"

namespace gt {
namespace {

using rt::DynamicNumber;
using namespace std::chrono_literals;

class UiThreadTest : public GadgetTest {
 protected:
  void TearDown() override {
    rt::UiThreadStart();  // after a shut-down test
    GadgetTest::TearDown();
  }
  // The user-interface thread waits for events the way the program does.
  static void ServeUntil(const std::atomic<bool>& done) {
    for (int i = 0; i < 2000 && !done.load(); ++i) rt::WindowEventWait(5);
    ASSERT_TRUE(done.load());
  }
  static QMessageBox* ShownBox() {
    QMessageBox* box = nullptr;
    EXPECT_TRUE(SpinUntil([&box] {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* b = qobject_cast<QMessageBox*>(w); b && b->isVisible()) box = b;
      return box != nullptr;
    }));
    return box;
  }
};

TEST_F(UiThreadTest, WorkerCallsApplyInTheOrderIssued) {
  Watchdog watchdog(30s, "worker calls");
  const int64_t button = rt::ButtonGadget(DynamicNumber, 0, 0, 50, 20, u"UPDATE!");
  const int64_t bar = rt::ProgressBarGadget(DynamicNumber, 0, 30, 300, 20, 0, 200000);
  const int64_t text = rt::StringGadget(DynamicNumber, 0, 60, 200, 20, u"trx.fw");
  const int64_t combo = rt::ComboBoxGadget(DynamicNumber, 0, 90, 100, 20);

  struct {
    std::u16string before, after;
    int64_t barState = -2, comboState = -2, buttonState = -2;
  } seen;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    rt::GadgetDisable(button, 1);
    seen.before = GadgetText(text);
    for (int64_t i = 0; i <= 200000; ++i) rt::GadgetSetState(bar, i);
    seen.barState = rt::GadgetGetState(bar);
    rt::GadgetSetText(text, u"from the worker");
    seen.after = GadgetText(text);
    rt::GadgetAddItem(combo, -1, u"b");
    rt::GadgetSetState(combo, -1);      // queued, not waited for ...
    rt::GadgetAddItem(combo, 0, u"a");  // ... yet applied before this insert
    rt::GadgetSetState(combo, 1);
    seen.comboState = rt::GadgetGetState(combo);
    seen.buttonState = rt::GadgetGetState(button);
    done = true;
  });
  ServeUntil(done);
  worker.join();

  EXPECT_EQ(seen.before, u"trx.fw");
  EXPECT_EQ(seen.barState, 200000);
  EXPECT_EQ(seen.after, u"from the worker");
  EXPECT_EQ(seen.comboState, 1);
  EXPECT_EQ(seen.buttonState, 0);
  EXPECT_FALSE(GadgetWidget(button)->isEnabled());
  EXPECT_EQ(static_cast<QProgressBar*>(GadgetWidget(bar))->value(), 200000);
  EXPECT_EQ(static_cast<QComboBox*>(GadgetWidget(combo))->currentText(), "b");
  EXPECT_EQ(GadgetWidget(button)->thread(), QApplication::instance()->thread());
}

TEST_F(UiThreadTest, StatesAWorkerLeftAreVisibleToTheUserInterfaceThread) {
  Watchdog watchdog(10s, "queued states");
  const int64_t bar = rt::ProgressBarGadget(DynamicNumber, 0, 0, 300, 20, 0, 100);
  // The worker does not wait for its states; nothing runs the queue meanwhile.
  std::thread([bar] {
    rt::GadgetSetState(bar, 10);
    rt::GadgetSetState(bar, 42);
  }).join();
  EXPECT_EQ(rt::GadgetGetState(bar), 42);  // a direct call runs what others queued first
  EXPECT_EQ(static_cast<QProgressBar*>(GadgetWidget(bar))->value(), 42);
}

TEST_F(UiThreadTest, WorkerCreatesGadgetsInItsOwnList) {
  Watchdog watchdog(10s, "worker creation");
  auto* central = static_cast<QMainWindow*>(windowWidget_)->centralWidget();
  std::atomic<bool> done{false};
  QWidget* previous = windowWidget_;
  int64_t inside = 0, outside = 0;
  std::thread worker([&] {
    outside = rt::ButtonGadget(DynamicNumber, 0, 0, 40, 20, u"no list yet");
    previous = rt::GadgetListSelect(windowWidget_);
    inside = rt::ButtonGadget(DynamicNumber, 0, 0, 40, 20, u"in the window");
    done = true;
  });
  ServeUntil(done);
  worker.join();
  EXPECT_EQ(previous, nullptr);
  ASSERT_NE(GadgetWidget(outside), nullptr);
  EXPECT_EQ(GadgetWidget(outside)->parentWidget(), nullptr);
  EXPECT_EQ(GadgetWidget(inside)->parentWidget(), central);
  EXPECT_EQ(GadgetWidget(inside)->thread(), QApplication::instance()->thread());
  rt::GadgetFree(outside);
}

TEST_F(UiThreadTest, ShowMessageFromAWorkerWaitsForTheUserWhileEventsFlow) {
  Watchdog watchdog(30s, "worker message box");
  std::atomic<int32_t> answer{-1};
  std::atomic<bool> done{false};
  std::thread worker([&] {
    answer = rt::ShowMessage(u"Information", u"Device update!");
    done = true;
  });
  QPointer<QMessageBox> box = ShownBox();
  ASSERT_FALSE(box.isNull());
  EXPECT_EQ(box->windowTitle(), "Information");
  EXPECT_EQ(box->text(), "Device update!");
  EXPECT_TRUE(box->isModal());
  EXPECT_EQ(answer.load(), -1);

  // Meanwhile the user-interface thread keeps taking events: from another
  // thread, and its window's own (a close request).
  std::thread poster([] {
    for (int i = 0; i < 5; ++i) {
      rt::EventPost(rt::EventKind::Timer, i, 0, 0);
      std::this_thread::sleep_for(2ms);
    }
  });
  poster.join();
  int timers = 0;
  for (int i = 0; i < 200 && timers < 5; ++i)
    if (rt::WindowEventWait(10) == rt::EventKind::Timer) ++timers;
  EXPECT_EQ(timers, 5);
  windowWidget_->close();
  EXPECT_EQ(rt::WindowEventWait(1000), rt::EventKind::CloseRequest);
  EXPECT_EQ(answer.load(), -1);

  box->button(QMessageBox::Ok)->click();
  ServeUntil(done);
  worker.join();
  EXPECT_EQ(answer.load(), 0);
  EXPECT_TRUE(SpinUntil([&box] { return box.isNull(); }));
}

TEST_F(UiThreadTest, MessageDialogFromAWorkerReportsTheButton) {
  Watchdog watchdog(30s, "worker question");
  std::atomic<int32_t> answer{-1};
  std::atomic<bool> done{false};
  std::thread worker([&] {
    answer = rt::MessageDialog(u"Question", u"Again?", rt::MessageFlags::YesNoCancel);
    done = true;
  });
  QMessageBox* box = ShownBox();
  ASSERT_NE(box, nullptr);
  box->button(QMessageBox::No)->click();
  ServeUntil(done);
  worker.join();
  EXPECT_EQ(answer.load(), 7);
}

TEST_F(UiThreadTest, FileDialogFromAWorker) {
  Watchdog watchdog(30s, "worker file dialog");
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = QDir(dir.path()).absoluteFilePath("image.fw");
  {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  }
  const std::u16string start = dir.path().toStdU16String();
  std::u16string chosen, next = u"unset";
  int32_t filter = -5;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    const int64_t saved = rt::WorkspacePosition();
    rt::AskOpenFile(u"Please choose file to load", start.c_str(), u"Firmware (*.fw)|*.fw;", 0, saved);
    chosen = rt::WorkspaceString(saved);
    rt::FileDialogNextSelection(saved);
    next = rt::WorkspaceString(saved);
    rt::WorkspaceRestore(saved);
    filter = rt::FileDialogChosenFilter();
    done = true;
  });
  QFileDialog* dialog = nullptr;
  ASSERT_TRUE(SpinUntil([&dialog] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* d = qobject_cast<QFileDialog*>(w); d && d->isVisible()) dialog = d;
    return dialog != nullptr;
  }));
  ChooseInFileDialog(dialog, path);
  ServeUntil(done);
  worker.join();
  EXPECT_EQ(chosen, path.toStdU16String());
  EXPECT_EQ(next, u"");
  EXPECT_EQ(filter, 0);
}

TEST_F(UiThreadTest, ShutdownReleasesAWorkerWaitingForText) {
  Watchdog watchdog(20s, "shut-down during GadgetGetText");
  const int64_t text = rt::StringGadget(DynamicNumber, 0, 0, 100, 20, u"kept");
  std::atomic<bool> returned{false};
  std::u16string got = u"unset";
  std::thread worker([&] {
    got = GadgetText(text);
    returned = true;
  });
  // Nothing runs the queue: the call waits until the shut-down.
  for (int i = 0; i < 5000 && rt::UiThreadWaitingCount() == 0; ++i) std::this_thread::sleep_for(1ms);
  ASSERT_EQ(rt::UiThreadWaitingCount(), 1);
  EXPECT_FALSE(returned.load());
  rt::UiThreadShutdown();
  worker.join();
  EXPECT_EQ(got, u"");
  EXPECT_EQ(rt::UiThreadWaitingCount(), 0);

  // Later calls from other threads are no-ops that return at once.
  std::u16string later = u"unset";
  std::thread([&] {
    rt::GadgetSetText(text, u"changed");
    rt::GadgetDisable(text, 1);
    rt::GadgetSetState(text, 3);
    later = GadgetText(text);
  }).join();
  Settle();
  EXPECT_EQ(later, u"");
  EXPECT_EQ(static_cast<QLineEdit*>(GadgetWidget(text))->text(), "kept");
  EXPECT_TRUE(GadgetWidget(text)->isEnabled());
  EXPECT_EQ(GadgetText(text), u"kept");  // the user-interface thread itself still works

  // Started again, calls are carried over again.
  rt::UiThreadStart();
  std::atomic<bool> done{false};
  std::thread again([&] {
    later = GadgetText(text);
    done = true;
  });
  ServeUntil(done);
  again.join();
  EXPECT_EQ(later, u"kept");
}

TEST_F(UiThreadTest, ShutdownReleasesAWorkerInShowMessage) {
  Watchdog watchdog(20s, "shut-down during ShowMessage");
  std::atomic<int32_t> answer{-1};
  std::thread worker([&] { answer = rt::MessageDialog(u"ERROR:4", u"still open", rt::MessageFlags::YesNo); });
  QPointer<QMessageBox> box = ShownBox();
  ASSERT_FALSE(box.isNull());
  rt::UiThreadShutdown();
  worker.join();
  EXPECT_EQ(answer.load(), 0);
  EXPECT_TRUE(box.isNull());  // the box went with the shut-down
}

TEST_F(UiThreadTest, ShutdownDropsQueuedCalls) {
  const int64_t bar = rt::ProgressBarGadget(DynamicNumber, 0, 0, 300, 20, 0, 100);
  std::thread([bar] { rt::GadgetSetState(bar, 77); }).join();
  rt::UiThreadShutdown();
  Settle();
  EXPECT_EQ(rt::GadgetGetState(bar), 0);
}

}  // namespace
}  // namespace gt
