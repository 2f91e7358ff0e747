#include "qt/ktqmainwindow.h"

#include <QCloseEvent>
#include <QMouseEvent>
#include <QVariant>

#include "qt/wait_window_event.h"

KTMainWindowWidget::KTMainWindowWidget(int64_t number, QWidget* parent) : QWidget(parent), number_(number) {
  // A plain QWidget subclass draws no style-sheet background unless asked to,
  // and the window colour is a style sheet on this widget.
  setAttribute(Qt::WA_StyledBackground, true);
}

KTMainWindowWidget::~KTMainWindowWidget() = default;

void KTMainWindowWidget::paintEvent(QPaintEvent* event) {
  QWidget::paintEvent(event);
  inRepaint_ = true;
  rt::EventPost(rt::EventKind::Redraw, 0, number_, 0);
  inRepaint_ = false;
}

KTQMainWindow::KTQMainWindow(int64_t number, QWidget* parent, Qt::WindowFlags flags)
    : QMainWindow(parent, flags), number_(number) {}

KTQMainWindow::~KTQMainWindow() {
  for (auto* owned : {&timers_, &shortcuts_}) {
    for (auto& entry : *owned) delete entry.second.data();
    owned->clear();
  }
  rt::WindowRecordRelease(number_, this);
  // Gadgets may still post while they go (a focus change, a cleared list).
  // Deleting them here, before the purge, makes sure that no event of this
  // window outlives it; the QMainWindow part then has nothing of ours left.
  delete centralWidget();
  rt::EventPurgeWindow(number_);
}

void KTQMainWindow::SetContentWidget(KTMainWindowWidget* content) {
  content_ = content;
  setCentralWidget(content);
}

void KTQMainWindow::Post(int32_t kind, int64_t object, int64_t type) const {
  rt::EventPost(kind, object, number_, type);
}

int64_t KTQMainWindow::SenderId(const char* name) const {
  const QObject* origin = sender();
  if (!origin) return -1;
  bool ok = false;
  const qlonglong id = origin->property(name).toLongLong(&ok);
  return ok ? id : -1;
}

void KTQMainWindow::timerTimeout() { Post(rt::EventKind::Timer, SenderId("KT_TimerID")); }

void KTQMainWindow::shortcutActivated() { Post(rt::EventKind::Shortcut, SenderId("KT_ShortcutID")); }

void KTQMainWindow::sysTrayActivated(QSystemTrayIcon::ActivationReason reason) {
  int64_t type = 0;
  if (reason == QSystemTrayIcon::Context)
    type = 1;
  else if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger)
    type = 2;
  Post(rt::EventKind::TrayIcon, SenderId("KT_SysTrayID"), type);
}

void KTQMainWindow::mousePressEvent(QMouseEvent* event) {
  QMainWindow::mousePressEvent(event);
  if (event->button() == Qt::LeftButton) leftDoubleClick_ = false;
}

void KTQMainWindow::mouseDoubleClickEvent(QMouseEvent* event) {
  QMainWindow::mouseDoubleClickEvent(event);
  if (event->button() == Qt::LeftButton) leftDoubleClick_ = true;
}

void KTQMainWindow::mouseReleaseEvent(QMouseEvent* event) {
  QMainWindow::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton)
    Post(leftDoubleClick_ ? rt::EventKind::WindowLeftDoubleClick : rt::EventKind::WindowLeftClick);
  else if (event->button() == Qt::RightButton)
    Post(rt::EventKind::WindowRightClick);
}

void KTQMainWindow::focusInEvent(QFocusEvent* event) {
  QMainWindow::focusInEvent(event);
  Post(rt::EventKind::Activated);
}

void KTQMainWindow::focusOutEvent(QFocusEvent* event) {
  QMainWindow::focusOutEvent(event);
  Post(rt::EventKind::Deactivated);
}

void KTQMainWindow::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  Post(rt::EventKind::Moved);
}

void KTQMainWindow::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  Post(rt::EventKind::Resized);
}

void KTQMainWindow::closeEvent(QCloseEvent* event) {
  QMainWindow::closeEvent(event);
  event->ignore();  // closing is left to the program
  if (isEnabled()) Post(rt::EventKind::CloseRequest);
}

void KTQMainWindow::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange) return;
  const Qt::WindowStates state = windowState();
  if (state & Qt::WindowMinimized)
    Post(rt::EventKind::Minimized);
  else if (state & Qt::WindowMaximized)
    Post(rt::EventKind::Maximized);
  else
    Post(rt::EventKind::Restored);
}
