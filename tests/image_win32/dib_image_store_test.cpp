// The Windows pixel store with real GDI: DIB sections checked against
// libpng's own decode and against what GDI reads back, icon files, and the
// release of both kinds of object.
#include <gtest/gtest.h>
#include <png.h>
#include <windows.h>

#include <cstring>
#include <vector>

#include "core/memory.h"
#include "image/image.h"
#include "png_fixtures.h"

namespace rt::test {

extern const uint8_t BannerPng[];
extern const size_t BannerPngSize;

namespace {

class DibImageStoreTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ImageLibraryStart();
    RegisterPngDecoder();
  }
  static void TearDownTestSuite() { ImageLibraryEnd(); }
  void TearDown() override { ImageFree(DynamicNumber); }
};

HGDIOBJ Gdi(intptr_t handle) { return reinterpret_cast<HGDIOBJ>(handle); }

DIBSECTION SectionOf(intptr_t handle) {
  DIBSECTION section{};
  EXPECT_EQ(GetObjectW(Gdi(handle), sizeof section, &section), static_cast<int>(sizeof section));
  return section;
}

// A bitmap's rows as GDI reads them out: bottom-up, `depth` bits, padded to 4 bytes.
std::vector<uint8_t> GdiBits(HGDIOBJ bitmap, int width, int height, int depth) {
  BITMAPINFO info{};
  info.bmiHeader = {static_cast<DWORD>(sizeof info.bmiHeader), width, height, 1, static_cast<WORD>(depth), BI_RGB, 0, 0, 0, 0, 0};
  std::vector<uint8_t> bits((static_cast<size_t>(width) * depth / 8 + 3) / 4 * 4 * height);
  HDC dc = CreateCompatibleDC(nullptr);
  const int rows = GetDIBits(dc, static_cast<HBITMAP>(bitmap), 0, height, bits.data(), &info, DIB_RGB_COLORS);
  DeleteDC(dc);
  if (rows != height) bits.clear();
  return bits;
}

// Every pixel of a bottom-up blue-green-red(-alpha) DIB as the fixture says.
::testing::AssertionResult ShowsFixture(const DIBSECTION& dib, const PngOptions& o) {
  const int bytes = dib.dsBm.bmBitsPixel / 8;
  for (int y = 0; y < o.height; ++y) {
    const auto* row = static_cast<const uint8_t*>(dib.dsBm.bmBits) + (o.height - 1 - y) * dib.dsBm.bmWidthBytes;
    for (int x = 0; x < o.width; ++x) {
      const uint8_t* p = row + x * bytes;
      const Rgba want = ExpectedPixel(o, x, y);
      if (p[0] != want.b || p[1] != want.g || p[2] != want.r || (bytes == 4 && p[3] != want.a)) {
        return ::testing::AssertionFailure() << "differs at (" << x << "," << y << ")";
      }
    }
  }
  return ::testing::AssertionSuccess();
}

TEST_F(DibImageStoreTest, TheBannerBecomesABottomUpBgrDibSectionAsLibpngDecodesIt) {
  const intptr_t handle = ImageCatch(0, BannerPng);  // no length, as the program calls it
  ASSERT_NE(handle, 0);
  EXPECT_EQ(handle, ImageHandle(0));
  const DIBSECTION dib = SectionOf(handle);
  EXPECT_EQ(dib.dsBmih.biWidth, 400);
  EXPECT_EQ(dib.dsBmih.biHeight, 60);  // positive: bottom-up
  EXPECT_EQ(dib.dsBmih.biBitCount, 24);
  EXPECT_EQ(dib.dsBm.bmWidthBytes, 1200);
  EXPECT_EQ(ImageRecordGet(0)->format, ImageFormatPng);

  // libpng's simplified reader writing blue-green-red rows bottom-up.
  png_image reference{};
  reference.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_memory(&reference, BannerPng, BannerPngSize));
  reference.format = PNG_FORMAT_BGR;
  std::vector<uint8_t> expected(1200 * 60);
  ASSERT_TRUE(png_image_finish_read(&reference, nullptr, expected.data(), -1200, nullptr));
  EXPECT_EQ(std::memcmp(dib.dsBm.bmBits, expected.data(), expected.size()), 0);
  EXPECT_EQ(GdiBits(Gdi(handle), 400, 60, 24), expected);
}

TEST_F(DibImageStoreTest, TransparencyGivesStraightAlphaAndBmpKeepsTheDibOrder) {
  PngOptions o;  // RGB with a tRNS key: those pixels keep their samples at alpha 0
  o.width = 15;
  o.height = 6;
  o.transparency = true;
  const std::vector<uint8_t> png = MakePng(o);
  ASSERT_NE(ImageCatch(0, png.data(), static_cast<int64_t>(png.size())), 0);
  const DIBSECTION dib = SectionOf(ImageHandle(0));
  EXPECT_EQ(dib.dsBmih.biBitCount, 32);
  EXPECT_TRUE(ShowsFixture(dib, o));

  size_t size = 0;
  auto* bmp = static_cast<uint8_t*>(ImageEncode(0, ImageFormatBmp, 32, &size));
  ASSERT_NE(bmp, nullptr);
  const Rgba corner = ExpectedPixel(o, 0, o.height - 1);  // the file's first stored pixel
  EXPECT_EQ(std::vector<uint8_t>(bmp + 54, bmp + 58), (std::vector<uint8_t>{corner.b, corner.g, corner.r, corner.a}));
  const intptr_t back = ImageCatch(DynamicNumber, bmp, static_cast<int64_t>(size));
  SizedFree(bmp);
  ASSERT_NE(back, 0);
  const DIBSECTION decoded = SectionOf(ImageHandle(back));
  EXPECT_EQ(decoded.dsBm.bmWidthBytes, 48);  // 24 bits: 45 bytes padded to 48
  EXPECT_TRUE(ShowsFixture(decoded, o));
}

TEST_F(DibImageStoreTest, FreeingOrRecatchingDeletesTheBitmapAndFailuresLeaveNoImage) {
  const intptr_t first = ImageCatch(0, BannerPng, static_cast<int64_t>(BannerPngSize));
  const intptr_t dynamic = ImageCatch(DynamicNumber, BannerPng, static_cast<int64_t>(BannerPngSize));
  ASSERT_NE(first, 0);
  const HGDIOBJ dynamicBitmap = Gdi(ImageHandle(dynamic));
  const intptr_t second = ImageCatch(0, BannerPng, static_cast<int64_t>(BannerPngSize));
  EXPECT_EQ(GetObjectType(Gdi(first)), 0u);
  EXPECT_EQ(GetObjectType(Gdi(second)), static_cast<DWORD>(OBJ_BITMAP));
  ImageFree(0);
  EXPECT_EQ(GetObjectType(Gdi(second)), 0u);
  EXPECT_EQ(GetObjectType(dynamicBitmap), static_cast<DWORD>(OBJ_BITMAP));
  ImageFree(DynamicNumber);
  EXPECT_EQ(GetObjectType(dynamicBitmap), 0u);

  // Unknown data, and a PNG cut short (a failed decode makes no image here).
  const char junk[] = "neither an icon file nor a known format";
  const std::vector<uint8_t> png = MakePng(PngOptions{});
  EXPECT_EQ(ImageCatch(0, junk, sizeof junk), 0);
  EXPECT_EQ(ImageCatch(0, png.data(), static_cast<int64_t>(png.size() / 2)), 0);
  EXPECT_EQ(ImageRecordGet(0), nullptr);
}

// An icon file whose entries are each one solid colour, as {side, bits, red}:
// 4- and 8-bit entries use palette index 1, 32-bit ones opaque pixels.
std::vector<uint8_t> IconFile(const std::vector<std::vector<int>>& entries, uint8_t type = 1) {
  std::vector<uint8_t> file = {0, 0, type, 0, static_cast<uint8_t>(entries.size()), 0};
  file.resize(6 + 16 * entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    const int side = entries[i][0], bits = entries[i][1];
    const auto red = static_cast<uint8_t>(entries[i][2]);
    const size_t palette = bits <= 8 ? size_t{4} << bits : 0, colourRow = (side * bits + 31) / 32 * 4;
    std::vector<uint8_t> image(40 + palette + (colourRow + 4) * side);  // 4: a mask row of 0s (opaque)
    const uint8_t header[16] = {40, 0, 0, 0, static_cast<uint8_t>(side), 0, 0, 0, static_cast<uint8_t>(2 * side), 0, 0, 0,
                                1, 0, static_cast<uint8_t>(bits), 0};
    std::memcpy(image.data(), header, sizeof header);
    if (bits <= 8) {
      image[40 + 6] = red;
      std::memset(&image[40 + palette], bits == 4 ? 0x11 : 0x01, colourRow * side);
    } else {
      for (int p = 0; p < side * side; ++p) image[40 + p * 4 + 2] = red, image[40 + p * 4 + 3] = 255;
    }
    const uint8_t entry[16] = {static_cast<uint8_t>(side), static_cast<uint8_t>(side), 0, 0, 1, 0,
                               static_cast<uint8_t>(bits), 0, static_cast<uint8_t>(image.size()),
                               static_cast<uint8_t>(image.size() >> 8), 0, 0, static_cast<uint8_t>(file.size()),
                               static_cast<uint8_t>(file.size() >> 8), 0, 0};
    std::memcpy(&file[6 + 16 * i], entry, sizeof entry);
    file.insert(file.end(), image.begin(), image.end());
  }
  return file;
}

// The red of the middle pixel of an icon's colour bitmap.
int IconRed(intptr_t icon) {
  ICONINFO parts{};
  if (!GetIconInfo(reinterpret_cast<HICON>(icon), &parts)) return -1;
  const std::vector<uint8_t> bits = GdiBits(parts.hbmColor, 16, 16, 32);
  DeleteObject(parts.hbmColor);
  DeleteObject(parts.hbmMask);
  return bits.empty() ? -1 : bits[(8 * 16 + 8) * 4 + 2];
}

TEST_F(DibImageStoreTest, IconFilesGiveTheEntryWithTheMostBitsAmongThoseTheSizeOfTheFirst) {
  EXPECT_EQ(IconRed(ImageCatch(0, IconFile({{16, 4, 10}, {16, 8, 20}, {16, 32, 30}}).data())), 30);
  EXPECT_EQ(ImageRecordGet(0)->format, 0x4E4F4349u);
  EXPECT_EQ(ImageRecordGet(0)->width, 16);
  EXPECT_EQ(IconRed(ImageCatch(0, IconFile({{16, 4, 10}, {32, 32, 20}, {16, 8, 30}}).data())), 30);
  EXPECT_EQ(IconRed(ImageCatch(0, IconFile({{16, 32, 10}, {16, 32, 20}}).data())), 10);  // the first of equals

  const std::vector<uint8_t> file = IconFile({{16, 8, 10}});
  const intptr_t icon = ImageCatch(0, file.data(), static_cast<int64_t>(file.size()));
  EXPECT_NE(GetObjectType(Gdi(icon)), static_cast<DWORD>(OBJ_BITMAP));
  ImageFree(0);
  EXPECT_EQ(IconRed(icon), -1) << "the icon outlived its image";
  // A cursor file, and an entry reaching one byte past the data, are no icons.
  EXPECT_EQ(ImageCatch(0, IconFile({{16, 8, 10}}, 2).data()), 0);
  EXPECT_EQ(ImageCatch(0, file.data(), static_cast<int64_t>(file.size() - 1)), 0);
}

}  // namespace
}  // namespace rt::test
