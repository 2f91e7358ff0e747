// Links between the files of the image library; not for its users.
#pragma once

#include <cstdint>

namespace rt {

// The decode state's thread slot, reserved at library start (-1 before).
int64_t ImageDecodeStateSlot();

// Empties the decoder and encoder lists; the library's start refills them.
void ImageCodecListsReset();

}  // namespace rt
