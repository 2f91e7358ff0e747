#include "image/image_codec.h"

#include <cstring>

#include "core/thread_slots.h"
#include "image/image_internal.h"

namespace rt {

namespace {

// Written only on the start-up thread while the libraries start.
constexpr int32_t kMaxCodecs = 16;
const ImageDecoder* g_decoders[kMaxCodecs];
int32_t g_decoderCount = 0;
const ImageEncoder* g_encoders[kMaxCodecs];
int32_t g_encoderCount = 0;

template <typename T>
int32_t Append(const T** list, int32_t* count, const T* item) {
  if (!item || *count >= kMaxCodecs) return *count;
  for (int32_t i = 0; i < *count; ++i) {
    if (list[i] == item) return *count;
  }
  list[(*count)++] = item;
  return *count;
}

}  // namespace

void ImageCodecListsReset() {
  g_decoderCount = 0;
  g_encoderCount = 0;
}

int32_t ImageDecoderRegister(const ImageDecoder* decoder) { return Append(g_decoders, &g_decoderCount, decoder); }
int32_t ImageEncoderRegister(const ImageEncoder* encoder) { return Append(g_encoders, &g_encoderCount, encoder); }
int32_t ImageDecoderCount() { return g_decoderCount; }

const ImageDecoder* ImageDecoderAt(int32_t index) {
  return index >= 0 && index < g_decoderCount ? g_decoders[index] : nullptr;
}

const ImageEncoder* ImageEncoderFind(ImageFormatCode format) {
  for (int32_t i = 0; i < g_encoderCount; ++i) {
    if (g_encoders[i]->format == format) return g_encoders[i];
  }
  return nullptr;
}

ImageDecodeState* ImageDecodeStateGet() {
  const int64_t slot = ImageDecodeStateSlot();
  return slot < 0 ? nullptr : static_cast<ImageDecodeState*>(ThreadSlotGet(slot));
}

ImageFormatCode ImageIdentify(ImageDecodeState* state, const void* data, int64_t length) {
  if (!state) return 0;
  std::memset(state, 0, sizeof *state);
  state->data = static_cast<const uint8_t*>(data);
  state->length = data && length > 0 ? length : 0;
  state->fromMemory = 1;
  state->frameCount = 1;
  state->frameDelay = 0;
  if (state->length == 0) return 0;
  for (int32_t i = 0; i < g_decoderCount; ++i) {
    const ImageDecoder* decoder = g_decoders[i];
    std::memset(state->decoderPrivate, 0, sizeof state->decoderPrivate);
    if (decoder->identify(state)) {
      state->decoder = decoder;
      return decoder->format;
    }
  }
  return 0;
}

int32_t ImageDecodeInto(ImageDecodeState* state, uint8_t* buffer, int64_t stride, int32_t flags) {
  if (!state || !state->decoder || !buffer || stride <= 0) return 0;
  return state->decoder->decode(state, buffer, stride, flags);
}

void ImageDecodeFinish(ImageDecodeState* state) {
  if (!state || !state->decoder) return;
  state->decoder->finish(state);
  state->decoder = nullptr;
}

}  // namespace rt
