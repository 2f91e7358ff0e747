// POSIX back end of the buffered files: C streams.
#include "io/file_handle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "core/utf.h"
#include "io/file.h"
#include "io/path_posix.h"

namespace rt {

namespace {

// Only a regular file is read: a directory opens on Linux and reads as
// nothing, a device node or a FIFO reads whatever arrives (or blocks for a
// writer), and a caller would take any of them for content. The descriptor
// is opened without blocking so that a FIFO is refused instead of waited on.
FILE* OpenRegularForRead(const char* path) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return nullptr;
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || fcntl(fd, F_SETFL, 0) != 0) {
    close(fd);
    return nullptr;
  }
  FILE* stream = fdopen(fd, "r");
  if (!stream) close(fd);
  return stream;
}

// "e": the descriptor is not inherited by programs the process starts.
FILE* OpenStream(const char* path, int32_t mode, int32_t flags) {
  if (mode == FileModeRead) return OpenRegularForRead(path);
  if (mode == FileModeUpdate) {
    FILE* stream = fopen(path, "r+e");
    if (!stream) stream = fopen(path, "w+e");
    if (stream && (flags & FileFlagSeekEnd)) fseek(stream, 0, SEEK_END);
    return stream;
  }
  return fopen(path, "w+e");
}

}  // namespace

void* FileHandleOpen(RtString name, int32_t mode, int32_t flags) {
  char* path = PathFromName(name);
  if (!path) return nullptr;
  FILE* stream = OpenStream(path, mode, flags);
  FreeUtf8(path);
  return stream;
}

int64_t FileHandleRead(void* handle, uint8_t* destination, int64_t count) {
  return count > 0 ? static_cast<int64_t>(fread(destination, 1, static_cast<size_t>(count), static_cast<FILE*>(handle)))
                   : 0;
}

void FileHandleClose(void* handle) { fclose(static_cast<FILE*>(handle)); }

int64_t FileSizeOfPath(RtString name) {
  char* path = PathFromName(name);
  if (!path) return -1;
  struct stat info;
  const int result = stat(path, &info);
  FreeUtf8(path);
  if (result != 0) return -1;
  if (S_ISDIR(info.st_mode)) return -2;
  return static_cast<int64_t>(info.st_size);
}

}  // namespace rt
