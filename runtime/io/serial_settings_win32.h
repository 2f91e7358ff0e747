// Line settings as plain numbers, written into a Windows device control block.
#pragma once

#include <windows.h>

#include <cstdint>

namespace rt {

// Writes the settings into `dcb`, which holds what the driver reported; every
// field not named here keeps the driver's value. Baud rate, data bits and
// parity code go to the driver unchecked (SetCommState refuses what the line
// cannot do). fParity is always set. Stop bits: exactly 1.0 is one, exactly
// 2.0 is two, anything else one and a half. Handshake 0 none, 1 RTS held on,
// 2 RTS/CTS, 3 XON/XOFF with limits from the input queue size; other codes
// leave flow control as the driver had it.
void SerialFillDcb(DCB* dcb, int32_t baud, int32_t parity, int32_t dataBits, float stops, int32_t handshake,
                   int64_t inSize);

}  // namespace rt
