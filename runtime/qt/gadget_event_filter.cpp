#include "qt/gadget_event_filter.h"

#include <cmath>
#include <cstdlib>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>

#include "qt/event_kind.h"
#include "qt/wait_window_event.h"
#include "qt/windows.h"

namespace rt {

namespace {

// Halves round upward.
int32_t RoundCoordinate(qreal value) { return static_cast<int32_t>(std::floor(value + 0.5)); }

}  // namespace

KTEventFilter::KTEventFilter(QWidget* widget, ObjectNumber gadgetId) : QObject(widget), widget_(widget), gadgetId_(gadgetId) {
  widget->installEventFilter(this);
}

void KTEventFilter::Enable(int32_t type) { enabled_.insert(type); }

void KTEventFilter::Post(int32_t type) const {
  if (!enabled_.contains(type)) return;
  EventPost(EventKind::Gadget, gadgetId_, WindowNumberOfWidget(widget_), type);
}

bool KTEventFilter::eventFilter(QObject* watched, QEvent* event) {
  if (watched != widget_) return false;
  switch (event->type()) {
    case QEvent::MouseButtonPress: {
      const auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->button() == Qt::LeftButton) {
        leftDoublePending_ = false;
        dragArmed_ = true;
        pressX_ = RoundCoordinate(mouse->localPos().x());
        pressY_ = RoundCoordinate(mouse->localPos().y());
      } else if (mouse->button() == Qt::RightButton) {
        rightDoublePending_ = false;
      }
      break;
    }
    case QEvent::MouseButtonDblClick: {
      const auto* mouse = static_cast<QMouseEvent*>(event);
      dragArmed_ = false;
      if (mouse->button() == Qt::LeftButton) {
        if (enabled_.contains(GadgetEventType::LeftDoubleClick)) leftDoublePending_ = true;
      } else if (mouse->button() == Qt::RightButton) {
        if (enabled_.contains(GadgetEventType::RightDoubleClick)) rightDoublePending_ = true;
      }
      break;
    }
    case QEvent::MouseButtonRelease: {
      const auto* mouse = static_cast<QMouseEvent*>(event);
      dragArmed_ = false;
      // The pending flags stay until the next press of that button.
      if (mouse->button() == Qt::LeftButton) {
        Post(leftDoublePending_ ? GadgetEventType::LeftDoubleClick : GadgetEventType::LeftClick);
      } else if (mouse->button() == Qt::RightButton) {
        Post(rightDoublePending_ ? GadgetEventType::RightDoubleClick : GadgetEventType::RightClick);
      }
      break;
    }
    case QEvent::MouseMove: {
      const auto* mouse = static_cast<QMouseEvent*>(event);
      if (dragArmed_ && (mouse->buttons() & Qt::LeftButton)) {
        const int32_t distance = std::abs(RoundCoordinate(mouse->localPos().x()) - pressX_) +
                                 std::abs(RoundCoordinate(mouse->localPos().y()) - pressY_);
        if (distance >= QApplication::startDragDistance()) {
          dragArmed_ = false;
          Post(GadgetEventType::DragBegin);
        }
      }
      break;
    }
    case QEvent::KeyPress: {
      const auto* key = static_cast<QKeyEvent*>(event);
      // The keypad's Enter is another key (Qt::Key_Enter) and posts nothing.
      if (key->key() == Qt::Key_Return && key->modifiers() == Qt::NoModifier) Post(GadgetEventType::ReturnPressed);
      break;
    }
    case QEvent::FocusIn:
      Post(GadgetEventType::FocusIn);
      break;
    case QEvent::FocusOut:
      Post(GadgetEventType::FocusOut);
      break;
    case QEvent::Resize:
      Post(GadgetEventType::Resized);
      break;
    default:
      break;
  }
  return false;
}

}  // namespace rt
