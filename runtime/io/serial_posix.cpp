// POSIX back end of the serial ports: terminals in raw, non-blocking mode.
//
// Exclusive use: other programs cannot open the terminal while we hold it
// (TIOCEXCL), and cooperating programs that lock it with flock() see it as
// busy.
#include "io/serial.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <string>

#include "core/memory.h"
#include "core/object_table.h"
#include "core/utf.h"
#include "io/path_posix.h"
#include "io/serial_diagnostics.h"
#include "io/serial_settings_posix.h"

namespace rt {

namespace {

// The port's descriptor; 0 while closed.
struct SerialRecord {
  int32_t descriptor;
};

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

// Sets the flag again on a port that keeps (or takes over) exclusive use.
void Reclaim(int fd) {
  std::lock_guard<std::mutex> lock(g_heldMutex);
  if (!g_abandoned) ioctl(fd, TIOCEXCL);
}

bool DeviceMissing(int error) { return error == ENOENT || error == ENOTDIR || error == ENXIO || error == ENODEV; }

void ReportOpenFailure(const char* path, int error) {
  if (DeviceMissing(error)) return;
  char text[128];
  std::string reason = strerror_r(error, text, sizeof text);
  if (error == EACCES || error == EPERM) {
    reason += " (your user must be in the 'dialout' group: sudo usermod -aG dialout $USER, then log in again)";
  }
  SerialReportOpenFailure(path, reason.c_str());
}

SerialRecord* OpenPort(ObjectNumber number) {
  return g_table ? static_cast<SerialRecord*>(ObjectTableGet(g_table, number)) : nullptr;
}

// The descriptor of the port under `number` when `path` names the same
// device, else -1. Opening a device again under its own number (to change
// its settings) must not find itself busy.
int SameDevicePort(ObjectNumber number, const char* path) {
  if (number == DynamicNumber) return -1;
  SerialRecord* record = OpenPort(number);
  struct stat wanted;
  struct stat held;
  if (!record || stat(path, &wanted) != 0 || fstat(record->descriptor, &held) != 0) return -1;
  const bool same = S_ISCHR(wanted.st_mode) && S_ISCHR(held.st_mode)
                        ? wanted.st_rdev == held.st_rdev
                        : wanted.st_dev == held.st_dev && wanted.st_ino == held.st_ino;
  return same ? record->descriptor : -1;
}

// The open itself, with exclusive use taken; -1 on failure (reported).
// `sibling` is our own port on the same device, about to be replaced.
int OpenExclusive(const char* path, int sibling) {
  if (sibling >= 0) ioctl(sibling, TIOCNXCL);
  int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    if (sibling >= 0) Reclaim(sibling);
    if (error == EBUSY) {
      SerialReportBusy(path);
    } else {
      ReportOpenFailure(path, error);
    }
    return -1;
  }
  if (fd == 0) {
    // A descriptor of 0 would read as "no port" in the record and leak.
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 1);
    close(fd);
    if (moved < 0) {
      if (sibling >= 0) Reclaim(sibling);
      return -1;
    }
    fd = moved;
  }
  // The sibling holds the lock until the table closes it; the new port
  // takes it over afterwards. A terminal another program holds for
  // exclusive use lets only root in; root must see it as busy too.
  int exclusive = 0;
  if (sibling < 0 && ((flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) ||
                      (ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive))) {
    close(fd);
    SerialReportBusy(path);
    return -1;
  }
  if (!Hold(fd)) {
    close(fd);
    if (sibling >= 0) Reclaim(sibling);
    return -1;
  }
  return fd;
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
  const int sibling = SameDevicePort(number, path);
  const int fd = OpenExclusive(path, sibling);
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
    if (sibling >= 0 && OpenPort(number)) Reclaim(sibling);
    return 0;
  }
  record->descriptor = fd;
  if (sibling >= 0) {
    // Closing the sibling cleared the terminal's flag and dropped its lock.
    Reclaim(fd);
    flock(fd, LOCK_EX | LOCK_NB);
  }
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
