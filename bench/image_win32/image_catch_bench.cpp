// ImageCatch of the banner (identify, DIB section, decode through the decoder
// list, the table) against the least a program must do for the same picture:
// libpng straight into a DIB section, rows bottom-up in blue-green-red order.
// Both run in the same process, alternating in short rounds, timed with the
// performance counter. The figure is the median of the rounds' ratios: two
// neighbouring measurements share whatever else the machine is doing.
//
//   bench_image_win32 [rounds] [calls per round]
#include <png.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image/image.h"

namespace bench {
extern const uint8_t BannerPng[];
extern const size_t BannerPngSize;
}  // namespace bench

namespace {

struct Source {
  const uint8_t* cursor;
  size_t remaining;
};

void ReadFromMemory(png_structp png, png_bytep out, size_t count) {
  auto* source = static_cast<Source*>(png_get_io_ptr(png));
  if (count > source->remaining) png_error(png, "short");
  std::memcpy(out, source->cursor, count);
  source->cursor += count;
  source->remaining -= count;
}

// Holds nothing with a destructor across the long jump.
HBITMAP DirectDecode(const uint8_t* data, size_t size, png_bytep* rows) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  HBITMAP volatile bitmap = nullptr;  // set after the jump point, read on the way back
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    if (bitmap) DeleteObject(bitmap);
    return nullptr;
  }
  Source source{data, size};
  png_set_read_fn(png, &source, ReadFromMemory);
  png_read_info(png, info);
  png_set_bgr(png);
  png_read_update_info(png, info);
  const auto width = static_cast<LONG>(png_get_image_width(png, info));
  const auto height = static_cast<LONG>(png_get_image_height(png, info));
  BITMAPINFO header{};
  header.bmiHeader = {static_cast<DWORD>(sizeof header.bmiHeader), width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  bitmap = CreateDIBSection(nullptr, &header, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap) png_error(png, "no DIB");
  const LONG stride = (width * 3 + 3) & ~3;
  for (LONG y = 0; y < height; ++y) rows[y] = static_cast<png_bytep>(bits) + (height - 1 - y) * stride;
  png_read_image(png, rows);
  png_destroy_read_struct(&png, &info, nullptr);
  return bitmap;
}

double Now() {
  static const double tick = [] {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1e6 / static_cast<double>(frequency.QuadPart);
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) * tick;
}

// Microseconds a call, over `calls` calls.
double TimeImageCatch(int calls) {
  const double start = Now();
  // Number 0 each time: the previous image is freed inside the call.
  for (int i = 0; i < calls; ++i) {
    if (!rt::ImageCatch(0, bench::BannerPng)) std::abort();
  }
  return (Now() - start) / calls;
}

double TimeDirect(int calls) {
  png_bytep rows[60];
  const double start = Now();
  for (int i = 0; i < calls; ++i) {
    HBITMAP bitmap = DirectDecode(bench::BannerPng, bench::BannerPngSize, rows);
    if (!bitmap) std::abort();
    DeleteObject(bitmap);
  }
  return (Now() - start) / calls;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 201;
  const int calls = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
  rt::ImageLibraryStart();
  rt::RegisterPngDecoder();

  // The two must make the same picture, or the comparison means nothing.
  png_bytep rows[60];
  HBITMAP direct = DirectDecode(bench::BannerPng, bench::BannerPngSize, rows);
  DIBSECTION a{}, b{};
  if (!direct || !rt::ImageCatch(0, bench::BannerPng) ||
      GetObjectW(direct, sizeof a, &a) != sizeof a ||
      GetObjectW(reinterpret_cast<HGDIOBJ>(rt::ImageHandle(0)), sizeof b, &b) != sizeof b ||
      a.dsBm.bmWidthBytes != b.dsBm.bmWidthBytes || a.dsBm.bmHeight != b.dsBm.bmHeight ||
      std::memcmp(a.dsBm.bmBits, b.dsBm.bmBits, static_cast<size_t>(a.dsBm.bmWidthBytes) * a.dsBm.bmHeight) != 0) {
    std::fprintf(stderr, "the two decodes differ\n");
    return 1;
  }
  DeleteObject(direct);
  TimeImageCatch(calls);  // warm both paths up
  TimeDirect(calls);

  std::vector<double> ours, yardstick, ratios;
  for (int round = 0; round < rounds; ++round) {
    // Alternate which goes first, so neither always inherits a warm cache.
    if (round % 2 == 0) {
      ours.push_back(TimeImageCatch(calls));
      yardstick.push_back(TimeDirect(calls));
    } else {
      yardstick.push_back(TimeDirect(calls));
      ours.push_back(TimeImageCatch(calls));
    }
    ratios.push_back(ours.back() / yardstick.back());
  }
  const double o = Median(ours), y = Median(yardstick);
  std::printf("banner 400 x 60, %d rounds of %d calls\n", rounds, calls);
  const double oBest = *std::min_element(ours.begin(), ours.end());
  const double yBest = *std::min_element(yardstick.begin(), yardstick.end());
  std::printf("ImageCatch into a DIB section:        %8.1f us a call (median; best %.1f)\n", o, oBest);
  std::printf("libpng straight into a DIB section:   %8.1f us a call (median; best %.1f)\n", y, yBest);
  std::printf("ratio of the best rounds: %.3f\n", oBest / yBest);
  std::printf("ratio ImageCatch / direct: %.3f, median of the rounds' ratios (goal: at most 1.10)\n",
              Median(ratios));
  rt::ImageLibraryEnd();
  return 0;
}
