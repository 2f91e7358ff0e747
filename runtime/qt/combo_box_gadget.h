// Combo box gadgets (kind 8): a drop-down list, optionally editable. Picking
// an entry (even the current one again) or editing the text posts Change;
// changes the program makes post nothing.
#pragma once

#include <cstdint>
#include <memory>

#include "core/types.h"
#include "ui/gadgets.h"
#include "qt/gadget_functions.h"
#include "qt/input_validator.h"

class QComboBox;

namespace rt {

namespace ComboBoxFlags {
constexpr int32_t Editable = 0x01;
constexpr int32_t LowerCase = 0x02;
constexpr int32_t UpperCase = 0x04;  // only without LowerCase
constexpr int32_t Images = 0x08;     // items may carry images
}  // namespace ComboBoxFlags

class KTComboBoxFunctions : public KTGadgetFunctions {
  Q_OBJECT

 public:
  KTComboBoxFunctions(QComboBox* combo, const GadgetIdentity& identity, int32_t flags);
  ~KTComboBoxFunctions() override;

  KTInputValidator* Validator() const { return validator_.get(); }

  int32_t AddItem(int32_t position, const QString& text, QImage* image, int32_t flags) override;
  void RemoveItem(int32_t index) override;
  void ClearItems() override;
  int32_t CountItems() override;
  QString GetItemText(int32_t index) override;
  void SetItemText(int32_t index, const QString& text) override;
  void SetItemData(int32_t index, int64_t value) override;
  int64_t GetItemData(int32_t index) override;
  void SetItemImage(int32_t index, QImage* image) override;
  int64_t GetState() override;  // the current index, -1 for none
  void SetState(int64_t index) override;
  QString GetText() override;
  void SetText(const QString& text) override;

 private:
  QString Fixed(QString text) const;
  QIcon ItemIcon(QImage* image) const;

  QComboBox* combo_;
  std::unique_ptr<KTInputValidator> validator_;
};

inline intptr_t ComboBoxGadget(ObjectNumber number, int32_t x, int32_t y, int32_t width, int32_t height) {
  return ComboBoxGadget(number, x, y, width, height, 0);
}

}  // namespace rt
