// The Win32 buffered files under Wine, on real files and folders.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "io/file.h"

namespace {

std::u16string U16(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }
HANDLE AsHandle(int64_t handle) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle)); }
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

  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"io_win32." + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder_.c_str(), nullptr);
  }
  void TearDown() override {
    rt::FileClose(rt::DynamicNumber);
    for (const std::wstring& file : files_) DeleteFileW(file.c_str());
    RemoveDirectoryW(folder_.c_str());
  }

  std::wstring Write(const std::wstring& name, const std::vector<uint8_t>& bytes) {
    files_.push_back(folder_ + L"\\" + name);
    HANDLE h = CreateFileW(files_.back().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    if (!bytes.empty()) WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
    return files_.back();
  }

  std::wstring folder_;
  std::vector<std::wstring> files_;
};

TEST_F(Files, ByteByByteThroughTheBufferSignedAndZeroAtTheEnd) {
  std::vector<uint8_t> content(10000);
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<uint8_t>(i * 7 + i / 251);
  content[0] = 0xFF;
  content[1] = 0x80;
  const int64_t handle = OpenForRead(0, Write(L"ten-thousand.fw", content));
  ASSERT_NE(handle, 0);
  auto* record = reinterpret_cast<rt::FileRecord*>(rt::FileIsOpen(0));
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->handle, AsHandle(handle));

  EXPECT_EQ(rt::FileReadByte(0), -1);
  EXPECT_EQ(rt::FileReadByte(0), -128);
  std::vector<int32_t> refills{record->filled};
  for (size_t i = 2; i < content.size(); ++i) {
    ASSERT_EQ(static_cast<uint8_t>(rt::FileReadByte(0)), content[i]) << "byte " << i;
    if (record->unread == record->filled - 1) refills.push_back(record->filled);
  }
  EXPECT_EQ(refills, (std::vector<int32_t>{4096, 4096, 1808}));  // one read a block
  EXPECT_EQ(rt::FileReadByte(0), 0);
  EXPECT_EQ(rt::FileReadByte(0), 0);
}

TEST_F(Files, AFileIsOpenedWithoutSharing) {
  const std::wstring path = Write(L"held.fw", {1, 2, 3});

  // Ours: no other program can open it while an update reads it.
  ASSERT_NE(OpenForRead(0, path), 0);
  EXPECT_EQ(OpenElsewhere(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));

  // Another program's: it cannot be opened, and the number holds nothing.
  rt::FileClose(0);
  HANDLE other = OpenElsewhere(path, GENERIC_READ, FILE_SHARE_READ);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenForRead(0, path), 0);
  EXPECT_EQ(rt::FileIsOpen(0), 0);
  CloseHandle(other);

  // The flags share with readers (0x20000) or with everyone (0x40000).
  ASSERT_NE(rt::FileOpen(0, U16(path).c_str(), 1, 0x20000), 0);
  other = OpenElsewhere(path, GENERIC_READ, FILE_SHARE_READ);
  EXPECT_NE(other, INVALID_HANDLE_VALUE);
  CloseHandle(other);
  EXPECT_EQ(OpenElsewhere(path, GENERIC_WRITE, FILE_SHARE_READ), INVALID_HANDLE_VALUE);
  ASSERT_NE(rt::FileOpen(rt::DynamicNumber, U16(path).c_str(), 1, 0x40000), 0);
  EXPECT_EQ(rt::FileReadByte(0), 1);

  // Closing every file lets go of all of them.
  rt::FileClose(rt::DynamicNumber);
  other = OpenElsewhere(path, GENERIC_WRITE, 0);
  EXPECT_NE(other, INVALID_HANDLE_VALUE);
  CloseHandle(other);
}

TEST_F(Files, OnlyARegularFileOpensForReading) {
  for (const std::wstring& path : {folder_, std::wstring(L"NUL"), std::wstring(L"\\\\.\\NUL")}) {
    EXPECT_EQ(OpenForRead(0, path), 0) << std::string(path.begin(), path.end());
  }
  EXPECT_EQ(rt::FileOpenForRead(0, nullptr), 0);

  // A failed open still closes what the number held.
  ASSERT_NE(OpenForRead(0, Write(L"present.fw", {1})), 0);
  EXPECT_EQ(OpenForRead(0, folder_ + L"\\absent.fw"), 0);
  EXPECT_EQ(rt::FileIsOpen(0), 0);
}

// Network shares and removable drives are beyond Wine: the device-path form
// "\\?\C:\" takes the road of a share's root, and Wine's C: and Z: stand for
// fixed drives.
TEST_F(Files, SizeOfPath) {
  const std::wstring file = Write(L"some.fw", std::vector<uint8_t>(70000, 0x5A));
  EXPECT_EQ(SizeOf(file), 70000);
  EXPECT_EQ(SizeOf(Write(L"empty.fw", {})), 0);
  EXPECT_EQ(SizeOf(folder_ + L"\\missing.fw"), -1);
  EXPECT_EQ(SizeOf(folder_), -2);
  EXPECT_EQ(SizeOf(folder_ + L"\\"), -2);
  EXPECT_EQ(SizeOf(folder_ + L"//"), -2);
  EXPECT_EQ(SizeOf(folder_ + L"\\*.fw"), -1);  // a pattern names no file
  EXPECT_EQ(rt::FileSizeOfPath(u""), -1);

  EXPECT_EQ(SizeOf(L"C:"), -2);
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
  const std::wstring inner = folder_ + L"\\inner";
  ASSERT_TRUE(CreateDirectoryW(inner.c_str(), nullptr));
  ASSERT_TRUE(SetCurrentDirectoryW(inner.c_str()));
  EXPECT_EQ(SizeOf(L"..\\some.fw"), 70000);
  EXPECT_EQ(SizeOf(L".."), -2);
  ASSERT_TRUE(SetCurrentDirectoryW(L"C:\\"));
  EXPECT_EQ(SizeOf(L".."), -2);  // the root has no parent entry to find
  SetCurrentDirectoryW(saved);
  RemoveDirectoryW(inner.c_str());
}

TEST_F(Files, UpdateAndCreate) {
  const std::wstring path = Write(L"update.bin", {'a', 'b', 'c'});
  const std::u16string name = U16(path);
  // Update keeps the content; with 0x100000 it starts at the end.
  const int64_t handle = rt::FileOpen(0, name.c_str(), 2, 0x100000 | 5);
  ASSERT_NE(handle, 0);
  EXPECT_EQ(SetFilePointer(AsHandle(handle), 0, nullptr, FILE_CURRENT), 3u);
  EXPECT_EQ(reinterpret_cast<rt::FileRecord*>(rt::FileIsOpen(0))->encoding, 5);
  ASSERT_NE(rt::FileOpen(0, name.c_str(), 2, 0x80000), 0);  // unbuffered
  EXPECT_EQ(reinterpret_cast<rt::FileRecord*>(rt::FileIsOpen(0))->buffer, nullptr);
  EXPECT_EQ(rt::FileReadByte(0), 'a');
  // Create (mode 3, and any other mode) truncates.
  ASSERT_NE(rt::FileOpen(0, name.c_str(), 77, 0), 0);
  rt::FileClose(0);
  EXPECT_EQ(SizeOf(path), 0);
}

}  // namespace
