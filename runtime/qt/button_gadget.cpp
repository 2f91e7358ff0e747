#include "qt/button_gadget.h"

#include <QPushButton>
#include <QStyleFactory>

#include "qt/gadget_create.h"
#include "qt/gadget_text.h"

namespace rt {

namespace {

QString DoubleAmpersands(QString text) { return text.replace(QLatin1Char('&'), QLatin1String("&&")); }

// A proxy owns its base style. Handing it the style the button shares with
// every other widget would take that style over, and delete it with the
// button; so the base is a new instance of the same style.
QStyle* FreshStyleLike(const QStyle* style) {
  return style ? QStyleFactory::create(style->objectName()) : nullptr;
}

}  // namespace

KTButtonFunctions::KTButtonFunctions(QPushButton* button, const GadgetIdentity& identity, int32_t flags)
    : KTGadgetFunctions(button, identity, flags), button_(button) {}

int64_t KTButtonFunctions::GetState() { return button_->isChecked() ? 1 : 0; }

void KTButtonFunctions::SetState(int64_t value) { button_->setChecked(value != 0); }

QString KTButtonFunctions::GetText() { return button_->text().replace(QLatin1String("&&"), QLatin1String("&")); }

void KTButtonFunctions::SetText(const QString& text) { button_->setText(DoubleAmpersands(text)); }

KTMultiLineStyle::KTMultiLineStyle(QWidget* button) : QProxyStyle(FreshStyleLike(button->style())) {
  setParent(button);  // dies with the button
}

void KTMultiLineStyle::drawItemText(QPainter* painter, const QRect& rect, int flags, const QPalette& palette,
                                    bool enabled, const QString& text, QPalette::ColorRole textRole) const {
  QProxyStyle::drawItemText(painter, rect, flags | Qt::TextWordWrap, palette, enabled, text, textRole);
}

intptr_t ButtonGadget(ObjectNumber number, int32_t x, int32_t y, int32_t width, int32_t height, RtString text,
                      int32_t flags) {
  return GadgetCreate(
      number, GadgetKind::Button, x, y, width, height, [](QWidget* parent) { return new QPushButton(parent); },
      [text, flags](QWidget* widget, const GadgetIdentity& identity, int32_t*, int32_t*) -> KTGadgetFunctions* {
        auto* button = static_cast<QPushButton*>(widget);
        auto* functions = new KTButtonFunctions(button, identity, flags);
        button->setText(DoubleAmpersands(ToQString(text)));
        if (flags & ButtonFlags::AlignRight) {
          button->setStyleSheet(QStringLiteral("text-align: right"));
        } else if (flags & ButtonFlags::AlignLeft) {
          button->setStyleSheet(QStringLiteral("text-align: left"));
        }
        if (flags & ButtonFlags::Toggle) button->setCheckable(true);
        if (flags & ButtonFlags::Default) button->setDefault(true);
        if (flags & ButtonFlags::MultiLine) button->setStyle(new KTMultiLineStyle(button));
        QObject::connect(button, &QPushButton::clicked, functions, &KTGadgetFunctions::Event);
        return functions;
      });
}

}  // namespace rt
