// Icon files: which directory entry becomes the icon, the record made of it,
// and its release. Each entry is painted one solid colour, so the colour the
// system's icon shows tells which entry it was made of.
#include <cstring>

#include "win32/icon_file.h"
#include "win32_image_test_support.h"

namespace rt::test {
namespace {

struct Entry {
  int side;
  int bits;  // 4, 8 or 32
  uint8_t r, g, b;
};

void Put16(std::vector<uint8_t>* out, size_t at, uint32_t v) {
  (*out)[at] = static_cast<uint8_t>(v);
  (*out)[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>* out, size_t at, uint32_t v) {
  Put16(out, at, v);
  Put16(out, at + 2, v >> 16);
}

// One entry's image: a bitmap header of twice the height, the palette, the
// colour rows (every pixel the entry's colour) and an opaque mask.
std::vector<uint8_t> EntryImage(const Entry& e) {
  const size_t paletteSize = e.bits <= 8 ? (size_t{1} << e.bits) * 4 : 0;
  const size_t colourRow = (static_cast<size_t>(e.side) * e.bits + 31) / 32 * 4;
  const size_t maskRow = (static_cast<size_t>(e.side) + 31) / 32 * 4;
  std::vector<uint8_t> image(40 + paletteSize + (colourRow + maskRow) * e.side, 0);
  Put32(&image, 0, 40);
  Put32(&image, 4, static_cast<uint32_t>(e.side));
  Put32(&image, 8, static_cast<uint32_t>(e.side * 2));
  Put16(&image, 12, 1);
  Put16(&image, 14, static_cast<uint32_t>(e.bits));
  uint8_t* palette = image.data() + 40;
  uint8_t* pixels = palette + paletteSize;
  if (e.bits <= 8) {
    palette[4] = e.b, palette[5] = e.g, palette[6] = e.r;  // entry 1; entry 0 stays black
    const uint8_t index = e.bits == 4 ? 0x11 : 0x01;
    std::memset(pixels, index, colourRow * e.side);
  } else {
    for (size_t i = 0; i < static_cast<size_t>(e.side) * e.side; ++i) {
      pixels[i * 4] = e.b, pixels[i * 4 + 1] = e.g, pixels[i * 4 + 2] = e.r, pixels[i * 4 + 3] = 255;
    }
  }
  return image;  // the mask rows stay 0: every pixel opaque
}

std::vector<uint8_t> IconFile(const std::vector<Entry>& entries, uint16_t type = 1) {
  std::vector<uint8_t> file(6 + 16 * entries.size(), 0);
  Put16(&file, 2, type);
  Put16(&file, 4, static_cast<uint32_t>(entries.size()));
  for (size_t i = 0; i < entries.size(); ++i) {
    const Entry& e = entries[i];
    const std::vector<uint8_t> image = EntryImage(e);
    const size_t at = 6 + 16 * i;
    file[at] = static_cast<uint8_t>(e.side);
    file[at + 1] = static_cast<uint8_t>(e.side);
    file[at + 2] = e.bits < 8 ? static_cast<uint8_t>(1 << e.bits) : 0;
    Put16(&file, at + 4, 1);
    Put16(&file, at + 6, static_cast<uint32_t>(e.bits));
    Put32(&file, at + 8, static_cast<uint32_t>(image.size()));
    Put32(&file, at + 12, static_cast<uint32_t>(file.size()));
    file.insert(file.end(), image.begin(), image.end());
  }
  return file;
}

// The middle pixel of the icon's colour bitmap, as red-green-blue.
uint32_t IconColour(HICON icon) {
  ICONINFO parts{};
  if (!GetIconInfo(icon, &parts)) return 0xFFFFFFFF;
  BITMAP bitmap{};
  GetObjectW(parts.hbmColor, sizeof bitmap, &bitmap);
  const std::vector<uint8_t> bits = BitsFromGdi(parts.hbmColor, bitmap.bmWidth, bitmap.bmHeight, 32);
  DeleteObject(parts.hbmColor);
  DeleteObject(parts.hbmMask);
  if (bits.empty()) return 0xFFFFFFFF;
  const size_t middle = (static_cast<size_t>(bitmap.bmHeight / 2) * bitmap.bmWidth + bitmap.bmWidth / 2) * 4;
  return static_cast<uint32_t>(bits[middle + 2]) << 16 | static_cast<uint32_t>(bits[middle + 1]) << 8 |
         bits[middle];
}

constexpr uint32_t kRed = 0xC00000, kGreen = 0x00C000, kBlue = 0x0000C0;

using IconFileTest = Win32ImageTest;

TEST_F(IconFileTest, TheEntryWithTheMostBitsAmongThoseTheSizeOfTheFirstBecomesTheIcon) {
  struct Case {
    const char* what;
    std::vector<Entry> entries;
    int32_t chosen;
    uint32_t colour;
  };
  const Case cases[] = {
      {"4, 8 and 32 bits", {{16, 4, 0xC0, 0, 0}, {16, 8, 0, 0xC0, 0}, {16, 32, 0, 0, 0xC0}}, 2, kBlue},
      {"32 bits first", {{16, 32, 0, 0, 0xC0}, {16, 8, 0, 0xC0, 0}}, 0, kBlue},
      {"a larger entry does not count", {{16, 4, 0xC0, 0, 0}, {32, 32, 0, 0, 0xC0}, {16, 8, 0, 0xC0, 0}}, 2, kGreen},
      {"the first of equals", {{16, 32, 0xC0, 0, 0}, {16, 32, 0, 0xC0, 0}}, 0, kRed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<uint8_t> file = IconFile(c.entries);
    EXPECT_EQ(IconFileChooseEntry(file.data(), static_cast<int64_t>(file.size())), c.chosen);
    const intptr_t handle = ImageCatch(0, file.data(), static_cast<int64_t>(file.size()));
    ASSERT_NE(handle, 0);
    EXPECT_EQ(handle, ImageHandle(0));
    EXPECT_EQ(IconColour(reinterpret_cast<HICON>(handle)), c.colour);
    const ImageRecord* record = ImageRecordGet(0);
    EXPECT_EQ(record->format, 0x4E4F4349u);
    EXPECT_EQ(record->width, 16);
    EXPECT_EQ(record->height, 16);
    EXPECT_EQ(record->frameCount, 1u);
  }
}

TEST_F(IconFileTest, FreeingDestroysTheIcon) {
  const std::vector<uint8_t> file = IconFile({{16, 32, 0, 0, 0xC0}});
  const intptr_t handle = ImageCatch(DynamicNumber, file.data(), static_cast<int64_t>(file.size()));
  ASSERT_NE(handle, 0);
  const auto icon = reinterpret_cast<HICON>(ImageHandle(handle));
  EXPECT_NE(GetObjectType(icon), static_cast<DWORD>(OBJ_BITMAP));  // an icon, not a bitmap
  ICONINFO parts{};
  ASSERT_TRUE(GetIconInfo(icon, &parts));
  DeleteObject(parts.hbmColor);
  DeleteObject(parts.hbmMask);
  ImageFree(handle);
  EXPECT_EQ(ImageHandle(handle), 0);
  EXPECT_FALSE(GetIconInfo(icon, &parts)) << "the icon is still alive";
}

TEST_F(IconFileTest, CursorsShortFilesAndEntriesPastTheEndAreNoIcons) {
  const std::vector<uint8_t> good = IconFile({{16, 8, 0, 0xC0, 0}});
  const std::vector<uint8_t> cursor = IconFile({{16, 8, 0, 0xC0, 0}}, 2);
  EXPECT_EQ(ImageCatch(0, cursor.data(), static_cast<int64_t>(cursor.size())), 0);
  // The entry's bytes reach one byte past the data.
  EXPECT_EQ(ImageCatch(0, good.data(), static_cast<int64_t>(good.size() - 1)), 0);
  // The directory itself is cut short.
  EXPECT_EQ(ImageCatch(0, good.data(), 20), 0);
  EXPECT_EQ(IconFileChooseEntry(good.data(), 20), -1);
  std::vector<uint8_t> empty = good;
  empty[4] = 0;  // no entries
  EXPECT_EQ(ImageCatch(0, empty.data(), static_cast<int64_t>(empty.size())), 0);
  EXPECT_EQ(ImageHandle(0), 0);
  EXPECT_NE(ImageCatch(0, good.data(), static_cast<int64_t>(good.size())), 0);
}

}  // namespace
}  // namespace rt::test
