// What each operating system provides under the buffered files (file.cpp):
// open, read and close one native file. Declared once here; file_posix.cpp
// (C streams) and file_win32.cpp (file handles) implement exactly this,
// beside their FileSizeOfPath.
#pragma once

#include <cstdint>

#include "core/types.h"

namespace rt {

// Opens `name` in the mode of file.h (the update mode seeks to the end with
// FileFlagSeekEnd; reading takes a regular file only). The native handle,
// or null.
void* FileHandleOpen(RtString name, int32_t mode, int32_t flags);

// Reads up to `count` bytes; the bytes read, 0 at the end or on an error.
int64_t FileHandleRead(void* handle, uint8_t* destination, int64_t count);

void FileHandleClose(void* handle);

}  // namespace rt
