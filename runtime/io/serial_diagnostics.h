// The one line written when a port that exists cannot be opened. Each back
// end decides what counts as missing (not reported: the port scan probes a
// hundred names and most of them do not exist) and words the reason.
#pragma once

namespace rt {

// "<program>: cannot open <port>: <reason>"
void SerialReportOpenFailure(const char* port, const char* reason);

// The same line for a port another program holds.
void SerialReportBusy(const char* port);

}  // namespace rt
