#include "qt/windows.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QString>
#include <atomic>

#include "core/object_table.h"
#include "qt/ktqmainwindow.h"
#include "qt/qt_base.h"

namespace rt {
namespace {

struct WindowRecord {
  KTQMainWindow* window;  // presence word
  int64_t colour;         // RgbColor value, -1 = default
};

ObjectTable* windowTable = nullptr;
std::atomic<GadgetListSelectHook> gadgetListHook{nullptr};

WindowRecord* FindWindow(ObjectNumber number) {
  if (!windowTable) return nullptr;
  // A handle is only followed once the table knows it: a number that names
  // no window must be harmless, not a stray pointer.
  if (!ObjectTableCheck(windowTable, number)) return nullptr;
  return static_cast<WindowRecord*>(ObjectTableGet(windowTable, number));
}

Qt::WindowFlags QtWindowFlags(int32_t flags) {
  Qt::WindowFlags result = Qt::Window | Qt::CustomizeWindowHint;
  if (flags & WindowFlags::SystemMenu)
    result |= Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowContextHelpButtonHint |
              Qt::WindowCloseButtonHint;
  if (flags & WindowFlags::TitleBar) result |= Qt::WindowTitleHint;
  if (flags & WindowFlags::MaximizeGadget) result |= Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint;
  if (flags & WindowFlags::MinimizeGadget) result |= Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint;
  if (flags & WindowFlags::BorderLess) result |= Qt::FramelessWindowHint;
  if (flags & WindowFlags::Tool) result |= Qt::Tool;
  return result;
}

// The rectangle a new window is centred on, if any.
bool CentringReference(int32_t flags, QWidget* parent, QRect* reference) {
  if (flags & WindowFlags::ScreenCentered) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return false;
    *reference = screen->availableGeometry();
    return true;
  }
  if (flags & WindowFlags::WindowCentered) {
    const QWidget* over = parent ? parent : QApplication::activeWindow();
    if (!over) return false;
    // A parent inside another window has parent-relative geometry; the new
    // window is placed in screen coordinates.
    *reference = over->isWindow() ? over->frameGeometry() : QRect(over->mapToGlobal(QPoint(0, 0)), over->size());
    return true;
  }
  return false;
}

}  // namespace

void WindowRecordRelease(int64_t number, const KTQMainWindow* window) {
  const WindowRecord* record = FindWindow(number);
  if (record && record->window == window) ObjectTableRelease(windowTable, number);
}

intptr_t WindowOpen(ObjectNumber number, int32_t x, int32_t y, int32_t width, int32_t height, RtString title,
                    int32_t flags, QWidget* parent) {
  if (!windowTable || !Application()) return 0;
  auto* record = static_cast<WindowRecord*>(ObjectTableAllocate(windowTable, number));
  if (!record) return 0;
  const int64_t id = number == DynamicNumber ? ObjectHandle(record) : number;

  auto* window = new KTQMainWindow(id, parent, QtWindowFlags(flags));
  const bool centred = flags & (WindowFlags::ScreenCentered | WindowFlags::WindowCentered);
  if (x != UnsetCoordinate && y != UnsetCoordinate && !centred) window->move(x, y);
  if (flags & (WindowFlags::Resizable | WindowFlags::MaximizeGadget))
    window->resize(width, height);
  else
    window->setFixedSize(width, height);

  QRect reference;
  if (CentringReference(flags, parent, &reference)) {
    // Before the window exists on screen its frame is not known yet, and Qt
    // reports it one pixel short of the window; a frame is never smaller.
    const QSize frame = window->frameGeometry().size().expandedTo(window->size());
    window->move(reference.x() + (reference.width() - frame.width()) / 2,
                 reference.y() + (reference.height() - frame.height()) / 2);
  }

  if (flags & WindowFlags::Maximize)
    window->setWindowState(Qt::WindowMaximized);
  else if (flags & WindowFlags::Minimize)
    window->setWindowState(Qt::WindowMinimized);

  window->SetContentWidget(new KTMainWindowWidget(id, window));
  record->window = window;
  record->colour = -1;
  window->setWindowTitle(title ? QString::fromUtf16(title) : QString());

  if (!(flags & WindowFlags::Invisible)) window->show();
  if (!(flags & WindowFlags::NoGadgets)) {
    if (GadgetListSelectHook hook = gadgetListHook.load(std::memory_order_acquire)) hook(window);
  }
  return number == DynamicNumber ? static_cast<intptr_t>(id) : reinterpret_cast<intptr_t>(window);
}

intptr_t WindowOpen(ObjectNumber number, int32_t x, int32_t y, int32_t width, int32_t height, RtString title,
                    int32_t flags) {
  return WindowOpen(number, x, y, width, height, title, flags, nullptr);
}

intptr_t WindowOpen(ObjectNumber number, int32_t x, int32_t y, int32_t width, int32_t height, RtString title) {
  return WindowOpen(number, x, y, width, height, title, WindowFlags::SystemMenu, nullptr);
}

void WindowSetColor(ObjectNumber window, int64_t colour) {
  WindowRecord* record = FindWindow(window);
  if (!record) return;
  QString sheet;
  if (colour != -1) {
    sheet = QStringLiteral("KTQMainWindow > QWidget { background-color: rgb(%1, %2, %3) }")
                .arg(colour & 0xFF)
                .arg((colour >> 8) & 0xFF)
                .arg((colour >> 16) & 0xFF);
  }
  record->colour = colour;
  if (KTMainWindowWidget* content = record->window->ContentWidget()) content->setStyleSheet(sheet);
}

int64_t WindowColor(ObjectNumber window) {
  const WindowRecord* record = FindWindow(window);
  return record ? record->colour : -1;
}

void WindowFree(ObjectNumber window) {
  if (!windowTable) return;
  if (window == DynamicNumber) {
    ObjectTableReleaseAll(windowTable);
    return;
  }
  const WindowRecord* record = FindWindow(window);
  // The window's destructor gives the number back and purges its events.
  if (record) delete record->window;
}

QWidget* WindowWidget(ObjectNumber window) {
  const WindowRecord* record = FindWindow(window);
  return record ? record->window : nullptr;
}

int64_t WindowNumberOfWidget(const QWidget* widget) {
  if (!widget) return -1;
  const auto* top = qobject_cast<const KTQMainWindow*>(widget->window());
  return top ? top->WindowNumber() : -1;
}

void WindowSetGadgetListHook(GadgetListSelectHook hook) { gadgetListHook.store(hook, std::memory_order_release); }

void WindowLibraryStart() {
  if (!windowTable) windowTable = ObjectTableCreate(sizeof(WindowRecord), 16, WindowFree);
}

void WindowLibraryEnd() {
  if (windowTable) ObjectTableReleaseAll(windowTable);
}

}  // namespace rt
