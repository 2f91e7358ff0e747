// Buffered files on real files, folders and FIFOs.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>

#include "core/object_table.h"
#include "io/file.h"
#include "io_support.h"

namespace {

using iotest::U16;

rt::FileRecord* Record(int64_t handle, rt::ObjectNumber number) {
  // A fixed number's handle is the stream; its record is what FileIsOpen gives.
  (void)handle;
  return reinterpret_cast<rt::FileRecord*>(rt::FileIsOpen(number));
}

class Files : public ::testing::Test {
 protected:
  void TearDown() override { rt::FileClose(rt::DynamicNumber); }
  iotest::TempDir dir_;
};

TEST_F(Files, AFiveByteFileReadByteByByteThenZeros) {
  const std::string path = dir_.Write("five", {1, 2, 3, 4, 5});
  const int64_t handle = rt::FileOpenForRead(0, U16(path).c_str());
  ASSERT_NE(handle, 0);
  for (int64_t expected = 1; expected <= 5; ++expected) EXPECT_EQ(rt::FileReadByte(0), expected);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(rt::FileReadByte(0), 0);
}

TEST_F(Files, BytesAreSignedEightBitValues) {
  const std::string path = dir_.Write("signed", {0xFF, 0x80, 0x7F, 0x00, 0xFE});
  ASSERT_NE(rt::FileOpenForRead(0, U16(path).c_str()), 0);
  EXPECT_EQ(rt::FileReadByte(0), -1);
  EXPECT_EQ(rt::FileReadByte(0), -128);
  EXPECT_EQ(rt::FileReadByte(0), 127);
  EXPECT_EQ(rt::FileReadByte(0), 0);
  EXPECT_EQ(rt::FileReadByte(0), -2);
}

TEST_F(Files, ByteByByteReadingRefillsOncePerBuffer) {
  const std::vector<uint8_t> content = iotest::Pattern(10000);
  const std::string path = dir_.Write("ten-thousand", content);
  const int64_t handle = rt::FileOpenForRead(0, U16(path).c_str());
  ASSERT_NE(handle, 0);
  rt::FileRecord* record = Record(handle, 0);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(reinterpret_cast<intptr_t>(record->handle), handle);
  EXPECT_EQ(record->capacity, 4096);
  EXPECT_EQ(record->reading, 1);
  EXPECT_EQ(record->encoding, 2);
  EXPECT_EQ(record->readOnly, 1);

  // Each refill shows as a new `filled` with `unread` one short of it.
  std::vector<int32_t> refills;
  for (size_t i = 0; i < content.size(); ++i) {
    const int64_t byte = rt::FileReadByte(0);
    ASSERT_EQ(static_cast<uint8_t>(byte), content[i]) << "byte " << i;
    if (record->unread == record->filled - 1) refills.push_back(record->filled);
  }
  EXPECT_EQ(refills, (std::vector<int32_t>{4096, 4096, 1808}));
  EXPECT_EQ(rt::FileReadByte(0), 0);
  EXPECT_EQ(record->filled, 0);
}

TEST_F(Files, OnlyARegularFileOpensForReading) {
  // A folder opens with fopen on Linux and a FIFO or device reads whatever
  // arrives: none of them is a file's content. A FIFO without a writer would
  // block a plain open; it must be refused at once instead.
  const std::string fifo = dir_.File("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {dir_.File(""), fifo, std::string("/dev/null"), std::string("/dev/zero")}) {
    EXPECT_EQ(rt::FileOpenForRead(0, U16(path).c_str()), 0) << path;
    EXPECT_EQ(rt::FileIsOpen(0), 0) << path;
  }
  const std::string file = dir_.Write("file", {7});
  ASSERT_NE(rt::FileOpenForRead(0, U16(file).c_str()), 0);
  EXPECT_EQ(rt::FileReadByte(0), 7);
}

TEST_F(Files, ReadBlockFollowsTheRefillRule) {
  const std::vector<uint8_t> content = iotest::Pattern(20000, 3);
  const std::string path = dir_.Write("block", content);
  ASSERT_NE(rt::FileOpenForRead(0, U16(path).c_str()), 0);
  rt::FileRecord* record = Record(0, 0);
  std::vector<uint8_t> out(20000);

  EXPECT_EQ(rt::FileReadBlock(record, out.data(), -5), 0);
  EXPECT_EQ(rt::FileReadBlock(record, out.data(), 0), 0);
  EXPECT_EQ(record->filled, 0);

  // Small request: one refill of a whole buffer.
  ASSERT_EQ(rt::FileReadBlock(record, out.data(), 10), 10);
  EXPECT_EQ(record->filled, 4096);
  EXPECT_EQ(record->unread, 4086);
  // Served from the buffer alone.
  ASSERT_EQ(rt::FileReadBlock(record, out.data() + 10, 4000), 4000);
  EXPECT_EQ(record->unread, 86);
  // The rest of the buffer, then a refill for the remaining 14.
  ASSERT_EQ(rt::FileReadBlock(record, out.data() + 4010, 100), 100);
  EXPECT_EQ(record->filled, 4096);
  EXPECT_EQ(record->unread, 4082);
  // The rest of the buffer, then 5000 (>= capacity) straight into the destination.
  ASSERT_EQ(rt::FileReadBlock(record, out.data() + 4110, 4082 + 5000), 4082 + 5000);
  EXPECT_EQ(record->unread, 0);
  EXPECT_EQ(record->filled, 4096);
  // Near the end: asks for more than is left.
  const int64_t left = 20000 - (4110 + 4082 + 5000);
  EXPECT_EQ(rt::FileReadBlock(record, out.data() + 13192, 9000), left);
  EXPECT_EQ(out, content);
  EXPECT_EQ(rt::FileReadBlock(record, out.data(), 1), 0);
}

TEST_F(Files, SizeOfPath) {
  EXPECT_EQ(rt::FileSizeOfPath(U16(dir_.path()).c_str()), -2);
  EXPECT_EQ(rt::FileSizeOfPath(U16(dir_.File("missing")).c_str()), -1);
  EXPECT_EQ(rt::FileSizeOfPath(U16(dir_.Write("empty", {})).c_str()), 0);
  EXPECT_EQ(rt::FileSizeOfPath(U16(dir_.Write("some", iotest::Pattern(70000))).c_str()), 70000);
  EXPECT_EQ(rt::FileSizeOfPath(nullptr), -1);
  EXPECT_EQ(rt::FileSizeOfPath(u""), -1);
  EXPECT_EQ(rt::FileSizeOfPath(u"/tmp/\xDC00"), -1);
}

TEST_F(Files, AFailedOpenStillClosesTheFileUnderTheNumber) {
  const std::string path = dir_.Write("present", {1});
  ASSERT_NE(rt::FileOpenForRead(0, U16(path).c_str()), 0);
  EXPECT_EQ(rt::FileOpenForRead(0, U16(dir_.File("absent")).c_str()), 0);
  EXPECT_EQ(rt::FileIsOpen(0), 0);
  EXPECT_EQ(rt::FileReadByte(0), 0);
  // A record that failed leaves no dynamic object behind either.
  EXPECT_EQ(rt::FileOpenForRead(rt::DynamicNumber, U16(dir_.File("absent")).c_str()), 0);
  EXPECT_EQ(rt::FileOpenForRead(0, nullptr), 0);
  EXPECT_EQ(rt::FileOpenForRead(-7, U16(path).c_str()), 0);
}

TEST_F(Files, ClosingEveryFile) {
  const std::string path = dir_.Write("shared", {9, 8, 7});
  ASSERT_NE(rt::FileOpenForRead(0, U16(path).c_str()), 0);
  ASSERT_NE(rt::FileOpenForRead(4, U16(path).c_str()), 0);
  const int64_t h = rt::FileOpenForRead(rt::DynamicNumber, U16(path).c_str());
  ASSERT_NE(h, 0);
  EXPECT_EQ(rt::FileIsOpen(h), h);
  EXPECT_EQ(rt::FileReadByte(h), 9);
  EXPECT_EQ(reinterpret_cast<rt::FileRecord*>(h)->encoding, 2);
  rt::FileClose(rt::DynamicNumber);
  EXPECT_EQ(rt::FileIsOpen(0), 0);
  EXPECT_EQ(rt::FileIsOpen(4), 0);
  EXPECT_EQ(rt::FileIsOpen(h), 0);
  rt::FileClose(4);  // nothing left: ignored
}

TEST_F(Files, UpdateCreateAndFlags) {
  const std::string path = dir_.File("update");
  // Update mode creates a missing file.
  ASSERT_NE(rt::FileOpen(0, U16(path).c_str(), 2, 0), 0);
  rt::FileRecord* record = Record(0, 0);
  EXPECT_EQ(record->readOnly, 0);
  ASSERT_EQ(fwrite("abcdef", 1, 6, static_cast<FILE*>(record->handle)), 6u);
  rt::FileClose(0);
  EXPECT_EQ(rt::FileSizeOfPath(U16(path).c_str()), 6);

  // Update keeps the content; with 0x100000 it starts at the end.
  ASSERT_NE(rt::FileOpen(0, U16(path).c_str(), 2, 0x100000 | 5), 0);
  record = Record(0, 0);
  EXPECT_EQ(ftell(static_cast<FILE*>(record->handle)), 6);
  EXPECT_EQ(record->encoding, 5);
  ASSERT_NE(rt::FileOpenForUpdate(0, U16(path).c_str()), 0);
  EXPECT_EQ(rt::FileReadByte(0), 'a');

  // Unbuffered reading goes straight to the stream.
  ASSERT_NE(rt::FileOpen(0, U16(path).c_str(), 1, 0x80000), 0);
  record = Record(0, 0);
  EXPECT_EQ(record->buffer, nullptr);
  EXPECT_EQ(record->capacity, 0);
  std::string read;
  for (int i = 0; i < 8; ++i) read += static_cast<char>(rt::FileReadByte(0));
  EXPECT_EQ(read, std::string("abcdef\0\0", 8));

  // Create (mode 3 and any other mode) truncates.
  ASSERT_NE(rt::FileCreate(0, U16(path).c_str()), 0);
  EXPECT_EQ(rt::FileSizeOfPath(U16(path).c_str()), 0);
  rt::FileClose(0);
  dir_.Write("update", {1, 2});
  ASSERT_NE(rt::FileOpen(0, U16(path).c_str(), 77, 0), 0);
  EXPECT_EQ(rt::FileSizeOfPath(U16(path).c_str()), 0);
}

TEST_F(Files, NamesAreConvertedToUtf8AndMalformedOnesRejected) {
  const std::string path = dir_.Write("caf\xC3\xA9-\xF0\x9F\x98\x80.fw", {42});
  ASSERT_NE(rt::FileOpenForRead(0, U16(path).c_str()), 0);
  EXPECT_EQ(rt::FileReadByte(0), 42);
  EXPECT_EQ(rt::FileSizeOfPath(U16(path).c_str()), 1);
  const std::u16string broken = U16(dir_.path()) + u"/\xD83D";
  EXPECT_EQ(rt::FileCreate(1, broken.c_str()), 0);
  EXPECT_EQ(rt::FileIsOpen(1), 0);
}

}  // namespace
