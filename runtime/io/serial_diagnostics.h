// The one line written when a port that exists cannot be opened.
#pragma once

namespace rt {

// Reports that `path` failed to open with `error` (an errno value). A
// missing device is not reported: the port scan probes a hundred names and
// most of them do not exist. `busy` marks a port held by another program.
void SerialReportOpenFailure(const char* path, int error, bool busy);

}  // namespace rt
