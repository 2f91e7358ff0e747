#include "qt/gadget_style.h"

#include <QVariant>
#include <QWidget>

namespace rt {

void GadgetStyle::RegisterColorType(int32_t type, const QString& property) {
  const QVariant id = widget_->property("KT_GadgetID");
  const qlonglong number = id.isValid() ? id.toLongLong() : -1;
  types_[type] = {property, QStringLiteral("*[KT_GadgetID=\"%1\"]").arg(number)};
}

void GadgetStyle::SetColor(int32_t type, int64_t colour) {
  if (colour == -1) {
    colours_.erase(type);
  } else {
    colours_[type] = colour;
  }
  // A kind without colour types has nothing to say; its own style sheet
  // (a button's text alignment) stays as it is.
  if (types_.empty()) return;
  for (const auto& [registered, target] : types_) {
    const auto& [property, selector] = target;
    std::map<QString, QString>& rule = rules_[selector];
    const auto stored = colours_.find(registered);
    if (stored == colours_.end()) {
      rule.erase(property);
    } else {
      const int64_t c = stored->second;
      rule[property] = QStringLiteral("rgb(%1, %2, %3)").arg(c & 0xFF).arg((c >> 8) & 0xFF).arg((c >> 16) & 0xFF);
    }
  }
  widget_->setStyleSheet(StyleSheetText());
}

int64_t GadgetStyle::GetColor(int32_t type) const {
  const auto stored = colours_.find(type);
  return stored == colours_.end() ? -1 : stored->second;
}

QString GadgetStyle::StyleSheetText() const {
  QString text;
  for (const auto& [selector, rule] : rules_) {
    text += selector;
    text += QLatin1String(" {\n");
    for (const auto& [property, value] : rule) {
      text += QLatin1String("  ") + property + QLatin1String(": ") + value + QLatin1String(";\n");
    }
    text += QLatin1String("}\n");
  }
  return text;
}

}  // namespace rt
