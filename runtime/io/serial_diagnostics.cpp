#include "io/serial_diagnostics.h"

#include <errno.h>
#include <limits.h>
#include <string.h>

#include <cstdio>
#include <mutex>

#include "io/serial.h"

namespace rt {

namespace {

std::mutex g_mutex;
FILE* g_stream = stderr;
char g_prefix[64] = "fwupdater";

bool DeviceMissing(int error) { return error == ENOENT || error == ENOTDIR || error == ENXIO || error == ENODEV; }

}  // namespace

void SerialSetDiagnosticStream(FILE* stream) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_stream = stream;
}

void SerialSetDiagnosticPrefix(const char* programName) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!programName) programName = "";
  snprintf(g_prefix, sizeof g_prefix, "%s", programName);
}

void SerialReportOpenFailure(const char* path, int error, bool busy) {
  if (!busy && DeviceMissing(error)) return;
  char reason[128];
  const char* text = strerror_r(error, reason, sizeof reason);

  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_stream) return;
  // One formatted write, so concurrent output cannot split the line.
  char line[PATH_MAX + 384];
  const char* prefix = g_prefix[0] ? g_prefix : "serial";
  if (busy) {
    snprintf(line, sizeof line, "%s: cannot open %s: it is in use by another program\n", prefix, path);
  } else if (error == EACCES || error == EPERM) {
    snprintf(line, sizeof line,
             "%s: cannot open %s: %s (your user must be in the 'dialout' group: "
             "sudo usermod -aG dialout $USER, then log in again)\n",
             prefix, path, text);
  } else {
    snprintf(line, sizeof line, "%s: cannot open %s: %s\n", prefix, path, text);
  }
  fputs(line, g_stream);
  fflush(g_stream);
}

}  // namespace rt
