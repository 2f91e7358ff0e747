// Conversions between UTF-16 and UTF-8 (code page 65001) or Latin-1 (code
// page 0), used at every boundary with the C library and the system.
// Lengths of -1 mean "up to and including the terminator"; a null source is
// the empty string. With a null destination the functions count; otherwise
// they convert and never write past the destination size nor read past the
// source length, whatever the input holds.
//
// UTF-16 to UTF-8: a lone low surrogate is encoded as a three-byte sequence.
// Counting stops at a high surrogate that ends the input or is not followed
// by a low surrogate; converting yields 0 for the latter and stops at the
// former. Conversion stops when the next whole character does not fit.
//
// UTF-8 to UTF-16: malformed sequences (a stray continuation byte, a lead
// byte above F7, a lead byte not followed by the continuation bytes it
// announces, an overlong form) stop counting and make converting yield 0.
// A sequence cut short by the end of the input or a code point above
// 10FFFF stops both. Three-byte forms of surrogates decode to that unit, so
// everything the encoder produces decodes back to the same units.
#pragma once

#include "core/types.h"

namespace rt {

constexpr int32_t CodePageUtf8 = 65001;
constexpr int32_t CodePageLatin1 = 0;

int64_t Utf16ToUtf8(int32_t codePage, const RtChar* source, int64_t sourceUnits, char* destination, int64_t destinationBytes);
int64_t Utf8ToUtf16(int32_t codePage, const char* source, int64_t sourceBytes, RtChar* destination, int64_t destinationUnits);

// A new zero-terminated UTF-8 string (never null: an empty one on failure,
// including text with an unpaired high surrogate). Free it with FreeUtf8.
char* ToUtf8(RtString text);
void FreeUtf8(char* text);

// printf-style formatting (vsnprintf; %s takes UTF-8) with an RtString
// format. With a destination: the code units written, without the
// terminator; the destination must hold the length measured without a
// destination plus one code unit (the UTF-8 length is never below the UTF-16
// length). Without a destination: the UTF-8 length. Output the C library
// cannot produce, or that is not valid UTF-8, yields 0 and an empty text.
int64_t FormatText(RtChar* destination, RtString format, ...);

}  // namespace rt
