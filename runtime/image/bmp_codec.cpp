// Windows bitmap files: uncompressed 1, 4, 8, 24 and 32 bits per pixel,
// bottom-up or top-down, decoded to 24-bit pixels; saved as 24- or 32-bit
// bottom-up files. Every read is checked against the end of the data.
#include <cstring>
#include <new>

#include "core/memory.h"
#include "image/image_codec.h"
#include "image/image_store.h"

namespace rt {

namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr size_t kInfoHeaderSize = 40;  // BITMAPINFOHEADER; later versions extend it
constexpr size_t kMaxInfoHeaderSize = 124;  // BITMAPV5HEADER
constexpr uint32_t kCompressionNone = 0;  // BI_RGB

uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Read32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
void Write16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Write32(uint8_t* p, uint32_t v) {
  Write16(p, v);
  Write16(p + 2, v >> 16);
}

struct BmpPrivate {
  uint64_t limit;         // bytes of the data that belong to the file
  uint64_t pixelOffset;   // first byte of the bottom (or, top-down, top) row
  uint64_t rowBytes;      // one stored row, padding included
  uint64_t usedRowBytes;  // the bytes of a row that hold pixels
  uint64_t paletteOffset;
  uint32_t paletteCount;
  int32_t bitCount;
  int32_t topDown;
};
static_assert(sizeof(BmpPrivate) <= ImageDecoderPrivateSize, "BMP fields do not fit the decode state");

BmpPrivate* Private(ImageDecodeState* state) { return std::launder(reinterpret_cast<BmpPrivate*>(state->decoderPrivate)); }

int32_t Identify(ImageDecodeState* state) {
  if (!state->fromMemory) return 0;
  const uint8_t* d = state->data;
  const uint64_t length = static_cast<uint64_t>(state->length);
  if (length < kFileHeaderSize + kInfoHeaderSize) return 0;
  if (d[0] != 'B' || d[1] != 'M' || Read16(d + 6) != 0 || Read16(d + 8) != 0) return 0;

  // The file states its own size; callers may pass an unbounded length.
  const uint64_t fileSize = Read32(d + 2);
  const uint64_t limit = fileSize >= kFileHeaderSize + kInfoHeaderSize && fileSize < length ? fileSize : length;
  const uint32_t headerSize = Read32(d + 14);
  if (headerSize < kInfoHeaderSize || headerSize > kMaxInfoHeaderSize || kFileHeaderSize + headerSize > limit) return 0;

  const auto width = static_cast<int32_t>(Read32(d + 18));
  const auto height = static_cast<int32_t>(Read32(d + 22));
  const int32_t bitCount = Read16(d + 28);
  const uint32_t compression = Read32(d + 30);
  if (width < 1 || width > ImageMaxSide || height == 0 || height < -ImageMaxSide || height > ImageMaxSide) return 0;
  if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24 && bitCount != 32) return 0;
  if (compression != kCompressionNone) return 0;

  BmpPrivate* p = new (state->decoderPrivate) BmpPrivate();
  p->limit = limit;
  p->bitCount = bitCount;
  p->topDown = height < 0;
  p->usedRowBytes = (static_cast<uint64_t>(width) * static_cast<uint64_t>(bitCount) + 7) / 8;
  p->rowBytes = (static_cast<uint64_t>(width) * static_cast<uint64_t>(bitCount) + 31) / 32 * 4;
  p->paletteOffset = kFileHeaderSize + headerSize;
  if (bitCount <= 8) {
    const uint32_t most = 1u << bitCount;
    const uint32_t used = Read32(d + 46);
    p->paletteCount = used == 0 || used > most ? most : used;
    // A palette cut short by the end of the data keeps the entries that are there.
    const uint64_t room = limit > p->paletteOffset ? (limit - p->paletteOffset) / 4 : 0;
    if (room < p->paletteCount) p->paletteCount = static_cast<uint32_t>(room);
  }
  p->pixelOffset = Read32(d + 10);
  if (p->pixelOffset < p->paletteOffset || p->pixelOffset >= limit) return 0;

  state->width = width;
  state->height = height < 0 ? -height : height;
  state->depth = 24;
  state->storedDepth = bitCount;
  return 1;
}

// One stored row into 24-bit output pixels.
void ConvertRow(const ImageDecodeState* state, const BmpPrivate* p, const uint8_t* source, uint8_t* out, bool bgr) {
  const int r = bgr ? 2 : 0;
  const int b = bgr ? 0 : 2;
  const uint8_t* palette = state->data + p->paletteOffset;
  for (int32_t x = 0; x < state->width; ++x, out += 3) {
    uint8_t blue, green, red;
    if (p->bitCount >= 24) {
      const uint8_t* pixel = source + static_cast<size_t>(x) * static_cast<size_t>(p->bitCount / 8);
      blue = pixel[0];
      green = pixel[1];
      red = pixel[2];
    } else {
      const int perByte = 8 / p->bitCount;
      const int shift = 8 - p->bitCount * (x % perByte + 1);
      const uint32_t index = (source[x / perByte] >> shift) & ((1u << p->bitCount) - 1);
      // An index past the palette reads as black rather than past the table.
      if (index < p->paletteCount) {
        blue = palette[index * 4];
        green = palette[index * 4 + 1];
        red = palette[index * 4 + 2];
      } else {
        blue = green = red = 0;
      }
    }
    out[r] = red;
    out[1] = green;
    out[b] = blue;
  }
}

int32_t Decode(ImageDecodeState* state, uint8_t* buffer, int64_t stride, int32_t flags) {
  const BmpPrivate* p = Private(state);
  if (stride < static_cast<int64_t>(state->width) * 3) return 0;
  const int64_t height = state->height;
  // Rows go in file order, so data cut short still yields the rows stored first.
  for (int64_t stored = 0; stored < height; ++stored) {
    const uint64_t start = p->pixelOffset + static_cast<uint64_t>(stored) * p->rowBytes;
    if (start > p->limit || p->limit - start < p->usedRowBytes) return 0;
    const int64_t y = p->topDown ? stored : height - 1 - stored;  // picture row, top = 0
    const int64_t row = flags & ImageDecodeBottomUp ? height - 1 - y : y;
    ConvertRow(state, p, state->data + start, buffer + row * stride, (flags & ImageDecodeBgr) != 0);
  }
  return 1;
}

void Finish(ImageDecodeState*) {}

// Writes a bottom-up BI_RGB file of 3 or 4 bytes a pixel.
void* Save(const ImagePixels* pixels, size_t* size, int32_t outDepth) {
  if (!size) return nullptr;
  *size = 0;
  if (!pixels || !pixels->bits || pixels->width < 1 || pixels->height < 1 || pixels->width > ImageMaxSide ||
      pixels->height > ImageMaxSide || (pixels->depth != 24 && pixels->depth != 32)) {
    return nullptr;
  }
  const int32_t inBytes = pixels->depth / 8;
  const int32_t outBytes = outDepth / 8;
  if (pixels->stride < static_cast<int64_t>(pixels->width) * inBytes) return nullptr;
  const uint64_t rowBytes = (static_cast<uint64_t>(pixels->width) * static_cast<uint64_t>(outBytes) + 3) & ~uint64_t{3};
  const uint64_t pixelBytes = rowBytes * static_cast<uint64_t>(pixels->height);
  const uint64_t total = kFileHeaderSize + kInfoHeaderSize + pixelBytes;
  if (total > 0xFFFFFFFFu) return nullptr;  // the size field is 32 bits
  auto* file = static_cast<uint8_t*>(SizedAlloc(static_cast<size_t>(total)));
  if (!file) return nullptr;

  file[0] = 'B';
  file[1] = 'M';
  Write32(file + 2, static_cast<uint32_t>(total));
  Write32(file + 10, kFileHeaderSize + kInfoHeaderSize);
  uint8_t* info = file + kFileHeaderSize;
  Write32(info, kInfoHeaderSize);
  Write32(info + 4, static_cast<uint32_t>(pixels->width));
  Write32(info + 8, static_cast<uint32_t>(pixels->height));
  Write16(info + 12, 1);
  Write16(info + 14, static_cast<uint32_t>(outDepth));
  Write32(info + 16, kCompressionNone);
  Write32(info + 20, static_cast<uint32_t>(pixelBytes));
  Write32(info + 24, 2835);  // 72 dots per inch
  Write32(info + 28, 2835);

  const bool sourceBgr = (pixels->flags & ImageDecodeBgr) != 0;
  const bool sourceBottomUp = (pixels->flags & ImageDecodeBottomUp) != 0;
  uint8_t* out = file + kFileHeaderSize + kInfoHeaderSize;
  for (int32_t stored = 0; stored < pixels->height; ++stored, out += rowBytes) {
    // Stored row 0 is the picture's bottom row.
    const int64_t y = pixels->height - 1 - stored;
    const int64_t memoryRow = sourceBottomUp ? pixels->height - 1 - y : y;
    const uint8_t* in = pixels->bits + memoryRow * pixels->stride;
    uint8_t* o = out;
    for (int32_t x = 0; x < pixels->width; ++x, in += inBytes, o += outBytes) {
      o[0] = sourceBgr ? in[0] : in[2];
      o[1] = in[1];
      o[2] = sourceBgr ? in[2] : in[0];
      if (outBytes == 4) o[3] = inBytes == 4 ? in[3] : 0xFF;
    }
  }
  *size = static_cast<size_t>(total);
  return file;
}

void* Save24(const ImagePixels* pixels, size_t* size) { return Save(pixels, size, 24); }
void* Save32(const ImagePixels* pixels, size_t* size) { return Save(pixels, size, 32); }

const ImageDecoder kBmpDecoder = {Identify, Decode, Finish, ImageFormatBmp};
const ImageEncoder kBmpEncoder = {ImageFormatBmp, Save24, Save32};

}  // namespace

const ImageDecoder* BmpImageDecoder() { return &kBmpDecoder; }
const ImageEncoder* BmpImageEncoder() { return &kBmpEncoder; }

}  // namespace rt
