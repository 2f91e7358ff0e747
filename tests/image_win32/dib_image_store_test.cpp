// Images as DIB sections: the banner, transparency, BMP data and the release
// of the GDI objects, checked against libpng's own decode and against what
// GDI reads back.
#include <png.h>

#include <cstring>

#include "core/memory.h"
#include "png_fixtures.h"
#include "win32_image_test_support.h"

namespace rt::test {
namespace {

DIBSECTION SectionOf(intptr_t handle) {
  DIBSECTION section{};
  EXPECT_EQ(GetObjectW(GdiObjectOf(handle), sizeof section, &section), static_cast<int>(sizeof section));
  return section;
}

// The picture's pixel (x, y), y = 0 the top row, from a bottom-up DIB.
Rgba DibPixel(const DIBSECTION& section, int x, int y) {
  const auto* bits = static_cast<const uint8_t*>(section.dsBm.bmBits);
  const int bytes = section.dsBm.bmBitsPixel / 8;
  const uint8_t* p = bits + (section.dsBm.bmHeight - 1 - y) * section.dsBm.bmWidthBytes + x * bytes;
  return Rgba{p[2], p[1], p[0], bytes == 4 ? p[3] : uint8_t{255}};
}

::testing::AssertionResult DibShowsFixture(const DIBSECTION& section, const PngOptions& o) {
  for (int y = 0; y < o.height; ++y) {
    for (int x = 0; x < o.width; ++x) {
      const Rgba got = DibPixel(section, x, y);
      Rgba want = ExpectedPixel(o, x, y);
      if (section.dsBm.bmBitsPixel == 24) want.a = 255;
      if (std::memcmp(&got, &want, sizeof got) != 0) {
        return ::testing::AssertionFailure()
               << "(" << x << "," << y << ") got " << int(got.r) << "," << int(got.g) << "," << int(got.b) << ","
               << int(got.a) << " want " << int(want.r) << "," << int(want.g) << "," << int(want.b) << ","
               << int(want.a);
      }
    }
  }
  return ::testing::AssertionSuccess();
}

PngOptions Options(int width, int height, int colourType, int bitDepth, bool transparency = false) {
  PngOptions o;
  o.width = width;
  o.height = height;
  o.colourType = colourType;
  o.bitDepth = bitDepth;
  o.transparency = transparency;
  return o;
}

using DibImageStoreTest = Win32ImageTest;

TEST_F(DibImageStoreTest, TheBannerBecomesABottomUpBgrDibSectionAsLibpngDecodesIt) {
  const intptr_t result = ImageCatch(0, BannerPng);  // unbounded, as the program calls it
  ASSERT_NE(result, 0);
  EXPECT_EQ(result, ImageHandle(0));
  ASSERT_EQ(GetObjectType(GdiObjectOf(result)), static_cast<DWORD>(OBJ_BITMAP));

  const DIBSECTION section = SectionOf(result);
  EXPECT_EQ(section.dsBmih.biWidth, 400);
  EXPECT_EQ(section.dsBmih.biHeight, 60);  // positive: bottom-up
  EXPECT_EQ(section.dsBmih.biBitCount, 24);
  EXPECT_EQ(section.dsBmih.biCompression, static_cast<DWORD>(BI_RGB));
  EXPECT_EQ(section.dsBm.bmWidthBytes, 1200);
  ASSERT_NE(section.dsBm.bmBits, nullptr);

  // libpng's simplified reader, told to write blue-green-red rows bottom-up.
  png_image reference{};
  reference.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_memory(&reference, BannerPng, BannerPngSize));
  reference.format = PNG_FORMAT_BGR;
  std::vector<uint8_t> expected(PNG_IMAGE_SIZE(reference));
  ASSERT_EQ(expected.size(), 1200u * 60u);
  ASSERT_TRUE(png_image_finish_read(&reference, nullptr, expected.data(), -1200, nullptr));
  EXPECT_EQ(std::memcmp(section.dsBm.bmBits, expected.data(), expected.size()), 0);
  EXPECT_EQ(BitsFromGdi(reinterpret_cast<HBITMAP>(result), 400, 60, 24), expected);

  const ImageRecord* record = ImageRecordGet(0);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->width, 400);
  EXPECT_EQ(record->height, 60);
  EXPECT_EQ(record->depth, 24);
  EXPECT_EQ(record->storedDepth, 24);
  EXPECT_EQ(record->format, ImageFormatPng);
  EXPECT_EQ(record->frameCount, 1u);
}

TEST_F(DibImageStoreTest, TransparencyGivesThirtyTwoBitsWithStraightAlphaAndOtherTypesTheirDepths) {
  const PngOptions cases[] = {
      Options(40, 12, 2, 8, true),  // RGB + tRNS: the key colour keeps its samples at alpha 0
      Options(37, 9, 4, 8),         // grey + alpha, an odd width
      Options(41, 7, 3, 4),         // 4-bit palette: 24 bits, rows padded from 123 to 124 bytes
      Options(16, 16, 6, 16),       // 16-bit RGBA
      [] {
        PngOptions o = Options(33, 17, 2, 8);
        o.interlaced = true;
        return o;
      }(),
  };
  for (const PngOptions& o : cases) {
    SCOPED_TRACE(Describe(o));
    const std::vector<uint8_t> png = MakePng(o);
    const intptr_t handle = ImageCatch(DynamicNumber, png.data(), static_cast<int64_t>(png.size()));
    ASSERT_NE(handle, 0);
    const DIBSECTION section = SectionOf(ImageHandle(handle));
    EXPECT_EQ(section.dsBmih.biBitCount, ExpectedDepth(o));
    EXPECT_GT(section.dsBmih.biHeight, 0);
    EXPECT_EQ(ImageRecordGet(handle)->depth, ExpectedDepth(o));
    EXPECT_TRUE(DibShowsFixture(section, o));
    const int depth = ExpectedDepth(o);
    EXPECT_EQ(BitsFromGdi(static_cast<HBITMAP>(GdiObjectOf(ImageHandle(handle))), o.width, o.height, depth),
              std::vector<uint8_t>(static_cast<const uint8_t*>(section.dsBm.bmBits),
                                   static_cast<const uint8_t*>(section.dsBm.bmBits) +
                                       section.dsBm.bmWidthBytes * o.height));
  }
  // Straight, not premultiplied: the fixture's first pixel is the key colour.
  const std::vector<uint8_t> png = MakePng(cases[0]);
  ASSERT_NE(ImageCatch(0, png.data(), static_cast<int64_t>(png.size())), 0);
  const DIBSECTION section = SectionOf(ImageHandle(0));
  const Rgba key = DibPixel(section, 0, 0);
  EXPECT_EQ(key.r, 1);
  EXPECT_EQ(key.g, 2);
  EXPECT_EQ(key.b, 3);
  EXPECT_EQ(key.a, 0);
}

TEST_F(DibImageStoreTest, BmpSavesFromAndDecodesIntoTheDibOrder) {
  const PngOptions o = Options(15, 6, 6, 8);
  const std::vector<uint8_t> png = MakePng(o);
  ASSERT_NE(ImageCatch(0, png.data(), static_cast<int64_t>(png.size())), 0);
  size_t size = 0;
  auto* bmp = static_cast<uint8_t*>(ImageEncode(0, ImageFormatBmp, 32, &size));
  ASSERT_NE(bmp, nullptr);
  // The file's first stored pixel is the picture's bottom-left one, blue first.
  const Rgba corner = ExpectedPixel(o, 0, o.height - 1);
  const uint8_t* stored = bmp + 54;
  EXPECT_EQ(stored[0], corner.b);
  EXPECT_EQ(stored[1], corner.g);
  EXPECT_EQ(stored[2], corner.r);
  EXPECT_EQ(stored[3], corner.a);

  const intptr_t back = ImageCatch(DynamicNumber, bmp, static_cast<int64_t>(size));
  SizedFree(bmp);
  ASSERT_NE(back, 0);
  EXPECT_EQ(ImageRecordGet(back)->format, ImageFormatBmp);
  const DIBSECTION section = SectionOf(ImageHandle(back));
  EXPECT_EQ(section.dsBmih.biBitCount, 24);  // BMP data decodes to 24 bits
  EXPECT_TRUE(DibShowsFixture(section, o));
}

TEST_F(DibImageStoreTest, FreeingDeletesTheBitmapAndRecatchingReplacesIt) {
  const intptr_t first = ImageCatch(0, BannerPng, static_cast<int64_t>(BannerPngSize));
  const intptr_t dynamic = ImageCatch(DynamicNumber, BannerPng, static_cast<int64_t>(BannerPngSize));
  ASSERT_NE(first, 0);
  ASSERT_NE(dynamic, 0);
  const HGDIOBJ dynamicBitmap = GdiObjectOf(ImageHandle(dynamic));
  ASSERT_EQ(GetObjectType(dynamicBitmap), static_cast<DWORD>(OBJ_BITMAP));

  const intptr_t second = ImageCatch(0, BannerPng, static_cast<int64_t>(BannerPngSize));
  ASSERT_NE(second, 0);
  EXPECT_EQ(GetObjectType(GdiObjectOf(second)), static_cast<DWORD>(OBJ_BITMAP));
  EXPECT_EQ(GetObjectType(GdiObjectOf(first)), 0u) << "the replaced bitmap is still alive";

  ImageFree(0);
  EXPECT_EQ(GetObjectType(GdiObjectOf(second)), 0u);
  EXPECT_EQ(ImageHandle(0), 0);
  EXPECT_EQ(GetObjectType(dynamicBitmap), static_cast<DWORD>(OBJ_BITMAP));
  ImageFree(DynamicNumber);
  EXPECT_EQ(GetObjectType(dynamicBitmap), 0u);
  EXPECT_EQ(ImageHandle(dynamic), 0);
}

TEST_F(DibImageStoreTest, DataThatMakesNoPictureLeavesNoImage) {
  const char junk[] = "neither an icon file nor a format any decoder knows";
  EXPECT_EQ(ImageCatch(0, junk, sizeof junk), 0);
  EXPECT_EQ(ImageHandle(0), 0);
  EXPECT_EQ(ImageRecordGet(0), nullptr);

  // A PNG cut short fails to decode: here that is no image at all.
  const std::vector<uint8_t> png = MakePng(Options(64, 64, 2, 8));
  EXPECT_EQ(ImageCatch(0, png.data(), static_cast<int64_t>(png.size() / 2)), 0);
  EXPECT_EQ(ImageHandle(0), 0);
  EXPECT_EQ(ImageCatch(DynamicNumber, png.data(), static_cast<int64_t>(png.size() / 2)), 0);
}

}  // namespace
}  // namespace rt::test
