// Test pictures written with libpng's own encoder, in every colour type the
// decoder handles, with the pixels the decoder must produce for each.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace rt::test {

struct PngOptions {
  int width = 400;
  int height = 60;
  int colourType = 2;  // PNG_COLOR_TYPE_RGB
  int bitDepth = 8;
  bool interlaced = false;
  bool transparency = false;  // a tRNS chunk (RGB, grey and palette only)
  int compressionLevel = -1;  // -1: libpng's default
};

struct Rgba {
  uint8_t r, g, b, a;
};

std::vector<uint8_t> MakePng(const PngOptions& options);

// What decoding must yield at (x, y): 8-bit samples, alpha 255 where the
// picture has none.
Rgba ExpectedPixel(const PngOptions& options, int x, int y);
int ExpectedDepth(const PngOptions& options);
int ExpectedStoredDepth(const PngOptions& options);
std::string Describe(const PngOptions& options);
inline void PrintTo(const PngOptions& options, std::ostream* out) { *out << Describe(options); }

// A signature, an IHDR chunk with the given fields, a small IDAT and IEND:
// enough for the header to be read, whatever the dimensions say.
std::vector<uint8_t> MakePngHeaderOnly(uint32_t width, uint32_t height, int bitDepth, int colourType);

}  // namespace rt::test
