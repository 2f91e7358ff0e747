// Runtime text to Qt text and back, for the gadgets and requesters.
#pragma once

#include <QString>

#include "core/types.h"

namespace rt {

// A null RtString is the empty text.
inline QString ToQString(RtString text) {
  return text ? QString::fromUtf16(text) : QString();
}

inline RtString FromQString(const QString& text) {
  return reinterpret_cast<RtString>(text.utf16());
}

}  // namespace rt
