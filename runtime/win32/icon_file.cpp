#include "win32/icon_file.h"

#include <cstring>
#include <memory>

#include "image/image_store.h"

namespace rt {

namespace {

constexpr int64_t kDirectorySize = 6;   // reserved, type, count
constexpr int64_t kEntrySize = 16;      // width, height, colours, reserved, planes, bits, size, offset
constexpr int64_t kInfoHeaderSize = 40;  // BITMAPINFOHEADER
constexpr DWORD kIconVersion = 0x30000;  // the format of every icon since Windows 3.0

uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Read32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

struct GlobalDeleter {
  void operator()(void* block) const { GlobalFree(block); }
};
using GlobalBlock = std::unique_ptr<void, GlobalDeleter>;

// The size the entry's bitmap header gives (its height counts the colour
// and mask halves); 0 x 0 for PNG-compressed entries and anything else,
// which asks the system for the image's own size.
void DesiredSize(const uint8_t* bytes, uint32_t size, int* width, int* height) {
  *width = 0;
  *height = 0;
  if (size < kInfoHeaderSize || Read32(bytes) < kInfoHeaderSize) return;
  const auto w = static_cast<int32_t>(Read32(bytes + 4));
  const int32_t h = static_cast<int32_t>(Read32(bytes + 8)) / 2;
  if (w < 1 || h < 1 || w > ImageMaxSide || h > ImageMaxSide) return;
  *width = w;
  *height = h;
}

}  // namespace

bool IsIconFile(const uint8_t* data, int64_t length) {
  return data && length >= kDirectorySize && Read16(data) == 0 && Read16(data + 2) == 1;
}

int32_t IconFileChooseEntry(const uint8_t* data, int64_t length) {
  if (!IsIconFile(data, length)) return -1;
  const int32_t count = Read16(data + 4);
  if (count == 0 || kDirectorySize + count * kEntrySize > length) return -1;
  const uint8_t* first = data + kDirectorySize;
  int32_t best = 0;
  for (int32_t i = 1; i < count; ++i) {
    const uint8_t* entry = first + i * kEntrySize;
    if (entry[0] != first[0] || entry[1] != first[1]) continue;
    if (Read16(entry + 6) > Read16(first + best * kEntrySize + 6)) best = i;
  }
  return best;
}

HICON IconFileToIcon(const uint8_t* data, int64_t length) {
  const int32_t index = IconFileChooseEntry(data, length);
  if (index < 0) return nullptr;
  const uint8_t* entry = data + kDirectorySize + index * kEntrySize;
  const uint16_t bitCount = Read16(entry + 6);
  const uint32_t size = Read32(entry + 8);
  const uint32_t offset = Read32(entry + 12);
  if (size == 0 || size > ImageMaxBufferBytes || offset > length || size > length - offset) return nullptr;

  // The system reads the entry in place, so it gets a block of its own
  // rather than a pointer into the caller's data at any alignment.
  GlobalBlock block(GlobalAlloc(GMEM_FIXED, size));
  if (!block) return nullptr;
  auto* bytes = static_cast<uint8_t*>(block.get());
  std::memcpy(bytes, data + offset, size);

  int width = 0, height = 0;
  DesiredSize(bytes, size, &width, &height);
  HICON icon = CreateIconFromResourceEx(bytes, size, TRUE, kIconVersion, width, height, LR_DEFAULTCOLOR);
  // A second try at the image's own size, except for 16-bit entries.
  if (!icon && bitCount != 16) icon = CreateIconFromResource(bytes, size, TRUE, kIconVersion);
  return icon;
}

}  // namespace rt
