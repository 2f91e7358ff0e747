// KTQImage: the decoded buffer handed to Qt without a copy, and the pixmap
// and icon caches. Runs on the offscreen platform with a real QGuiApplication.
#include <gtest/gtest.h>

#include <QGuiApplication>

#include "core/memory.h"
#include "image/image.h"
#include "png_fixtures.h"
#include "qt/qt_image.h"

namespace rt::test {
namespace {

class QtImageEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "image_qt_tests";
    static char* argv[] = {name, nullptr};
    // Kept to the end of the process, as in the program: destroying it would
    // strand the offscreen platform's screen objects.
    if (!QGuiApplication::instance()) new QGuiApplication(argc, argv);
    ImageLibraryStart();
    RegisterPngDecoder();
  }
  void TearDown() override { ImageLibraryEnd(); }
};

[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new QtImageEnvironment);

class QtImageTest : public ::testing::Test {
 protected:
  void TearDown() override { ImageFree(DynamicNumber); }

  static PngOptions Options(int width, int height, int colourType, int bitDepth, bool transparency = false) {
    PngOptions o;
    o.width = width;
    o.height = height;
    o.colourType = colourType;
    o.bitDepth = bitDepth;
    o.transparency = transparency;
    return o;
  }

  static ::testing::AssertionResult ShowsFixture(const QImage& image, const PngOptions& o) {
    for (int y = 0; y < o.height; ++y) {
      for (int x = 0; x < o.width; ++x) {
        const QColor got = image.pixelColor(x, y);
        const Rgba want = ExpectedPixel(o, x, y);
        const int alpha = image.hasAlphaChannel() ? want.a : 255;
        if (got.red() != want.r || got.green() != want.g || got.blue() != want.b || got.alpha() != alpha) {
          return ::testing::AssertionFailure() << "differs at (" << x << "," << y << ")";
        }
      }
    }
    return ::testing::AssertionSuccess();
  }
};

TEST_F(QtImageTest, TheBannerBecomesAnRgb888ImageOverTheDecodedBuffer) {
  const PngOptions banner;
  const std::vector<uint8_t> png = MakePng(banner);
  const intptr_t result = ImageCatch(0, png.data(), static_cast<int64_t>(png.size()));
  ASSERT_NE(result, 0);
  EXPECT_EQ(result, ImageHandle(0));  // a static number's result is its handle
  KTQImage* image = KTQImageOfHandle(ImageHandle(0));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->format(), QImage::Format_RGB888);
  EXPECT_EQ(image->width(), 400);
  EXPECT_EQ(image->height(), 60);
  EXPECT_EQ(image->bytesPerLine(), 1200);
  // No copy: the image's pixels are the library's zero-filled sized block.
  EXPECT_EQ(SizedLength(image->constBits()), 61u * 1200u);
  EXPECT_TRUE(ShowsFixture(*image, banner));

  const ImageRecord* record = ImageRecordGet(0);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->image, image);
  EXPECT_EQ(record->width, 400);
  EXPECT_EQ(record->height, 60);
  EXPECT_EQ(record->depth, 24);
  EXPECT_EQ(record->storedDepth, 24);
  EXPECT_EQ(record->format, 0x474E50u);
}

TEST_F(QtImageTest, TransparencyGivesRgba8888AndOtherTypesTheirFormats) {
  struct Case {
    PngOptions options;
    QImage::Format format;
  };
  const Case cases[] = {
      {Options(40, 12, 2, 8, true), QImage::Format_RGBA8888},   // RGB + tRNS
      {Options(40, 12, 3, 4), QImage::Format_RGB888},           // 4-bit palette
      {Options(40, 12, 4, 8), QImage::Format_RGBA8888},         // grey + alpha
      {Options(40, 12, 0, 16), QImage::Format_RGB888},          // 16-bit grey
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Describe(c.options));
    const std::vector<uint8_t> png = MakePng(c.options);
    ASSERT_NE(ImageCatch(0, png.data(), static_cast<int64_t>(png.size())), 0);
    const KTQImage* image = KTQImageOfHandle(ImageHandle(0));
    EXPECT_EQ(image->format(), c.format);
    EXPECT_EQ(image->bytesPerLine(), c.format == QImage::Format_RGBA8888 ? 160 : 120);
    EXPECT_TRUE(ShowsFixture(*image, c.options));
  }
}

TEST_F(QtImageTest, ThePixmapIsConvertedOnceAndTheIconBuiltFromIt) {
  const std::vector<uint8_t> png = MakePng(Options(32, 16, 6, 8));
  ASSERT_NE(ImageCatch(0, png.data(), static_cast<int64_t>(png.size())), 0);
  KTQImage* image = KTQImageOfHandle(ImageHandle(0));

  const QIcon first = ImageIcon(image);
  const QPixmap* cached = image->Pixmap();
  ASSERT_NE(cached, nullptr);
  const QIcon second = ImageIcon(image);
  EXPECT_EQ(image->Pixmap(), cached);  // asking again did not convert again
  EXPECT_FALSE(first.isNull());
  EXPECT_EQ(first.cacheKey(), second.cacheKey());

  const QPixmap a = ImagePixmap(image), b = ImagePixmap(image);
  EXPECT_EQ(a.cacheKey(), cached->cacheKey());
  EXPECT_EQ(a.cacheKey(), b.cacheKey());
  EXPECT_EQ(a.size(), QSize(32, 16));
  EXPECT_EQ(first.availableSizes().value(0, QSize()), QSize(32, 16));
}

TEST_F(QtImageTest, NoImageGivesNullHandlesAndEmptyPixmaps) {
  EXPECT_EQ(ImageHandle(0), 0);
  EXPECT_EQ(ImageHandle(12345), 0);
  EXPECT_TRUE(ImagePixmap(nullptr).isNull());
  EXPECT_TRUE(ImageIcon(nullptr).isNull());
  const char junk[] = "not an image at all, not even close";
  EXPECT_EQ(ImageCatch(0, junk, sizeof junk), 0);
  EXPECT_EQ(ImageHandle(0), 0);
}

TEST_F(QtImageTest, CopiesKeepTheBufferAfterTheImageIsFreed) {
  const PngOptions o = Options(20, 10, 2, 8);
  const std::vector<uint8_t> png = MakePng(o);
  const intptr_t handle = ImageCatch(DynamicNumber, png.data(), static_cast<int64_t>(png.size()));
  ASSERT_NE(handle, 0);
  KTQImage* image = KTQImageOfHandle(ImageHandle(handle));
  ASSERT_NE(image, nullptr);
  ImagePixmap(image);
  ImageIcon(image);
  const QImage copy = *image;
  ImageFree(handle);
  EXPECT_EQ(ImageHandle(handle), 0);
  EXPECT_TRUE(ShowsFixture(copy, o));  // the shared buffer outlives the KTQImage
}

TEST_F(QtImageTest, FreeingDynamicNumberFreesStaticAndDynamicImages) {
  const std::vector<uint8_t> png = MakePng(Options(8, 8, 3, 8));
  ASSERT_NE(ImageCatch(0, png.data(), static_cast<int64_t>(png.size())), 0);
  ASSERT_NE(ImageCatch(5, png.data(), static_cast<int64_t>(png.size())), 0);
  const intptr_t d = ImageCatch(DynamicNumber, png.data(), static_cast<int64_t>(png.size()));
  ASSERT_NE(d, 0);
  ImageIcon(KTQImageOfHandle(ImageHandle(d)));
  ImageFree(DynamicNumber);
  EXPECT_EQ(ImageHandle(0), 0);
  EXPECT_EQ(ImageHandle(5), 0);
  EXPECT_EQ(ImageHandle(d), 0);
}

TEST_F(QtImageTest, ImagesSaveAsBmpFromTheQtPixels) {
  const PngOptions o = Options(15, 6, 6, 8);
  const std::vector<uint8_t> png = MakePng(o);
  ASSERT_NE(ImageCatch(0, png.data(), static_cast<int64_t>(png.size())), 0);
  size_t size = 0;
  void* bmp = ImageEncode(0, ImageFormatBmp, 32, &size);
  ASSERT_NE(bmp, nullptr);
  const intptr_t handle = ImageCatch(DynamicNumber, bmp, static_cast<int64_t>(size));
  SizedFree(bmp);
  ASSERT_NE(handle, 0);
  const KTQImage* back = KTQImageOfHandle(ImageHandle(handle));
  EXPECT_EQ(back->format(), QImage::Format_RGB888);  // BMP data decodes to 24 bits
  for (int y = 0; y < o.height; ++y) {
    for (int x = 0; x < o.width; ++x) {
      const Rgba want = ExpectedPixel(o, x, y);
      ASSERT_EQ(back->pixelColor(x, y), QColor(want.r, want.g, want.b)) << x << "," << y;
    }
  }
}

}  // namespace
}  // namespace rt::test
