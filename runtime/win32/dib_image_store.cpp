// The Windows pixel store of the image library: every image is a GDI object,
// a bottom-up DIB section in blue-green-red(-alpha) order with straight
// alpha, or an icon for icon files. Its handle is what ImageHandle gives out.
#include <windows.h>

#include <memory>
#include <type_traits>

#include "image/image.h"
#include "image/image_store.h"
#include "win32/icon_file.h"

namespace rt {

namespace {

// DIB sections keep their rows bottom-up in blue-green-red order, so the
// decoder fills them that way and no row is ever copied or swizzled.
constexpr int32_t kDibOrder = ImageDecodeBottomUp | ImageDecodeBgr;

struct DcDeleter {
  void operator()(HDC dc) const { DeleteDC(dc); }
};
using MemoryDc = std::unique_ptr<std::remove_pointer_t<HDC>, DcDeleter>;

struct GdiObjectDeleter {
  void operator()(void* object) const { DeleteObject(static_cast<HGDIOBJ>(object)); }
};
using GdiObject = std::unique_ptr<void, GdiObjectDeleter>;

struct IconDeleter {
  void operator()(HICON icon) const { DestroyIcon(icon); }
};
using Icon = std::unique_ptr<std::remove_pointer_t<HICON>, IconDeleter>;

void* Create(ImageDecodeState* state) {
  ImageLayout layout;  // its stride is the DIB's: rows padded to 4 bytes
  if (!ImageLayoutFor(state->width, state->height, state->depth, &layout)) return nullptr;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = state->width;
  info.bmiHeader.biHeight = state->height;  // positive: bottom-up
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = static_cast<WORD>(state->depth);
  info.bmiHeader.biCompression = BI_RGB;
  const MemoryDc dc(CreateCompatibleDC(nullptr));
  if (!dc) return nullptr;
  void* bits = nullptr;
  GdiObject bitmap(CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!bitmap || !bits) return nullptr;
  // Unlike the Qt store, a decode that fails part way makes no image here.
  if (!ImageDecodeInto(state, static_cast<uint8_t*>(bits), layout.stride, kDibOrder)) return nullptr;
  return bitmap.release();
}

bool IsBitmap(void* image) { return image && GetObjectType(static_cast<HGDIOBJ>(image)) == OBJ_BITMAP; }

void Release(void* image) {
  if (!image) return;
  if (IsBitmap(image)) {
    DeleteObject(static_cast<HGDIOBJ>(image));
  } else {
    DestroyIcon(static_cast<HICON>(image));
  }
}

bool Pixels(void* image, ImagePixels* view) {
  DIBSECTION section{};
  if (!IsBitmap(image) || GetObjectW(static_cast<HGDIOBJ>(image), sizeof section, &section) != sizeof section) {
    return false;  // icons, and bitmaps that are no DIB section
  }
  const BITMAP& bitmap = section.dsBm;
  if (!bitmap.bmBits || (bitmap.bmBitsPixel != 24 && bitmap.bmBitsPixel != 32)) return false;
  const int32_t order = section.dsBmih.biHeight > 0 ? kDibOrder : ImageDecodeBgr;
  *view = ImagePixels{static_cast<const uint8_t*>(bitmap.bmBits), bitmap.bmWidth, bitmap.bmHeight,
                      bitmap.bmWidthBytes, bitmap.bmBitsPixel, order};
  return true;
}

// Icon files: the system makes the icon; its colour bitmap tells the size
// and depth (a monochrome icon has only the mask, twice as high).
void* Adopt(const uint8_t* data, int64_t length, ImageRecord* record) {
  if (!IsIconFile(data, length)) return nullptr;
  Icon icon(IconFileToIcon(data, length));
  if (!icon) return nullptr;
  ICONINFO parts{};
  if (!GetIconInfo(icon.get(), &parts)) return nullptr;
  const GdiObject colour(parts.hbmColor), mask(parts.hbmMask);
  BITMAP bitmap{};
  if (!GetObjectW(colour ? colour.get() : mask.get(), sizeof bitmap, &bitmap)) return nullptr;
  const int32_t width = bitmap.bmWidth;
  const int32_t height = colour ? bitmap.bmHeight : bitmap.bmHeight / 2;
  if (width < 1 || height < 1 || width > ImageMaxSide || height > ImageMaxSide) return nullptr;
  *record = ImageRecord{};
  record->image = icon.get();
  record->width = static_cast<uint16_t>(width);
  record->height = static_cast<uint16_t>(height);
  record->depth = bitmap.bmBitsPixel;
  record->storedDepth = bitmap.bmBitsPixel;
  record->format = ImageFormatIcon;
  record->frameCount = 1;
  return icon.release();
}

const ImageStore kDibImageStore = {Create, Release, Pixels, Adopt};

}  // namespace

void ImageLibraryStart() { ImageLibraryStartWith(&kDibImageStore); }

intptr_t ImageHandle(ObjectNumber number) { return reinterpret_cast<intptr_t>(ImageObject(number)); }

}  // namespace rt
