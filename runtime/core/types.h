// Basic types shared by every library of the runtime.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rt {

// Objects are addressed by a number the program chooses (0 or more), or are
// created anonymously with DynamicNumber, in which case the address of the
// object's record becomes its handle and from then on its number.
using ObjectNumber = int64_t;
constexpr ObjectNumber DynamicNumber = -1;

// Text is zero-terminated UTF-16; a null pointer is the empty string.
using RtChar = char16_t;
using RtString = const char16_t*;

}  // namespace rt
