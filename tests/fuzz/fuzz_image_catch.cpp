// ImageCatch on arbitrary bytes (libFuzzer hands over a heap copy of exactly
// the input's size, so a read past its end is reported; the pixel store
// fences each image's buffer likewise, fenced_store.h). Every input must
// yield no image or a sane one, free cleanly, and, when the image is small
// enough for the extra work to be cheap:
//  - decode identically into an exact-size buffer in every row order and
//    byte order, the Windows one (bottom-up, blue first) included, so no
//    decoder writes outside the rows it was given;
//  - survive a BMP round trip at 24 and 32 bits with the same pixels;
//  - be caught just the same under a dynamic number.
// Larger images still go through the real decoders at their declared size,
// up to the library's own limit: only the extra work is left out.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>

#include "core/memory.h"
#include "image/image.h"
#include "image/image_codec.h"
#include "image/image_store.h"
#include "fenced_store.h"

namespace {

#define CHECK(condition)   \
  do {                     \
    if (!(condition)) {    \
      __builtin_trap();    \
    }                      \
  } while (0)

// Under the fuzzing instrumentation the extra checks (three more decodes, two
// encodes, two decodes back) cost about 0.3 µs a pixel: some 20 ms at this
// size, as much as fifty ordinary inputs, and a 2000 x 2000 picture declared
// in 60 bytes would take seconds. Nothing they check depends on the size
// (the library's limit keeps every offset far inside 32 bits), so larger
// images get only the real decode.
constexpr int64_t kExtraCheckPixels = int64_t{1} << 16;

// The comparisons are the harness's own loops: they need no coverage
// feedback, and without it they cost a tenth as much.
#define NO_COVERAGE __attribute__((no_sanitize("coverage")))

// Whether `mine` (decoded with `flags` into rows `stride` apart) holds the
// same pixels as the image's top-down RGB(A) rows.
NO_COVERAGE bool SamePixels(const uint8_t* mine, const rt::fuzz::FencedImage* image, int32_t flags) {
  const int pixel = image->depth / 8;
  const size_t rowBytes = static_cast<size_t>(image->width) * static_cast<size_t>(pixel);
  const bool bgr = (flags & rt::ImageDecodeBgr) != 0;
  for (int32_t y = 0; y < image->height; ++y) {
    const int32_t row = flags & rt::ImageDecodeBottomUp ? image->height - 1 - y : y;
    const uint8_t* a = mine + static_cast<size_t>(row) * static_cast<size_t>(image->stride);
    const uint8_t* b = image->buffer + static_cast<size_t>(y) * static_cast<size_t>(image->stride);
    if (!bgr) {
      if (std::memcmp(a, b, rowBytes) != 0) return false;
      continue;
    }
    for (size_t x = 0; x < rowBytes; x += static_cast<size_t>(pixel)) {
      if (a[x] != b[x + 2] || a[x + 1] != b[x + 1] || a[x + 2] != b[x]) return false;
      if (pixel == 4 && a[x + 3] != b[x + 3]) return false;
    }
  }
  return true;
}

// Decodes the data again with `flags` into a block of exactly height x stride
// bytes and compares it with the image.
void CheckFlags(const uint8_t* data, size_t size, const rt::fuzz::FencedImage* image, int32_t flags) {
  rt::ImageDecodeState* state = rt::ImageDecodeStateGet();
  CHECK(rt::ImageIdentify(state, data, static_cast<int64_t>(size)) != 0);
  CHECK(state->width == image->width && state->height == image->height && state->depth == image->depth);
  const size_t bytes = static_cast<size_t>(image->height) * static_cast<size_t>(image->stride);
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[bytes]());
  const int32_t result = rt::ImageDecodeInto(state, buffer.get(), image->stride, flags);
  rt::ImageDecodeFinish(state);
  CHECK(result == image->decodeResult);
  CHECK(SamePixels(buffer.get(), image, flags));
}

// The BMP decoder yields 24 bits whatever was saved; alpha is dropped.
NO_COVERAGE bool SameRgb(const rt::fuzz::FencedImage* image, const rt::fuzz::FencedImage* back) {
  const int pixel = image->depth / 8;
  for (int32_t y = 0; y < image->height; ++y) {
    const uint8_t* a = image->buffer + static_cast<size_t>(y) * static_cast<size_t>(image->stride);
    const uint8_t* b = back->buffer + static_cast<size_t>(y) * static_cast<size_t>(back->stride);
    for (int32_t x = 0; x < image->width; ++x, a += pixel, b += 3) {
      if (a[0] != b[0] || a[1] != b[1] || a[2] != b[2]) return false;
    }
  }
  return true;
}

void CheckBmpRoundTrip(const rt::fuzz::FencedImage* image) {
  for (int32_t depth : {24, 32}) {
    size_t size = 0;
    void* file = rt::ImageEncode(0, rt::ImageFormatBmp, depth, &size);
    CHECK(file != nullptr && size == rt::SizedLength(file));
    const intptr_t handle = rt::ImageCatch(rt::DynamicNumber, file, static_cast<int64_t>(size));
    rt::SizedFree(file);
    CHECK(handle != 0);
    const auto* back = rt::fuzz::FencedImageOf(handle);
    CHECK(back && back->width == image->width && back->height == image->height && back->depth == 24);
    CHECK(SameRgb(image, back));
    rt::ImageFree(handle);
  }
}

uint32_t ReadBig32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}

// Gives every whole chunk of PNG data the CRC its bytes call for.
NO_COVERAGE void MendPngCrcs(uint8_t* data, size_t size) {
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (size < sizeof kSignature || std::memcmp(data, kSignature, sizeof kSignature) != 0) return;
  size_t at = sizeof kSignature;
  while (size - at >= 12) {
    const uint32_t length = ReadBig32(data + at);
    if (length > size - at - 12) break;
    const uint32_t crc = static_cast<uint32_t>(crc32(0, data + at + 4, static_cast<uInt>(length) + 4));
    uint8_t* out = data + at + 8 + length;
    out[0] = static_cast<uint8_t>(crc >> 24);
    out[1] = static_cast<uint8_t>(crc >> 16);
    out[2] = static_cast<uint8_t>(crc >> 8);
    out[3] = static_cast<uint8_t>(crc);
    at += 12 + length;
  }
}

}  // namespace

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

// libpng refuses a critical chunk whose CRC is wrong before it looks inside,
// so nearly every mutation of a header or of the image data would end there.
// Seven mutants in eight get their CRCs mended (and are kept that way in the
// corpus); the eighth keeps what the mutation made of them.
extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize, unsigned int seed) {
  size = LLVMFuzzerMutate(data, size, maxSize);
  if (seed % 8 != 0) MendPngCrcs(data, size);
  return size;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  rt::ImageLibraryStart();
  rt::RegisterPngDecoder();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const intptr_t result = rt::ImageCatch(0, data, static_cast<int64_t>(size));
  const rt::ImageRecord* record = rt::ImageRecordGet(0);
  CHECK((result != 0) == (record != nullptr));
  bool small = true;
  if (record) {
    const auto* image = rt::fuzz::FencedImageOf(0);
    CHECK(image && reinterpret_cast<intptr_t>(image) == result);
    CHECK(record->width >= 1 && record->height >= 1 && record->width == image->width &&
          record->height == image->height);
    CHECK(record->depth == 24 || record->depth == 32);
    CHECK(record->format == rt::ImageFormatPng || record->format == rt::ImageFormatBmp);
    CHECK(record->frameCount == 1 && record->frames == nullptr);
    rt::ImageLayout layout;
    CHECK(rt::ImageLayoutFor(image->width, image->height, image->depth, &layout));
    CHECK(image->bytes == layout.bufferSize);
    small = int64_t{image->width} * image->height <= kExtraCheckPixels;
    if (small) {
      for (int32_t flags : {rt::ImageDecodeBottomUp, rt::ImageDecodeBgr, rt::ImageDecodeBottomUp | rt::ImageDecodeBgr}) {
        CheckFlags(data, size, image, flags);
      }
      CheckBmpRoundTrip(image);
    }
  }
  // A dynamic record gets an image just the same, and freeing everything
  // leaves nothing.
  if (small) {
    const intptr_t dynamic = rt::ImageCatch(rt::DynamicNumber, data, static_cast<int64_t>(size));
    CHECK((dynamic != 0) == (result != 0));
  }
  rt::ImageFree(rt::DynamicNumber);
  CHECK(rt::fuzz::FencedImagesLive() == 0);
  return 0;
}
