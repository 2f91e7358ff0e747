// Numbered image objects, created by decoding image data held in memory.
// The portable half: the table, the decoder list and ImageCatch. What an
// image object is (a QImage subclass, a DIB section) is the platform's pixel
// store (image_store.h); callers outside the store see only its opaque
// handle (ImageHandle).
#pragma once

#include "core/types.h"

namespace rt {

// A format's three ASCII letters, the first in the lowest byte.
using ImageFormatCode = uint32_t;
constexpr ImageFormatCode ImageFormatPng = 0x474E50;  // P N G
constexpr ImageFormatCode ImageFormatBmp = 0x504D42;  // B M P
// Icon files, which the Windows store reads itself before any decoder.
constexpr ImageFormatCode ImageFormatIcon = 0x4E4F4349;  // I C O N

// What callers pass when the data describes its own end (the largest 32-bit
// signed value); decoders still never read past the data's own end.
constexpr int64_t ImageUnboundedLength = 0x7FFFFFFF;

// The element of the image table. The first word is the presence word.
struct ImageRecord {
  void* image;           // the platform's image object
  uint16_t width;
  uint16_t height;
  uint16_t depth;        // bits per pixel of the decoded buffer: 24 or 32
  uint16_t storedDepth;  // what the decoder reported for the stored data
  ImageFormatCode format;
  uint32_t frameCount;   // 1 for every decoder here
  void* frames;          // null for single-frame images
  uint32_t frameDelay;
};

// Decodes `length` bytes at `data` into image `number` (an image already
// there is freed first). For a static number the image object, for
// DynamicNumber the new record's handle; 0 when no decoder recognises the
// data or no image can be made (the number is then free).
intptr_t ImageCatch(ObjectNumber number, const void* data, int64_t length);
inline intptr_t ImageCatch(ObjectNumber number, const void* data) { return ImageCatch(number, data, ImageUnboundedLength); }

// The platform image object of a live image, or null.
void* ImageObject(ObjectNumber number);
// The same object as the platform's opaque handle, what a gadget displays:
// the KTQImage's address on Linux, the HBITMAP or HICON on Windows; 0 when
// the number names no image. Each platform's pixel store defines it, and only
// that platform's user-interface back end looks inside.
intptr_t ImageHandle(ObjectNumber number);
// The live record, or null.
const ImageRecord* ImageRecordGet(ObjectNumber number);

// The library's free function: DynamicNumber frees every image.
void ImageFree(ObjectNumber number);

// Registers the PNG decoder behind the decoders already there; later calls
// do nothing. Yields the decoder count.
int32_t RegisterPngDecoder();

// Encodes a live image with the encoder registered for `format` at `depth`
// (24 or 32). A new SizedAlloc block holding the encoded bytes (its size in
// *size), or null when there is no such image or encoder, or memory runs out.
void* ImageEncode(ObjectNumber number, ImageFormatCode format, int32_t depth, size_t* size);

// Start-up: reserves the decode state's thread slot, registers the BMP
// decoder and encoder and creates the table. Each platform defines it in its
// pixel store, where it hands its store to ImageLibraryStartWith
// (image_store.h). Calling it again after ImageLibraryEnd is harmless.
void ImageLibraryStart();
// Shut-down: frees every image.
void ImageLibraryEnd();

}  // namespace rt
