// Windows back end of the buffered files: file handles opened without
// sharing unless the flags ask for it, read through the record's buffer.
#include "io/file.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/object_table.h"

namespace rt {

namespace {

ObjectTable* g_table = nullptr;

// The library-wide buffer size; nothing in the system changes it.
constexpr int32_t g_capacity = FileBufferCapacity;

constexpr int32_t FileFlagShareRead = 0x20000;
constexpr int32_t FileFlagShareAll = 0x40000;

FileRecord* OpenFile(ObjectNumber number) {
  return g_table ? static_cast<FileRecord*>(ObjectTableGet(g_table, number)) : nullptr;
}

HANDLE Handle(const FileRecord* record) { return static_cast<HANDLE>(record->handle); }

// RtString and wchar_t are both UTF-16 here; the copy keeps the types apart.
std::wstring Wide(RtString name) {
  std::wstring out;
  if (name) {
    for (const RtChar* p = name; *p; ++p) out += static_cast<wchar_t>(*p);
  }
  return out;
}

// Closes the handle unless it was handed over to a record.
class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() {
    if (valid()) CloseHandle(handle_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  HANDLE get() const { return handle_; }
  HANDLE release() {
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle;
  }

 private:
  HANDLE handle_;
};

// Only a file on a disk is read: a device such as "NUL", "CON" or a COM port
// opens like a file and reads whatever arrives, which a caller would take
// for content. (A folder does not open at all without backup semantics.)
bool IsRegularFile(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) &&
         !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

HANDLE OpenHandle(const std::wstring& path, int32_t mode, int32_t flags) {
  if (path.empty()) return INVALID_HANDLE_VALUE;
  DWORD share = 0;  // an update reads a file nobody else changes meanwhile
  if (flags & FileFlagShareAll) {
    share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  } else if (flags & FileFlagShareRead) {
    share = FILE_SHARE_READ;
  }
  const wchar_t* name = path.c_str();
  if (mode == FileModeRead) {
    FileHandle file(CreateFileW(name, GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.valid() && IsRegularFile(file.get()) ? file.release() : INVALID_HANDLE_VALUE;
  }
  if (mode == FileModeUpdate) {
    HANDLE file = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE && (flags & FileFlagSeekEnd)) SetFilePointer(file, 0, nullptr, FILE_END);
    return file;
  }
  // Create, as for any other mode. A file that cannot be recreated (hidden
  // or system files refuse CREATE_ALWAYS with other attributes) is truncated.
  HANDLE file = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, share, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    file = CreateFileW(name, GENERIC_WRITE, share, nullptr, TRUNCATE_EXISTING, 0, nullptr);
  }
  return file;
}

// ReadFile takes 32-bit counts; a larger request is read in pieces.
int64_t ReadHandle(HANDLE handle, uint8_t* destination, int64_t count) {
  int64_t total = 0;
  while (total < count) {
    const DWORD piece = static_cast<DWORD>(std::min<int64_t>(count - total, INT64_C(1) << 30));
    DWORD got = 0;
    if (!ReadFile(handle, destination + total, piece, &got, nullptr) || got == 0) break;
    total += got;
  }
  return total;
}

// "\\?\" and "\\.\" open the device namespace; any other "?" is a wildcard.
bool HasWildcard(const std::wstring& path) {
  const bool device = path.compare(0, 4, L"\\\\?\\") == 0 || path.compare(0, 4, L"\\\\.\\") == 0;
  return path.find_first_of(L"*?<>\"", device ? 4 : 0) != std::wstring::npos;
}

bool IsSeparator(wchar_t unit) { return unit == L'\\' || unit == L'/'; }

// Unknown drive types and paths that name no root count as missing.
int64_t DriveSize(std::wstring root) {
  if (root.empty() || !IsSeparator(root.back())) root += L'\\';
  return GetDriveTypeW(root.c_str()) < DRIVE_REMOVABLE ? -1 : -2;
}

}  // namespace

int64_t FileOpen(ObjectNumber number, RtString name, int32_t mode, int32_t flags) {
  const int32_t encoding = (flags & FileFlagEncodingMask) ? (flags & FileFlagEncodingMask) : 2;
  if (!g_table) return 0;
  auto* record = static_cast<FileRecord*>(ObjectTableAllocate(g_table, number));
  if (!record) return 0;
  const ObjectNumber key = number == DynamicNumber ? ObjectHandle(record) : number;

  const HANDLE handle = OpenHandle(Wide(name), mode, flags);
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) {
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
  CloseHandle(Handle(record));
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
    const int64_t got = ReadHandle(Handle(record), record->buffer, record->capacity);
    record->filled = static_cast<int32_t>(got);
    record->unread = static_cast<int32_t>(got);
    const int64_t take = std::min(got, wanted);
    std::memcpy(out + copied, record->buffer, static_cast<size_t>(take));
    record->unread -= static_cast<int32_t>(take);
    return copied + take;
  }
  // A request of a whole buffer or more skips the buffer.
  const int64_t got = ReadHandle(Handle(record), out + copied, wanted);
  record->unread = 0;
  return copied + got;
}

int64_t FileReadByte(ObjectNumber number) {
  FileRecord* record = OpenFile(number);
  if (!record) return 0;
  int8_t byte = 0;
  if (record->buffer) {
    FileReadBlock(record, &byte, 1);
  } else if (ReadHandle(Handle(record), reinterpret_cast<uint8_t*>(&byte), 1) != 1) {
    byte = 0;
  }
  return byte;
}

int64_t FileSizeOfPath(RtString name) {
  const std::wstring path = Wide(name);
  // A wildcard would make the search below report some other file.
  if (path.empty() || HasWildcard(path)) return -1;

  // A drive ("C:", "C:\"): a drive counts as a folder when it has a root.
  if ((path.size() == 2 || (path.size() == 3 && IsSeparator(path[2]))) && path[1] == L':') return DriveSize(path);

  std::wstring stripped = path;
  while (!stripped.empty() && IsSeparator(stripped.back())) stripped.pop_back();
  if (!stripped.empty()) {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(stripped.c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      FindClose(search);
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -2;
      return (static_cast<int64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    }
  }

  // What the search cannot find: shares ("\\server\share"), device paths
  // ("\\?\C:\") and parents of the root ("..").
  const bool special = path.compare(0, 2, L"\\\\") == 0 || path.compare(0, 2, L"//") == 0 ||
                       path.compare(0, 2, L"..") == 0;
  if (!special) return -1;
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return DriveSize(stripped);
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? -2 : -1;
}

void FileLibraryStart() {
  if (!g_table) g_table = ObjectTableCreate(sizeof(FileRecord), 16, FileClose);
}

void FileLibraryEnd() {
  if (g_table) ObjectTableReleaseAll(g_table);
}

}  // namespace rt
