// The five gadget kinds with their real controls: what the program sees of
// each (events, texts, states, sizes), and the tear-down of gadgets.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "ui_test_support.h"
#include "win32/event_kind.h"
#include "win32/events.h"
#include "win32/gadget.h"
#include "win32/windows.h"

namespace {

using ui_test::Count;
using ui_test::Drain;
using ui_test::Event;
using ui_test::GadgetText;
namespace EventKind = rt::EventKind;
namespace GadgetEventType = rt::GadgetEventType;

class GadgetTest : public ui_test::WindowTest {};

int32_t Height(HWND control) {
  RECT area;
  GetWindowRect(control, &area);
  return area.bottom - area.top;
}

SIZE Size(HWND control) {
  RECT area;
  GetWindowRect(control, &area);
  return SIZE{area.right - area.left, area.bottom - area.top};
}

TEST_F(GadgetTest, ButtonClickIsTypeZeroWithTheGadgetsIdentity) {
  const auto button = static_cast<int64_t>(rt::ButtonGadget(rt::DynamicNumber, 10, 10, 90, 20, u"Open", 0));
  ASSERT_NE(button, 0);
  const HWND control = rt::GadgetHandle(button);
  EXPECT_EQ(reinterpret_cast<int64_t>(GetPropW(control, L"KT_ID")), button);
  EXPECT_EQ(GetWindowLongPtrW(control, GWLP_ID), button);
  SendMessageW(control, BM_CLICK, 0, 0);
  const std::vector<Event> seen = Drain();
  ASSERT_EQ(Count(seen, EventKind::Gadget), 1u);
  for (const Event& event : seen) {
    if (event.kind != EventKind::Gadget) continue;
    EXPECT_EQ(event.object, button);
    EXPECT_EQ(event.window, window_);
    EXPECT_EQ(event.type, GadgetEventType::LeftClick);
  }
  EXPECT_EQ(GadgetText(button), u"Open");
  EXPECT_EQ(rt::GadgetAddItem(button, -1, u"x"), 0) << "a button has no items";
}

TEST_F(GadgetTest, ComboBoxIsTheRequestedHeightAndStartsWithNothingChosen) {
  // Whether the system draws themed controls is the system's: Wine here
  // shows whichever it has; the height rule must hold for both.
  const auto combo = static_cast<int64_t>(rt::ComboBoxGadget(rt::DynamicNumber, 10, 70, 70, 20, 0));
  ASSERT_NE(combo, 0);
  const HWND control = rt::GadgetHandle(combo);
  EXPECT_EQ(Height(control), 20);
  EXPECT_EQ((GetWindowLongPtrW(control, GWL_STYLE) & CBS_DROPDOWNLIST), CBS_DROPDOWNLIST);
  for (const char16_t* name : {u"COM3", u"COM4", u"COM7"}) EXPECT_EQ(rt::GadgetAddItem(combo, -1, name), 1);
  EXPECT_EQ(Height(control), 20) << "after items were added";
  EXPECT_EQ(rt::GadgetCountItems(combo), 3);
  EXPECT_EQ(rt::GadgetGetState(combo), -1) << "adding selects nothing";
  EXPECT_EQ(GadgetText(combo), u"");
  EXPECT_EQ(rt::GadgetAddItem(combo, 0, u"COM1"), 1) << "in front";
  EXPECT_EQ(rt::GadgetAddItem(combo, -2, u"never"), 0);
  EXPECT_EQ(rt::GadgetCountItems(combo), 4);
  Drain();

  // The user picks with the keyboard: the control's own notification.
  SetFocus(control);
  Drain();
  PostMessageW(control, WM_KEYDOWN, VK_DOWN, 0);
  const std::vector<Event> chosen = Drain();
  EXPECT_EQ(Count(chosen, EventKind::Gadget, combo), 1u);
  EXPECT_EQ(Count(chosen, EventKind::Gadget, combo, GadgetEventType::Change), 1u);
  EXPECT_EQ(Count(chosen, EventKind::Gadget, combo, GadgetEventType::FocusIn), 0u) << "a list has no focus events";
  EXPECT_EQ(GadgetText(combo), u"COM1");
  EXPECT_EQ(rt::GadgetGetState(combo), 0);

  // The program's own choice raises nothing.
  rt::GadgetSetState(combo, 2);
  EXPECT_EQ(Count(Drain(), EventKind::Gadget), 0u);
  EXPECT_EQ(GadgetText(combo), u"COM4");
  rt::GadgetSetText(combo, u"COM7");
  EXPECT_EQ(rt::GadgetGetState(combo), 3);
  rt::GadgetSetText(combo, u"COM9");
  EXPECT_EQ(rt::GadgetGetState(combo), 3) << "no such item: the choice stays";
  rt::GadgetSetText(combo, u"");
  EXPECT_EQ(rt::GadgetGetState(combo), -1);
  EXPECT_EQ(Count(Drain(), EventKind::Gadget), 0u);
  EXPECT_EQ(Height(control), 20);
}

TEST_F(GadgetTest, StringGadgetReportsTypingButNotTheProgramsText) {
  const auto field = static_cast<int64_t>(rt::StringGadget(rt::DynamicNumber, 90, 70, 200, 20, u"trx.fw", 0));
  ASSERT_NE(field, 0);
  const HWND control = rt::GadgetHandle(field);
  EXPECT_TRUE(GetWindowLongPtrW(control, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
  EXPECT_EQ(GadgetText(field), u"trx.fw");
  Drain();
  rt::GadgetSetText(field, u"other.fw");
  EXPECT_EQ(Count(Drain(), EventKind::Gadget), 0u);
  EXPECT_EQ(GadgetText(field), u"other.fw");

  SetFocus(control);
  std::vector<Event> seen = Drain();
  EXPECT_EQ(Count(seen, EventKind::Gadget, field, GadgetEventType::FocusIn), 1u);
  SendMessageW(control, WM_CHAR, 'x', 1);
  seen = Drain();
  EXPECT_EQ(Count(seen, EventKind::Gadget, field, GadgetEventType::Change), 1u);
  EXPECT_EQ(Count(seen, EventKind::Gadget, field, 0x400), 1u) << "EN_UPDATE before the change";
  SetFocus(handle_);
  EXPECT_EQ(Count(Drain(), EventKind::Gadget, field, GadgetEventType::FocusOut), 1u);

  rt::GadgetSetAttribute(field, 1, 0);
  EXPECT_EQ(rt::GadgetGetAttribute(field, 1), 1) << "a limit is at least one";
}

TEST_F(GadgetTest, FieldColoursShareOneBrush) {
  const auto a = static_cast<int64_t>(rt::StringGadget(rt::DynamicNumber, 10, 10, 100, 20, u"a", 0));
  const auto b = static_cast<int64_t>(rt::StringGadget(rt::DynamicNumber, 10, 40, 100, 20, u"b", 0));
  rt::GadgetSetColor(a, 2, rt::RgbColor(1, 2, 3));
  rt::GadgetSetColor(b, 2, rt::RgbColor(1, 2, 3));
  rt::GadgetSetColor(b, 1, rt::RgbColor(200, 0, 0));
  EXPECT_EQ(rt::GadgetGetColor(b, 1), rt::RgbColor(200, 0, 0));
  HDC dc = CreateCompatibleDC(nullptr);
  auto brushOf = [&](int64_t gadget) {
    const HWND control = rt::GadgetHandle(gadget);
    return reinterpret_cast<HBRUSH>(SendMessageW(handle_, WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc),
                                                 reinterpret_cast<LPARAM>(control)));
  };
  const HBRUSH shared = brushOf(a);
  ASSERT_NE(shared, nullptr);
  EXPECT_EQ(brushOf(b), shared);
  EXPECT_EQ(GetTextColor(dc), RGB(200, 0, 0));
  LOGBRUSH info{};
  ASSERT_TRUE(GetObjectW(shared, sizeof info, &info));
  EXPECT_EQ(info.lbColor, RGB(1, 2, 3));
  DeleteDC(dc);
  rt::GadgetFree(a);
  EXPECT_NE(GetObjectType(shared), 0u) << "still used by the other field";
  rt::GadgetSetColor(b, 2, -1);
  EXPECT_EQ(GetObjectType(shared), 0u) << "the last user gave it back";
}

TEST_F(GadgetTest, ProgressBarShowsValuesAtOnceAndTheMarquee) {
  const auto bar = static_cast<int64_t>(rt::ProgressBarGadget(rt::DynamicNumber, 10, 110, 380, 30, 0, 100, 0));
  ASSERT_NE(bar, 0);
  const HWND control = rt::GadgetHandle(bar);
  rt::GadgetSetState(bar, 50);
  EXPECT_EQ(rt::GadgetGetState(bar), 50);
  EXPECT_EQ(SendMessageW(control, PBM_GETRANGE, FALSE, 0), 100) << "the range is back after the step past";
  rt::GadgetSetState(bar, -1);
  EXPECT_EQ(rt::GadgetGetState(bar), -1);
  EXPECT_TRUE(GetWindowLongPtrW(control, GWL_STYLE) & PBS_MARQUEE);
  rt::GadgetSetState(bar, 0);
  EXPECT_EQ(rt::GadgetGetState(bar), 0);
  EXPECT_FALSE(GetWindowLongPtrW(control, GWL_STYLE) & PBS_MARQUEE);
  EXPECT_EQ(rt::GadgetGetAttribute(bar, 1), 0);
  EXPECT_EQ(rt::GadgetGetAttribute(bar, 2), 100);
  rt::GadgetSetAttribute(bar, 2, 200);
  EXPECT_EQ(rt::GadgetGetAttribute(bar, 2), 200);
}

// A 32-bit bottom-up DIB section of one colour and alpha (straight).
HBITMAP SolidImage(int width, int height, uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  auto* pixel = static_cast<uint8_t*>(bits);
  for (int i = 0; i < width * height; ++i, pixel += 4) {
    pixel[0] = blue;
    pixel[1] = green;
    pixel[2] = red;
    pixel[3] = alpha;
  }
  return bitmap;
}

// What the image gadget paints over a background of `under`, at (1, 1).
COLORREF Painted(HWND control, COLORREF under) {
  HDC dc = CreateCompatibleDC(nullptr);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = 8;
  info.bmiHeader.biHeight = 8;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP target = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(dc, target);
  RECT all{0, 0, 8, 8};
  HBRUSH fill = CreateSolidBrush(under);
  FillRect(dc, &all, fill);
  DeleteObject(fill);
  SendMessageW(control, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
  const COLORREF colour = GetPixel(dc, 1, 1);
  SelectObject(dc, old);
  DeleteObject(target);
  DeleteDC(dc);
  return colour;
}

TEST_F(GadgetTest, ImageGadgetTakesTheImagesSizeAndDrawsItsAlpha) {
  const HBITMAP banner = SolidImage(400, 60, 255, 0, 0, 255);
  const HBITMAP small = SolidImage(100, 20, 255, 0, 0, 0);  // alpha all 0: no alpha at all
  const HBITMAP half = SolidImage(100, 20, 255, 0, 0, 128);
  rt::ImageGadget(0, 0, 0, 400, 60, reinterpret_cast<intptr_t>(banner), 0);
  const HWND control = rt::GadgetHandle(0);
  ASSERT_NE(control, nullptr);
  EXPECT_EQ(Size(control).cx, 400);
  EXPECT_EQ(Size(control).cy, 60);
  EXPECT_EQ(rt::GadgetGetState(0), reinterpret_cast<int64_t>(banner));
  EXPECT_EQ(Painted(control, RGB(0, 0, 255)), RGB(255, 0, 0));

  rt::GadgetSetState(0, reinterpret_cast<int64_t>(small));
  EXPECT_EQ(Size(control).cx, 100);
  EXPECT_EQ(Size(control).cy, 20);
  EXPECT_EQ(Painted(control, RGB(0, 0, 255)), RGB(255, 0, 0)) << "drawn opaque, not blended away";

  rt::GadgetSetState(0, reinterpret_cast<int64_t>(half));
  const COLORREF blended = Painted(control, RGB(0, 0, 255));
  EXPECT_NEAR(GetRValue(blended), 127, 3);
  EXPECT_NEAR(GetBValue(blended), 127, 3);

  rt::GadgetFree(0);
  EXPECT_EQ(rt::GadgetHandle(0), nullptr);
  for (HBITMAP bitmap : {banner, small, half}) DeleteObject(bitmap);
}

TEST_F(GadgetTest, ImageGadgetMouseEvents) {
  const HBITMAP image = SolidImage(50, 50, 0, 255, 0, 255);
  const auto gadget = static_cast<int64_t>(rt::ImageGadget(rt::DynamicNumber, 0, 0, 10, 10,
                                                           reinterpret_cast<intptr_t>(image), 0));
  const HWND control = rt::GadgetHandle(gadget);
  ASSERT_NE(control, nullptr);
  EXPECT_EQ(Size(control).cx, 50);
  Drain();
  auto types = [&] {
    std::vector<int64_t> result;
    for (const Event& event : Drain()) {
      if (event.kind == EventKind::Gadget && event.object == gadget) result.push_back(event.type);
    }
    return result;
  };
  SendMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  SendMessageW(control, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(types(), (std::vector<int64_t>{GadgetEventType::LeftClick}));
  SendMessageW(control, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(5, 5));
  SendMessageW(control, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(types(), (std::vector<int64_t>{GadgetEventType::LeftDoubleClick})) << "and no other type for it";
  SendMessageW(control, WM_RBUTTONUP, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(types(), (std::vector<int64_t>{GadgetEventType::RightClick}));
  SendMessageW(control, WM_RBUTTONDBLCLK, MK_RBUTTON, MAKELPARAM(5, 5));
  SendMessageW(control, WM_RBUTTONUP, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(types(), (std::vector<int64_t>{GadgetEventType::RightDoubleClick}));
  const int beyond = GetSystemMetrics(SM_CXDRAG) + 1;
  SendMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  types();
  SendMessageW(control, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(5 + beyond, 5));
  SendMessageW(control, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(5 + 2 * beyond, 5));
  EXPECT_EQ(types(), (std::vector<int64_t>{GadgetEventType::DragBegin}));
  SendMessageW(control, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  EnableWindow(control, FALSE);
  EnableWindow(control, TRUE);
  EXPECT_TRUE(types().empty()) << "being disabled is no event";
  rt::GadgetFree(gadget);
  DeleteObject(image);
}

TEST_F(GadgetTest, TearDownReleasesNumbersAndPurgesEvents) {
  const auto button = static_cast<int64_t>(rt::ButtonGadget(rt::DynamicNumber, 10, 10, 50, 20, u"B", 0));
  SendMessageW(rt::GadgetHandle(button), BM_CLICK, 0, 0);
  rt::GadgetFree(button);
  EXPECT_EQ(Count(Drain(), EventKind::Gadget, button), 0u) << "its queued click went with it";
  EXPECT_EQ(rt::GadgetGetState(button), 0);
  EXPECT_EQ(GadgetText(button), u"");

  // A fixed number used again replaces the old gadget.
  const auto first = reinterpret_cast<HWND>(rt::ButtonGadget(5, 10, 10, 50, 20, u"one", 0));
  const auto second = reinterpret_cast<HWND>(rt::StringGadget(5, 10, 40, 50, 20, u"two", 0));
  ASSERT_TRUE(first && second);
  EXPECT_FALSE(IsWindow(first));
  EXPECT_EQ(GadgetText(5), u"two");
  EXPECT_EQ(rt::GadgetKindOf(second), rt::GadgetKind::String);
  rt::GadgetFree(5);
}

TEST_F(GadgetTest, EachWindowKeepsItsOwnGadgetList) {
  const auto second = static_cast<int64_t>(rt::WindowOpen(rt::DynamicNumber, 0, 0, 200, 100, u"second", 0));
  const HWND secondHandle = rt::WindowHandle(second);
  const HWND inSecond = rt::GadgetHandle(rt::ButtonGadget(rt::DynamicNumber, 0, 0, 50, 20, u"2", 0));
  EXPECT_EQ(GetParent(inSecond), secondHandle);
  EXPECT_EQ(rt::GadgetListSelect(handle_), secondHandle);
  const HWND inFirst = rt::GadgetHandle(rt::ButtonGadget(rt::DynamicNumber, 0, 0, 50, 20, u"1", 0));
  EXPECT_EQ(GetParent(inFirst), handle_);
  rt::WindowFree(second);
  EXPECT_EQ(rt::GadgetListSelect(nullptr), handle_);
}

}  // namespace
