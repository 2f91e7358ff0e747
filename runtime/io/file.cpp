// Buffered files as numbered objects, the same on every platform: the
// native file underneath comes from file_handle.h.
#include "io/file.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "core/object_table.h"
#include "io/file_handle.h"

namespace rt {

namespace {

ObjectTable* g_table = nullptr;

// The library-wide buffer size; nothing in the system changes it.
constexpr int32_t g_capacity = FileBufferCapacity;

FileRecord* OpenFile(ObjectNumber number) {
  return g_table ? static_cast<FileRecord*>(ObjectTableGet(g_table, number)) : nullptr;
}

}  // namespace

int64_t FileOpen(ObjectNumber number, RtString name, int32_t mode, int32_t flags) {
  const int32_t encoding = (flags & FileFlagEncodingMask) ? (flags & FileFlagEncodingMask) : 2;
  if (!g_table) return 0;
  auto* record = static_cast<FileRecord*>(ObjectTableAllocate(g_table, number));
  if (!record) return 0;
  const ObjectNumber key = number == DynamicNumber ? ObjectHandle(record) : number;

  void* handle = FileHandleOpen(name, mode, flags);
  if (!handle) {
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
  record->handle = handle;
  record->buffer = buffer;
  record->capacity = capacity;
  record->unread = 0;
  record->filled = 0;
  record->reading = 1;
  record->encoding = encoding;
  record->readOnly = mode == FileModeRead ? 1 : 0;
  return number == DynamicNumber ? key : static_cast<int64_t>(reinterpret_cast<intptr_t>(handle));
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
  FileHandleClose(record->handle);
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
    const int64_t got = FileHandleRead(record->handle, record->buffer, record->capacity);
    record->filled = static_cast<int32_t>(got);
    record->unread = static_cast<int32_t>(got);
    const int64_t take = std::min(got, wanted);
    std::memcpy(out + copied, record->buffer, static_cast<size_t>(take));
    record->unread -= static_cast<int32_t>(take);
    return copied + take;
  }
  // A request of a whole buffer or more skips the buffer.
  const int64_t got = FileHandleRead(record->handle, out + copied, wanted);
  record->unread = 0;
  return copied + got;
}

int64_t FileReadByte(ObjectNumber number) {
  FileRecord* record = OpenFile(number);
  if (!record) return 0;
  int8_t byte = 0;
  if (record->buffer) {
    FileReadBlock(record, &byte, 1);
  } else if (FileHandleRead(record->handle, reinterpret_cast<uint8_t*>(&byte), 1) != 1) {
    byte = 0;
  }
  return byte;
}

void FileLibraryStart() {
  if (!g_table) g_table = ObjectTableCreate(sizeof(FileRecord), 16, FileClose);
}

void FileLibraryEnd() {
  if (g_table) ObjectTableReleaseAll(g_table);
}

}  // namespace rt
