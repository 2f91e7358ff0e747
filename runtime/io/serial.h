// Serial ports over POSIX terminals, as numbered objects.
//
// A port is held for exclusive use while it is open: other programs cannot
// open the terminal (TIOCEXCL), and cooperating programs that lock it with
// flock() see it as busy. Two programs on one serial line corrupt each
// other's transfer, so a port another program holds fails to open.
#pragma once

#include <cstdint>
#include <cstdio>

#include "core/types.h"

namespace rt {

// The record behind each port: its descriptor (0 while closed).
struct SerialRecord {
  int32_t descriptor;
};

// Opens the terminal `name` in raw, non-blocking mode with the given line
// settings (see io/serial_settings.h). inSize and outSize are accepted and
// ignored on this platform. Returns the descriptor (fixed number), the
// record's address (DynamicNumber), or 0: for an absent, empty, malformed or
// over-long name, an unsupported setting, or a device that is missing, busy
// or not permitted. A port already open under `number` is closed only once
// the new one has opened.
int64_t SerialOpen(ObjectNumber number, RtString name, int32_t baud, int32_t parity, int32_t dataBits, float stops,
                   int32_t handshake, int64_t inSize, int64_t outSize);

// Closes the port; DynamicNumber closes every open port.
void SerialClose(ObjectNumber number);

// The record's address (or the handle) when `number` names an open port, else 0.
intptr_t SerialIsOpen(ObjectNumber number);

// Bytes waiting to be read / still in the driver's output queue; 0 on any failure.
int64_t SerialInputPending(ObjectNumber number);
int64_t SerialOutputPending(ObjectNumber number);

// One non-blocking read or write; the bytes moved, 0 on any failure or for a
// negative length. A write may be partial.
int64_t SerialRead(ObjectNumber number, void* buffer, int32_t length);
int64_t SerialWrite(ObjectNumber number, const void* data, int32_t length);

// Start-up creates the table (once); the end closes every port. Abandon is
// for an abrupt end with threads still running: it gives up exclusive use of
// every open port, which the kernel would otherwise keep while any other
// process holds the terminal, and closes nothing.
void SerialLibraryStart();
void SerialLibraryEnd();
void SerialLibraryAbandon();

// A port that exists but cannot be opened is reported as one line on this
// stream (standard error by default; null silences it), prefixed with the
// program name ("fwupdater" by default; copied, at most 63 bytes).
void SerialSetDiagnosticStream(FILE* stream);
void SerialSetDiagnosticPrefix(const char* programName);

}  // namespace rt
