// The image table: numbers, handles, freeing, the decoder list and several
// threads decoding at once.
#include <atomic>
#include <thread>

#include "core/memory.h"
#include "image_test_support.h"

namespace rt::test {
namespace {

class ImageLibraryTest : public ImageTest {
 protected:
  const PngOptions small_ = [] {
    PngOptions o;
    o.width = 12;
    o.height = 5;
    return o;
  }();
  const std::vector<uint8_t> png_ = MakePng(small_);
};

TEST_F(ImageLibraryTest, CatchingANumberAgainFreesTheOldImageFirst) {
  const intptr_t first = ImageCatch(0, png_.data(), static_cast<int64_t>(png_.size()));
  ASSERT_NE(first, 0);
  const int64_t releasedBefore = MemoryImagesReleased();
  const intptr_t second = ImageCatch(0, png_.data(), static_cast<int64_t>(png_.size()));
  ASSERT_NE(second, 0);
  EXPECT_EQ(MemoryImagesReleased(), releasedBefore + 1);
  EXPECT_EQ(MemoryImagesLive(), 1);
  EXPECT_EQ(ImageObject(0), reinterpret_cast<void*>(second));

  // A failed catch over a live number frees the old image and leaves the number free.
  const uint8_t junk[32] = {1, 2, 3};
  EXPECT_EQ(ImageCatch(0, junk, sizeof junk), 0);
  EXPECT_EQ(ImageObject(0), nullptr);
  EXPECT_EQ(MemoryImagesLive(), 0);
}

TEST_F(ImageLibraryTest, DynamicImagesAreAddressedByTheirHandles) {
  const intptr_t a = ImageCatch(DynamicNumber, png_.data(), static_cast<int64_t>(png_.size()));
  const intptr_t b = ImageCatch(DynamicNumber, png_.data(), static_cast<int64_t>(png_.size()));
  ASSERT_NE(a, 0);
  ASSERT_NE(b, 0);
  EXPECT_NE(a, b);
  // The handle is the record, not the image object.
  EXPECT_EQ(reinterpret_cast<const void*>(a), ImageRecordGet(a));
  ASSERT_NE(ImageObject(a), nullptr);
  EXPECT_NE(ImageObject(a), ImageObject(b));
  EXPECT_EQ(ImageRecordGet(b)->width, 12);
  EXPECT_TRUE(PixelsMatch(MemoryImageOf(b), small_));

  ImageFree(a);
  EXPECT_EQ(ImageObject(a), nullptr);
  EXPECT_NE(ImageObject(b), nullptr);
  EXPECT_EQ(MemoryImagesLive(), 1);
  ImageFree(b);
  EXPECT_EQ(MemoryImagesLive(), 0);
}

TEST_F(ImageLibraryTest, FreeingDynamicNumberFreesEveryImage) {
  ASSERT_NE(ImageCatch(0, png_.data(), static_cast<int64_t>(png_.size())), 0);
  ASSERT_NE(ImageCatch(3, png_.data(), static_cast<int64_t>(png_.size())), 0);
  ASSERT_NE(ImageCatch(40, png_.data(), static_cast<int64_t>(png_.size())), 0);  // grows the table
  const intptr_t d1 = ImageCatch(DynamicNumber, png_.data(), static_cast<int64_t>(png_.size()));
  const intptr_t d2 = ImageCatch(DynamicNumber, png_.data(), static_cast<int64_t>(png_.size()));
  ASSERT_NE(d1, 0);
  ASSERT_NE(d2, 0);
  EXPECT_EQ(MemoryImagesLive(), 5);
  ImageFree(DynamicNumber);
  EXPECT_EQ(MemoryImagesLive(), 0);
  for (ObjectNumber n : {ObjectNumber{0}, ObjectNumber{3}, ObjectNumber{40}}) EXPECT_EQ(ImageObject(n), nullptr);
}

TEST_F(ImageLibraryTest, NumbersWithoutAnImageAreHarmless) {
  EXPECT_EQ(ImageObject(7), nullptr);
  EXPECT_EQ(ImageRecordGet(7), nullptr);
  ImageFree(7);
  ImageFree(1000);
  ImageFree(-5);
  EXPECT_EQ(ImageObject(-5), nullptr);
  size_t size = 1;
  EXPECT_EQ(ImageEncode(7, ImageFormatBmp, 24, &size), nullptr);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(ImageCatch(-2, png_.data(), static_cast<int64_t>(png_.size())), 0);  // not a number
  EXPECT_EQ(MemoryImagesLive(), 0);
}

TEST_F(ImageLibraryTest, ThePngDecoderIsRegisteredOnceBehindTheBmpDecoder) {
  const int32_t count = ImageDecoderCount();
  EXPECT_EQ(count, 2);
  EXPECT_EQ(RegisterPngDecoder(), count);
  EXPECT_EQ(RegisterPngDecoder(), count);
  EXPECT_EQ(ImageDecoderCount(), count);
  EXPECT_EQ(ImageDecoderAt(0), BmpImageDecoder());
  EXPECT_EQ(ImageDecoderAt(1), PngImageDecoder());
  EXPECT_EQ(ImageDecoderAt(2), nullptr);
  EXPECT_EQ(ImageDecoderAt(-1), nullptr);
  EXPECT_EQ(ImageDecoderRegister(nullptr), count);
  EXPECT_EQ(ImageEncoderFind(ImageFormatBmp), BmpImageEncoder());
  EXPECT_EQ(ImageEncoderFind(ImageFormatPng), nullptr);
}

TEST_F(ImageLibraryTest, RestartingTheLibraryKeepsOneOrderedDecoderList) {
  ASSERT_NE(ImageCatch(0, png_.data(), static_cast<int64_t>(png_.size())), 0);
  ImageLibraryEnd();
  EXPECT_EQ(MemoryImagesLive(), 0);
  ImageLibraryStart();
  EXPECT_EQ(ImageDecoderCount(), 1);  // BMP only until the PNG decoder is registered
  EXPECT_EQ(ImageCatch(0, png_.data(), static_cast<int64_t>(png_.size())), 0);
  EXPECT_EQ(RegisterPngDecoder(), 2);
  EXPECT_NE(ImageCatch(0, png_.data(), static_cast<int64_t>(png_.size())), 0);
}

TEST_F(ImageLibraryTest, ThreadsDecodeAtTheSameTimeEachWithItsOwnState) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 25;
  PngOptions options[kThreads];
  std::vector<uint8_t> data[kThreads];
  for (int t = 0; t < kThreads; ++t) {
    options[t].width = 30 + t * 7;
    options[t].height = 11 + t;
    options[t].colourType = t % 2 ? 6 : 3;  // RGBA, palette
    options[t].bitDepth = 8;
    options[t].interlaced = t >= 2;
    data[t] = MakePng(options[t]);
  }
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        const intptr_t handle = ImageCatch(DynamicNumber, data[t].data(), static_cast<int64_t>(data[t].size()));
        if (!handle || !PixelsMatch(MemoryImageOf(handle), options[t])) failures.fetch_add(1);
        ImageFree(handle);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(MemoryImagesLive(), 0);
}

TEST_F(ImageLibraryTest, DecodeFlagsTurnRowsUpsideDownAndSwapRedAndBlue) {
  const ExactBlock data(png_);
  ImageDecodeState* state = ImageDecodeStateGet();
  ASSERT_EQ(ImageIdentify(state, data.data.get(), static_cast<int64_t>(data.size)), ImageFormatPng);
  ImageLayout layout{};
  ASSERT_TRUE(ImageLayoutFor(state->width, state->height, state->depth, &layout));
  std::vector<uint8_t> buffer(layout.bufferSize);
  EXPECT_NE(ImageDecodeInto(state, buffer.data(), layout.stride, ImageDecodeBottomUp | ImageDecodeBgr), 0);
  ImageDecodeFinish(state);
  for (int y = 0; y < small_.height; ++y) {
    for (int x = 0; x < small_.width; ++x) {
      const uint8_t* p = buffer.data() + (small_.height - 1 - y) * layout.stride + x * 3;
      const Rgba want = ExpectedPixel(small_, x, y);
      ASSERT_EQ(p[0], want.b);
      ASSERT_EQ(p[1], want.g);
      ASSERT_EQ(p[2], want.r);
    }
  }
  // With no decoder chosen nothing is decoded.
  EXPECT_EQ(ImageDecodeInto(state, buffer.data(), layout.stride, 0), 0);
}

}  // namespace
}  // namespace rt::test
