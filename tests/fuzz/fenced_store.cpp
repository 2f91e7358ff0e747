#include "fenced_store.h"

#include <sanitizer/asan_interface.h>
#include <sys/mman.h>
#include <unistd.h>

#include <new>

#include "image/image.h"
#include "image/image_store.h"

namespace rt {

namespace {

int64_t g_live = 0;  // the fuzzer runs one input at a time on one thread

size_t PageSize() {
  static const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  return page;
}

// One poisoned page, the buffer, then poison to the end of its last page and
// one more page.
size_t MappingBytes(size_t bytes) {
  const size_t page = PageSize();
  return page + (bytes + page - 1) / page * page + page;
}

uint8_t* MapFenced(size_t bytes) {
  const size_t length = MappingBytes(bytes);
  void* mapping = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (mapping == MAP_FAILED) return nullptr;
  auto* start = static_cast<uint8_t*>(mapping);
  uint8_t* buffer = start + PageSize();
  ASAN_POISON_MEMORY_REGION(start, PageSize());
  ASAN_POISON_MEMORY_REGION(buffer + bytes, length - PageSize() - bytes);
  return buffer;
}

void UnmapFenced(uint8_t* buffer, size_t bytes) {
  uint8_t* start = buffer - PageSize();
  const size_t length = MappingBytes(bytes);
  // The shadow outlives the mapping: a later one at the same address must
  // not inherit the fences.
  ASAN_UNPOISON_MEMORY_REGION(start, length);
  munmap(start, length);
}

void* Create(ImageDecodeState* state) {
  ImageLayout layout;
  if (!ImageLayoutFor(state->width, state->height, state->depth, &layout)) return nullptr;
  uint8_t* buffer = MapFenced(layout.bufferSize);
  if (!buffer) return nullptr;
  auto* image = new (std::nothrow)
      fuzz::FencedImage{buffer, layout.bufferSize, state->width, state->height, state->depth, layout.stride, 0};
  if (!image) {
    UnmapFenced(buffer, layout.bufferSize);
    return nullptr;
  }
  image->decodeResult = ImageDecodeInto(state, buffer, layout.stride, 0);
  ++g_live;
  return image;
}

void Release(void* object) {
  auto* image = static_cast<fuzz::FencedImage*>(object);
  if (!image) return;
  UnmapFenced(image->buffer, image->bytes);
  delete image;
  --g_live;
}

bool Pixels(void* object, ImagePixels* view) {
  const auto* image = static_cast<const fuzz::FencedImage*>(object);
  if (!image) return false;
  *view = ImagePixels{image->buffer, image->width, image->height, image->stride, image->depth, 0};
  return true;
}

ImageStore MakeStore() {
  ImageStore store{};
  store.create = Create;
  store.release = Release;
  store.pixels = Pixels;
  return store;
}

const ImageStore kFencedStore = MakeStore();

}  // namespace

void ImageLibraryStart() { ImageLibraryStartWith(&kFencedStore); }

namespace fuzz {

const FencedImage* FencedImageOf(int64_t number) { return static_cast<const FencedImage*>(ImageObject(number)); }
int64_t FencedImagesLive() { return g_live; }

}  // namespace fuzz
}  // namespace rt
