#include "qt/string_gadget.h"

#include <QLineEdit>

#include "qt/event_kind.h"
#include "qt/gadget_create.h"
#include "qt/gadget_event_filter.h"
#include "qt/gadget_text.h"
#include "qt/input_validator.h"

namespace rt {

KTStringFunctions::KTStringFunctions(QLineEdit* edit, const GadgetIdentity& identity, int32_t flags)
    : KTGadgetFunctions(edit, identity, flags), edit_(edit) {
  Style().RegisterColorType(1, QStringLiteral("color"));
  Style().RegisterColorType(2, QStringLiteral("background-color"));
}

QString KTStringFunctions::GetText() { return edit_->text(); }

void KTStringFunctions::SetText(const QString& text) {
  QString fixed = text;
  if (const QValidator* validator = edit_->validator()) validator->fixup(fixed);
  edit_->setText(fixed);
  edit_->setCursorPosition(0);
}

int32_t KTStringFunctions::GetAttribute(int32_t attribute) {
  return attribute == StringAttribute::MaximumLength ? edit_->maxLength() : 0;
}

void KTStringFunctions::SetAttribute(int32_t attribute, int32_t value) {
  if (attribute == StringAttribute::MaximumLength) edit_->setMaxLength(value);
}

intptr_t StringGadget(ObjectNumber number, int32_t x, int32_t y, int32_t width, int32_t height, RtString text,
                      int32_t flags) {
  return GadgetCreate(
      number, GadgetKind::String, x, y, width, height, [](QWidget* parent) { return new QLineEdit(parent); },
      [text, flags](QWidget* widget, const GadgetIdentity& identity, int32_t*, int32_t*) -> KTGadgetFunctions* {
        auto* edit = static_cast<QLineEdit*>(widget);
        auto* functions = new KTStringFunctions(edit, identity, flags);
        if (flags & StringFlags::Password) edit->setEchoMode(QLineEdit::Password);
        if (flags & StringFlags::ReadOnly) edit->setReadOnly(true);
        if (flags & StringFlags::NoFrame) edit->setFrame(false);
        if (flags & StringFlags::Digits) {
          edit->setValidator(new KTInputValidator(InputValidatorMode::Digits, edit));
        } else if (flags & StringFlags::LowerCase) {
          edit->setValidator(new KTInputValidator(InputValidatorMode::LowerCase, edit));
        } else if (flags & StringFlags::UpperCase) {
          edit->setValidator(new KTInputValidator(InputValidatorMode::UpperCase, edit));
        }
        functions->SetText(ToQString(text));
        QObject::connect(edit, &QLineEdit::textEdited, functions, &KTGadgetFunctions::EventChange);
        auto* filter = new KTEventFilter(edit, identity.id);
        filter->Enable(GadgetEventType::FocusIn);
        filter->Enable(GadgetEventType::FocusOut);
        return functions;
      });
}

}  // namespace rt
