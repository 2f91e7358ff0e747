#include "memory_store.h"

#include <atomic>
#include <new>

#include "core/memory.h"
#include "image/image.h"

namespace rt {

namespace {

std::atomic<int64_t> g_live{0};
std::atomic<int64_t> g_released{0};

void* Create(ImageDecodeState* state) {
  ImageLayout layout;
  if (!ImageLayoutFor(state->width, state->height, state->depth, &layout)) return nullptr;
  auto* buffer = static_cast<uint8_t*>(SizedAlloc(layout.bufferSize));
  if (!buffer) return nullptr;
  auto* image = new (std::nothrow) test::MemoryImage{buffer, state->width, state->height, state->depth, layout.stride, 0};
  if (!image) {
    SizedFree(buffer);
    return nullptr;
  }
  image->decodeResult = ImageDecodeInto(state, buffer, layout.stride, 0);
  g_live.fetch_add(1);
  return image;
}

void Release(void* object) {
  auto* image = static_cast<test::MemoryImage*>(object);
  if (!image) return;
  SizedFree(image->buffer);
  delete image;
  g_live.fetch_sub(1);
  g_released.fetch_add(1);
}

bool Pixels(void* object, ImagePixels* view) {
  const auto* image = static_cast<const test::MemoryImage*>(object);
  if (!image) return false;
  *view = ImagePixels{image->buffer, image->width, image->height, image->stride, image->depth, 0};
  return true;
}

const ImageStore kMemoryStore = {Create, Release, Pixels, nullptr};

}  // namespace

void ImageLibraryStart() { ImageLibraryStartWith(&kMemoryStore); }
intptr_t ImageHandle(ObjectNumber number) { return reinterpret_cast<intptr_t>(ImageObject(number)); }

namespace test {

int64_t MemoryImagesLive() { return g_live.load(); }
int64_t MemoryImagesReleased() { return g_released.load(); }

const MemoryImage* MemoryImageOf(int64_t number) { return static_cast<const MemoryImage*>(ImageObject(number)); }

}  // namespace test
}  // namespace rt
