// BMP files: identification, every uncompressed depth in both row orders,
// hostile headers and cut data, and the encoder's round trip.
#include "core/memory.h"
#include "image_test_support.h"

namespace rt::test {
namespace {

void Put16(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  v[at] = static_cast<uint8_t>(x);
  v[at + 1] = static_cast<uint8_t>(x >> 8);
}
void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  Put16(v, at, x);
  Put16(v, at + 2, x >> 16);
}

Rgba PaletteColour(int i) { return Rgba{uint8_t(i * 29 + 5), uint8_t(i * 71), uint8_t(200 - i * 3), 255}; }

// The picture every test file shows; palette files show entry (x + 3y) mod n.
Rgba Picture(int bits, int x, int y) {
  if (bits <= 8) return PaletteColour((x + 3 * y) % (1 << bits));
  return Rgba{uint8_t(x * 13 + y), uint8_t(y * 17 + 1), uint8_t(x ^ y), 255};
}

struct BmpOptions {
  int width = 13;
  int height = 7;
  int bits = 24;
  bool topDown = false;
  uint32_t paletteUsed = 0;  // biClrUsed; 0 = all
};

std::vector<uint8_t> MakeBmp(const BmpOptions& o) {
  const size_t rowBytes = (static_cast<size_t>(o.width) * o.bits + 31) / 32 * 4;
  const uint32_t paletteCount = o.bits <= 8 ? (o.paletteUsed ? o.paletteUsed : 1u << o.bits) : 0;
  const size_t pixelOffset = 14 + 40 + paletteCount * 4;
  std::vector<uint8_t> f(pixelOffset + rowBytes * o.height, 0);
  f[0] = 'B';
  f[1] = 'M';
  Put32(f, 2, static_cast<uint32_t>(f.size()));
  Put32(f, 10, static_cast<uint32_t>(pixelOffset));
  Put32(f, 14, 40);
  Put32(f, 18, static_cast<uint32_t>(o.width));
  Put32(f, 22, static_cast<uint32_t>(o.topDown ? -o.height : o.height));
  Put16(f, 26, 1);
  Put16(f, 28, static_cast<uint32_t>(o.bits));
  Put32(f, 46, o.paletteUsed);
  for (uint32_t i = 0; i < paletteCount; ++i) {
    const Rgba c = PaletteColour(static_cast<int>(i));
    f[54 + i * 4] = c.b;
    f[54 + i * 4 + 1] = c.g;
    f[54 + i * 4 + 2] = c.r;
  }
  for (int y = 0; y < o.height; ++y) {
    const int stored = o.topDown ? y : o.height - 1 - y;
    uint8_t* row = f.data() + pixelOffset + stored * rowBytes;
    for (int x = 0; x < o.width; ++x) {
      if (o.bits <= 8) {
        const unsigned index = static_cast<unsigned>(x + 3 * y) % (1u << o.bits);
        const int perByte = 8 / o.bits;
        row[x / perByte] |= static_cast<uint8_t>(index << (8 - o.bits * (x % perByte + 1)));
      } else {
        const Rgba c = Picture(o.bits, x, y);
        uint8_t* p = row + x * (o.bits / 8);
        p[0] = c.b;
        p[1] = c.g;
        p[2] = c.r;
        if (o.bits == 32) p[3] = 0x5A;  // unused by BI_RGB readers
      }
    }
  }
  return f;
}

::testing::AssertionResult ShowsPicture(const MemoryImage* image, int bits, int width, int height) {
  if (!image) return ::testing::AssertionFailure() << "no image";
  if (image->depth != 24 || image->width != width || image->height != height) {
    return ::testing::AssertionFailure() << "shape " << image->width << "x" << image->height << "x" << image->depth;
  }
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const Rgba got = PixelAt(image, x, y), want = Picture(bits, x, y);
      if (got.r != want.r || got.g != want.g || got.b != want.b) {
        return ::testing::AssertionFailure() << "differs at (" << x << "," << y << ")";
      }
    }
  }
  return ::testing::AssertionSuccess();
}

class BmpCodecTest : public ImageTest {};

TEST_F(BmpCodecTest, EveryUncompressedDepthDecodesInBothRowOrders) {
  for (int bits : {1, 4, 8, 24, 32}) {
    for (bool topDown : {false, true}) {
      for (int width : {1, 13, 32, 33}) {
        BmpOptions o;
        o.bits = bits;
        o.topDown = topDown;
        o.width = width;
        SCOPED_TRACE(std::to_string(bits) + " bits, width " + std::to_string(width) + (topDown ? ", top-down" : ""));
        const ExactBlock data(MakeBmp(o));
        ASSERT_NE(ImageCatch(0, data.data.get(), static_cast<int64_t>(data.size)), 0);
        const ImageRecord* record = ImageRecordGet(0);
        EXPECT_EQ(record->format, 0x504D42u);
        EXPECT_EQ(record->depth, 24);
        EXPECT_EQ(record->storedDepth, bits);
        EXPECT_EQ(MemoryImageOf(0)->decodeResult, 1);
        EXPECT_TRUE(ShowsPicture(MemoryImageOf(0), bits, o.width, o.height));
      }
    }
  }
}

TEST_F(BmpCodecTest, IdentificationFollowsTheFileHeader) {
  const std::vector<uint8_t> good = MakeBmp(BmpOptions{});
  ImageDecodeState* state = ImageDecodeStateGet();
  ASSERT_EQ(ImageIdentify(state, good.data(), static_cast<int64_t>(good.size())), ImageFormatBmp);
  EXPECT_EQ(state->decoder, BmpImageDecoder());
  EXPECT_EQ(state->width, 13);
  EXPECT_EQ(state->height, 7);
  EXPECT_EQ(state->depth, 24);
  EXPECT_EQ(state->storedDepth, 24);
  ImageDecodeFinish(state);

  auto refused = [&](std::vector<uint8_t> bytes) {
    const ExactBlock data(bytes);
    return ImageCatch(0, data.data.get(), static_cast<int64_t>(data.size)) == 0 && ImageObject(0) == nullptr;
  };
  auto changed = [&](size_t at, uint32_t value, int width) {
    std::vector<uint8_t> b = good;
    if (width == 16) {
      Put16(b, at, value);
    } else {
      Put32(b, at, value);
    }
    return b;
  };
  EXPECT_TRUE(refused(changed(0, 'B' | 'A' << 8, 16)));      // not "BM"
  EXPECT_TRUE(refused(changed(6, 1, 16)));                   // reserved words must be 0
  EXPECT_TRUE(refused(changed(8, 0x100, 16)));
  EXPECT_TRUE(refused(changed(14, 12, 32)));                 // the old core header
  EXPECT_TRUE(refused(changed(18, 0, 32)));                  // no width
  EXPECT_TRUE(refused(changed(18, 0xFFFFFFFF, 32)));         // negative width
  EXPECT_TRUE(refused(changed(18, 65536, 32)));              // wider than 16 bits
  EXPECT_TRUE(refused(changed(22, 0, 32)));                  // no height
  EXPECT_TRUE(refused(changed(22, 0x80000000u, 32)));        // the most negative height
  EXPECT_TRUE(refused(changed(28, 16, 16)));                 // 16-bit pixels are not handled
  EXPECT_TRUE(refused(changed(30, 1, 32)));                  // run-length compressed
  EXPECT_TRUE(refused(changed(10, 0xFFFFFF00u, 32)));        // pixels beyond the end
  EXPECT_TRUE(refused(changed(10, 20, 32)));                 // pixels inside the header
  EXPECT_TRUE(refused(std::vector<uint8_t>(good.begin(), good.begin() + 53)));  // header cut short
  EXPECT_EQ(MemoryImagesLive(), 0);
}

TEST_F(BmpCodecTest, CutDataKeepsTheRowsStoredFirstAndNeverReadsOn) {
  BmpOptions o;
  o.bits = 8;
  o.width = 9;
  o.height = 6;
  const std::vector<uint8_t> bmp = MakeBmp(o);
  for (size_t n = 0; n < bmp.size(); ++n) {
    const ExactBlock cut(bmp.data(), n);
    const intptr_t handle = ImageCatch(DynamicNumber, cut.data.get(), static_cast<int64_t>(n));
    if (handle) ImageFree(handle);
  }
  // Bottom-up: the rows stored first are the bottom ones.
  const size_t rowBytes = 12;
  const size_t pixelOffset = 54 + 256 * 4;
  ASSERT_EQ(bmp.size(), pixelOffset + 6 * rowBytes);
  const size_t keep = pixelOffset + 4 * rowBytes - 3;  // the fifth stored row is cut
  const ExactBlock cut(bmp.data(), keep);
  ASSERT_NE(ImageCatch(0, cut.data.get(), static_cast<int64_t>(keep)), 0);
  const MemoryImage* image = MemoryImageOf(0);
  EXPECT_EQ(image->decodeResult, 0);
  EXPECT_TRUE(RowIsZero(image, 0));
  EXPECT_TRUE(RowIsZero(image, 1));
  EXPECT_FALSE(RowIsZero(image, 2));
  for (int x = 0; x < o.width; ++x) {
    const Rgba got = PixelAt(image, x, 5), want = Picture(8, x, 5);
    EXPECT_EQ(got.r, want.r);
    EXPECT_EQ(got.b, want.b);
  }
}

TEST_F(BmpCodecTest, TheStatedFileSizeBoundsTheDataWhenTheLengthIsOpen) {
  BmpOptions o;
  std::vector<uint8_t> bmp = MakeBmp(o);
  // A file that claims to end one row early decodes all but the last stored row,
  // even when the caller passes no end.
  Put32(bmp, 2, static_cast<uint32_t>(bmp.size() - 40));
  const ExactBlock data(bmp);
  ASSERT_NE(ImageCatch(0, data.data.get()), 0);
  EXPECT_EQ(MemoryImageOf(0)->decodeResult, 0);
  EXPECT_TRUE(RowIsZero(MemoryImageOf(0), 0));
  EXPECT_FALSE(RowIsZero(MemoryImageOf(0), 1));
}

TEST_F(BmpCodecTest, PaletteIndexesPastTheTableReadAsBlack) {
  BmpOptions o;
  o.bits = 4;
  o.paletteUsed = 3;  // indexes 3 to 15 have no colour
  const ExactBlock data(MakeBmp(o));
  ASSERT_NE(ImageCatch(0, data.data.get(), static_cast<int64_t>(data.size)), 0);
  const MemoryImage* image = MemoryImageOf(0);
  for (int y = 0; y < o.height; ++y) {
    for (int x = 0; x < o.width; ++x) {
      const int index = (x + 3 * y) % 16;
      const Rgba got = PixelAt(image, x, y);
      const Rgba want = index < 3 ? PaletteColour(index) : Rgba{0, 0, 0, 255};
      ASSERT_EQ(got.r, want.r) << x << "," << y;
      ASSERT_EQ(got.g, want.g);
      ASSERT_EQ(got.b, want.b);
    }
  }
}

TEST_F(BmpCodecTest, EncodedImagesDecodeToTheSamePixels) {
  // A PNG with alpha goes out as 24- and 32-bit BMP files and comes back.
  PngOptions o;
  o.width = 21;
  o.height = 9;
  o.colourType = 6;
  const std::vector<uint8_t> png = MakePng(o);
  ASSERT_NE(ImageCatch(0, png.data(), static_cast<int64_t>(png.size())), 0);
  for (int depth : {24, 32}) {
    SCOPED_TRACE(depth);
    size_t size = 0;
    void* file = ImageEncode(0, ImageFormatBmp, depth, &size);
    ASSERT_NE(file, nullptr);
    const size_t rowBytes = (21 * depth / 8 + 3) / 4 * 4;
    EXPECT_EQ(size, 54 + rowBytes * 9);
    EXPECT_EQ(SizedLength(file), size);
    const auto* bytes = static_cast<const uint8_t*>(file);
    if (depth == 32) {
      EXPECT_EQ(bytes[54 + 3], ExpectedPixel(o, 0, 8).a);  // alpha kept, bottom row first
    }
    const intptr_t handle = ImageCatch(DynamicNumber, file, static_cast<int64_t>(size));
    SizedFree(file);
    ASSERT_NE(handle, 0);
    EXPECT_EQ(ImageRecordGet(handle)->storedDepth, depth);
    const MemoryImage* image = MemoryImageOf(handle);
    for (int y = 0; y < o.height; ++y) {
      for (int x = 0; x < o.width; ++x) {
        const Rgba got = PixelAt(image, x, y), want = ExpectedPixel(o, x, y);
        ASSERT_TRUE(got.r == want.r && got.g == want.g && got.b == want.b) << x << "," << y;
      }
    }
    ImageFree(handle);
  }
  size_t size = 5;
  EXPECT_EQ(ImageEncode(0, ImageFormatBmp, 16, &size), nullptr);
  EXPECT_EQ(ImageEncode(0, ImageFormatPng, 24, &size), nullptr);
  EXPECT_EQ(size, 0u);
}

TEST_F(BmpCodecTest, TheEncoderReadsBottomUpBlueFirstSources) {
  // A 2 x 2 picture held bottom-up in blue-green-red order, as on Windows.
  const uint8_t bits[] = {
      // bottom row: blue, white      top row: red, green
      255, 0, 0, 255, 255, 255, 0, 0, 0, 0, 255, 0, 255, 0, 0, 0,
  };
  const ImagePixels view{bits, 2, 2, 8, 24, ImageDecodeBottomUp | ImageDecodeBgr};
  size_t size = 0;
  void* file = BmpImageEncoder()->save24(&view, &size);
  ASSERT_NE(file, nullptr);
  const intptr_t handle = ImageCatch(DynamicNumber, file, static_cast<int64_t>(size));
  SizedFree(file);
  ASSERT_NE(handle, 0);
  const MemoryImage* image = MemoryImageOf(handle);
  auto rgb = [&](int x, int y) {
    const Rgba p = PixelAt(image, x, y);
    return p.r << 16 | p.g << 8 | p.b;
  };
  EXPECT_EQ(rgb(0, 0), 0xFF0000);
  EXPECT_EQ(rgb(1, 0), 0x00FF00);
  EXPECT_EQ(rgb(0, 1), 0x0000FF);
  EXPECT_EQ(rgb(1, 1), 0xFFFFFF);
  ImageFree(handle);

  const ImagePixels narrow{bits, 2, 2, 4, 24, 0};  // stride shorter than a row
  EXPECT_EQ(BmpImageEncoder()->save32(&narrow, &size), nullptr);
  EXPECT_EQ(BmpImageEncoder()->save32(nullptr, &size), nullptr);
}

}  // namespace
}  // namespace rt::test
