#include "image/image.h"

#include "core/object_table.h"
#include "core/thread_slots.h"
#include "image/image_codec.h"
#include "image/image_internal.h"
#include "image/image_store.h"

namespace rt {

namespace {

// Set once at start-up, before a second thread exists.
ObjectTable* g_table = nullptr;
const ImageStore* g_store = nullptr;
int64_t g_stateSlot = -1;

// Makes the image for the identified data and fills the record.
void* CreateImage(ImageRecord* record, ImageDecodeState* state, ImageFormatCode format) {
  if (state->width < 1 || state->height < 1 || state->width > ImageMaxSide || state->height > ImageMaxSide) {
    return nullptr;
  }
  if (state->depth != 24 && state->depth != 32) return nullptr;
  void* image = g_store->create(state);
  if (!image) return nullptr;
  record->image = image;
  record->width = static_cast<uint16_t>(state->width);
  record->height = static_cast<uint16_t>(state->height);
  record->depth = static_cast<uint16_t>(state->depth);
  record->storedDepth = static_cast<uint16_t>(state->storedDepth);
  record->format = format;
  record->frameCount = static_cast<uint32_t>(state->frameCount);
  record->frames = nullptr;
  record->frameDelay = static_cast<uint32_t>(state->frameDelay);
  return image;
}

}  // namespace

int64_t ImageDecodeStateSlot() { return g_stateSlot; }

bool ImageLayoutFor(int32_t width, int32_t height, int32_t depth, ImageLayout* layout) {
  if (width < 1 || height < 1 || width > ImageMaxSide || height > ImageMaxSide) return false;
  if (depth != 24 && depth != 32) return false;
  // Both sides are at most 16 bits, so none of this overflows 64 bits.
  const uint64_t stride = (static_cast<uint64_t>(width) * static_cast<uint64_t>(depth / 8) + 3) & ~uint64_t{3};
  const uint64_t size = (static_cast<uint64_t>(height) + 1) * stride;
  if (size > ImageMaxBufferBytes) return false;
  layout->stride = static_cast<int64_t>(stride);
  layout->bufferSize = static_cast<size_t>(size);
  return true;
}

intptr_t ImageCatch(ObjectNumber number, const void* data, int64_t length) {
  if (!g_table || !g_store) return 0;
  auto* record = static_cast<ImageRecord*>(ObjectTableAllocate(g_table, number));
  if (!record) return 0;
  const ObjectNumber owner = number == DynamicNumber ? ObjectHandle(record) : number;

  void* image = nullptr;
  if (g_store->adopt && data && length > 0) image = g_store->adopt(static_cast<const uint8_t*>(data), length, record);
  if (!image) {
    ImageDecodeState* state = ImageDecodeStateGet();
    const ImageFormatCode format = ImageIdentify(state, data, length);
    if (format != 0) {
      image = CreateImage(record, state, format);
      ImageDecodeFinish(state);
    }
  }
  if (!image) {
    ObjectTableRelease(g_table, owner);
    return 0;
  }
  return number == DynamicNumber ? owner : reinterpret_cast<intptr_t>(image);
}

void* ImageObject(ObjectNumber number) {
  const ImageRecord* record = ImageRecordGet(number);
  return record ? record->image : nullptr;
}

const ImageRecord* ImageRecordGet(ObjectNumber number) {
  return g_table ? static_cast<const ImageRecord*>(ObjectTableGet(g_table, number)) : nullptr;
}

void ImageFree(ObjectNumber number) {
  if (!g_table) return;
  if (number == DynamicNumber) {
    ObjectTableReleaseAll(g_table);
    return;
  }
  auto* record = static_cast<ImageRecord*>(ObjectTableGet(g_table, number));
  if (!record) return;
  if (g_store) g_store->release(record->image);
  ObjectTableRelease(g_table, number);
}

void* ImageEncode(ObjectNumber number, ImageFormatCode format, int32_t depth, size_t* size) {
  if (size) *size = 0;
  const ImageRecord* record = ImageRecordGet(number);
  const ImageEncoder* encoder = ImageEncoderFind(format);
  if (!record || !encoder || !size || !g_store || !g_store->pixels) return nullptr;
  const ImageSaveFunction save = depth == 24 ? encoder->save24 : depth == 32 ? encoder->save32 : nullptr;
  ImagePixels view{};
  if (!save || !g_store->pixels(record->image, &view)) return nullptr;
  return save(&view, size);
}

void ImageLibraryStartWith(const ImageStore* store) {
  g_store = store;
  if (g_stateSlot < 0) g_stateSlot = ThreadSlotReserve(sizeof(ImageDecodeState), nullptr, nullptr);
  ImageCodecListsReset();
  ImageDecoderRegister(BmpImageDecoder());
  ImageEncoderRegister(BmpImageEncoder());
  // Tables live for the whole process; a restart keeps the one it has.
  if (!g_table) g_table = ObjectTableCreate(sizeof(ImageRecord), 16, ImageFree);
}

void ImageLibraryEnd() {
  if (g_table) ObjectTableReleaseAll(g_table);
}

}  // namespace rt
