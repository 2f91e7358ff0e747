// The Win32 buffered files under Wine, on real files and folders.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "io/file.h"

namespace {

std::u16string U16(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  uint32_t seed = 7;
  for (uint8_t& byte : bytes) {
    seed = seed * 1103515245u + 12345u;
    byte = static_cast<uint8_t>(seed >> 16);
  }
  return bytes;
}

HANDLE AsHandle(int64_t handle) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle)); }

// A fresh folder under the temporary folder, removed with what it holds.
class Folder {
 public:
  Folder() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    path_ = std::wstring(temp) + L"io_win32." + std::to_wstring(GetCurrentProcessId()) + L"." +
            std::to_wstring(GetTickCount64());
    CreateDirectoryW(path_.c_str(), nullptr);
  }
  ~Folder() {
    for (const std::wstring& file : files_) DeleteFileW(file.c_str());
    RemoveDirectoryW(path_.c_str());
  }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;

  const std::wstring& path() const { return path_; }
  std::wstring Write(const std::wstring& name, const std::vector<uint8_t>& bytes) {
    const std::wstring file = path_ + L"\\" + name;
    HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    if (!bytes.empty()) WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
    files_.push_back(file);
    return file;
  }
  std::wstring Name(const std::wstring& name) {
    files_.push_back(path_ + L"\\" + name);
    return files_.back();
  }

 private:
  std::wstring path_;
  std::vector<std::wstring> files_;
};

int64_t OpenForRead(rt::ObjectNumber number, const std::wstring& path) {
  return rt::FileOpenForRead(number, U16(path).c_str());
}

int64_t SizeOf(const std::wstring& path) { return rt::FileSizeOfPath(U16(path).c_str()); }

HANDLE OpenElsewhere(const std::wstring& path, DWORD access, DWORD share) {
  return CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
}

class Files : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { rt::FileLibraryStart(); }
  static void TearDownTestSuite() { rt::FileLibraryEnd(); }
  void TearDown() override { rt::FileClose(rt::DynamicNumber); }
  Folder folder_;
};

TEST_F(Files, BytesAreSignedAndTheEndReadsZero) {
  ASSERT_NE(OpenForRead(0, folder_.Write(L"five.fw", {0xFF, 0x80, 0x7F, 0x00, 0xFE})), 0);
  for (const int64_t expected : {-1, -128, 127, 0, -2}) EXPECT_EQ(rt::FileReadByte(0), expected);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(rt::FileReadByte(0), 0);
  EXPECT_EQ(rt::FileReadByte(7), 0);  // no file under that number
}

TEST_F(Files, ReadingGoesThroughTheBufferOneReadPerBlock) {
  const std::vector<uint8_t> content = Pattern(10000);
  const std::wstring path = folder_.Write(L"ten-thousand.fw", content);
  const int64_t handle = OpenForRead(0, path);
  ASSERT_NE(handle, 0);
  auto* record = reinterpret_cast<rt::FileRecord*>(rt::FileIsOpen(0));
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->handle, AsHandle(handle));
  EXPECT_EQ(record->capacity, 4096);
  EXPECT_EQ(record->encoding, 2);
  EXPECT_EQ(record->readOnly, 1);

  std::vector<int32_t> refills;
  for (size_t i = 0; i < content.size(); ++i) {
    ASSERT_EQ(static_cast<uint8_t>(rt::FileReadByte(0)), content[i]) << "byte " << i;
    if (record->unread == record->filled - 1) refills.push_back(record->filled);
  }
  EXPECT_EQ(refills, (std::vector<int32_t>{4096, 4096, 1808}));
  EXPECT_EQ(rt::FileReadByte(0), 0);

  // A request of a whole buffer or more goes straight to the destination.
  ASSERT_NE(OpenForRead(0, path), 0);
  record = reinterpret_cast<rt::FileRecord*>(rt::FileIsOpen(0));
  std::vector<uint8_t> out(content.size());
  ASSERT_EQ(rt::FileReadBlock(record, out.data(), 10), 10);
  ASSERT_EQ(rt::FileReadBlock(record, out.data() + 10, 9000), 9000);
  EXPECT_EQ(record->unread, 0);
  EXPECT_EQ(rt::FileReadBlock(record, out.data() + 9010, 5000), 990);
  EXPECT_EQ(out, content);
  EXPECT_EQ(rt::FileReadBlock(record, out.data(), -1), 0);
}

TEST_F(Files, AFileIsOpenedWithoutSharing) {
  const std::wstring path = folder_.Write(L"held.fw", {1, 2, 3});

  // Ours: no other program can open it while an update reads it.
  ASSERT_NE(OpenForRead(0, path), 0);
  HANDLE other = OpenElsewhere(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  EXPECT_EQ(other, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
  rt::FileClose(0);

  // Another program's: it cannot be opened, and the number holds nothing.
  other = OpenElsewhere(path, GENERIC_READ, FILE_SHARE_READ);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenForRead(0, path), 0);
  EXPECT_EQ(rt::FileIsOpen(0), 0);
  CloseHandle(other);
  ASSERT_NE(OpenForRead(0, path), 0);
  EXPECT_EQ(rt::FileReadByte(0), 1);
  rt::FileClose(0);

  // The flags share with readers (0x20000) or with everyone (0x40000).
  ASSERT_NE(rt::FileOpen(0, U16(path).c_str(), 1, 0x20000), 0);
  other = OpenElsewhere(path, GENERIC_READ, FILE_SHARE_READ);
  EXPECT_NE(other, INVALID_HANDLE_VALUE);
  CloseHandle(other);
  EXPECT_EQ(OpenElsewhere(path, GENERIC_WRITE, FILE_SHARE_READ), INVALID_HANDLE_VALUE);
  ASSERT_NE(rt::FileOpen(0, U16(path).c_str(), 1, 0x40000), 0);
  other = OpenElsewhere(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
  EXPECT_NE(other, INVALID_HANDLE_VALUE);
  CloseHandle(other);
}

TEST_F(Files, OnlyARegularFileOpensForReading) {
  for (const std::wstring& path : {folder_.path(), std::wstring(L"NUL"), std::wstring(L"\\\\.\\NUL")}) {
    EXPECT_EQ(OpenForRead(0, path), 0) << std::string(path.begin(), path.end());
    EXPECT_EQ(rt::FileIsOpen(0), 0);
  }
  EXPECT_EQ(rt::FileOpenForRead(0, nullptr), 0);
  EXPECT_EQ(rt::FileOpenForRead(0, u""), 0);
  EXPECT_EQ(rt::FileOpenForRead(-7, u"C:\\windows\\win.ini"), 0);

  // A failed open still closes what the number held.
  ASSERT_NE(OpenForRead(0, folder_.Write(L"present.fw", {1})), 0);
  EXPECT_EQ(OpenForRead(0, folder_.path() + L"\\absent.fw"), 0);
  EXPECT_EQ(rt::FileIsOpen(0), 0);
}

// A real network share and removable drives are beyond Wine; the device-path
// form "\\?\C:\" takes the same road as a share's root, and Wine's drives
// C: and Z: stand for fixed drives.
TEST_F(Files, SizeOfPath) {
  const std::wstring file = folder_.Write(L"some.fw", Pattern(70000));
  folder_.Write(L"empty.fw", {});
  EXPECT_EQ(SizeOf(file), 70000);
  EXPECT_EQ(SizeOf(folder_.path() + L"\\empty.fw"), 0);
  EXPECT_EQ(SizeOf(folder_.path() + L"\\missing.fw"), -1);
  EXPECT_EQ(SizeOf(folder_.path()), -2);
  EXPECT_EQ(SizeOf(folder_.path() + L"\\"), -2);
  EXPECT_EQ(SizeOf(folder_.path() + L"//"), -2);
  EXPECT_EQ(SizeOf(folder_.path() + L"\\*.fw"), -1);  // a pattern names no file
  EXPECT_EQ(SizeOf(folder_.path() + L"\\some.f?"), -1);
  EXPECT_EQ(rt::FileSizeOfPath(nullptr), -1);
  EXPECT_EQ(rt::FileSizeOfPath(u""), -1);

  EXPECT_EQ(SizeOf(L"C:"), -2);
  EXPECT_EQ(SizeOf(L"c:\\"), -2);
  EXPECT_EQ(SizeOf(L"Z:/"), -2);
  const DWORD drives = GetLogicalDrives();
  for (wchar_t letter = L'Y'; letter > L'C'; --letter) {
    if (!(drives & (1u << (letter - L'A')))) {
      EXPECT_EQ(SizeOf(std::wstring(1, letter) + L":"), -1) << char(letter);
      break;
    }
  }
  EXPECT_EQ(SizeOf(L"\\\\?\\C:\\"), -2);
  EXPECT_EQ(SizeOf(L"\\\\?\\" + file), 70000);

  wchar_t saved[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, saved);
  const std::wstring inner = folder_.path() + L"\\inner";
  ASSERT_TRUE(CreateDirectoryW(inner.c_str(), nullptr));
  ASSERT_TRUE(SetCurrentDirectoryW(inner.c_str()));
  EXPECT_EQ(SizeOf(L".."), -2);
  EXPECT_EQ(SizeOf(L"..\\some.fw"), 70000);
  EXPECT_EQ(SizeOf(L"../missing.fw"), -1);
  ASSERT_TRUE(SetCurrentDirectoryW(L"C:\\"));
  EXPECT_EQ(SizeOf(L".."), -2);  // the root has no parent entry to find
  SetCurrentDirectoryW(saved);
  RemoveDirectoryW(inner.c_str());
}

TEST_F(Files, UpdateCreateAndFlags) {
  const std::wstring path = folder_.Name(L"update.bin");
  const std::u16string name = U16(path);

  // Update creates a missing file and, with 0x100000, starts at its end.
  int64_t handle = rt::FileOpen(0, name.c_str(), 2, 0);
  ASSERT_NE(handle, 0);
  EXPECT_EQ(reinterpret_cast<rt::FileRecord*>(rt::FileIsOpen(0))->readOnly, 0);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(AsHandle(handle), "abcdef", 6, &written, nullptr));
  rt::FileClose(0);
  EXPECT_EQ(SizeOf(path), 6);
  handle = rt::FileOpen(0, name.c_str(), 2, 0x100000 | 5);
  ASSERT_NE(handle, 0);
  EXPECT_EQ(SetFilePointer(AsHandle(handle), 0, nullptr, FILE_CURRENT), 6u);
  EXPECT_EQ(reinterpret_cast<rt::FileRecord*>(rt::FileIsOpen(0))->encoding, 5);
  ASSERT_NE(rt::FileOpenForUpdate(0, name.c_str()), 0);
  EXPECT_EQ(rt::FileReadByte(0), 'a');

  // Unbuffered reading goes straight to the file.
  ASSERT_NE(rt::FileOpen(0, name.c_str(), 1, 0x80000), 0);
  EXPECT_EQ(reinterpret_cast<rt::FileRecord*>(rt::FileIsOpen(0))->buffer, nullptr);
  std::string read;
  for (int i = 0; i < 8; ++i) read += static_cast<char>(rt::FileReadByte(0));
  EXPECT_EQ(read, std::string("abcdef\0\0", 8));

  // Create (mode 3, and any other mode) truncates.
  ASSERT_NE(rt::FileCreate(0, name.c_str()), 0);
  rt::FileClose(0);
  EXPECT_EQ(SizeOf(path), 0);
  folder_.Write(L"update.bin", {1, 2});
  ASSERT_NE(rt::FileOpen(0, name.c_str(), 77, 0), 0);
  rt::FileClose(0);
  EXPECT_EQ(SizeOf(path), 0);
}

TEST_F(Files, ClosingEveryFile) {
  const std::wstring path = folder_.Write(L"shared.fw", {9, 8, 7});
  ASSERT_NE(rt::FileOpen(0, U16(path).c_str(), 1, 0x20000), 0);
  ASSERT_NE(rt::FileOpen(4, U16(path).c_str(), 1, 0x20000), 0);
  const int64_t dynamic = rt::FileOpen(rt::DynamicNumber, U16(path).c_str(), 1, 0x20000);
  ASSERT_NE(dynamic, 0);
  EXPECT_EQ(rt::FileIsOpen(dynamic), dynamic);
  EXPECT_EQ(rt::FileReadByte(dynamic), 9);
  rt::FileClose(rt::DynamicNumber);
  EXPECT_EQ(rt::FileIsOpen(0), 0);
  EXPECT_EQ(rt::FileIsOpen(4), 0);
  EXPECT_EQ(rt::FileIsOpen(dynamic), 0);
  // Nothing holds the file any more.
  HANDLE other = OpenElsewhere(path, GENERIC_WRITE, 0);
  EXPECT_NE(other, INVALID_HANDLE_VALUE);
  CloseHandle(other);
}

}  // namespace
