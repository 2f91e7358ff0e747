// String gadgets (kind 2): a single-line text field. Typing posts Change;
// setting the text from the program posts nothing. Colour type 1 is the text
// colour, 2 the background.
#pragma once

#include <cstdint>

#include "core/types.h"
#include "ui/gadgets.h"
#include "qt/gadget_functions.h"

class QLineEdit;

namespace rt {

namespace StringFlags {
constexpr int32_t Password = 0x01;
constexpr int32_t ReadOnly = 0x02;
constexpr int32_t UpperCase = 0x04;
constexpr int32_t LowerCase = 0x08;  // wins over UpperCase
constexpr int32_t Digits = 0x10;     // wins over both
constexpr int32_t NoFrame = 0x20;
}  // namespace StringFlags

namespace StringAttribute {
constexpr int32_t MaximumLength = 1;
}

class KTStringFunctions : public KTGadgetFunctions {
  Q_OBJECT

 public:
  KTStringFunctions(QLineEdit* edit, const GadgetIdentity& identity, int32_t flags);

  QString GetText() override;
  void SetText(const QString& text) override;  // corrected by the validator; cursor to the start
  int32_t GetAttribute(int32_t attribute) override;
  void SetAttribute(int32_t attribute, int32_t value) override;

 private:
  QLineEdit* edit_;
};

inline intptr_t StringGadget(ObjectNumber number, int32_t x, int32_t y, int32_t width, int32_t height, RtString text) {
  return StringGadget(number, x, y, width, height, text, 0);
}

}  // namespace rt
