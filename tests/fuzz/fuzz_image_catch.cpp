// ImageCatch on arbitrary bytes (libFuzzer hands over a heap copy of exactly
// the input's size, so a read past its end is reported). Every input must
// yield no image or a sane one, free cleanly, and:
//  - decode identically into an exact-size buffer in every row order and
//    byte order (so no decoder writes outside the rows it was given);
//  - survive a BMP round trip with the same pixels.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>

#include "core/memory.h"
#include "image/image.h"
#include "image/image_codec.h"
#include "image/image_store.h"
#include "memory_store.h"

namespace {

#define CHECK(condition)   \
  do {                     \
    if (!(condition)) {    \
      __builtin_trap();    \
    }                      \
  } while (0)

// Beyond this the extra decodes cost more time than they find.
constexpr size_t kExtraDecodeLimit = size_t{16} << 20;

// Decodes the data again with `flags` into a block of exactly height x stride
// bytes and compares it with the image's top-down RGB(A) rows.
void CheckFlags(const uint8_t* data, size_t size, const rt::test::MemoryImage* image, int32_t flags) {
  rt::ImageDecodeState* state = rt::ImageDecodeStateGet();
  CHECK(rt::ImageIdentify(state, data, static_cast<int64_t>(size)) != 0);
  CHECK(state->width == image->width && state->height == image->height && state->depth == image->depth);
  const size_t bytes = static_cast<size_t>(image->height) * static_cast<size_t>(image->stride);
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[bytes]());
  const int32_t result = rt::ImageDecodeInto(state, buffer.get(), image->stride, flags);
  rt::ImageDecodeFinish(state);
  CHECK(result == image->decodeResult);
  const int pixel = image->depth / 8;
  for (int32_t y = 0; y < image->height; ++y) {
    const int32_t row = flags & rt::ImageDecodeBottomUp ? image->height - 1 - y : y;
    const uint8_t* mine = buffer.get() + static_cast<size_t>(row) * static_cast<size_t>(image->stride);
    const uint8_t* theirs = image->buffer + static_cast<size_t>(y) * static_cast<size_t>(image->stride);
    for (int32_t x = 0; x < image->width; ++x) {
      const uint8_t* a = mine + x * pixel;
      const uint8_t* b = theirs + x * pixel;
      const bool bgr = (flags & rt::ImageDecodeBgr) != 0;
      CHECK(a[0] == b[bgr ? 2 : 0] && a[1] == b[1] && a[2] == b[bgr ? 0 : 2]);
      if (pixel == 4) CHECK(a[3] == b[3]);
    }
  }
}

void CheckBmpRoundTrip(const rt::test::MemoryImage* image) {
  for (int32_t depth : {24, 32}) {
    size_t size = 0;
    void* file = rt::ImageEncode(0, rt::ImageFormatBmp, depth, &size);
    CHECK(file != nullptr && size == rt::SizedLength(file));
    const intptr_t handle = rt::ImageCatch(rt::DynamicNumber, file, static_cast<int64_t>(size));
    rt::SizedFree(file);
    CHECK(handle != 0);
    const auto* back = rt::test::MemoryImageOf(handle);
    CHECK(back && back->width == image->width && back->height == image->height && back->depth == 24);
    for (int32_t y = 0; y < image->height; ++y) {
      for (int32_t x = 0; x < image->width; ++x) {
        const uint8_t* a = image->buffer + y * image->stride + x * (image->depth / 8);
        const uint8_t* b = back->buffer + y * back->stride + x * 3;
        CHECK(a[0] == b[0] && a[1] == b[1] && a[2] == b[2]);
      }
    }
    rt::ImageFree(handle);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  rt::ImageLibraryStart();
  rt::RegisterPngDecoder();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const intptr_t result = rt::ImageCatch(0, data, static_cast<int64_t>(size));
  const rt::ImageRecord* record = rt::ImageRecordGet(0);
  CHECK((result != 0) == (record != nullptr));
  if (record) {
    const auto* image = rt::test::MemoryImageOf(0);
    CHECK(image && reinterpret_cast<intptr_t>(image) == result);
    CHECK(record->width >= 1 && record->height >= 1 && record->width == image->width &&
          record->height == image->height);
    CHECK(record->depth == 24 || record->depth == 32);
    CHECK(record->format == rt::ImageFormatPng || record->format == rt::ImageFormatBmp);
    CHECK(record->frameCount == 1 && record->frames == nullptr);
    rt::ImageLayout layout;
    CHECK(rt::ImageLayoutFor(image->width, image->height, image->depth, &layout));
    CHECK(rt::SizedLength(image->buffer) == layout.bufferSize);
    if (layout.bufferSize <= kExtraDecodeLimit) {
      CheckFlags(data, size, image, rt::ImageDecodeBottomUp);
      CheckFlags(data, size, image, rt::ImageDecodeBgr);
      CheckBmpRoundTrip(image);
    }
  }
  // Catching into the same number again frees the first image; a dynamic
  // record gets an image just the same, and freeing everything leaves nothing.
  const intptr_t dynamic = rt::ImageCatch(rt::DynamicNumber, data, static_cast<int64_t>(size));
  CHECK((dynamic != 0) == (result != 0));
  rt::ImageFree(rt::DynamicNumber);
  CHECK(rt::test::MemoryImagesLive() == 0);
  return 0;
}
