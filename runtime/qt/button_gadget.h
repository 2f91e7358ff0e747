// Button gadgets (kind 1): a QPushButton whose click posts LeftClick.
#pragma once

#include <cstdint>

#include <QProxyStyle>

#include "core/types.h"
#include "ui/gadgets.h"
#include "qt/gadget_functions.h"

class QPushButton;

namespace rt {

namespace ButtonFlags {
constexpr int32_t AlignRight = 0x01;
constexpr int32_t AlignLeft = 0x02;   // only without AlignRight
constexpr int32_t Toggle = 0x04;
constexpr int32_t Default = 0x08;
constexpr int32_t MultiLine = 0x10;
}  // namespace ButtonFlags

// Texts are shown literally: every "&" is doubled on the way in (no
// mnemonics) and halved again on the way out.
class KTButtonFunctions : public KTGadgetFunctions {
  Q_OBJECT

 public:
  KTButtonFunctions(QPushButton* button, const GadgetIdentity& identity, int32_t flags);

  int64_t GetState() override;  // 1 when checked
  void SetState(int64_t value) override;
  QString GetText() override;
  void SetText(const QString& text) override;

 private:
  QPushButton* button_;
};

// Draws button texts word-wrapped.
class KTMultiLineStyle : public QProxyStyle {
  Q_OBJECT

 public:
  // Built on a fresh instance of the button's current style, which it owns.
  explicit KTMultiLineStyle(QWidget* button);

  void drawItemText(QPainter* painter, const QRect& rect, int flags, const QPalette& palette, bool enabled,
                    const QString& text, QPalette::ColorRole textRole = QPalette::NoRole) const override;
};

inline intptr_t ButtonGadget(ObjectNumber number, int32_t x, int32_t y, int32_t width, int32_t height, RtString text) {
  return ButtonGadget(number, x, y, width, height, text, 0);
}

}  // namespace rt
