// UTF-16 <-> UTF-8 and Latin-1 conversions on arbitrary input. Every
// destination is a heap block of exactly the size handed to the conversion,
// so AddressSanitizer reports any write past it. Checked on every input:
//  - counting and converting agree: the count is what a conversion into a
//    destination of exactly that size writes (or 0 for malformed input);
//  - a smaller destination gets a prefix of the full output, cut only where
//    the next whole character does not fit;
//  - valid text goes to the other form and back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <vector>

#include "core/utf.h"

namespace {

using rt::CodePageLatin1;
using rt::CodePageUtf8;
using rt::RtChar;

#define CHECK(condition)   \
  do {                     \
    if (!(condition)) {    \
      __builtin_trap();    \
    }                      \
  } while (0)

bool IsHigh(unsigned c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(unsigned c) { return c >= 0xDC00 && c <= 0xDFFF; }

// memcmp that also takes the null pointers of empty vectors.
bool Same(const void* a, const void* b, size_t bytes) { return bytes == 0 || std::memcmp(a, b, bytes) == 0; }

template <typename T>
std::unique_ptr<T[]> Exact(int64_t n) {
  return std::unique_ptr<T[]>(new T[static_cast<size_t>(n)]);
}

// How UTF-16 input reads: the units before a high surrogate that ends the
// input (all units when there is none), and whether a high surrogate with
// something other than a low one after it comes first.
struct Utf16Shape {
  int64_t usable;
  bool broken;
};

Utf16Shape ShapeOf(const RtChar* s, int64_t n) {
  for (int64_t i = 0; i < n; ++i) {
    if (!IsHigh(s[i])) continue;
    if (i + 1 >= n) return {i, false};
    if (!IsLow(s[i + 1])) return {i, true};
    ++i;
  }
  return {n, false};
}

std::vector<RtChar> BackToUtf16(const char* bytes, int64_t n) {
  const int64_t count = rt::Utf8ToUtf16(CodePageUtf8, bytes, n, nullptr, 0);
  CHECK(count >= 0 && count <= n);
  auto out = Exact<RtChar>(count);
  const int64_t written = rt::Utf8ToUtf16(CodePageUtf8, bytes, n, out.get(), count);
  CHECK(written == count);
  return std::vector<RtChar>(out.get(), out.get() + written);
}

void CheckUtf16ToUtf8(const RtChar* units, int64_t n, int64_t lengthArgument) {
  const int64_t count = rt::Utf16ToUtf8(CodePageUtf8, units, lengthArgument, nullptr, 0);
  CHECK(count >= 0 && count <= 3 * n);
  auto full = Exact<char>(count);
  const int64_t written = rt::Utf16ToUtf8(CodePageUtf8, units, lengthArgument, full.get(), count);
  const Utf16Shape shape = ShapeOf(units, n);
  if (shape.broken) {
    CHECK(written == 0);
    return;
  }
  CHECK(written == count);
  // Everything before a trailing high surrogate comes back unchanged.
  const std::vector<RtChar> back = BackToUtf16(full.get(), written);
  CHECK(static_cast<int64_t>(back.size()) == shape.usable);
  CHECK(Same(back.data(), units, back.size() * sizeof(RtChar)));

  // Smaller destinations: a prefix of whole characters.
  for (int64_t room : {count / 2, count - 1, int64_t{1}, int64_t{0}}) {
    if (room < 0 || room >= count) continue;
    auto part = Exact<char>(room);
    const int64_t got = rt::Utf16ToUtf8(CodePageUtf8, units, lengthArgument, part.get(), room);
    CHECK(got <= room && room - got < 4);
    CHECK(Same(part.get(), full.get(), static_cast<size_t>(got)));
  }
}

void CheckUtf8ToUtf16(const char* bytes, int64_t n, int64_t lengthArgument) {
  const int64_t count = rt::Utf8ToUtf16(CodePageUtf8, bytes, lengthArgument, nullptr, 0);
  CHECK(count >= 0 && count <= n);
  auto full = Exact<RtChar>(count);
  const int64_t written = rt::Utf8ToUtf16(CodePageUtf8, bytes, lengthArgument, full.get(), count);
  CHECK(written == count || written == 0);  // 0: a malformed sequence
  if (written == 0) return;

  // The units go back to UTF-8 and return unchanged (unless they end on a
  // high surrogate, which the encoder leaves for the next call).
  const Utf16Shape shape = ShapeOf(full.get(), written);
  if (!shape.broken && shape.usable == written) {
    const int64_t bytesBack = rt::Utf16ToUtf8(CodePageUtf8, full.get(), written, nullptr, 0);
    auto utf8 = Exact<char>(bytesBack);
    CHECK(rt::Utf16ToUtf8(CodePageUtf8, full.get(), written, utf8.get(), bytesBack) == bytesBack);
    const std::vector<RtChar> again = BackToUtf16(utf8.get(), bytesBack);
    CHECK(static_cast<int64_t>(again.size()) == written);
    CHECK(Same(again.data(), full.get(), again.size() * sizeof(RtChar)));
  }

  for (int64_t room : {count / 2, count - 1, int64_t{1}, int64_t{0}}) {
    if (room < 0 || room >= count) continue;
    auto part = Exact<RtChar>(room);
    const int64_t got = rt::Utf8ToUtf16(CodePageUtf8, bytes, lengthArgument, part.get(), room);
    CHECK(got <= room && room - got < 2);
    CHECK(Same(part.get(), full.get(), static_cast<size_t>(got) * sizeof(RtChar)));
  }
}

// Valid text built from the input as code points, encoded here by the book,
// must match the library's encoding and decode back to itself.
void CheckValidText(const uint8_t* data, size_t size) {
  std::vector<RtChar> units;
  std::vector<char> bytes;
  for (size_t i = 0; i + 3 <= size; i += 3) {
    uint32_t cp = (static_cast<uint32_t>(data[i]) << 16 | data[i + 1] << 8 | data[i + 2]) % 0x110000;
    if (cp >= 0xD800 && cp <= 0xDFFF) cp -= 0x800;
    if (cp < 0x80) {
      bytes.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      bytes.push_back(static_cast<char>(0xC0 | cp >> 6));
      bytes.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      bytes.push_back(static_cast<char>(0xE0 | cp >> 12));
      bytes.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
      bytes.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      bytes.push_back(static_cast<char>(0xF0 | cp >> 18));
      bytes.push_back(static_cast<char>(0x80 | (cp >> 12 & 0x3F)));
      bytes.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
      bytes.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
    if (cp < 0x10000) {
      units.push_back(static_cast<RtChar>(cp));
    } else {
      units.push_back(static_cast<RtChar>(0xD800 | (cp - 0x10000) >> 10));
      units.push_back(static_cast<RtChar>(0xDC00 | ((cp - 0x10000) & 0x3FF)));
    }
  }
  const auto n16 = static_cast<int64_t>(units.size());
  const auto n8 = static_cast<int64_t>(bytes.size());
  auto source16 = Exact<RtChar>(n16);
  if (n16) std::memcpy(source16.get(), units.data(), units.size() * sizeof(RtChar));
  auto source8 = Exact<char>(n8);
  if (n8) std::memcpy(source8.get(), bytes.data(), bytes.size());

  CHECK(rt::Utf16ToUtf8(CodePageUtf8, source16.get(), n16, nullptr, 0) == n8);
  auto utf8 = Exact<char>(n8);
  CHECK(rt::Utf16ToUtf8(CodePageUtf8, source16.get(), n16, utf8.get(), n8) == n8);
  CHECK(Same(utf8.get(), bytes.data(), bytes.size()));

  CHECK(rt::Utf8ToUtf16(CodePageUtf8, source8.get(), n8, nullptr, 0) == n16);
  auto utf16 = Exact<RtChar>(n16);
  CHECK(rt::Utf8ToUtf16(CodePageUtf8, source8.get(), n8, utf16.get(), n16) == n16);
  CHECK(Same(utf16.get(), units.data(), units.size() * sizeof(RtChar)));
}

// Latin-1: bytes widen one to one; units above 255 are left out on the way back.
void CheckLatin1(const uint8_t* data, size_t size, const RtChar* units, int64_t nUnits) {
  const auto n = static_cast<int64_t>(size);
  auto source = Exact<char>(n);
  if (n) std::memcpy(source.get(), data, size);
  CHECK(rt::Utf8ToUtf16(CodePageLatin1, source.get(), n, nullptr, 0) == n);
  auto wide = Exact<RtChar>(n);
  CHECK(rt::Utf8ToUtf16(CodePageLatin1, source.get(), n, wide.get(), n) == n);
  for (int64_t i = 0; i < n; ++i) CHECK(wide[i] == data[i]);
  auto narrow = Exact<char>(n);
  CHECK(rt::Utf16ToUtf8(CodePageLatin1, wide.get(), n, narrow.get(), n) == n);
  CHECK(Same(narrow.get(), data, size));

  int64_t small = 0;
  for (int64_t i = 0; i < nUnits; ++i) small += units[i] < 256;
  CHECK(rt::Utf16ToUtf8(CodePageLatin1, units, nUnits, nullptr, 0) == small);
  auto kept = Exact<char>(small);
  CHECK(rt::Utf16ToUtf8(CodePageLatin1, units, nUnits, kept.get(), small) == small);
  for (int64_t i = 0, o = 0; i < nUnits; ++i) {
    if (units[i] < 256) CHECK(static_cast<uint8_t>(kept[o++]) == units[i]);
  }
  const int64_t half = small / 2;
  auto part = Exact<char>(half);
  CHECK(rt::Utf16ToUtf8(CodePageLatin1, units, nUnits, part.get(), half) == half);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The input as UTF-16 units (little-endian) and as bytes, each in a block of its exact size.
  const auto nUnits = static_cast<int64_t>(size / 2);
  auto units = Exact<RtChar>(nUnits);
  for (int64_t i = 0; i < nUnits; ++i) units[i] = static_cast<RtChar>(data[2 * i] | data[2 * i + 1] << 8);
  const auto nBytes = static_cast<int64_t>(size);
  auto bytes = Exact<char>(nBytes);
  if (size) std::memcpy(bytes.get(), data, size);

  CheckUtf16ToUtf8(units.get(), nUnits, nUnits);
  CheckUtf8ToUtf16(bytes.get(), nBytes, nBytes);

  // Zero-terminated forms (length -1): the text up to and including the terminator.
  int64_t unitsToZero = 0;
  while (unitsToZero < nUnits && units[unitsToZero] != 0) ++unitsToZero;
  auto terminated16 = Exact<RtChar>(unitsToZero + 1);
  if (unitsToZero) std::memcpy(terminated16.get(), units.get(), static_cast<size_t>(unitsToZero) * sizeof(RtChar));
  terminated16[unitsToZero] = 0;
  CheckUtf16ToUtf8(terminated16.get(), unitsToZero + 1, -1);

  const auto bytesToZero = static_cast<int64_t>(strnlen(bytes.get(), size));
  auto terminated8 = Exact<char>(bytesToZero + 1);
  if (bytesToZero) std::memcpy(terminated8.get(), bytes.get(), static_cast<size_t>(bytesToZero));
  terminated8[bytesToZero] = 0;
  CheckUtf8ToUtf16(terminated8.get(), bytesToZero + 1, -1);

  CheckValidText(data, size);
  CheckLatin1(data, size, units.get(), nUnits);
  return 0;
}
