// KTInputValidator: keeps the text of string and combo box gadgets to digits,
// upper case or lower case. Input is corrected, never rejected.
#pragma once

#include <cstdint>

#include <QValidator>

namespace rt {

namespace InputValidatorMode {
constexpr int32_t Digits = 0;
constexpr int32_t UpperCase = 1;
constexpr int32_t LowerCase = 2;
}  // namespace InputValidatorMode

class KTInputValidator : public QValidator {
  Q_OBJECT

 public:
  explicit KTInputValidator(int32_t mode, QObject* parent = nullptr) : QValidator(parent), mode_(mode) {}

  int32_t Mode() const { return mode_; }
  State validate(QString& text, int& cursor) const override;
  void fixup(QString& text) const override;

 private:
  int32_t mode_;
};

}  // namespace rt
