#include "io/serial.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <mutex>

#include "core/memory.h"
#include "core/object_table.h"
#include "core/utf.h"
#include "io/path.h"
#include "io/serial_diagnostics.h"
#include "io/serial_settings.h"

namespace rt {

namespace {

ObjectTable* g_table = nullptr;

// Descriptors that hold a terminal's exclusive-use flag. The abandon path
// needs them without walking the table (a walk frees dynamic records), and
// the flag is set and cleared only under this mutex, so an abrupt end can
// never leave a flag behind that a thread set a moment later.
std::mutex g_heldMutex;
NodeListHead g_held = nullptr;
bool g_abandoned = false;

bool Hold(int fd) {
  std::lock_guard<std::mutex> lock(g_heldMutex);
  auto* slot = static_cast<int32_t*>(NodeListPush(&g_held, sizeof(int32_t)));
  if (!slot) return false;
  *slot = fd;
  if (!g_abandoned) ioctl(fd, TIOCEXCL);  // fails harmlessly on a non-terminal
  return true;
}

void Relinquish(int fd) {
  std::lock_guard<std::mutex> lock(g_heldMutex);
  // Cleared before the close: the kernel keeps the flag on the terminal for
  // as long as any other process has it open.
  ioctl(fd, TIOCNXCL);
  for (void* node = NodeListFirst(g_held); node; node = NodeListNext(node)) {
    if (*static_cast<int32_t*>(node) == fd) {
      NodeListRemove(&g_held, node);
      break;
    }
  }
}

// The open itself, with exclusive use taken; -1 on failure (reported).
int OpenExclusive(const char* path) {
  int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    SerialReportOpenFailure(path, error, error == EBUSY);
    return -1;
  }
  if (fd == 0) {
    // A descriptor of 0 would read as "no port" in the record and leak.
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 1);
    close(fd);
    if (moved < 0) return -1;
    fd = moved;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    close(fd);
    SerialReportOpenFailure(path, EBUSY, true);
    return -1;
  }
  if (!Hold(fd)) {
    close(fd);
    return -1;
  }
  return fd;
}

SerialRecord* OpenPort(ObjectNumber number) {
  return g_table ? static_cast<SerialRecord*>(ObjectTableGet(g_table, number)) : nullptr;
}

}  // namespace

int64_t SerialOpen(ObjectNumber number, RtString name, int32_t baud, int32_t parity, int32_t dataBits, float stops,
                   int32_t handshake, int64_t /*inSize*/, int64_t /*outSize*/) {
  if (!name) return 0;
  termios settings;
  if (!SerialBuildTermios(baud, parity, dataBits, stops, handshake, &settings)) return 0;
  if (!g_table || number < DynamicNumber) return 0;

  char* path = PathFromName(name);
  if (!path) return 0;
  const int fd = OpenExclusive(path);
  FreeUtf8(path);
  if (fd < 0) return 0;

  // A device that refuses the settings (not a terminal) still counts as opened.
  tcflush(fd, TCIFLUSH);
  tcsetattr(fd, TCSANOW, &settings);

  // Taken only now, so a failed open leaves a port under the same number
  // untouched; the table closes that port here.
  auto* record = static_cast<SerialRecord*>(ObjectTableAllocate(g_table, number));
  if (!record) {
    Relinquish(fd);
    close(fd);
    return 0;
  }
  record->descriptor = fd;
  return number == DynamicNumber ? ObjectHandle(record) : fd;
}

void SerialClose(ObjectNumber number) {
  if (!g_table) return;
  if (number == DynamicNumber) {
    ObjectTableReleaseAll(g_table);
    return;
  }
  SerialRecord* record = OpenPort(number);
  if (!record) return;
  const int fd = record->descriptor;
  Relinquish(fd);
  close(fd);
  ObjectTableRelease(g_table, number);
}

intptr_t SerialIsOpen(ObjectNumber number) { return g_table ? ObjectTableCheck(g_table, number) : 0; }

int64_t SerialInputPending(ObjectNumber number) {
  SerialRecord* record = OpenPort(number);
  if (!record) return 0;
  int32_t count = 0;
  ioctl(record->descriptor, FIONREAD, &count);
  return count;
}

int64_t SerialOutputPending(ObjectNumber number) {
  SerialRecord* record = OpenPort(number);
  if (!record) return 0;
  int32_t count = 0;
  ioctl(record->descriptor, TIOCOUTQ, &count);
  return count;
}

int64_t SerialRead(ObjectNumber number, void* buffer, int32_t length) {
  if (length < 0) return 0;
  SerialRecord* record = OpenPort(number);
  if (!record) return 0;
  const ssize_t n = read(record->descriptor, buffer, static_cast<size_t>(length));
  return n < 0 ? 0 : n;
}

int64_t SerialWrite(ObjectNumber number, const void* data, int32_t length) {
  if (length < 0) return 0;
  SerialRecord* record = OpenPort(number);
  if (!record) return 0;
  const ssize_t n = write(record->descriptor, data, static_cast<size_t>(length));
  return n < 0 ? 0 : n;
}

void SerialLibraryStart() {
  if (!g_table) g_table = ObjectTableCreate(sizeof(SerialRecord), 16, SerialClose);
  std::lock_guard<std::mutex> lock(g_heldMutex);
  g_abandoned = false;
}

void SerialLibraryEnd() {
  if (g_table) ObjectTableReleaseAll(g_table);
}

void SerialLibraryAbandon() {
  std::lock_guard<std::mutex> lock(g_heldMutex);
  g_abandoned = true;
  for (void* node = NodeListFirst(g_held); node; node = NodeListNext(node)) {
    ioctl(*static_cast<int32_t*>(node), TIOCNXCL);
  }
}

}  // namespace rt
