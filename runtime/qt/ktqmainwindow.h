// The runtime's main window and its content area. Their Qt event handlers
// turn what happens to the window into runtime events on the event queue.
//
// Both classes live outside the runtime's namespace on purpose: style sheets
// select widgets by class name ("KTQMainWindow > QWidget"), and a namespaced
// class would carry its namespace in that name.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QWidget>
#include <cstdint>
#include <map>

class KTQMainWindow;

namespace rt {
// Gives the window's number back to the window table, if its record still
// holds `window` (called by the window's destructor).
void WindowRecordRelease(int64_t number, const KTQMainWindow* window);
}  // namespace rt

// Central widget of every runtime window and parent of the window's gadgets.
class KTMainWindowWidget : public QWidget {
  Q_OBJECT

 public:
  KTMainWindowWidget(int64_t number, QWidget* parent);
  ~KTMainWindowWidget() override;

  int64_t WindowNumber() const { return number_; }
  // True only while the Redraw event of a paint is being posted.
  bool InRepaint() const { return inRepaint_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int64_t number_;
  bool inRepaint_ = false;
};

class KTQMainWindow : public QMainWindow {
  Q_OBJECT

 public:
  // `number` is the number given to WindowOpen, or the record's handle.
  KTQMainWindow(int64_t number, QWidget* parent, Qt::WindowFlags flags);
  ~KTQMainWindow() override;

  int64_t WindowNumber() const { return number_; }
  KTMainWindowWidget* ContentWidget() const { return content_; }
  void SetContentWidget(KTMainWindowWidget* content);

  // Objects the window owns by number; they are deleted with the window.
  std::map<int64_t, QPointer<QObject>>& Timers() { return timers_; }
  std::map<int64_t, QPointer<QObject>>& Shortcuts() { return shortcuts_; }

 public slots:
  void timerTimeout();
  void shortcutActivated();
  void sysTrayActivated(QSystemTrayIcon::ActivationReason reason);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void Post(int32_t kind, int64_t object = 0, int64_t type = 0) const;
  // The integer property `name` of the signal's sender, or -1.
  int64_t SenderId(const char* name) const;

  int64_t number_;
  bool leftDoubleClick_ = false;
  std::map<int64_t, QPointer<QObject>> timers_;
  std::map<int64_t, QPointer<QObject>> shortcuts_;
  QPointer<KTMainWindowWidget> content_;
};
