// KTEventFilter: turns mouse, key, focus and resize events of a gadget's
// widget into gadget events. Only the types enabled for the gadget are posted.
#pragma once

#include <cstdint>

#include <QObject>
#include <QSet>

#include "core/types.h"

class QWidget;

namespace rt {

class KTEventFilter : public QObject {
  Q_OBJECT

 public:
  // A child of the widget, installed as its event filter.
  KTEventFilter(QWidget* widget, ObjectNumber gadgetId);

  void Enable(int32_t type);
  bool eventFilter(QObject* watched, QEvent* event) override;  // always lets the event through

 private:
  void Post(int32_t type) const;

  QWidget* widget_;
  ObjectNumber gadgetId_;
  QSet<int32_t> enabled_;
  bool leftDoublePending_ = false;
  bool rightDoublePending_ = false;
  bool dragArmed_ = false;
  int32_t pressX_ = 0;
  int32_t pressY_ = 0;
};

}  // namespace rt
