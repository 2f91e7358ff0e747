// Everything in which the two builds of the updater differ, in one place.
// The application logic (updater.cpp) reads these and nothing else of the
// platform; each build provides one implementation file.
#pragma once

#include <cstdint>

#include "core/types.h"

namespace app::platform {

extern const char ProgramName[];        // as the command line names the program
extern const char ProgramVersion[];
extern const rt::RtChar PortPrefix[];   // the scan probes PortPrefix + 0..99
extern const rt::RtChar WindowTitle[];
extern const int32_t MainWindowFlags;   // titled, closable, centred, fixed size, shown

// Event kinds the dispatcher tells apart; their values differ per platform.
extern const int32_t EventGadget;
extern const int32_t EventShortcut;
extern const int32_t EventCloseRequest;

// Linux sets the bar after every body byte and waits for the driver's output
// queue to empty before the next byte; Windows sets it only when the value
// rises and writes straight on.
extern const bool ProgressOnEveryByte;
extern const bool DrainAfterEveryByte;

// How long the line may refuse a body byte before it counts as gone.
extern const int32_t RefusedByteRetryMs;

// Waits for the next event of the user-interface thread and returns its kind.
int32_t NextEvent();

}  // namespace app::platform
