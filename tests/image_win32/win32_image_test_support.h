// Shared pieces of the Windows pixel-store tests.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/image.h"

namespace rt::test {

extern const uint8_t BannerPng[];
extern const size_t BannerPngSize;

// Every test starts and ends with no image alive.
class Win32ImageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ImageLibraryStart();
    RegisterPngDecoder();
  }
  static void TearDownTestSuite() { ImageLibraryEnd(); }
  void SetUp() override { ImageFree(DynamicNumber); }
  void TearDown() override { ImageFree(DynamicNumber); }
};

inline HGDIOBJ GdiObjectOf(intptr_t handle) { return reinterpret_cast<HGDIOBJ>(handle); }

// The rows of a bitmap as GDI itself hands them out: bottom-up, at `depth`
// bits, rows padded to 4 bytes. Empty when GDI refuses.
inline std::vector<uint8_t> BitsFromGdi(HBITMAP bitmap, int width, int height, int depth) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = static_cast<WORD>(depth);
  info.bmiHeader.biCompression = BI_RGB;
  const size_t stride = (static_cast<size_t>(width) * static_cast<size_t>(depth) / 8 + 3) & ~size_t{3};
  std::vector<uint8_t> bits(stride * static_cast<size_t>(height));
  HDC dc = CreateCompatibleDC(nullptr);
  const int rows = GetDIBits(dc, bitmap, 0, static_cast<UINT>(height), bits.data(), &info, DIB_RGB_COLORS);
  DeleteDC(dc);
  if (rows != height) bits.clear();
  return bits;
}

}  // namespace rt::test
