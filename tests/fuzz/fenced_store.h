// The image fuzzer's pixel store: plain memory, like the portable tests'
// store, but each buffer is mapped straight from the system and fenced by
// poisoned bytes instead of coming from AddressSanitizer's heap.
//
// The sanitizer's allocator poisons and clears the shadow of every block it
// hands out or takes back; for the buffer of a large declared image (the
// library allows 256 MiB) that alone costs 50 to 100 ms an input, more than
// a thousand ordinary inputs. A fresh mapping costs nothing until it is
// touched. The buffer starts on a page and ends where the poisoned bytes
// begin, so every access outside it is reported as for an exact-size heap
// block; a released buffer is unmapped, so a late access faults.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rt::fuzz {

struct FencedImage {
  uint8_t* buffer;  // the layout's size, zero-filled
  size_t bytes;     // what the store mapped for the pixels
  int32_t width;
  int32_t height;
  int32_t depth;
  int64_t stride;
  int32_t decodeResult;  // what the decoder returned
};

// The image of a live number, or null.
const FencedImage* FencedImageOf(int64_t number);
// Images made and not yet released.
int64_t FencedImagesLive();

}  // namespace rt::fuzz
