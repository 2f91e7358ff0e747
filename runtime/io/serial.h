// Serial ports as numbered objects. Both back ends implement exactly these
// declarations: serial_posix.cpp on terminals, serial_win32.cpp on Windows
// communications devices. Their records stay private to them.
//
// A port is held for exclusive use while it is open: two programs on one
// serial line corrupt each other's transfer, so a port another program holds
// fails to open (and is reported, see below).
#pragma once

#include <cstdint>
#include <cstdio>

#include "core/types.h"

namespace rt {

// Opens the port `name` with the given line settings: parity 0 none, 1 odd,
// 2 even, 3 mark, 4 space; handshake 0 none, 1 RTS held on (no flow control
// on POSIX), 2 RTS/CTS, 3 XON/XOFF; `stops` exactly 1.0 for one stop bit.
//  - POSIX: `name` is a terminal's path; baud rate, data bits and handshake
//    are checked against what the terminal interface offers, inSize and
//    outSize are ignored, and the line never blocks.
//  - Windows: `name` is a device name ("COM5"); the settings go to the driver,
//    which alone decides whether it accepts them, and both sizes (when above
//    0) size its queues.
// Returns the native handle (fixed number), the record's address
// (DynamicNumber), or 0: for an absent or unusable name, refused settings,
// or a device that is missing, busy or not permitted. A port already open
// under `number` is closed only once the new one has opened.
int64_t SerialOpen(ObjectNumber number, RtString name, int32_t baud, int32_t parity, int32_t dataBits, float stops,
                   int32_t handshake, int64_t inSize, int64_t outSize);

// Closes the port; DynamicNumber closes every open port.
void SerialClose(ObjectNumber number);

// The record's address (or the handle) when `number` names an open port, else 0.
intptr_t SerialIsOpen(ObjectNumber number);

// Bytes waiting to be read / still in the driver's output queue; 0 on any failure.
int64_t SerialInputPending(ObjectNumber number);
int64_t SerialOutputPending(ObjectNumber number);

// One read or write; the bytes moved, 0 on any failure or for a negative
// length. On POSIX both return at once and a write may be partial. On
// Windows a read waits until `length` bytes have arrived (ask
// SerialInputPending first and read no more), and a write gives up after
// 100 ms a byte plus 10 ms.
int64_t SerialRead(ObjectNumber number, void* buffer, int32_t length);
int64_t SerialWrite(ObjectNumber number, const void* data, int32_t length);

// Start-up creates the table (once); the end closes every port. Abandon is
// for an abrupt end with threads still running: it gives up whatever
// exclusive use would outlive the process and closes nothing.
void SerialLibraryStart();
void SerialLibraryEnd();
void SerialLibraryAbandon();

// A port that exists but cannot be opened is reported as one line on this
// stream (standard error by default; null silences it), prefixed with the
// program name once the program has set one (copied, at most 63 bytes).
void SerialSetDiagnosticStream(FILE* stream);
void SerialSetDiagnosticPrefix(const char* programName);

}  // namespace rt
