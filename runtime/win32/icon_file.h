// Icon files made into icons by the system, for the Windows pixel store,
// which reads them before any decoder is asked.
#pragma once

#include <windows.h>

#include <cstdint>

namespace rt {

// True when the data starts like an icon file: a 16-bit 0, then 1 (icon, not
// cursor). PNG data, which starts with 0x89, never does.
bool IsIconFile(const uint8_t* data, int64_t length);

// The directory entry the icon is made of: among the entries whose width
// and height bytes equal the first entry's, the one with the largest bit
// count (the first of equals); -1 for a directory that does not fit `length`.
int32_t IconFileChooseEntry(const uint8_t* data, int64_t length);

// The icon of the chosen entry, or null when the data is no icon file, an
// entry's bytes lie outside `length`, or the system refuses them.
HICON IconFileToIcon(const uint8_t* data, int64_t length);

}  // namespace rt
