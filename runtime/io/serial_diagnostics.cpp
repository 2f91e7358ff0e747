#include "io/serial_diagnostics.h"

#include <cstdio>
#include <mutex>
#include <string>

#include "io/serial.h"

namespace rt {

namespace {

std::mutex g_mutex;
FILE* g_stream = stderr;
char g_prefix[64] = "";  // the program names itself; the runtime does not know it

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

void SerialReportOpenFailure(const char* port, const char* reason) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_stream) return;
  std::string line;
  if (g_prefix[0]) line.append(g_prefix).append(": ");
  line.append("cannot open ").append(port ? port : "").append(": ").append(reason ? reason : "").append("\n");
  // One write, so concurrent output cannot split the line.
  fputs(line.c_str(), g_stream);
  fflush(g_stream);
}

void SerialReportBusy(const char* port) { SerialReportOpenFailure(port, "it is in use by another program"); }

}  // namespace rt
