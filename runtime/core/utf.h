// Conversions between UTF-16 and UTF-8 (code page 65001) or Latin-1 (code
// page 0), used at every boundary with the C library and the system.
// Lengths of -1 mean "up to and including the terminator". With a null
// destination the functions count; otherwise they convert and never write
// past the destination size nor read past the source length.
#pragma once

#include "core/types.h"

namespace rt {

constexpr int32_t CodePageUtf8 = 65001;
constexpr int32_t CodePageLatin1 = 0;

int64_t Utf16ToUtf8(int32_t codePage, const RtChar* source, int64_t sourceUnits, char* destination, int64_t destinationBytes);
int64_t Utf8ToUtf16(int32_t codePage, const char* source, int64_t sourceBytes, RtChar* destination, int64_t destinationUnits);

// A new zero-terminated UTF-8 string (never null: an empty one on failure).
char* ToUtf8(RtString text);
void FreeUtf8(char* text);

// printf-style formatting with an RtString format. With a destination: the
// code units written, without the terminator; without: the UTF-8 length.
int64_t FormatText(RtChar* destination, RtString format, ...);

}  // namespace rt
