// Per-gadget colour style sheets.
//
// A kind registers the colour types it understands (the string gadget: 1 is
// the text colour, 2 the background). Each registration records the selector
// that matches the gadget by its KT_GadgetID at that moment; setting a colour
// rebuilds the widget's whole style sheet from the stored colours.
#pragma once

#include <cstdint>
#include <map>
#include <utility>

#include <QString>

class QWidget;

namespace rt {

class GadgetStyle {
 public:
  explicit GadgetStyle(QWidget* widget) : widget_(widget) {}

  void RegisterColorType(int32_t type, const QString& property);
  // Colour -1 removes the colour of that type.
  void SetColor(int32_t type, int64_t colour);
  int64_t GetColor(int32_t type) const;  // -1 when unset
  // The text SetColor applies: selectors and properties in ascending order.
  QString StyleSheetText() const;

 private:
  QWidget* widget_;
  std::map<int32_t, std::pair<QString, QString>> types_;  // type -> (property, selector)
  std::map<QString, std::map<QString, QString>> rules_;   // selector -> property -> value
  std::map<int32_t, int64_t> colours_;
};

}  // namespace rt
