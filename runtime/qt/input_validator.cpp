#include "qt/input_validator.h"

#include <QRegularExpression>

namespace rt {

void KTInputValidator::fixup(QString& text) const {
  switch (mode_) {
    case InputValidatorMode::UpperCase:
      text = text.toUpper();
      break;
    case InputValidatorMode::LowerCase:
      text = text.toLower();
      break;
    default: {
      static const QRegularExpression nonDigit(QStringLiteral("[^0-9]"));
      text.remove(nonDigit);
      break;
    }
  }
}

QValidator::State KTInputValidator::validate(QString& text, int& cursor) const {
  if (mode_ != InputValidatorMode::Digits) {
    fixup(text);
    return Acceptable;
  }
  // From the end, so indices still to come stay valid. The cursor moves left
  // only for characters removed in front of it.
  for (int i = text.size() - 1; i >= 0; --i) {
    const QChar c = text.at(i);
    if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) continue;
    text.remove(i, 1);
    if (cursor > i) --cursor;
  }
  return Acceptable;
}

}  // namespace rt
