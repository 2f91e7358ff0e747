#include "qt/combo_box_gadget.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QVariant>

#include "qt/event_kind.h"
#include "qt/gadget_create.h"
#include "qt/gadget_event_filter.h"
#include "qt/gadget_images.h"

namespace rt {

KTComboBoxFunctions::KTComboBoxFunctions(QComboBox* combo, const GadgetIdentity& identity, int32_t flags)
    : KTGadgetFunctions(combo, identity, flags), combo_(combo) {
  if (flags & ComboBoxFlags::LowerCase) {
    validator_ = std::make_unique<KTInputValidator>(InputValidatorMode::LowerCase);
  } else if (flags & ComboBoxFlags::UpperCase) {
    validator_ = std::make_unique<KTInputValidator>(InputValidatorMode::UpperCase);
  }
}

// Runs while the combo box is being destroyed, so it touches nothing of it;
// the edit field holds its validator by a guarded pointer.
KTComboBoxFunctions::~KTComboBoxFunctions() { validator_.reset(); }

QString KTComboBoxFunctions::Fixed(QString text) const {
  if (validator_) validator_->fixup(text);
  return text;
}

QIcon KTComboBoxFunctions::ItemIcon(QImage* image) const {
  return image && (Flags() & ComboBoxFlags::Images) ? GadgetIcon(image) : QIcon();
}

int32_t KTComboBoxFunctions::AddItem(int32_t position, const QString& text, QImage* image, int32_t) {
  const QString fixed = Fixed(text);
  if (position < 0) position = combo_->count();
  // The first item becomes the current one (Qt's rule); for an editable box
  // that would change the edit text, which must not reach the program.
  const QSignalBlocker blocker(combo_);
  combo_->insertItem(position, ItemIcon(image), fixed);
  return 1;
}

void KTComboBoxFunctions::RemoveItem(int32_t index) { combo_->removeItem(index); }

void KTComboBoxFunctions::ClearItems() {
  combo_->clear();
  if (combo_->isEditable()) combo_->setEditText(QString());
}

int32_t KTComboBoxFunctions::CountItems() { return combo_->count(); }

QString KTComboBoxFunctions::GetItemText(int32_t index) { return combo_->itemText(index); }

void KTComboBoxFunctions::SetItemText(int32_t index, const QString& text) { combo_->setItemText(index, Fixed(text)); }

void KTComboBoxFunctions::SetItemData(int32_t index, int64_t value) {
  combo_->setItemData(index, QVariant(qlonglong(value)), Qt::UserRole);
}

int64_t KTComboBoxFunctions::GetItemData(int32_t index) { return combo_->itemData(index, Qt::UserRole).toLongLong(); }

void KTComboBoxFunctions::SetItemImage(int32_t index, QImage* image) { combo_->setItemIcon(index, ItemIcon(image)); }

int64_t KTComboBoxFunctions::GetState() { return combo_->currentIndex(); }

void KTComboBoxFunctions::SetState(int64_t index) {
  const QSignalBlocker blocker(combo_);
  combo_->setCurrentIndex(static_cast<int>(index));
}

QString KTComboBoxFunctions::GetText() { return combo_->currentText(); }

void KTComboBoxFunctions::SetText(const QString& text) {
  const QSignalBlocker blocker(combo_);
  combo_->setCurrentText(Fixed(text));
}

intptr_t ComboBoxGadget(ObjectNumber number, int32_t x, int32_t y, int32_t width, int32_t height, int32_t flags) {
  return GadgetCreate(
      number, GadgetKind::ComboBox, x, y, width, height, [](QWidget* parent) { return new QComboBox(parent); },
      [flags](QWidget* widget, const GadgetIdentity& identity, int32_t*, int32_t*) -> KTGadgetFunctions* {
        auto* combo = static_cast<QComboBox*>(widget);
        auto* functions = new KTComboBoxFunctions(combo, identity, flags);
        QObject::connect(combo, QOverload<int>::of(&QComboBox::activated), functions, &KTGadgetFunctions::EventChange);
        if (flags & ComboBoxFlags::Editable) {
          combo->setEditable(true);
          combo->setInsertPolicy(QComboBox::NoInsert);
          if (functions->Validator()) combo->lineEdit()->setValidator(functions->Validator());
          QObject::connect(combo, &QComboBox::editTextChanged, functions, &KTGadgetFunctions::EventChange);
          auto* filter = new KTEventFilter(combo, identity.id);
          filter->Enable(GadgetEventType::FocusIn);
          filter->Enable(GadgetEventType::FocusOut);
        }
        return functions;
      });
}

}  // namespace rt
