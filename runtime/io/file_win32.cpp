// Windows back end of the buffered files: file handles opened without
// sharing unless the flags ask for it, read through the record's buffer.
#include "io/file_handle.h"

#include <windows.h>

#include <algorithm>
#include <string>

#include "io/file.h"
#include "io/handle_win32.h"

namespace rt {

namespace {

constexpr int32_t FileFlagShareRead = 0x20000;
constexpr int32_t FileFlagShareAll = 0x40000;

// RtString and wchar_t are both UTF-16 here; the copy keeps the types apart.
std::wstring Wide(RtString name) {
  std::wstring out;
  if (name) {
    for (const RtChar* p = name; *p; ++p) out += static_cast<wchar_t>(*p);
  }
  return out;
}

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
    OwnedHandle file(CreateFileW(name, GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
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

void* FileHandleOpen(RtString name, int32_t mode, int32_t flags) {
  const HANDLE handle = OpenHandle(Wide(name), mode, flags);
  return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

int64_t FileHandleRead(void* handle, uint8_t* destination, int64_t count) {
  return ReadHandle(static_cast<HANDLE>(handle), destination, count);
}

void FileHandleClose(void* handle) { CloseHandle(static_cast<HANDLE>(handle)); }

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

}  // namespace rt
