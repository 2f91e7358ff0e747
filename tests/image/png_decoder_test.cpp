// PNG decoding through ImageCatch: the banner, every colour type, and data
// that is cut short, corrupt or asks for absurd sizes.
#include <png.h>

#include "core/memory.h"
#include "image/image_store.h"
#include "image_test_support.h"

namespace rt::test {
namespace {

class PngDecoderTest : public ImageTest {};

TEST_F(PngDecoderTest, BannerIsIdentifiedByThePngDecoderAndLaidOutAsRgb888) {
  const PngOptions banner;  // 400 x 60, 8-bit RGB, not interlaced
  const ExactBlock data(MakePng(banner));
  ASSERT_GT(data.size, 8u);

  ImageDecodeState* state = ImageDecodeStateGet();
  ASSERT_NE(state, nullptr);
  EXPECT_EQ(ImageIdentify(state, data.data.get(), static_cast<int64_t>(data.size)), ImageFormatPng);
  EXPECT_EQ(state->decoder, PngImageDecoder());
  EXPECT_EQ(state->width, 400);
  EXPECT_EQ(state->height, 60);
  EXPECT_EQ(state->depth, 24);
  EXPECT_EQ(state->storedDepth, 24);
  EXPECT_EQ(state->frameCount, 1);
  ImageDecodeFinish(state);

  // The BMP decoder, asked first, declines the same bytes.
  ImageDecodeState fresh{};
  fresh.data = data.data.get();
  fresh.length = static_cast<int64_t>(data.size);
  fresh.fromMemory = 1;
  EXPECT_EQ(BmpImageDecoder()->identify(&fresh), 0);

  const intptr_t handle = ImageCatch(0, data.data.get(), static_cast<int64_t>(data.size));
  ASSERT_NE(handle, 0);
  EXPECT_EQ(reinterpret_cast<void*>(handle), ImageObject(0));
  const ImageRecord* record = ImageRecordGet(0);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->width, 400);
  EXPECT_EQ(record->height, 60);
  EXPECT_EQ(record->depth, 24);
  EXPECT_EQ(record->storedDepth, 24);
  EXPECT_EQ(record->format, 0x474E50u);
  EXPECT_EQ(record->frameCount, 1u);
  EXPECT_EQ(record->frames, nullptr);
  EXPECT_EQ(record->frameDelay, 0u);

  const MemoryImage* image = MemoryImageOf(0);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->stride, 1200);
  EXPECT_EQ(SizedLength(image->buffer), 61u * 1200u);
  EXPECT_NE(image->decodeResult, 0);
  EXPECT_TRUE(PixelsMatch(image, banner));
  EXPECT_TRUE(RowIsZero(image, 60));  // the spare row past the picture
}

TEST_F(PngDecoderTest, UnboundedLengthReadsOnlyThePngItself) {
  // The application passes the largest 32-bit length; the data's own end
  // (here the end of an exact block) must still bound every read.
  const PngOptions banner;
  const ExactBlock data(MakePng(banner));
  ASSERT_NE(ImageCatch(0, data.data.get()), 0);
  EXPECT_TRUE(PixelsMatch(MemoryImageOf(0), banner));
}

class PngVariantTest : public ImageTest, public ::testing::WithParamInterface<PngOptions> {};

TEST_P(PngVariantTest, DecodesToTheExpectedDepthAndPixels) {
  const PngOptions& o = GetParam();
  const std::vector<uint8_t> png = MakePng(o);
  ASSERT_FALSE(png.empty()) << "the fixture could not be written";
  const ExactBlock data(png);
  ASSERT_NE(ImageCatch(0, data.data.get(), static_cast<int64_t>(data.size)), 0);
  const ImageRecord* record = ImageRecordGet(0);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->depth, ExpectedDepth(o));
  EXPECT_EQ(record->storedDepth, ExpectedStoredDepth(o));
  EXPECT_EQ(record->width, o.width);
  EXPECT_EQ(record->height, o.height);
  const MemoryImage* image = MemoryImageOf(0);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->stride, ((o.width * (ExpectedDepth(o) / 8)) + 3) / 4 * 4);
  EXPECT_NE(image->decodeResult, 0);
  EXPECT_TRUE(PixelsMatch(image, o));
}

PngOptions With(int colourType, int bitDepth, bool interlaced = false, bool transparency = false, int width = 37,
                int height = 23) {
  PngOptions o;
  o.width = width;
  o.height = height;
  o.colourType = colourType;
  o.bitDepth = bitDepth;
  o.interlaced = interlaced;
  o.transparency = transparency;
  return o;
}

std::vector<PngOptions> AllVariants() {
  std::vector<PngOptions> all;
  for (bool interlaced : {false, true}) {
    for (int depth : {1, 2, 4, 8, 16}) {
      all.push_back(With(PNG_COLOR_TYPE_GRAY, depth, interlaced));
      all.push_back(With(PNG_COLOR_TYPE_GRAY, depth, interlaced, true));
    }
    for (int depth : {1, 2, 4, 8}) {
      all.push_back(With(PNG_COLOR_TYPE_PALETTE, depth, interlaced));
      all.push_back(With(PNG_COLOR_TYPE_PALETTE, depth, interlaced, true));
    }
    for (int depth : {8, 16}) {
      all.push_back(With(PNG_COLOR_TYPE_RGB, depth, interlaced));
      all.push_back(With(PNG_COLOR_TYPE_RGB, depth, interlaced, true));
      all.push_back(With(PNG_COLOR_TYPE_RGB_ALPHA, depth, interlaced));
      all.push_back(With(PNG_COLOR_TYPE_GRAY_ALPHA, depth, interlaced));
    }
  }
  // Odd shapes: one pixel, one row, one column, a width that needs padding.
  all.push_back(With(PNG_COLOR_TYPE_RGB, 8, false, false, 1, 1));
  all.push_back(With(PNG_COLOR_TYPE_RGB, 8, true, false, 1, 1));
  all.push_back(With(PNG_COLOR_TYPE_PALETTE, 4, true, false, 301, 1));
  all.push_back(With(PNG_COLOR_TYPE_GRAY_ALPHA, 8, true, false, 1, 97));
  all.push_back(With(PNG_COLOR_TYPE_RGB, 8, false, false, 401, 3));
  return all;
}

INSTANTIATE_TEST_SUITE_P(ColourTypes, PngVariantTest, ::testing::ValuesIn(AllVariants()),
                         [](const ::testing::TestParamInfo<PngOptions>& info) {
                           std::string name = Describe(info.param);
                           for (char& c : name) {
                             if (c == '-') c = '_';
                           }
                           return name;
                         });

TEST_F(PngDecoderTest, SixteenBitAndInterlacedGiveThePixelsOfThePlainPicture) {
  const PngOptions plain = With(PNG_COLOR_TYPE_RGB, 8, false, false, 64, 40);
  PngOptions deep = plain, interlaced = plain, both = plain;
  deep.bitDepth = 16;
  interlaced.interlaced = true;
  both.bitDepth = 16;
  both.interlaced = true;

  const ExactBlock reference(MakePng(plain));
  ASSERT_NE(ImageCatch(0, reference.data.get(), static_cast<int64_t>(reference.size)), 0);
  const MemoryImage* first = MemoryImageOf(0);
  for (const PngOptions& o : {deep, interlaced, both}) {
    SCOPED_TRACE(Describe(o));
    const ExactBlock data(MakePng(o));
    const intptr_t handle = ImageCatch(DynamicNumber, data.data.get(), static_cast<int64_t>(data.size));
    ASSERT_NE(handle, 0);
    const MemoryImage* other = MemoryImageOf(handle);
    ASSERT_NE(other, nullptr);
    ASSERT_EQ(other->stride, first->stride);
    EXPECT_EQ(std::memcmp(other->buffer, first->buffer, SizedLength(first->buffer)), 0);
    ImageFree(handle);
  }
}

TEST_F(PngDecoderTest, TooShortOrForeignDataIsRefusedAndTheNumberStaysFree) {
  const std::vector<uint8_t> png = MakePng(PngOptions{});
  const ExactBlock seven(png.data(), 7);
  EXPECT_EQ(ImageCatch(0, seven.data.get(), 7), 0);
  EXPECT_EQ(ImageObject(0), nullptr);
  EXPECT_EQ(ImageRecordGet(0), nullptr);

  std::vector<uint8_t> bad = png;
  bad[1] = 'Q';  // "\x89QNG"
  const ExactBlock wrong(bad);
  EXPECT_EQ(ImageCatch(0, wrong.data.get(), static_cast<int64_t>(wrong.size)), 0);
  EXPECT_EQ(ImageObject(0), nullptr);

  EXPECT_EQ(ImageCatch(0, nullptr, 100), 0);
  EXPECT_EQ(ImageCatch(0, png.data(), 0), 0);
  EXPECT_EQ(ImageCatch(0, png.data(), -5), 0);
  EXPECT_EQ(ImageObject(0), nullptr);

  // A dynamic record that gets no image is given back at once.
  EXPECT_EQ(ImageCatch(DynamicNumber, wrong.data.get(), static_cast<int64_t>(wrong.size)), 0);
  EXPECT_EQ(MemoryImagesLive(), 0);
}

TEST_F(PngDecoderTest, EveryTruncationYieldsNothingOrAnImageWithoutReadingPastTheEnd) {
  for (const PngOptions& o : {With(PNG_COLOR_TYPE_RGB, 8, false, true, 19, 7), With(PNG_COLOR_TYPE_PALETTE, 2, true),
                              With(PNG_COLOR_TYPE_GRAY_ALPHA, 16, true, false, 9, 9)}) {
    SCOPED_TRACE(Describe(o));
    const std::vector<uint8_t> png = MakePng(o);
    for (size_t n = 0; n < png.size(); ++n) {
      const ExactBlock cut(png.data(), n);
      const intptr_t handle = ImageCatch(DynamicNumber, cut.data.get(), static_cast<int64_t>(n));
      if (handle) {
        const MemoryImage* image = MemoryImageOf(handle);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image->width, o.width);
        ImageFree(handle);
      }
    }
    EXPECT_EQ(MemoryImagesLive(), 0);
  }
}

TEST_F(PngDecoderTest, DataCutInsideThePixelsKeepsTheRowsReadAndLeavesTheRestZero) {
  PngOptions o = With(PNG_COLOR_TYPE_RGB, 8, false, false, 50, 40);
  o.compressionLevel = 0;  // stored blocks: the rows lie in the file in order
  const std::vector<uint8_t> png = MakePng(o);
  const size_t half = png.size() / 2;
  const ExactBlock cut(png.data(), half);
  ASSERT_NE(ImageCatch(0, cut.data.get(), static_cast<int64_t>(half)), 0);
  const MemoryImage* image = MemoryImageOf(0);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->decodeResult, 0);
  int good = 0;
  for (int y = 0; y < o.height; ++y) {
    bool match = true;
    for (int x = 0; x < o.width && match; ++x) {
      const Rgba got = PixelAt(image, x, y), want = ExpectedPixel(o, x, y);
      match = got.r == want.r && got.g == want.g && got.b == want.b;
    }
    if (!match) break;
    ++good;
  }
  EXPECT_GT(good, 5);
  EXPECT_LT(good, o.height);
  EXPECT_TRUE(RowIsZero(image, o.height - 1));
}

TEST_F(PngDecoderTest, AbsurdDimensionsAreRefusedBeforeAnyPixelBufferExists) {
  struct Case {
    uint32_t width, height;
    int colourType;
  };
  const Case cases[] = {
      {65536, 1, PNG_COLOR_TYPE_RGB},               // wider than the record's 16 bits
      {1, 65536, PNG_COLOR_TYPE_RGB},               // taller
      {0x7FFFFFFF, 0x7FFFFFFF, PNG_COLOR_TYPE_RGB_ALPHA},  // the largest PNG allows
      {65535, 65535, PNG_COLOR_TYPE_RGB_ALPHA},     // fits the record, but 17 GB of pixels
      {0, 10, PNG_COLOR_TYPE_RGB},                  // no pixels at all
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    const ExactBlock data(MakePngHeaderOnly(c.width, c.height, 8, c.colourType));
    EXPECT_EQ(ImageCatch(0, data.data.get(), static_cast<int64_t>(data.size)), 0);
    EXPECT_EQ(ImageObject(0), nullptr);
  }
  EXPECT_EQ(MemoryImagesLive(), 0);

  // A large but sane picture still gets its image (and only what the data holds).
  const ExactBlock wide(MakePngHeaderOnly(4000, 3000, 8, PNG_COLOR_TYPE_RGB));
  ASSERT_NE(ImageCatch(0, wide.data.get(), static_cast<int64_t>(wide.size)), 0);
  EXPECT_EQ(ImageRecordGet(0)->width, 4000);
  EXPECT_EQ(MemoryImageOf(0)->decodeResult, 0);  // the pixel data ends early
}

TEST(ImageLayoutTest, StrideAndBufferFollowTheDepth) {
  ImageLayout layout{};
  ASSERT_TRUE(ImageLayoutFor(400, 60, 24, &layout));
  EXPECT_EQ(layout.stride, 1200);
  EXPECT_EQ(layout.bufferSize, 61u * 1200u);
  ASSERT_TRUE(ImageLayoutFor(401, 1, 24, &layout));
  EXPECT_EQ(layout.stride, 1204);  // 3 x 401 rounded up to 4
  ASSERT_TRUE(ImageLayoutFor(5, 2, 32, &layout));
  EXPECT_EQ(layout.stride, 20);
  EXPECT_EQ(layout.bufferSize, 60u);
  for (int w = 1; w < 9; ++w) {
    ASSERT_TRUE(ImageLayoutFor(w, 1, 24, &layout));
    EXPECT_EQ(layout.stride, 3 * w + w % 4);
  }
  EXPECT_FALSE(ImageLayoutFor(0, 1, 24, &layout));
  EXPECT_FALSE(ImageLayoutFor(1, 0, 24, &layout));
  EXPECT_FALSE(ImageLayoutFor(65536, 1, 24, &layout));
  EXPECT_FALSE(ImageLayoutFor(1, 65536, 24, &layout));
  EXPECT_FALSE(ImageLayoutFor(65535, 65535, 32, &layout));
  EXPECT_FALSE(ImageLayoutFor(10, 10, 16, &layout));
  EXPECT_TRUE(ImageLayoutFor(65535, 1, 32, &layout));
}

}  // namespace
}  // namespace rt::test
