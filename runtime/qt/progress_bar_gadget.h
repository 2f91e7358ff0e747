// Progress bar gadgets (kind 14). State -1 shows a busy indicator; the state
// read back is the one stored, even when the bar cannot show it.
#pragma once

#include <cstdint>

#include "core/types.h"
#include "ui/gadgets.h"
#include "qt/gadget_functions.h"

class QProgressBar;

namespace rt {

namespace ProgressBarFlags {
constexpr int32_t Vertical = 0x01;
}

namespace ProgressBarAttribute {
constexpr int32_t Minimum = 1;
constexpr int32_t Maximum = 2;
}  // namespace ProgressBarAttribute

class KTProgressBarFunctions : public KTGadgetFunctions {
  Q_OBJECT

 public:
  KTProgressBarFunctions(QProgressBar* bar, const GadgetIdentity& identity, int32_t flags, int32_t minimum,
                         int32_t maximum);

  int64_t GetState() override;
  void SetState(int64_t value) override;
  int32_t GetAttribute(int32_t attribute) override;
  void SetAttribute(int32_t attribute, int32_t value) override;

 private:
  static constexpr int32_t Busy = -1;

  QProgressBar* bar_;
  int32_t minimum_;
  int32_t maximum_;
  int32_t value_ = 0;
};

inline intptr_t ProgressBarGadget(ObjectNumber number, int32_t x, int32_t y, int32_t width, int32_t height,
                                  int32_t minimum, int32_t maximum) {
  return ProgressBarGadget(number, x, y, width, height, minimum, maximum, 0);
}

}  // namespace rt
