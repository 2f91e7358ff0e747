// Draws the program's 400 x 60 banner and writes it as an 8-bit RGB,
// non-interlaced PNG: a dark blue-grey gradient, circuit-board traces with
// pads and vias, a chip outline, and the product name in a built-in 5 x 7
// bitmap font with a soft glow.
//
//   fwu-banner-gen OUTPUT.png [ICON.png ICON_SIZE [ICON.ico]]
//
// ICON.ico is the Windows program's icon: the same drawing at 16, 32, 48 and
// 256 pixels.
//
// The picture is fully deterministic (fixed seed), so regenerating it gives
// the same bytes as long as zlib compresses the same way.
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Rgb {
  double r, g, b;
};

class Canvas {
 public:
  Canvas(int width, int height) : width_(width), height_(height), pixels_(size_t(width) * height, Rgb{0, 0, 0}) {}
  int width() const { return width_; }
  int height() const { return height_; }

  Rgb& at(int x, int y) { return pixels_[size_t(y) * width_ + x]; }
  const Rgb& at(int x, int y) const { return pixels_[size_t(y) * width_ + x]; }

  // Blends `colour` over the pixel with coverage `alpha` (0..1).
  void blend(int x, int y, Rgb colour, double alpha) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_ || alpha <= 0) return;
    alpha = std::min(alpha, 1.0);
    Rgb& p = at(x, y);
    p.r += (colour.r - p.r) * alpha;
    p.g += (colour.g - p.g) * alpha;
    p.b += (colour.b - p.b) * alpha;
  }

  // Anti-aliased thick segment: coverage falls off over one pixel at the edge.
  void line(double x0, double y0, double x1, double y1, double halfWidth, Rgb colour, double alpha) {
    const int minX = int(std::floor(std::min(x0, x1) - halfWidth - 1));
    const int maxX = int(std::ceil(std::max(x0, x1) + halfWidth + 1));
    const int minY = int(std::floor(std::min(y0, y1) - halfWidth - 1));
    const int maxY = int(std::ceil(std::max(y0, y1) + halfWidth + 1));
    const double dx = x1 - x0, dy = y1 - y0, len2 = dx * dx + dy * dy;
    for (int y = minY; y <= maxY; ++y) {
      for (int x = minX; x <= maxX; ++x) {
        const double px = x + 0.5, py = y + 0.5;
        double t = len2 > 0 ? ((px - x0) * dx + (py - y0) * dy) / len2 : 0;
        t = std::clamp(t, 0.0, 1.0);
        const double cx = x0 + t * dx - px, cy = y0 + t * dy - py;
        const double d = std::sqrt(cx * cx + cy * cy);
        blend(x, y, colour, alpha * std::clamp(halfWidth + 0.5 - d, 0.0, 1.0));
      }
    }
  }

  void disc(double cx, double cy, double radius, Rgb colour, double alpha) {
    for (int y = int(cy - radius - 2); y <= int(cy + radius + 2); ++y) {
      for (int x = int(cx - radius - 2); x <= int(cx + radius + 2); ++x) {
        const double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
        blend(x, y, colour, alpha * std::clamp(radius + 0.5 - d, 0.0, 1.0));
      }
    }
  }

  void ring(double cx, double cy, double radius, double halfWidth, Rgb colour, double alpha) {
    for (int y = int(cy - radius - 3); y <= int(cy + radius + 3); ++y) {
      for (int x = int(cx - radius - 3); x <= int(cx + radius + 3); ++x) {
        const double d = std::fabs(std::hypot(x + 0.5 - cx, y + 0.5 - cy) - radius);
        blend(x, y, colour, alpha * std::clamp(halfWidth + 0.5 - d, 0.0, 1.0));
      }
    }
  }

  void rect(int x0, int y0, int x1, int y1, Rgb colour, double alpha) {
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) blend(x, y, colour, alpha);
  }

 private:
  int width_, height_;
  std::vector<Rgb> pixels_;
};

// Small deterministic generator, so the artwork never changes between runs.
class Lcg {
 public:
  explicit Lcg(uint32_t seed) : state_(seed) {}
  uint32_t next() {
    state_ = state_ * 1664525u + 1013904223u;
    return state_ >> 8;
  }
  int range(int lo, int hi) { return lo + int(next() % uint32_t(hi - lo + 1)); }

 private:
  uint32_t state_;
};

// 5 x 7 glyphs, one byte per row, bit 4 is the leftmost column.
struct Glyph {
  char c;
  uint8_t rows[7];
};

constexpr Glyph kFont[] = {
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}}, {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}}, {'D', {0x1E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1E}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}}, {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}}, {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}}, {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}}, {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}},
    {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}}, {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}}, {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}}, {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}}, {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}}, {'Y', {0x11, 0x11, 0x0A, 0x04, 0x04, 0x04, 0x04}},
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}}, {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}}, {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {'/', {0x01, 0x01, 0x02, 0x04, 0x08, 0x10, 0x10}}, {'>', {0x08, 0x04, 0x02, 0x01, 0x02, 0x04, 0x08}},
    {' ', {0, 0, 0, 0, 0, 0, 0}},
};

const Glyph* findGlyph(char c) {
  for (const Glyph& g : kFont)
    if (g.c == c) return &g;
  return nullptr;
}

int textWidth(const std::string& text, int scale) { return int(text.size()) * 6 * scale - scale; }

// Each lit font cell becomes a scale x scale block with slightly rounded
// corners; a wider, faint copy underneath makes the glow.
void drawText(Canvas& c, const std::string& text, int x, int y, int scale, Rgb colour, Rgb glow) {
  for (int pass = 0; pass < 2; ++pass) {
    int pen = x;
    for (char ch : text) {
      const Glyph* g = findGlyph(ch);
      if (g) {
        for (int row = 0; row < 7; ++row) {
          for (int col = 0; col < 5; ++col) {
            if (!(g->rows[row] & (0x10 >> col))) continue;
            const double cx = pen + col * scale + scale / 2.0, cy = y + row * scale + scale / 2.0;
            if (pass == 0) {
              c.disc(cx, cy, scale * 1.6, glow, 0.10);
            } else {
              for (int yy = 0; yy < scale; ++yy)
                for (int xx = 0; xx < scale; ++xx) c.blend(pen + col * scale + xx, y + row * scale + yy, colour, 1.0);
            }
          }
        }
      }
      pen += 6 * scale;
    }
  }
}

void drawBackground(Canvas& c) {
  for (int y = 0; y < c.height(); ++y) {
    for (int x = 0; x < c.width(); ++x) {
      const double u = double(x) / (c.width() - 1), v = double(y) / (c.height() - 1);
      // Deep navy on the left to near-black teal on the right, darker at the bottom.
      Rgb p{12 + 10 * (1 - u), 20 + 18 * (1 - u) + 6 * u, 34 + 26 * (1 - u) + 8 * u};
      const double shade = 1.0 - 0.35 * v;
      // A faint radial light behind the title.
      const double d = std::hypot((x - 250.0) / 170.0, (y - 26.0) / 40.0);
      const double light = std::max(0.0, 1.0 - d) * 22;
      c.at(x, y) = Rgb{p.r * shade + light * 0.3, p.g * shade + light * 0.8, p.b * shade + light};
    }
  }
}

// Traces run horizontally, turn 45 degrees once or twice and end in a pad or a via.
void drawTraces(Canvas& c, Lcg& rng, Rgb copper, double alpha) {
  for (int i = 0; i < 22; ++i) {
    double x = rng.range(-20, c.width() - 40);
    double y = 4 + rng.range(0, 13) * 4;
    const int segments = rng.range(2, 4);
    double halfWidth = rng.range(0, 2) == 0 ? 1.1 : 0.7;
    c.disc(x, y, 2.2, copper, alpha);
    for (int s = 0; s < segments; ++s) {
      const double run = rng.range(14, 70);
      double nx = x + run, ny = y;
      c.line(x, y, nx, ny, halfWidth, copper, alpha);
      x = nx;
      if (s + 1 < segments) {
        const int dir = rng.range(0, 2) - 1;
        const double step = rng.range(2, 4) * 4;
        nx = x + step;
        ny = std::clamp(y + dir * step, 4.0, c.height() - 4.0);
        c.line(x, y, nx, ny, halfWidth, copper, alpha);
        x = nx;
        y = ny;
      }
    }
    if (rng.range(0, 1)) {
      c.ring(x, y, 2.6, 0.8, copper, alpha * 1.4);
    } else {
      c.disc(x, y, 2.4, copper, alpha * 1.2);
    }
  }
}

// A small chip with pins on the left: the "device" the firmware goes into.
void drawChip(Canvas& c, int x, int y, int w, int h) {
  const Rgb pin{150, 160, 170};
  for (int i = 0; i < 5; ++i) {
    const int py = y + 5 + i * (h - 10) / 4;
    c.rect(x - 5, py - 1, x, py + 2, pin, 0.9);
    c.rect(x + w, py - 1, x + w + 5, py + 2, pin, 0.9);
  }
  for (int i = 0; i < 3; ++i) {
    const int px = x + 7 + i * (w - 14) / 2;
    c.rect(px - 1, y - 5, px + 2, y, pin, 0.9);
    c.rect(px - 1, y + h, px + 2, y + h + 5, pin, 0.9);
  }
  c.rect(x, y, x + w, y + h, Rgb{22, 24, 28}, 1.0);
  c.rect(x + 1, y + 1, x + w - 1, y + 2, Rgb{70, 76, 84}, 1.0);
  c.disc(x + 5, y + 6, 1.6, Rgb{90, 96, 104}, 1.0);
  // An arrow into the chip: new firmware going in.
  const Rgb accent{80, 220, 160};
  c.line(x + 10, y + h / 2.0, x + w - 10, y + h / 2.0, 1.2, accent, 0.95);
  c.line(x + w - 16, y + h / 2.0 - 6, x + w - 10, y + h / 2.0, 1.2, accent, 0.95);
  c.line(x + w - 16, y + h / 2.0 + 6, x + w - 10, y + h / 2.0, 1.2, accent, 0.95);
}

Canvas drawIcon(int size);

uint8_t channel(double v) { return uint8_t(std::clamp(std::lround(v), 0L, 255L)); }

// The canvas as an 8-bit RGB, non-interlaced PNG in memory; empty on failure.
std::vector<uint8_t> encodePng(const Canvas& c) {
  std::vector<uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  std::vector<uint8_t> rows(size_t(c.width()) * 3 * c.height());
  std::vector<png_bytep> rowPointers(size_t(c.height()));
  for (int y = 0; y < c.height(); ++y) {
    rowPointers[y] = rows.data() + size_t(y) * c.width() * 3;
    for (int x = 0; x < c.width(); ++x) {
      const Rgb& p = c.at(x, y);
      rowPointers[y][x * 3 + 0] = channel(p.r);
      rowPointers[y][x * 3 + 1] = channel(p.g);
      rowPointers[y][x * 3 + 2] = channel(p.b);
    }
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(
      png, &out,
      [](png_structp p, png_bytep data, png_size_t length) {
        auto* bytes = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(p));
        bytes->insert(bytes->end(), data, data + length);
      },
      nullptr);
  png_set_IHDR(png, info, png_uint_32(c.width()), png_uint_32(c.height()), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, 9);
  png_write_info(png, info);
  png_write_image(png, rowPointers.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

bool writeFile(const std::vector<uint8_t>& bytes, const char* path) {
  if (bytes.empty()) return false;
  FILE* f = std::fopen(path, "wb");
  if (!f) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && written;
}

bool writePng(const Canvas& c, const char* path) { return writeFile(encodePng(c), path); }

void put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

// One icon image in the classic form every Windows version reads: a 32-bit
// bottom-up BGRA bitmap of twice the height (the colour rows, then the AND
// mask, which is all zero: the icon is opaque).
std::vector<uint8_t> encodeIconBitmap(const Canvas& c) {
  const uint32_t w = uint32_t(c.width()), h = uint32_t(c.height());
  const uint32_t maskStride = ((w + 31) / 32) * 4;
  std::vector<uint8_t> out;
  put32(out, 40);
  put32(out, w);
  put32(out, h * 2);
  put16(out, 1);
  put16(out, 32);
  put32(out, 0);  // BI_RGB
  put32(out, w * h * 4 + maskStride * h);
  put32(out, 0);
  put32(out, 0);
  put32(out, 0);
  put32(out, 0);
  for (int y = int(h) - 1; y >= 0; --y)
    for (int x = 0; x < int(w); ++x) {
      const Rgb& p = c.at(x, y);
      out.push_back(channel(p.b));
      out.push_back(channel(p.g));
      out.push_back(channel(p.r));
      out.push_back(255);
    }
  out.insert(out.end(), size_t(maskStride) * h, 0);
  return out;
}

// The Windows program's icon file: 16, 32 and 48 pixels as bitmaps, 256 as
// PNG (the compressed form Windows accepts for the large size only).
bool writeIco(const char* path) {
  const int sizes[] = {16, 32, 48, 256};
  std::vector<std::vector<uint8_t>> images;
  for (int size : sizes) {
    images.push_back(size == 256 ? encodePng(drawIcon(size)) : encodeIconBitmap(drawIcon(size)));
    if (images.back().empty()) return false;
  }
  std::vector<uint8_t> out;
  put16(out, 0);
  put16(out, 1);  // icon, not cursor
  put16(out, uint32_t(images.size()));
  uint32_t offset = uint32_t(6 + 16 * images.size());
  for (size_t i = 0; i < images.size(); ++i) {
    out.push_back(uint8_t(sizes[i] & 0xFF));  // 0 stands for 256
    out.push_back(uint8_t(sizes[i] & 0xFF));
    out.push_back(0);  // no palette
    out.push_back(0);
    put16(out, 1);   // planes
    put16(out, 32);  // bits per pixel
    put32(out, uint32_t(images[i].size()));
    put32(out, offset);
    offset += uint32_t(images[i].size());
  }
  for (const std::vector<uint8_t>& image : images) out.insert(out.end(), image.begin(), image.end());
  return writeFile(out, path);
}

Canvas drawBanner() {
  Canvas c(400, 60);
  drawBackground(c);
  Lcg rng(0x5EED1u);
  drawTraces(c, rng, Rgb{60, 150, 130}, 0.22);
  drawTraces(c, rng, Rgb{200, 160, 80}, 0.16);
  // Clear a calm band behind the text so it reads well over the traces.
  for (int y = 8; y < 52; ++y)
    for (int x = 96; x < 394; ++x) {
      const double edge = std::min({x - 96.0, 394.0 - x, y - 8.0, 52.0 - y}) / 8.0;
      c.blend(x, y, Rgb{10, 18, 30}, 0.55 * std::clamp(edge, 0.0, 1.0));
    }
  drawChip(c, 24, 14, 48, 32);
  const std::string title = "FIRMWARE UPDATER";
  const int titleScale = 3;
  const int tx = 104 + (286 - textWidth(title, titleScale)) / 2;
  drawText(c, title, tx, 12, titleScale, Rgb{235, 245, 250}, Rgb{90, 200, 255});
  const std::string sub = "USB SERIAL  57600 8N1  V1.0";
  drawText(c, sub, 104 + (286 - textWidth(sub, 1)) / 2, 40, 1, Rgb{120, 220, 170}, Rgb{80, 220, 160});
  // A thin accent line along the bottom edge.
  for (int x = 0; x < c.width(); ++x) {
    const double u = double(x) / (c.width() - 1);
    c.blend(x, 59, Rgb{80 + 60 * u, 220 - 40 * u, 160 + 80 * u}, 0.9);
  }
  return c;
}

// The icon: the chip and a trace or two on the same background, scaled to size.
Canvas drawIcon(int size) {
  Canvas c(size, size);
  const double k = size / 64.0;
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      const double v = double(y) / (size - 1);
      c.at(x, y) = Rgb{16 + 8 * (1 - v), 28 + 14 * (1 - v), 46 + 20 * (1 - v)};
    }
  const Rgb copper{60, 170, 140};
  c.line(0, 14 * k, 18 * k, 14 * k, 1.2 * k, copper, 0.6);
  c.line(46 * k, 50 * k, 64 * k, 50 * k, 1.2 * k, copper, 0.6);
  c.disc(18 * k, 14 * k, 2.5 * k, copper, 0.8);
  c.disc(46 * k, 50 * k, 2.5 * k, copper, 0.8);
  const int x = int(16 * k), y = int(20 * k), w = int(32 * k), h = int(24 * k);
  const Rgb pin{170, 178, 188};
  for (int i = 0; i < 4; ++i) {
    const int py = y + int((4 + i * 5.3) * k);
    c.rect(x - int(5 * k), py, x, py + std::max(1, int(2 * k)), pin, 1.0);
    c.rect(x + w, py, x + w + int(5 * k), py + std::max(1, int(2 * k)), pin, 1.0);
  }
  c.rect(x, y, x + w, y + h, Rgb{24, 26, 30}, 1.0);
  const Rgb accent{90, 230, 170};
  const double cy = y + h / 2.0;
  c.line(x + 6 * k, cy, x + w - 7 * k, cy, 1.6 * k, accent, 1.0);
  c.line(x + w - 14 * k, cy - 7 * k, x + w - 7 * k, cy, 1.6 * k, accent, 1.0);
  c.line(x + w - 14 * k, cy + 7 * k, x + w - 7 * k, cy, 1.6 * k, accent, 1.0);
  return c;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: %s BANNER.png [ICON.png SIZE [ICON.ico]]\n", argv[0]);
    return 2;
  }
  if (!writePng(drawBanner(), argv[1])) {
    std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
    return 1;
  }
  if (argc >= 4) {
    const int size = std::atoi(argv[3]);
    if (size < 16 || size > 1024 || !writePng(drawIcon(size), argv[2])) {
      std::fprintf(stderr, "%s: cannot write icon %s\n", argv[0], argv[2]);
      return 1;
    }
  }
  if (argc == 5 && !writeIco(argv[4])) {
    std::fprintf(stderr, "%s: cannot write icon %s\n", argv[0], argv[4]);
    return 1;
  }
  return 0;
}
