// Line settings as plain numbers, translated into a terminal record.
#pragma once

#include <termios.h>

#include <cstdint>

namespace rt {

// Fills `settings` (from all zeros) for a raw, non-canonical line with the
// given baud rate, parity code (0 none, 1 odd, 2 even, 3 mark, 4 space; other
// codes add nothing), data bits (5 to 8), stop bits (exactly 1.0 for one,
// anything else for two) and handshake (0 none, 1 accepted without flow
// control, 2 RTS/CTS, 3 XON/XOFF). False, with `settings` untouched, for a
// baud rate outside the supported table, other data bits, or a handshake
// code below 0 or above 3.
bool SerialBuildTermios(int32_t baud, int32_t parity, int32_t dataBits, float stops, int32_t handshake,
                        termios* settings);

}  // namespace rt
