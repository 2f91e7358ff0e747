// Buffered files as numbered objects. A byte-by-byte reader costs one
// system read per FileBufferCapacity bytes. Both back ends implement exactly
// these declarations: file_posix.cpp on C streams, file_win32.cpp on Windows
// file handles.
#pragma once

#include <cstdint>

#include "core/types.h"

namespace rt {

struct FileRecord {
  void* handle;      // presence word: the C stream (POSIX) or the file HANDLE (Windows)
  uint8_t* buffer;   // capacity bytes, null for an unbuffered file
  int32_t capacity;
  int32_t unread;    // bytes in the buffer not yet delivered
  int32_t filled;    // bytes the last refill stored; the next byte is at filled - unread
  int32_t reading;   // 1 while the buffer holds read data
  int32_t encoding;  // low 5 bits of the open flags, or 2
  int32_t readOnly;  // 1 when opened for reading
};

constexpr int32_t FileBufferCapacity = 4096;

enum FileMode : int32_t { FileModeRead = 1, FileModeUpdate = 2, FileModeCreate = 3 };
constexpr int32_t FileFlagEncodingMask = 0x1F;
constexpr int32_t FileFlagUnbuffered = 0x80000;
constexpr int32_t FileFlagSeekEnd = 0x100000;  // update mode only

// Mode 1 reads (a regular file only, never a directory, device or FIFO);
// mode 2 updates (created when missing); any other mode creates or
// truncates. On Windows the file is shared with nobody, unless the flags
// share it with readers (0x20000) or with everyone (0x40000). Returns the
// native handle (fixed number), the record's address (DynamicNumber) or 0.
// A file open under `number` is closed first, even when the new open fails.
int64_t FileOpen(ObjectNumber number, RtString name, int32_t mode, int32_t flags);
int64_t FileOpenForRead(ObjectNumber number, RtString name);
int64_t FileOpenForUpdate(ObjectNumber number, RtString name);
int64_t FileCreate(ObjectNumber number, RtString name);

// DynamicNumber closes every open file.
void FileClose(ObjectNumber number);
intptr_t FileIsOpen(ObjectNumber number);

// The next byte as a signed 8-bit value (0xFF reads as -1); 0 at the end of
// the file, on a read error, or when `number` names no open file.
int64_t FileReadByte(ObjectNumber number);

// Up to `count` bytes through the record's buffer; the bytes delivered. A
// negative count delivers nothing.
int64_t FileReadBlock(FileRecord* record, void* destination, int64_t count);

// The size of the file at `name`; -1 when absent or not examinable, -2 for a directory.
int64_t FileSizeOfPath(RtString name);

void FileLibraryStart();
void FileLibraryEnd();

}  // namespace rt
