// Windows back end of the serial ports: communications devices opened
// exclusively and used synchronously (no overlapped I/O, no event mask).
#include "io/serial.h"

#include <windows.h>

#include <string>

#include "core/object_table.h"
#include "io/handle_win32.h"
#include "io/serial_diagnostics.h"
#include "io/serial_settings_win32.h"

namespace rt {

namespace {

// The port's handle; 0 while closed.
struct SerialRecord {
  HANDLE handle;
};

ObjectTable* g_table = nullptr;

// "\\.\" and at most 59 units of the name: every name is looked up in the
// device namespace, so COM10 and above open like COM1.
constexpr size_t PathUnits = 64;
constexpr size_t NameUnits = 59;

void DevicePath(RtString name, wchar_t (&path)[PathUnits]) {
  size_t at = 0;
  for (const wchar_t unit : {L'\\', L'\\', L'.', L'\\'}) path[at++] = unit;
  for (size_t i = 0; i < NameUnits && name[i]; ++i) path[at++] = static_cast<wchar_t>(name[i]);
  path[at] = 0;
}

std::string Utf8(const wchar_t* text, int units = -1) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, units, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return std::string();
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, units, &out[0], bytes, nullptr, nullptr);
  if (units < 0) out.pop_back();  // the terminator
  return out;
}

// The system's own wording of an error, without its line end.
std::string ErrorText(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD units = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
      0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string reason = units ? Utf8(text, static_cast<int>(units)) : std::string();
  LocalFree(text);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' ')) {
    reason.pop_back();
  }
  return reason.empty() ? "error " + std::to_string(error) : reason;
}

// A port that is not there is not reported: the port scan probes a hundred
// names. A port another program holds fails with "access denied" from the
// serial drivers, which allow one opener only, or with a sharing violation
// or "busy" from other kinds of device.
void ReportOpenFailure(RtString name, DWORD error) {
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME ||
      error == ERROR_BAD_PATHNAME) {
    return;
  }
  std::wstring wide;
  for (size_t i = 0; i < NameUnits && name[i]; ++i) wide += static_cast<wchar_t>(name[i]);
  const std::string port = Utf8(wide.c_str());
  if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_BUSY) {
    SerialReportBusy(port.c_str());
  } else {
    SerialReportOpenFailure(port.c_str(), ErrorText(error).c_str());
  }
}

DWORD QueueSize(int64_t size) { return size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size); }

SerialRecord* OpenPort(ObjectNumber number) {
  return g_table ? static_cast<SerialRecord*>(ObjectTableGet(g_table, number)) : nullptr;
}

}  // namespace

int64_t SerialOpen(ObjectNumber number, RtString name, int32_t baud, int32_t parity, int32_t dataBits, float stops,
                   int32_t handshake, int64_t inSize, int64_t outSize) {
  if (!name || !g_table || number < DynamicNumber) return 0;
  wchar_t path[PathUnits];
  DevicePath(name, path);

  OwnedHandle port(CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!port.valid()) {
    ReportOpenFailure(name, GetLastError());
    return 0;
  }
  if (inSize > 0 && outSize > 0) SetupComm(port.get(), QueueSize(inSize), QueueSize(outSize));

  // Every field not set below keeps the driver's value.
  DCB dcb = {};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(port.get(), &dcb)) {
    ReportOpenFailure(name, GetLastError());
    return 0;
  }
  SerialFillDcb(&dcb, baud, parity, dataBits, stops, handshake, inSize);
  if (!SetCommState(port.get(), &dcb)) {
    ReportOpenFailure(name, GetLastError());
    return 0;
  }
  // No read time-outs: a read waits for its full count. A write gives up
  // after 100 ms a byte plus 10 ms, with what went out by then.
  COMMTIMEOUTS timeouts = {0, 0, 0, 100, 10};
  SetCommTimeouts(port.get(), &timeouts);

  // Taken only now, so a failed open leaves a port under the same number
  // untouched; the table closes that port here.
  auto* record = static_cast<SerialRecord*>(ObjectTableAllocate(g_table, number));
  if (!record) return 0;
  record->handle = port.release();
  return number == DynamicNumber ? ObjectHandle(record)
                                 : static_cast<int64_t>(reinterpret_cast<intptr_t>(record->handle));
}

void SerialClose(ObjectNumber number) {
  if (!g_table) return;
  if (number == DynamicNumber) {
    ObjectTableReleaseAll(g_table);
    return;
  }
  SerialRecord* record = OpenPort(number);
  if (!record) return;
  CloseHandle(record->handle);
  ObjectTableRelease(g_table, number);
}

intptr_t SerialIsOpen(ObjectNumber number) { return g_table ? ObjectTableCheck(g_table, number) : 0; }

// ClearCommError also resets the port's error state, so line errors
// (framing, overrun, parity) are never reported to the caller.
int64_t SerialInputPending(ObjectNumber number) {
  SerialRecord* record = OpenPort(number);
  if (!record) return 0;
  DWORD errors = 0;
  COMSTAT status = {};
  return ClearCommError(record->handle, &errors, &status) ? status.cbInQue : 0;
}

int64_t SerialOutputPending(ObjectNumber number) {
  SerialRecord* record = OpenPort(number);
  if (!record) return 0;
  DWORD errors = 0;
  COMSTAT status = {};
  return ClearCommError(record->handle, &errors, &status) ? status.cbOutQue : 0;
}

int64_t SerialRead(ObjectNumber number, void* buffer, int32_t length) {
  if (length < 0) return 0;  // as a DWORD it would be a read of gigabytes
  SerialRecord* record = OpenPort(number);
  if (!record) return 0;
  DWORD read = 0;
  return ReadFile(record->handle, buffer, static_cast<DWORD>(length), &read, nullptr) ? read : 0;
}

int64_t SerialWrite(ObjectNumber number, const void* data, int32_t length) {
  if (length < 0) return 0;
  SerialRecord* record = OpenPort(number);
  if (!record) return 0;
  DWORD written = 0;
  return WriteFile(record->handle, data, static_cast<DWORD>(length), &written, nullptr) ? written : 0;
}

void SerialLibraryStart() {
  if (!g_table) g_table = ObjectTableCreate(sizeof(SerialRecord), 16, SerialClose);
}

void SerialLibraryEnd() {
  if (g_table) ObjectTableReleaseAll(g_table);
}

// Windows gives up a process's ports when it ends; nothing outlives it.
void SerialLibraryAbandon() {}

}  // namespace rt
