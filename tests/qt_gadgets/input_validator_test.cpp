// KTInputValidator: fix-up per mode, and the digit mode's cursor rule.
#include <gtest/gtest.h>

#include "qt/input_validator.h"

namespace {

using rt::KTInputValidator;
namespace Mode = rt::InputValidatorMode;

QString Fixed(int32_t mode, QString text) {
  KTInputValidator(mode).fixup(text);
  return text;
}

TEST(InputValidator, FixupPerMode) {
  EXPECT_EQ(Fixed(Mode::Digits, "a1 b2-3\u00e94"), "1234");
  EXPECT_EQ(Fixed(Mode::Digits, "\u0661\u0662"), "");  // only the ASCII digits count
  EXPECT_EQ(Fixed(Mode::UpperCase, "ttyUSB\u00e9"), "TTYUSB\u00c9");
  EXPECT_EQ(Fixed(Mode::LowerCase, "COM\u00c9"), "com\u00e9");
}

TEST(InputValidator, CaseModesCorrectAndAccept) {
  KTInputValidator upper(Mode::UpperCase);
  QString text = "abc";
  int cursor = 2;
  EXPECT_EQ(upper.validate(text, cursor), QValidator::Acceptable);
  EXPECT_EQ(text, "ABC");
  EXPECT_EQ(cursor, 2);
}

struct CursorCase {
  const char* before;
  int cursor;
  const char* after;
  int cursorAfter;
};

TEST(InputValidator, DigitsMoveTheCursorOnlyForCharactersInFrontOfIt) {
  const CursorCase cases[] = {
      {"12a", 3, "12", 2},      // typed at the end
      {"1x23", 2, "123", 1},    // typed in the middle
      {"ab12", 2, "12", 0},     // pasted at the start
      {"a12", 0, "12", 0},      // in front of the cursor nothing moves (never -1)
      {"1a2", 1, "12", 1},
      {"12ab", 2, "12", 2},
      {"x1y2z", 5, "12", 2},
      {"", 0, "", 0},
  };
  for (const CursorCase& c : cases) {
    SCOPED_TRACE(c.before);
    KTInputValidator digits(Mode::Digits);
    QString text = c.before;
    int cursor = c.cursor;
    EXPECT_EQ(digits.validate(text, cursor), QValidator::Acceptable);
    EXPECT_EQ(text, c.after);
    EXPECT_EQ(cursor, c.cursorAfter);
  }
}

}  // namespace
