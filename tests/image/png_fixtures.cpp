#include "png_fixtures.h"

#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstring>

namespace rt::test {

namespace {

int MaxSample(const PngOptions& o) { return (1 << o.bitDepth) - 1; }

// Samples at the stored bit depth, before any expansion.
struct Stored {
  unsigned v[4];  // grey: v[0] (and alpha v[1]); colour: r, g, b (, a); palette: index
};

Stored StoredPixel(const PngOptions& o, int x, int y) {
  Stored s{};
  const bool key = o.transparency && ((x / 4 + y / 3) % 3 == 0);
  switch (o.colourType) {
    case PNG_COLOR_TYPE_RGB:
    case PNG_COLOR_TYPE_RGB_ALPHA: {
      // Non-key pixels have a red sample of 128 or more, so only the key
      // pixels match the transparent colour (1, 2, 3).
      unsigned r = 128 + ((x * 7 + y * 3) & 127), g = (x ^ (y * 5)) & 255, b = (x * y + 11) & 255;
      if (key) r = 1, g = 2, b = 3;
      s.v[0] = r, s.v[1] = g, s.v[2] = b, s.v[3] = (x + y * 13) & 255;
      if (o.bitDepth == 16) {
        for (unsigned& v : s.v) v *= 257;
      }
      break;
    }
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_GRAY_ALPHA: {
      const int max = MaxSample(o.bitDepth == 16 ? PngOptions{0, 0, 0, 8} : o);
      // Key pixels are 0, the others never are.
      unsigned g = 1 + static_cast<unsigned>((x * 5 + y * 9) % max);
      if (key) g = 0;
      s.v[0] = o.bitDepth == 16 ? g * 257 : g;
      const unsigned a = (x * 3 + y) & 255;
      s.v[1] = o.bitDepth == 16 ? a * 257 : a;
      break;
    }
    case PNG_COLOR_TYPE_PALETTE:
      s.v[0] = static_cast<unsigned>(x + 2 * y) % static_cast<unsigned>(1 << o.bitDepth);
      break;
  }
  return s;
}

png_color PaletteEntry(int i) {
  return png_color{static_cast<png_byte>(i * 37), static_cast<png_byte>(i * 91), static_cast<png_byte>(255 - i * 13)};
}
png_byte PaletteAlpha(int i) { return static_cast<png_byte>(i * 51 + 3); }
constexpr int kPaletteAlphaCount = 12;  // entries past these are opaque

int Channels(const PngOptions& o) {
  switch (o.colourType) {
    case PNG_COLOR_TYPE_RGB: return 3;
    case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    default: return 1;
  }
}

std::vector<uint8_t> StoredRow(const PngOptions& o, int y) {
  const int channels = Channels(o);
  const size_t bits = static_cast<size_t>(o.width) * channels * o.bitDepth;
  std::vector<uint8_t> row((bits + 7) / 8, 0);
  size_t bit = 0;
  for (int x = 0; x < o.width; ++x) {
    const Stored s = StoredPixel(o, x, y);
    for (int c = 0; c < channels; ++c) {
      const unsigned v = s.v[c];
      if (o.bitDepth == 16) {
        row[bit / 8] = static_cast<uint8_t>(v >> 8);
        row[bit / 8 + 1] = static_cast<uint8_t>(v);
      } else if (o.bitDepth == 8) {
        row[bit / 8] = static_cast<uint8_t>(v);
      } else {
        row[bit / 8] |= static_cast<uint8_t>(v << (8 - o.bitDepth - bit % 8));
      }
      bit += static_cast<size_t>(o.bitDepth);
    }
  }
  return row;
}

void Sink(png_structp png, png_bytep data, size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}
void Flush(png_structp) {}

// Holds no object with a destructor: libpng may jump out of it.
bool Write(const PngOptions* o, png_bytepp rows, std::vector<uint8_t>* out) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, out, Sink, Flush);
  if (o->compressionLevel >= 0) png_set_compression_level(png, o->compressionLevel);
  png_set_IHDR(png, info, static_cast<png_uint_32>(o->width), static_cast<png_uint_32>(o->height), o->bitDepth,
               o->colourType, o->interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_color palette[256];
  png_byte alpha[256];
  if (o->colourType == PNG_COLOR_TYPE_PALETTE) {
    const int n = 1 << o->bitDepth;
    for (int i = 0; i < n; ++i) palette[i] = PaletteEntry(i);
    png_set_PLTE(png, info, palette, n);
    if (o->transparency) {
      const int count = n < kPaletteAlphaCount ? n : kPaletteAlphaCount;
      for (int i = 0; i < count; ++i) alpha[i] = PaletteAlpha(i);
      png_set_tRNS(png, info, alpha, count, nullptr);
    }
  } else if (o->transparency) {
    png_color_16 key{};
    if (o->colourType == PNG_COLOR_TYPE_RGB) {
      const unsigned scale = o->bitDepth == 16 ? 257 : 1;
      key.red = static_cast<png_uint_16>(1 * scale);
      key.green = static_cast<png_uint_16>(2 * scale);
      key.blue = static_cast<png_uint_16>(3 * scale);
    }
    png_set_tRNS(png, info, nullptr, 0, &key);  // grey key: 0
  }
  png_write_info(png, info);
  png_write_image(png, rows);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

void PutChunk(std::vector<uint8_t>* out, const char* type, const std::vector<uint8_t>& data) {
  const uint32_t n = static_cast<uint32_t>(data.size());
  const uint8_t length[4] = {static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 8),
                             static_cast<uint8_t>(n)};
  out->insert(out->end(), length, length + 4);
  const size_t start = out->size();
  out->insert(out->end(), type, type + 4);
  out->insert(out->end(), data.begin(), data.end());
  const uLong crc = crc32(0L, out->data() + start, static_cast<uInt>(out->size() - start));
  const uint8_t c[4] = {static_cast<uint8_t>(crc >> 24), static_cast<uint8_t>(crc >> 16), static_cast<uint8_t>(crc >> 8),
                        static_cast<uint8_t>(crc)};
  out->insert(out->end(), c, c + 4);
}

}  // namespace

std::vector<uint8_t> MakePng(const PngOptions& options) {
  std::vector<std::vector<uint8_t>> stored;
  std::vector<png_bytep> rows;
  for (int y = 0; y < options.height; ++y) stored.push_back(StoredRow(options, y));
  for (auto& row : stored) rows.push_back(row.data());
  std::vector<uint8_t> out;
  if (!Write(&options, rows.data(), &out)) out.clear();
  return out;
}

Rgba ExpectedPixel(const PngOptions& o, int x, int y) {
  const Stored s = StoredPixel(o, x, y);
  const unsigned shift = o.bitDepth == 16 ? 8 : 0;
  switch (o.colourType) {
    case PNG_COLOR_TYPE_RGB: {
      const bool key = o.transparency && (s.v[0] >> shift) == 1 && (s.v[1] >> shift) == 2 && (s.v[2] >> shift) == 3;
      return Rgba{static_cast<uint8_t>(s.v[0] >> shift), static_cast<uint8_t>(s.v[1] >> shift),
                  static_cast<uint8_t>(s.v[2] >> shift), static_cast<uint8_t>(key ? 0 : 255)};
    }
    case PNG_COLOR_TYPE_RGB_ALPHA:
      return Rgba{static_cast<uint8_t>(s.v[0] >> shift), static_cast<uint8_t>(s.v[1] >> shift),
                  static_cast<uint8_t>(s.v[2] >> shift), static_cast<uint8_t>(s.v[3] >> shift)};
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_GRAY_ALPHA: {
      unsigned g = s.v[0];
      if (o.bitDepth == 16) g >>= 8;
      if (o.bitDepth < 8) g = g * 255 / static_cast<unsigned>(MaxSample(o));
      uint8_t a = 255;
      if (o.colourType == PNG_COLOR_TYPE_GRAY_ALPHA) a = static_cast<uint8_t>(s.v[1] >> shift);
      if (o.transparency && s.v[0] == 0) a = 0;
      return Rgba{static_cast<uint8_t>(g), static_cast<uint8_t>(g), static_cast<uint8_t>(g), a};
    }
    default: {
      const int i = static_cast<int>(s.v[0]);
      const png_color c = PaletteEntry(i);
      const uint8_t a = o.transparency && i < kPaletteAlphaCount ? PaletteAlpha(i) : 255;
      return Rgba{c.red, c.green, c.blue, a};
    }
  }
}

int ExpectedDepth(const PngOptions& o) {
  if (o.colourType == PNG_COLOR_TYPE_RGB_ALPHA || o.colourType == PNG_COLOR_TYPE_GRAY_ALPHA) return 32;
  return o.transparency ? 32 : 24;
}

int ExpectedStoredDepth(const PngOptions& o) {
  if (o.colourType == PNG_COLOR_TYPE_RGB) return o.transparency ? 32 : 24;
  if (o.colourType == PNG_COLOR_TYPE_RGB_ALPHA) return 32;
  if (o.colourType == PNG_COLOR_TYPE_PALETTE && o.transparency) return 32;
  if (o.transparency && o.bitDepth < 8) return 8;
  return o.bitDepth;
}

std::string Describe(const PngOptions& o) {
  static const char* const names[] = {"grey", "?", "rgb", "palette", "grey-alpha", "?", "rgba"};
  std::string s = std::string(names[o.colourType]) + "-" + std::to_string(o.bitDepth) + "bit-" +
                  std::to_string(o.width) + "x" + std::to_string(o.height);
  if (o.interlaced) s += "-interlaced";
  if (o.transparency) s += "-trns";
  return s;
}

std::vector<uint8_t> MakePngHeaderOnly(uint32_t width, uint32_t height, int bitDepth, int colourType) {
  std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> ihdr = {static_cast<uint8_t>(width >> 24),  static_cast<uint8_t>(width >> 16),
                               static_cast<uint8_t>(width >> 8),   static_cast<uint8_t>(width),
                               static_cast<uint8_t>(height >> 24), static_cast<uint8_t>(height >> 16),
                               static_cast<uint8_t>(height >> 8),  static_cast<uint8_t>(height),
                               static_cast<uint8_t>(bitDepth),     static_cast<uint8_t>(colourType),
                               0,                                  0,
                               0};
  PutChunk(&out, "IHDR", ihdr);
  // A few rows' worth of zero pixels, far fewer than the header asks for.
  std::vector<uint8_t> raw(4096, 0);
  std::vector<uint8_t> packed(compressBound(static_cast<uLong>(raw.size())));
  uLongf packedSize = static_cast<uLongf>(packed.size());
  compress(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()));
  packed.resize(packedSize);
  PutChunk(&out, "IDAT", packed);
  PutChunk(&out, "IEND", {});
  return out;
}

}  // namespace rt::test
