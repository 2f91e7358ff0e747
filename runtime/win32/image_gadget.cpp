// Image gadgets: a "STATIC" control that draws a bitmap or icon itself and
// takes the image's size. A bitmap whose pixels carry alpha is drawn through
// a premultiplied copy with AlphaBlend, so its transparent parts show the
// window's background; any other image with DrawStateW. Mouse input becomes
// click, double-click and drag events.
#include <windows.h>

#include <cstdlib>
#include <memory>
#include <type_traits>
#include <vector>

#include "win32/event_kind.h"
#include "win32/events.h"
#include "win32/gadget.h"
#include "win32/gadget_internal.h"
#include "win32/window_internal.h"

namespace rt {

namespace {

constexpr int32_t kSunken = 0x00000200;
constexpr int32_t kRaised = 0x00000001;
constexpr DWORD kImageStyle = WS_CHILD | WS_VISIBLE | SS_NOTIFY;

WNDPROC g_staticProcedure = nullptr;

using AlphaBlendRoutine = BOOL(WINAPI*)(HDC, int, int, int, int, HDC, int, int, int, int, BLENDFUNCTION);

AlphaBlendRoutine AlphaBlendFunction() {
  // Looked up by name on first use: without it images are drawn opaque.
  static const AlphaBlendRoutine routine = ProcAddress<AlphaBlendRoutine>(LoadLibraryW(L"msimg32.dll"), "AlphaBlend");
  return routine;
}

struct DcDeleter {
  void operator()(HDC dc) const { DeleteDC(dc); }
};
using MemoryDc = std::unique_ptr<std::remove_pointer_t<HDC>, DcDeleter>;

bool IsBitmap(intptr_t image) {
  return image && GetObjectType(reinterpret_cast<HGDIOBJ>(image)) == OBJ_BITMAP;
}

SIZE ImageSize(intptr_t image) {
  SIZE size{0, 0};
  if (!image) return size;
  BITMAP bitmap{};
  if (IsBitmap(image)) {
    if (GetObjectW(reinterpret_cast<HGDIOBJ>(image), sizeof bitmap, &bitmap)) size = SIZE{bitmap.bmWidth, bitmap.bmHeight};
    return size;
  }
  ICONINFO parts{};
  if (!GetIconInfo(reinterpret_cast<HICON>(image), &parts)) return size;
  if (GetObjectW(parts.hbmColor ? parts.hbmColor : parts.hbmMask, sizeof bitmap, &bitmap)) {
    // A monochrome icon's mask holds the AND and XOR halves one above the other.
    size = SIZE{bitmap.bmWidth, parts.hbmColor ? bitmap.bmHeight : bitmap.bmHeight / 2};
  }
  if (parts.hbmColor) DeleteObject(parts.hbmColor);
  if (parts.hbmMask) DeleteObject(parts.hbmMask);
  return size;
}

// The premultiplied copy of a 32-bit bitmap that has alpha, or null: a
// bitmap whose alpha bytes are all 0 carries none and is drawn opaque.
HBITMAP PremultipliedCopy(HBITMAP source) {
  BITMAP bitmap{};
  if (!AlphaBlendFunction() || !GetObjectW(source, sizeof bitmap, &bitmap) || bitmap.bmBitsPixel != 32) {
    return nullptr;
  }
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = bitmap.bmWidth;
  info.bmiHeader.biHeight = -bitmap.bmHeight;  // top-down, like the copy
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  const MemoryDc dc(CreateCompatibleDC(nullptr));
  if (!dc) return nullptr;
  void* bits = nullptr;
  HBITMAP copy = CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!copy || !bits) return nullptr;
  const size_t pixels = static_cast<size_t>(bitmap.bmWidth) * static_cast<size_t>(bitmap.bmHeight);
  bool hasAlpha = false;
  if (GetDIBits(dc.get(), source, 0, static_cast<UINT>(bitmap.bmHeight), bits, &info, DIB_RGB_COLORS)) {
    auto* pixel = static_cast<uint8_t*>(bits);
    for (size_t i = 0; i < pixels; ++i, pixel += 4) {
      const unsigned alpha = pixel[3];
      if (alpha) hasAlpha = true;
      if (alpha == 255) continue;
      pixel[0] = static_cast<uint8_t>((alpha * pixel[0]) >> 8);
      pixel[1] = static_cast<uint8_t>((alpha * pixel[1]) >> 8);
      pixel[2] = static_cast<uint8_t>((alpha * pixel[2]) >> 8);
    }
  }
  if (!hasAlpha) {
    DeleteObject(copy);
    return nullptr;
  }
  return copy;
}

bool Framed(HWND control) {
  return (GetWindowLongPtrW(control, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) ||
         (GetWindowLongPtrW(control, GWL_STYLE) & WS_DLGFRAME);
}

// STM_SETIMAGE and STM_SETICON: keep the image, make the alpha copy, and
// take the image's size. Returns the previous image.
intptr_t SetImage(GadgetRecord* gadget, intptr_t image) {
  ImageGadgetData& data = gadget->image;
  const intptr_t previous = data.image;
  data.image = image;
  if (data.premultiplied) DeleteObject(data.premultiplied);
  data.premultiplied = IsBitmap(image) ? PremultipliedCopy(reinterpret_cast<HBITMAP>(image)) : nullptr;
  const HWND control = gadget->control;
  const HWND parent = GetParent(control);
  RECT area;
  GetWindowRect(control, &area);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&area), 2);
  // What the old image covered may be larger than the new one.
  RedrawWindow(parent, &area, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
  if (image) {
    const SIZE size = ImageSize(image);
    const int32_t frame = Framed(control) ? 4 : 0;
    SetWindowPos(control, nullptr, 0, 0, size.cx + frame, size.cy + frame,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  InvalidateRect(control, nullptr, TRUE);
  return previous;
}

void Paint(GadgetRecord* gadget, HDC dc) {
  const ImageGadgetData& data = gadget->image;
  if (!data.image) return;
  const int origin = (GetWindowLongPtrW(gadget->control, GWL_STYLE) & WS_DLGFRAME) ? -1 : 0;
  if (data.premultiplied) {
    BITMAP bitmap{};
    GetObjectW(data.premultiplied, sizeof bitmap, &bitmap);
    const MemoryDc source(CreateCompatibleDC(dc));
    if (!source) return;
    HGDIOBJ old = SelectObject(source.get(), data.premultiplied);
    const BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    AlphaBlendFunction()(dc, origin, origin, bitmap.bmWidth, bitmap.bmHeight, source.get(), 0, 0, bitmap.bmWidth,
                         bitmap.bmHeight, blend);
    SelectObject(source.get(), old);
    return;
  }
  const UINT state = IsWindowEnabled(gadget->control) ? DSS_NORMAL : DSS_DISABLED;
  const UINT type = IsBitmap(data.image) ? DST_BITMAP : DST_ICON;
  DrawStateW(dc, nullptr, nullptr, static_cast<LPARAM>(data.image), 0, origin, origin, 0, 0, type | state);
}

// What the mouse does on the image; the control sees every message too.
void Mouse(GadgetRecord* gadget, UINT message, LPARAM lParam) {
  ImageGadgetData& data = gadget->image;
  const HWND control = gadget->control;
  const POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
  switch (message) {
    case WM_LBUTTONDOWN:
      data.dragArmed = 1;
      data.press = at;
      SetCapture(control);
      return;
    case WM_MOUSEMOVE:
      if (data.dragArmed && (std::abs(at.x - data.press.x) > GetSystemMetrics(SM_CXDRAG) ||
                             std::abs(at.y - data.press.y) > GetSystemMetrics(SM_CYDRAG))) {
        data.dragArmed = 0;
        ReleaseCapture();
        GadgetPostEvent(control, GadgetEventType::DragBegin);
      }
      return;
    case WM_LBUTTONUP:
      data.dragArmed = 0;
      if (GetCapture() == control) ReleaseCapture();
      return;
    case WM_LBUTTONDBLCLK:
      GadgetPostEvent(control, GadgetEventType::LeftDoubleClick);
      return;
    case WM_RBUTTONDBLCLK:
      GadgetPostEvent(control, GadgetEventType::RightDoubleClick);
      // The release that ends the double click is no click of its own.
      data.skipRightUp = 1;
      return;
    case WM_RBUTTONUP:
      if (data.skipRightUp) {
        data.skipRightUp = 0;
        return;
      }
      GadgetPostEvent(control, GadgetEventType::RightClick);
      return;
    default:
      return;
  }
}

LRESULT CALLBACK ImageProcedure(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
  GadgetRecord* gadget = GadgetOfControl(control);
  if (gadget) {
    switch (message) {
      case STM_SETIMAGE:
      case STM_SETICON:
        return SetImage(gadget, static_cast<intptr_t>(message == STM_SETICON ? wParam : lParam));
      case STM_GETIMAGE:
      case STM_GETICON:
        return gadget->image.image;
      case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(control, &paint);
        Paint(gadget, dc);
        EndPaint(control, &paint);
        return 0;
      }
      case WM_PRINT:
      case WM_PRINTCLIENT:
        Paint(gadget, reinterpret_cast<HDC>(wParam));
        return 0;
      case WM_ENABLE:
        InvalidateRect(control, nullptr, TRUE);
        break;
      default:
        Mouse(gadget, message, lParam);
        break;
    }
  }
  return CallWindowProcW(g_staticProcedure, control, message, wParam, lParam);
}

LRESULT Message(GadgetRecord*, HWND, UINT message, WPARAM wParam, LPARAM, bool* handled) {
  // A click is type 0 through the window procedure. The control's other
  // notifications would arrive there as types of their own (a double click
  // as 1, being disabled as 3) and are answered here instead: the image
  // posts its double clicks itself.
  if (message == WM_COMMAND && HIWORD(wParam) != STN_CLICKED) *handled = true;
  return 0;
}

void Free(GadgetRecord* gadget) {
  if (gadget->image.premultiplied) DeleteObject(gadget->image.premultiplied);
  gadget->image.premultiplied = nullptr;
  gadget->image.image = 0;
}

int64_t GetState(GadgetRecord* gadget) { return SendMessageW(gadget->control, STM_GETIMAGE, IMAGE_BITMAP, 0); }

void SetState(GadgetRecord* gadget, int64_t value) {
  const auto image = static_cast<intptr_t>(value);
  if (image && !IsBitmap(image)) {
    SendMessageW(gadget->control, STM_SETICON, static_cast<WPARAM>(image), 0);
  } else {
    SendMessageW(gadget->control, STM_SETIMAGE, IMAGE_BITMAP, static_cast<LPARAM>(image));
  }
}

}  // namespace

const GadgetKindTable kImageKind = {GadgetKind::Image, Message, Free,    GetState, SetState, nullptr, nullptr,
                                    nullptr,           nullptr, nullptr, nullptr,  nullptr,  nullptr, nullptr};

intptr_t ImageGadget(ObjectNumber number, int32_t x, int32_t y, int32_t width, int32_t height, intptr_t image,
                     int32_t flags) {
  intptr_t result = 0;
  RunOnUserInterfaceThread([&] {
    DWORD style = kImageStyle;
    DWORD extendedStyle = 0;
    if (flags & kSunken) {
      extendedStyle = WS_EX_CLIENTEDGE;
    } else if (flags & kRaised) {
      style |= WS_DLGFRAME;
    }
    HWND control = CreateWindowExW(extendedStyle, L"STATIC", nullptr, style, x, y, width, height,
                                   GadgetCurrentList(), reinterpret_cast<HMENU>(-1), GadgetInstance(), nullptr);
    if (control) SubclassControl(control, ImageProcedure, &g_staticProcedure);
    GadgetRecord* record = nullptr;
    result = GadgetRegister(number, control, &kImageKind, &record);
    if (!record) return;
    record->image = ImageGadgetData{0, nullptr, 0, 0, POINT{0, 0}};
    SetState(record, image);
  });
  return result;
}

}  // namespace rt
