#include "window_harness.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QVariant>

#include <mutex>

#include "core/threads.h"
#include "core/workspace.h"
#include "io/file.h"
#include "io/serial.h"
#include "qt/gadget.h"
#include "qt/wait_window_event.h"
#include "qt/windows.h"
#include "updater.h"

namespace apptest {

namespace {

using Clock = std::chrono::steady_clock;

std::mutex progressMutex;
std::vector<int64_t> progressValues;

void RecordProgress(int64_t value) {
  std::lock_guard<std::mutex> lock(progressMutex);
  progressValues.push_back(value);
}

std::u16string Utf16(const std::string& s) { return QString::fromStdString(s).toStdU16String(); }

}  // namespace

void WindowHarness::BuildFreshWindow() {
  static bool prepared = false;
  if (!prepared) {
    app::PrepareBody();
    prepared = true;
  } else {
    rt::WindowFree(app::Gadgets().window);
  }
  app::BuildWindow(0, 0, 400, 200);
  app::SetProgressObserver(RecordProgress);
}

std::vector<int64_t> WindowHarness::ProgressValues() const {
  std::lock_guard<std::mutex> lock(progressMutex);
  return progressValues;
}

QWidget* WindowHarness::GadgetWidget(int64_t gadget) const {
  QWidget* window = rt::WindowWidget(app::Gadgets().window);
  if (!window) return nullptr;
  for (QWidget* w : window->findChildren<QWidget*>()) {
    const QVariant id = w->property("KT_GadgetID");
    if (id.isValid() && id.toLongLong() == gadget) return w;
  }
  return nullptr;
}

QComboBox* WindowHarness::PortList() const { return qobject_cast<QComboBox*>(GadgetWidget(app::Gadgets().portList)); }
QLineEdit* WindowHarness::FileName() const { return qobject_cast<QLineEdit*>(GadgetWidget(app::Gadgets().fileName)); }
QPushButton* WindowHarness::OpenButton() const {
  return qobject_cast<QPushButton*>(GadgetWidget(app::Gadgets().openButton));
}
QPushButton* WindowHarness::UpdateButton() const {
  return qobject_cast<QPushButton*>(GadgetWidget(app::Gadgets().updateButton));
}
QProgressBar* WindowHarness::ProgressBar() const {
  return qobject_cast<QProgressBar*>(GadgetWidget(app::Gadgets().progressBar));
}

void WindowHarness::AddAndSelectPort(const std::string& path) {
  const std::u16string name = Utf16(path);
  rt::GadgetAddItem(app::Gadgets().portList, -1, name.c_str());
  QComboBox* ports = PortList();
  ports->setCurrentIndex(ports->findText(QString::fromStdString(path)));
}

void WindowHarness::SetFileName(const std::string& path) {
  const std::u16string name = Utf16(path);
  rt::GadgetSetText(app::Gadgets().fileName, name.c_str());
}

void WindowHarness::ClickUpdate() {
  {
    std::lock_guard<std::mutex> lock(progressMutex);
    progressValues.clear();
  }
  QTest::mouseClick(UpdateButton(), Qt::LeftButton);
}

bool WindowHarness::AllInputGadgetsEnabled() const {
  return PortList()->isEnabled() && FileName()->isEnabled() && OpenButton()->isEnabled() &&
         UpdateButton()->isEnabled();
}

bool WindowHarness::RunUntilFinished(Outcome* outcome, std::chrono::milliseconds limit) {
  *outcome = Outcome{};
  // The box runs its own nested loop on this thread; a timer that fires
  // inside it records what the box says and what state surrounds it, then
  // presses its button.
  QTimer answerer;
  answerer.setInterval(2);
  QObject::connect(&answerer, &QTimer::timeout, [&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(w);
      if (!box || !box->isVisible() || box->property("fwu_answered").toBool()) continue;
      box->setProperty("fwu_answered", true);
      ++outcome->boxes;
      outcome->shown = true;
      outcome->title = box->windowTitle();
      outcome->text = box->text();
      outcome->fileOpen = rt::FileIsOpen(0) != 0;
      outcome->portOpen = rt::SerialIsOpen(0) != 0;
      outcome->gadgetsEnabled = AllInputGadgetsEnabled();
      outcome->barValue = ProgressBar()->value();
      outcome->boxOwner = box->parentWidget() ? box->parentWidget()->window() : nullptr;
      outcome->boxModality = box->windowModality();
      outcome->boxWasModal = QApplication::activeModalWidget() == box;
      QAbstractButton* ok = box->button(QMessageBox::Ok);
      if (!ok && !box->buttons().isEmpty()) ok = box->buttons().first();
      if (ok) {
        ok->click();
      } else {
        box->done(0);
      }
    }
  });
  answerer.start();
  const Clock::time_point deadline = Clock::now() + limit;
  while (Clock::now() < deadline) {
    const int32_t kind = rt::WindowEventWait(20);
    if (kind > 0) app::Dispatch(kind);
    if (outcome->shown && rt::ThreadRunningCount() == 0) {
      // Let anything the worker queued last reach the widgets.
      Pump(std::chrono::milliseconds(20));
      return true;
    }
  }
  return false;
}

void WindowHarness::Pump(std::chrono::milliseconds duration) {
  const Clock::time_point end = Clock::now() + duration;
  while (Clock::now() < end) {
    const int32_t kind = rt::WindowEventWait(5);
    if (kind > 0) app::Dispatch(kind);
  }
}

bool WaitForWorkers(std::chrono::milliseconds limit) {
  const Clock::time_point deadline = Clock::now() + limit;
  while (rt::ThreadRunningCount() != 0) {
    if (Clock::now() >= deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

}  // namespace apptest
