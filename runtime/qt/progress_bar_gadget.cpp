#include "qt/progress_bar_gadget.h"

#include <QProgressBar>

#include "qt/gadget_create.h"

namespace rt {

KTProgressBarFunctions::KTProgressBarFunctions(QProgressBar* bar, const GadgetIdentity& identity, int32_t flags,
                                               int32_t minimum, int32_t maximum)
    : KTGadgetFunctions(bar, identity, flags), bar_(bar), minimum_(minimum), maximum_(maximum) {}

int64_t KTProgressBarFunctions::GetState() { return value_; }

void KTProgressBarFunctions::SetState(int64_t value) {
  const int32_t old = value_;
  value_ = static_cast<int32_t>(value);
  if (value_ == Busy) {
    bar_->setRange(0, 0);  // Qt's busy indicator
    return;
  }
  if (old == Busy) bar_->setRange(minimum_, maximum_);
  bar_->setValue(value_);  // Qt keeps the shown value for one out of range
}

int32_t KTProgressBarFunctions::GetAttribute(int32_t attribute) {
  switch (attribute) {
    case ProgressBarAttribute::Minimum:
      return minimum_;
    case ProgressBarAttribute::Maximum:
      return maximum_;
    default:
      return 0;
  }
}

void KTProgressBarFunctions::SetAttribute(int32_t attribute, int32_t value) {
  if (attribute == ProgressBarAttribute::Minimum) {
    minimum_ = value;
  } else if (attribute == ProgressBarAttribute::Maximum) {
    maximum_ = value;
  } else {
    return;
  }
  // While busy the range stays (0, 0); the next value brings the new one.
  if (value_ != Busy) bar_->setRange(minimum_, maximum_);
}

intptr_t ProgressBarGadget(ObjectNumber number, int32_t x, int32_t y, int32_t width, int32_t height, int32_t minimum,
                           int32_t maximum, int32_t flags) {
  return GadgetCreate(
      number, GadgetKind::ProgressBar, x, y, width, height, [](QWidget* parent) { return new QProgressBar(parent); },
      [flags, minimum, maximum](QWidget* widget, const GadgetIdentity& identity, int32_t*, int32_t*) -> KTGadgetFunctions* {
        auto* bar = static_cast<QProgressBar*>(widget);
        auto* functions = new KTProgressBarFunctions(bar, identity, flags, minimum, maximum);
        bar->setOrientation(flags & ProgressBarFlags::Vertical ? Qt::Vertical : Qt::Horizontal);
        bar->setFormat(QString());  // no percentage text
        bar->setRange(minimum, maximum);
        bar->setValue(0);
        return functions;
      });
}

}  // namespace rt
