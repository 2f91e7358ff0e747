// A pixel store of plain memory for the portable tests and the fuzzers: the
// image object holds the decoded buffer exactly as the library laid it out.
#pragma once

#include <cstdint>

#include "image/image_store.h"

namespace rt::test {

struct MemoryImage {
  uint8_t* buffer;  // SizedAlloc block of the layout's size
  int32_t width;
  int32_t height;
  int32_t depth;
  int64_t stride;
  int32_t decodeResult;  // what the decoder returned
};

// Objects made and not yet released; objects released so far.
int64_t MemoryImagesLive();
int64_t MemoryImagesReleased();

// The image of a live number, or null.
const MemoryImage* MemoryImageOf(int64_t number);

}  // namespace rt::test
