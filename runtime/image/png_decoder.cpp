// PNG from memory on libpng. libpng reports errors by a long jump back to
// the set-jump point armed in identify and in decode; every frame the jump
// can cross (ours and libpng's) holds only trivially destructible objects.
#include <png.h>

#include <cstring>
#include <new>

#include "image/image_codec.h"
#include "image/image_store.h"

namespace rt {

namespace {

// The version this decoder is written against; any 1.6 library accepts it.
constexpr char kPngVersion[] = "1.6.37";

// Pixel data is fetched in blocks of this size. A block that the data cannot
// fill is refused whole, so data cut short loses at most this much before
// its end; smaller blocks cost only more (cheap) read calls.
constexpr size_t kReadBlock = 1024;

struct PngPrivate {
  png_structp png;
  png_infop info;
  const png_byte* cursor;
  size_t remaining;  // bytes between the cursor and the end of the data
  int colourType;    // as stored
  int bitDepth;      // as stored
};
static_assert(sizeof(PngPrivate) <= ImageDecoderPrivateSize, "PNG fields do not fit the decode state");
static_assert(alignof(PngPrivate) <= 8, "PNG fields need a stronger alignment");

PngPrivate* Private(ImageDecodeState* state) { return std::launder(reinterpret_cast<PngPrivate*>(state->decoderPrivate)); }

// Errors jump without a word to stderr; warnings are ignored.
[[noreturn]] void SilentError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void IgnoreWarning(png_structp, png_const_charp) {}

// A read past the end of the data is an error: libpng gets no bytes it would
// take for image data, and the decode ends cleanly instead of reading on.
void ReadFromMemory(png_structp png, png_bytep out, size_t count) {
  auto* p = static_cast<PngPrivate*>(png_get_io_ptr(png));
  if (count > p->remaining) png_error(png, "unexpected end of PNG data");
  std::memcpy(out, p->cursor, count);
  p->cursor += count;
  p->remaining -= count;
}

// Reads the header and sets every transform, so that rows come out as 8-bit
// RGB or RGBA of exactly width x 3 or 4 bytes. libpng allows the transforms
// to be set only before png_read_update_info, and that only once, so all of
// them (the 16-bit strip included) are chosen here.
int32_t ReadHeader(ImageDecodeState* state, PngPrivate* p) {
  png_structp png = p->png;
  png_set_user_limits(png, ImageMaxSide, ImageMaxSide);
  // Only IHDR, PLTE, tRNS, IDAT and IEND shape the pixels we make. Every
  // other chunk is skipped rather than parsed, stored or decompressed: a
  // compressed text chunk alone makes libpng allocate its declared length
  // (up to 8 MB) before it finds the data cut short.
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
  png_set_read_fn(png, p, ReadFromMemory);
  png_set_compression_buffer_size(png, kReadBlock);  // on a read structure: the IDAT read size
  p->info = png_create_info_struct(png);
  if (!p->info) png_error(png, "out of memory");
  png_read_info(png, p->info);

  png_uint_32 width = 0, height = 0;
  int bitDepth = 0, colourType = 0;
  png_get_IHDR(png, p->info, &width, &height, &bitDepth, &colourType, nullptr, nullptr, nullptr);
  p->colourType = colourType;
  p->bitDepth = bitDepth;

  // With transparency, RGB and palette data read as RGB with alpha and
  // greyscale as greyscale with alpha, at 8 bits or more.
  int reportedType = colourType;
  int reportedDepth = bitDepth;
  if (png_get_valid(png, p->info, PNG_INFO_tRNS)) {
    png_set_tRNS_to_alpha(png);
    if (colourType == PNG_COLOR_TYPE_RGB || colourType == PNG_COLOR_TYPE_PALETTE) reportedType = PNG_COLOR_TYPE_RGB_ALPHA;
    if (colourType == PNG_COLOR_TYPE_GRAY) reportedType = PNG_COLOR_TYPE_GRAY_ALPHA;
    if (reportedDepth < 8) reportedDepth = 8;
  }
  if (bitDepth == 16) png_set_strip_16(png);

  int storedDepth;
  if (reportedType == PNG_COLOR_TYPE_RGB) {
    storedDepth = 24;
  } else if (reportedType == PNG_COLOR_TYPE_RGB_ALPHA) {
    storedDepth = 32;
  } else {
    storedDepth = reportedDepth;
    if (bitDepth < 8) png_set_expand(png);
    if (colourType == PNG_COLOR_TYPE_PALETTE) {
      png_set_palette_to_rgb(png);
    } else {
      png_set_gray_to_rgb(png);
    }
  }
  png_set_interlace_handling(png);
  png_read_update_info(png, p->info);

  int outType = 0, outDepth = 0;
  png_get_IHDR(png, p->info, &width, &height, &outDepth, &outType, nullptr, nullptr, nullptr);
  if (outDepth != 8 || (outType != PNG_COLOR_TYPE_RGB && outType != PNG_COLOR_TYPE_RGB_ALPHA)) {
    png_error(png, "unexpected output format");
  }
  const int depth = outType == PNG_COLOR_TYPE_RGB ? 24 : 32;
  // Every row must fit the row the pixel store lays out for it.
  if (png_get_rowbytes(png, p->info) != static_cast<size_t>(width) * static_cast<size_t>(depth / 8)) {
    png_error(png, "unexpected row size");
  }
  state->width = static_cast<int32_t>(width);
  state->height = static_cast<int32_t>(height);
  state->depth = depth;
  state->storedDepth = storedDepth;
  return 1;
}

int32_t Identify(ImageDecodeState* state) {
  if (!state->fromMemory || state->length < 8 || png_sig_cmp(state->data, 0, 8) != 0) return 0;
  PngPrivate* p = new (state->decoderPrivate) PngPrivate();
  p->cursor = state->data;
  p->remaining = static_cast<size_t>(state->length);
  p->png = png_create_read_struct(kPngVersion, nullptr, SilentError, IgnoreWarning);
  if (!p->png) return 0;
  if (setjmp(png_jmpbuf(p->png))) {
    png_destroy_read_struct(&p->png, &p->info, nullptr);
    return 0;
  }
  return ReadHeader(state, p);
}

int32_t ReadRows(ImageDecodeState* state, PngPrivate* p, uint8_t* buffer, int64_t stride, int32_t flags) {
  png_structp png = p->png;
  if (static_cast<uint64_t>(stride) < png_get_rowbytes(png, p->info)) return 0;
  if (flags & ImageDecodeBgr) png_set_bgr(png);
  const int passes = png_set_interlace_handling(png);
  const int64_t height = state->height;
  for (int pass = 0; pass < passes; ++pass) {
    for (int64_t y = 0; y < height; ++y) {
      const int64_t row = flags & ImageDecodeBottomUp ? height - 1 - y : y;
      png_bytep pointer = buffer + row * stride;
      png_read_rows(png, &pointer, nullptr, 1);
    }
  }
  return 1;
}

int32_t Decode(ImageDecodeState* state, uint8_t* buffer, int64_t stride, int32_t flags) {
  PngPrivate* p = Private(state);
  if (!p->png || !p->info) return 0;
  if (setjmp(png_jmpbuf(p->png))) return 0;
  return ReadRows(state, p, buffer, stride, flags);
}

void Finish(ImageDecodeState* state) {
  PngPrivate* p = Private(state);
  if (p->png) png_destroy_read_struct(&p->png, &p->info, nullptr);
  p->png = nullptr;
  p->info = nullptr;
}

const ImageDecoder kPngDecoder = {Identify, Decode, Finish, ImageFormatPng};

}  // namespace

const ImageDecoder* PngImageDecoder() { return &kPngDecoder; }

int32_t RegisterPngDecoder() { return ImageDecoderRegister(&kPngDecoder); }

}  // namespace rt
