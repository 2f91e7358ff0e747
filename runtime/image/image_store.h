// The pixel store: what each platform provides so that the portable image
// library can turn identified data into the platform's image object (a
// QImage subclass on Linux, a DIB section on Windows) and free it again.
//
// Each platform defines ImageLibraryStart (image.h) beside its store, as
//     void ImageLibraryStart() { ImageLibraryStartWith(&kMyStore); }
// so a program that starts the image library always links its store.
#pragma once

#include "core/types.h"
#include "image/image_codec.h"

namespace rt {

struct ImageStore {
  // Makes the image for the data identified in `state` (width and height are
  // 1 to 65535, depth 24 or 32): allocates the pixel storage (sized with
  // ImageLayoutFor), lets ImageDecodeInto fill it and wraps it. The image
  // object, or null for no image. The library calls the finish function.
  void* (*create)(ImageDecodeState* state);
  // Frees an object that create made.
  void (*release)(void* image);
  // A view of the object's pixels for the encoders; false when there is none.
  bool (*pixels)(void* image, ImagePixels* view);
  // Null, or reads data the platform makes images of itself, before any
  // decoder is asked (Windows icon files): fills every field of `record` and
  // yields the image object, or null when the data is not of that kind (or
  // no image can be made of it) and the decoders are to be tried.
  void* (*adopt)(const uint8_t* data, int64_t length, ImageRecord* record);
};

// The largest pixel buffer an image may have. Larger pictures are refused,
// so hostile data cannot make the library reserve gigabytes.
constexpr size_t ImageMaxBufferBytes = size_t{256} << 20;
// The 16-bit record fields bound every side.
constexpr int32_t ImageMaxSide = 65535;

struct ImageLayout {
  int64_t stride;     // bytes per row: 3 or 4 per pixel, rounded up to 4
  size_t bufferSize;  // (height + 1) x stride
};

// False for a side outside 1..ImageMaxSide, a depth other than 24 or 32, or
// a buffer larger than ImageMaxBufferBytes.
bool ImageLayoutFor(int32_t width, int32_t height, int32_t depth, ImageLayout* layout);

// The shared part of every platform's ImageLibraryStart.
void ImageLibraryStartWith(const ImageStore* store);

}  // namespace rt
