// POSIX back end of the buffered files: C streams.
#include "io/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/object_table.h"
#include "core/utf.h"
#include "io/path_posix.h"

namespace rt {

namespace {

ObjectTable* g_table = nullptr;

// The library-wide buffer size; nothing in the system changes it.
constexpr int32_t g_capacity = FileBufferCapacity;

FileRecord* OpenFile(ObjectNumber number) {
  return g_table ? static_cast<FileRecord*>(ObjectTableGet(g_table, number)) : nullptr;
}

FILE* Stream(const FileRecord* record) { return static_cast<FILE*>(record->handle); }

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
FILE* OpenStream(const char* path, int32_t mode) {
  if (!path) return nullptr;
  if (mode == FileModeRead) return OpenRegularForRead(path);
  if (mode == FileModeUpdate) {
    if (FILE* stream = fopen(path, "r+e")) return stream;
  }
  return fopen(path, "w+e");
}

}  // namespace

int64_t FileOpen(ObjectNumber number, RtString name, int32_t mode, int32_t flags) {
  const int32_t encoding = (flags & FileFlagEncodingMask) ? (flags & FileFlagEncodingMask) : 2;
  if (!g_table) return 0;
  auto* record = static_cast<FileRecord*>(ObjectTableAllocate(g_table, number));
  if (!record) return 0;
  const ObjectNumber key = number == DynamicNumber ? ObjectHandle(record) : number;

  char* path = PathFromName(name);
  FILE* stream = OpenStream(path, mode);
  if (path) FreeUtf8(path);
  if (!stream) {
    ObjectTableRelease(g_table, key);
    return 0;
  }

  uint8_t* buffer = nullptr;
  int32_t capacity = 0;
  if (g_capacity > 0 && !(flags & FileFlagUnbuffered)) {
    // Without memory for the buffer the file still reads correctly, unbuffered.
    buffer = static_cast<uint8_t*>(std::calloc(1, static_cast<size_t>(g_capacity)));
    if (buffer) capacity = g_capacity;
  }
  record->handle = stream;
  record->buffer = buffer;
  record->capacity = capacity;
  record->unread = 0;
  record->filled = 0;
  record->reading = 1;
  record->encoding = encoding;
  record->readOnly = mode == FileModeRead ? 1 : 0;

  if (mode == FileModeUpdate && (flags & FileFlagSeekEnd)) fseek(stream, 0, SEEK_END);
  return number == DynamicNumber ? key : static_cast<int64_t>(reinterpret_cast<intptr_t>(stream));
}

int64_t FileOpenForRead(ObjectNumber number, RtString name) { return FileOpen(number, name, FileModeRead, 0); }
int64_t FileOpenForUpdate(ObjectNumber number, RtString name) { return FileOpen(number, name, FileModeUpdate, 0); }
int64_t FileCreate(ObjectNumber number, RtString name) { return FileOpen(number, name, FileModeCreate, 0); }

void FileClose(ObjectNumber number) {
  if (!g_table) return;
  if (number == DynamicNumber) {
    ObjectTableReleaseAll(g_table);
    return;
  }
  FileRecord* record = OpenFile(number);
  if (!record) return;
  std::free(record->buffer);
  fclose(Stream(record));
  ObjectTableRelease(g_table, number);
}

intptr_t FileIsOpen(ObjectNumber number) { return g_table ? ObjectTableCheck(g_table, number) : 0; }

int64_t FileReadBlock(FileRecord* record, void* destination, int64_t count) {
  if (!record || !record->handle || !destination || count <= 0) return 0;
  auto* out = static_cast<uint8_t*>(destination);
  if (count <= record->unread) {
    std::memcpy(out, record->buffer + (record->filled - record->unread), static_cast<size_t>(count));
    record->unread -= static_cast<int32_t>(count);
    return count;
  }

  const int64_t copied = record->unread;
  if (copied > 0) std::memcpy(out, record->buffer + (record->filled - record->unread), static_cast<size_t>(copied));
  record->unread = 0;
  const int64_t wanted = count - copied;

  if (wanted < record->capacity) {
    const size_t got = fread(record->buffer, 1, static_cast<size_t>(record->capacity), Stream(record));
    record->filled = static_cast<int32_t>(got);
    record->unread = static_cast<int32_t>(got);
    const int64_t take = std::min<int64_t>(static_cast<int64_t>(got), wanted);
    std::memcpy(out + copied, record->buffer, static_cast<size_t>(take));
    record->unread -= static_cast<int32_t>(take);
    return copied + take;
  }
  // A request of a whole buffer or more skips the buffer.
  const size_t got = fread(out + copied, 1, static_cast<size_t>(wanted), Stream(record));
  record->unread = 0;
  return copied + static_cast<int64_t>(got);
}

int64_t FileReadByte(ObjectNumber number) {
  FileRecord* record = OpenFile(number);
  if (!record) return 0;
  int8_t byte = 0;
  if (record->buffer) {
    FileReadBlock(record, &byte, 1);
  } else if (fread(&byte, 1, 1, Stream(record)) != 1) {
    byte = 0;
  }
  return byte;
}

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

void FileLibraryStart() {
  if (!g_table) g_table = ObjectTableCreate(sizeof(FileRecord), 16, FileClose);
}

void FileLibraryEnd() {
  if (g_table) ObjectTableReleaseAll(g_table);
}

}  // namespace rt
