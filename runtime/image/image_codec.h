// The decoder and encoder lists and the per-thread decode state they share.
// Decoders are tried in registration order; the first that recognises the
// data decodes it into a pixel store the platform provides (image_store.h).
#pragma once

#include "core/types.h"
#include "image/image.h"

namespace rt {

struct ImageDecoder;

// Room for each decoder's own fields (libpng structures, read cursor, ...).
constexpr size_t ImageDecoderPrivateSize = 96;

// One per thread (a thread slot), so images decode on several threads at once.
struct ImageDecodeState {
  const ImageDecoder* decoder;  // null until one recognised the data
  const uint8_t* data;
  int64_t length;
  int32_t fromMemory;  // always set: every source is a block of memory
  int32_t width;
  int32_t height;
  int32_t depth;        // of the decoded pixels: 24 or 32
  int32_t storedDepth;  // as the data stores it
  int32_t frameCount;
  int32_t frameDelay;
  // Cleared before each decoder's identify function runs.
  alignas(8) unsigned char decoderPrivate[ImageDecoderPrivateSize];
};

// Decode flags. Without flags rows go top-down in red, green, blue(, alpha) order.
constexpr int32_t ImageDecodeBottomUp = 2;  // the last row first in memory
constexpr int32_t ImageDecodeBgr = 4;       // blue, green, red(, alpha)

struct ImageDecoder {
  // Nonzero when the data is recognised; then width, height, depth and
  // stored depth are filled and the decoder may hold resources until finish.
  int32_t (*identify)(ImageDecodeState* state);
  // Fills `buffer`, whose rows are `stride` bytes apart; nonzero on success.
  // On failure the rows decoded so far stay.
  int32_t (*decode)(ImageDecodeState* state, uint8_t* buffer, int64_t stride, int32_t flags);
  // Releases what identify and decode held.
  void (*finish)(ImageDecodeState* state);
  ImageFormatCode format;
};

// A read-only view of an image's pixels, for encoders. `flags` use the decode
// flags: ImageDecodeBottomUp when `bits` is the last row, ImageDecodeBgr for
// blue-first pixels.
struct ImagePixels {
  const uint8_t* bits;
  int32_t width;
  int32_t height;
  int64_t stride;
  int32_t depth;  // 24 or 32
  int32_t flags;
};

// A new SizedAlloc block holding the encoded image (its size in *size), or null.
using ImageSaveFunction = void* (*)(const ImagePixels* pixels, size_t* size);

struct ImageEncoder {
  ImageFormatCode format;
  ImageSaveFunction save24;
  ImageSaveFunction save32;
};

// Appends to the process-wide lists (start-up thread only); the new count.
// A full list, a null record or one already registered leaves the count as it is.
int32_t ImageDecoderRegister(const ImageDecoder* decoder);
int32_t ImageEncoderRegister(const ImageEncoder* encoder);
int32_t ImageDecoderCount();
const ImageDecoder* ImageDecoderAt(int32_t index);
const ImageEncoder* ImageEncoderFind(ImageFormatCode format);

// The calling thread's state, or null before the library started (or when
// memory runs out).
ImageDecodeState* ImageDecodeStateGet();

// Clears `state`, points it at the data and asks each decoder in turn. The
// winner's format code, or 0 when none recognises the data.
ImageFormatCode ImageIdentify(ImageDecodeState* state, const void* data, int64_t length);
// The current decoder's decode and finish functions; nothing without one.
int32_t ImageDecodeInto(ImageDecodeState* state, uint8_t* buffer, int64_t stride, int32_t flags);
void ImageDecodeFinish(ImageDecodeState* state);

// The built-in codecs.
const ImageDecoder* PngImageDecoder();
const ImageDecoder* BmpImageDecoder();
const ImageEncoder* BmpImageEncoder();

}  // namespace rt
