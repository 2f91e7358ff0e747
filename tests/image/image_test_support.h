// Shared pieces of the portable image tests.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "image/image.h"
#include "image/image_codec.h"
#include "memory_store.h"
#include "png_fixtures.h"

namespace rt::test {

// Starts the image library once per test program, with the PNG decoder.
class ImageEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ImageLibraryStart();
    RegisterPngDecoder();
  }
  void TearDown() override { ImageLibraryEnd(); }
};

// Every test starts and ends with no image alive.
class ImageTest : public ::testing::Test {
 protected:
  void SetUp() override { ImageFree(DynamicNumber); }
  void TearDown() override {
    ImageFree(DynamicNumber);
    EXPECT_EQ(MemoryImagesLive(), 0);
  }
};

// A copy of `bytes` in a block of exactly that size, so that AddressSanitizer
// reports any read past its end.
struct ExactBlock {
  explicit ExactBlock(const uint8_t* bytes, size_t size) : data(new uint8_t[size ? size : 1]), size(size) {
    if (size) std::memcpy(data.get(), bytes, size);
  }
  explicit ExactBlock(const std::vector<uint8_t>& bytes) : ExactBlock(bytes.data(), bytes.size()) {}
  std::unique_ptr<uint8_t[]> data;
  size_t size;
};

inline Rgba PixelAt(const MemoryImage* image, int x, int y) {
  const uint8_t* p = image->buffer + y * image->stride + x * (image->depth / 8);
  return Rgba{p[0], p[1], p[2], image->depth == 32 ? p[3] : uint8_t{255}};
}

// Every pixel as the fixture says; at most a few differences are reported.
inline ::testing::AssertionResult PixelsMatch(const MemoryImage* image, const PngOptions& o) {
  if (!image) return ::testing::AssertionFailure() << "no image";
  int wrong = 0;
  ::testing::AssertionResult result = ::testing::AssertionSuccess();
  for (int y = 0; y < o.height; ++y) {
    for (int x = 0; x < o.width; ++x) {
      const Rgba got = PixelAt(image, x, y);
      Rgba want = ExpectedPixel(o, x, y);
      if (image->depth == 24) want.a = 255;
      if (std::memcmp(&got, &want, sizeof got) != 0) {
        if (wrong++ == 0) result = ::testing::AssertionFailure();
        if (wrong <= 3) {
          result << "(" << x << "," << y << ") got " << int(got.r) << "," << int(got.g) << "," << int(got.b) << ","
                 << int(got.a) << " want " << int(want.r) << "," << int(want.g) << "," << int(want.b) << ","
                 << int(want.a) << "; ";
        }
      }
    }
  }
  if (wrong) result << wrong << " pixels differ";
  return result;
}

inline bool RowIsZero(const MemoryImage* image, int y) {
  const uint8_t* p = image->buffer + y * image->stride;
  for (int64_t i = 0; i < image->stride; ++i) {
    if (p[i]) return false;
  }
  return true;
}

}  // namespace rt::test
