// Runtime windows: size, placement, flags, class, background and freeing.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "ui_test_support.h"
#include "win32/event_kind.h"
#include "win32/events.h"
#include "win32/gadget.h"
#include "win32/windows.h"

namespace {

using ui_test::Drain;
namespace Flags = rt::WindowFlags;

class WindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ui_test::StartUserInterface(); }
  void TearDown() override {
    rt::WindowFree(rt::DynamicNumber);
    Drain();
  }
};

SIZE ClientSize(HWND window) {
  RECT client;
  GetClientRect(window, &client);
  return SIZE{client.right, client.bottom};
}

TEST_F(WindowTest, TheProgramsWindow) {
  const auto number =
      static_cast<int64_t>(rt::WindowOpen(rt::DynamicNumber, 0, 0, 400, 200, u"Update firmware 1.0.2", 0x00C80001));
  ASSERT_NE(number, 0);
  const HWND window = rt::WindowHandle(number);
  ASSERT_NE(window, nullptr);
  const SIZE client = ClientSize(window);
  EXPECT_EQ(client.cx, 400);
  EXPECT_EQ(client.cy, 200);
  RECT frame;
  GetWindowRect(window, &frame);
  EXPECT_EQ(frame.left, (GetSystemMetrics(SM_CXSCREEN) - (frame.right - frame.left)) / 2);
  EXPECT_EQ(frame.top, (GetSystemMetrics(SM_CYSCREEN) - (frame.bottom - frame.top)) / 2);
  const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
  EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_FALSE(style & WS_THICKFRAME);
  EXPECT_FALSE(style & 0x7) << "the runtime's bits stay out of the style";
  EXPECT_TRUE(IsWindowVisible(window));
  wchar_t title[64];
  GetWindowTextW(window, title, 64);
  EXPECT_EQ(std::wstring(title), L"Update firmware 1.0.2");
  EXPECT_EQ(rt::GadgetListSelect(nullptr), window) << "the current gadget list";
  // A class of its own, named after the window.
  wchar_t name[64];
  GetClassNameW(window, name, 64);
  EXPECT_EQ(std::wstring(name), L"WindowClass_" + std::to_wstring(number));
}

TEST_F(WindowTest, ClassGoesWithTheWindow) {
  ASSERT_NE(rt::WindowOpen(3, 0, 0, 100, 100, u"three", 0), 0);
  WNDCLASSW info;
  EXPECT_TRUE(GetClassInfoW(GetModuleHandleW(nullptr), L"WindowClass_3", &info));
  rt::WindowFree(3);
  EXPECT_EQ(rt::WindowHandle(3), nullptr);
  EXPECT_FALSE(GetClassInfoW(GetModuleHandleW(nullptr), L"WindowClass_3", &info));
  // The number opens again, with a class again.
  ASSERT_NE(rt::WindowOpen(3, 0, 0, 100, 100, u"three again", 0), 0);
  EXPECT_TRUE(GetClassInfoW(GetModuleHandleW(nullptr), L"WindowClass_3", &info));
}

TEST_F(WindowTest, ReusingANumberReplacesTheWindowAndItsEvents) {
  const auto first = reinterpret_cast<HWND>(rt::WindowOpen(4, 0, 0, 100, 100, u"first", 0));
  ASSERT_NE(first, nullptr);
  Drain();
  rt::EventPost(rt::EventKind::WindowLeftClick, 0, 4, 0);
  const auto second = reinterpret_cast<HWND>(rt::WindowOpen(4, 0, 0, 100, 100, u"second", 0));
  ASSERT_NE(second, nullptr);
  EXPECT_FALSE(IsWindow(first));
  EXPECT_EQ(rt::WindowHandle(4), second);
  EXPECT_EQ(ui_test::Count(Drain(), rt::EventKind::WindowLeftClick), 0u);
}

TEST_F(WindowTest, FlagsZeroStillGiveATitleBar) {
  const auto plain = reinterpret_cast<HWND>(rt::WindowOpen(0, 20, 30, 120, 80, nullptr, 0));
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(GetWindowLongPtrW(plain, GWL_STYLE) & WS_CAPTION, WS_CAPTION);
  EXPECT_TRUE(IsWindowVisible(plain));
  EXPECT_EQ(ClientSize(plain).cx, 120);
  EXPECT_EQ(ClientSize(plain).cy, 80);

  const auto hidden = reinterpret_cast<HWND>(rt::WindowOpen(1, 20, 30, 120, 80, u"", Flags::Invisible));
  ASSERT_NE(hidden, nullptr);
  EXPECT_FALSE(IsWindowVisible(hidden));
  EXPECT_EQ(GetWindowLongPtrW(hidden, GWL_STYLE) & WS_CAPTION, WS_CAPTION);

  // Given styles of its own, a window has only those.
  const auto popup = reinterpret_cast<HWND>(rt::WindowOpen(2, 20, 30, 120, 80, u"", static_cast<int32_t>(WS_POPUP)));
  ASSERT_NE(popup, nullptr);
  EXPECT_EQ(GetWindowLongPtrW(popup, GWL_STYLE) & WS_CAPTION, 0);
  EXPECT_EQ(ClientSize(popup).cx, 120);
}

TEST_F(WindowTest, UnsetCoordinates) {
  // x unset: the system places the window, whatever y says.
  const auto placed = reinterpret_cast<HWND>(rt::WindowOpen(0, rt::UnsetCoordinate, 40, 100, 60, u"", 0x00C80000));
  ASSERT_NE(placed, nullptr);
  RECT frame;
  GetWindowRect(placed, &frame);
  EXPECT_GT(frame.left, -1000);
  EXPECT_GT(frame.top, -1000);
  // y unset with centring: centred.
  const auto centred =
      reinterpret_cast<HWND>(rt::WindowOpen(1, 0, rt::UnsetCoordinate, 100, 60, u"", 0x00C80000 | Flags::ScreenCentered));
  ASSERT_NE(centred, nullptr);
  GetWindowRect(centred, &frame);
  EXPECT_EQ(frame.top, (GetSystemMetrics(SM_CYSCREEN) - (frame.bottom - frame.top)) / 2);
  // Centred on its parent window.
  const auto parent = reinterpret_cast<HWND>(rt::WindowOpen(2, 100, 100, 300, 300, u"", 0x00C80000));
  const auto child = reinterpret_cast<HWND>(
      rt::WindowOpen(3, 0, 0, 100, 100, u"", 0x00C80000 | Flags::WindowCentered, parent));
  ASSERT_TRUE(parent && child);
  RECT outer, inner;
  GetWindowRect(parent, &outer);
  GetWindowRect(child, &inner);
  EXPECT_EQ(inner.left, outer.left + ((outer.right - outer.left) - (inner.right - inner.left)) / 2);
  EXPECT_EQ(inner.top, outer.top + ((outer.bottom - outer.top) - (inner.bottom - inner.top)) / 2);
}

// The colour beneath a child after the window erased its background into a
// memory picture filled with `under` first.
COLORREF ErasedAt(HWND window, POINT at, COLORREF under) {
  RECT client;
  GetClientRect(window, &client);
  HDC screen = GetDC(window);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, client.right, client.bottom);
  HGDIOBJ old = SelectObject(dc, bitmap);
  HBRUSH fill = CreateSolidBrush(under);
  FillRect(dc, &client, fill);
  DeleteObject(fill);
  SendMessageW(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  const COLORREF colour = GetPixel(dc, at.x, at.y);
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  ReleaseDC(window, screen);
  return colour;
}

TEST_F(WindowTest, BackgroundLiesBeneathFieldsButNotButtons) {
  const auto window = reinterpret_cast<HWND>(rt::WindowOpen(0, 0, 0, 400, 200, u"", 0x00C80001));
  ASSERT_NE(window, nullptr);
  rt::WindowSetColor(0, rt::RgbColor(42, 42, 42));
  EXPECT_EQ(rt::WindowColor(0), 0x2A2A2A);
  rt::ButtonGadget(rt::DynamicNumber, 10, 10, 50, 20, u"B", 0);
  rt::StringGadget(rt::DynamicNumber, 100, 10, 50, 20, u"S", 0);
  const COLORREF blue = RGB(0, 0, 255);
  EXPECT_EQ(ErasedAt(window, POINT{300, 150}, blue), RGB(42, 42, 42)) << "the open background";
  EXPECT_EQ(ErasedAt(window, POINT{20, 15}, blue), blue) << "a button's face is its own";
  EXPECT_EQ(ErasedAt(window, POINT{110, 15}, blue), RGB(42, 42, 42)) << "a field stands on the background";
  // The same colour again changes nothing: no repaint is asked for.
  ValidateRect(window, nullptr);
  rt::WindowSetColor(0, rt::RgbColor(42, 42, 42));
  EXPECT_FALSE(GetUpdateRect(window, nullptr, FALSE));
  rt::WindowSetColor(0, -1);
  EXPECT_TRUE(GetUpdateRect(window, nullptr, FALSE));
}

}  // namespace
