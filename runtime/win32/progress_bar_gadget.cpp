// Progress bars ("msctls_progress32"); value -1 shows the marquee.
#include <windows.h>
#include <commctrl.h>

#include "win32/events.h"
#include "win32/gadget.h"
#include "win32/gadget_internal.h"

namespace rt {

namespace {

constexpr UINT kMarqueeIntervalMs = 100;
constexpr int32_t kBar = 1, kBack = 2;

int32_t RangeLimit(HWND control, bool low) {
  return static_cast<int32_t>(SendMessageW(control, PBM_GETRANGE, low ? TRUE : FALSE, 0));
}

void SetRange(HWND control, int32_t low, int32_t high) {
  SendMessageW(control, PBM_SETRANGE32, static_cast<WPARAM>(low), static_cast<LPARAM>(high));
}

void SetMarquee(GadgetRecord* gadget, bool on) {
  const HWND control = gadget->control;
  LONG_PTR style = GetWindowLongPtrW(control, GWL_STYLE);
  SetWindowLongPtrW(control, GWL_STYLE, on ? style | PBS_MARQUEE : style & ~static_cast<LONG_PTR>(PBS_MARQUEE));
  SendMessageW(control, PBM_SETMARQUEE, on ? TRUE : FALSE, kMarqueeIntervalMs);
  gadget->progressBar.marquee = on ? 1 : 0;
}

void SetState(GadgetRecord* gadget, int64_t value) {
  const HWND control = gadget->control;
  if (value == -1) {
    if (!gadget->progressBar.marquee) SetMarquee(gadget, true);
    return;
  }
  if (gadget->progressBar.marquee) SetMarquee(gadget, false);
  // One step past the value and back: a themed bar shows the new position
  // at once instead of animating towards it.
  const int32_t low = RangeLimit(control, true), high = RangeLimit(control, false);
  const auto position = static_cast<int32_t>(value);
  SetRange(control, low, high + 1);
  SendMessageW(control, PBM_SETPOS, static_cast<WPARAM>(position + 1), 0);
  SetRange(control, low, high);
  SendMessageW(control, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

int64_t GetState(GadgetRecord* gadget) {
  if (gadget->progressBar.marquee) return -1;
  return static_cast<int32_t>(SendMessageW(gadget->control, PBM_GETPOS, 0, 0));
}

int32_t GetAttribute(GadgetRecord* gadget, int32_t attribute) {
  if (attribute == 1) return RangeLimit(gadget->control, true);
  if (attribute == 2) return RangeLimit(gadget->control, false);
  return 0;
}

void SetAttribute(GadgetRecord* gadget, int32_t attribute, int32_t value) {
  const HWND control = gadget->control;
  if (attribute == 1) SetRange(control, value, RangeLimit(control, false));
  if (attribute == 2) SetRange(control, RangeLimit(control, true), value);
}

void SetColor(GadgetRecord* gadget, int32_t type, int64_t colour) {
  const LPARAM value = colour == -1 ? static_cast<LPARAM>(CLR_DEFAULT) : static_cast<LPARAM>(colour);
  if (type == kBar) {
    SendMessageW(gadget->control, PBM_SETBARCOLOR, 0, value);
    gadget->progressBar.bar = colour;
  } else if (type == kBack) {
    SendMessageW(gadget->control, PBM_SETBKCOLOR, 0, value);
    gadget->progressBar.back = colour;
  }
}

int64_t GetColor(GadgetRecord* gadget, int32_t type) {
  if (type == kBar) return gadget->progressBar.bar;
  if (type == kBack) return gadget->progressBar.back;
  return -1;
}

}  // namespace

const GadgetKindTable kProgressBarKind = {GadgetKind::ProgressBar, nullptr, nullptr, GetState, SetState,
                                          nullptr,                 nullptr, nullptr, nullptr,  nullptr,
                                          GetAttribute,            SetAttribute, SetColor, GetColor};

intptr_t ProgressBarGadget(ObjectNumber number, int32_t x, int32_t y, int32_t width, int32_t height, int32_t minimum,
                           int32_t maximum, int32_t flags) {
  intptr_t result = 0;
  RunOnUserInterfaceThread([&] {
    HWND control = CreateWindowExW(0, PROGRESS_CLASSW, nullptr, static_cast<DWORD>(flags) | WS_CHILD | WS_VISIBLE, x,
                                   y, width, height, GadgetCurrentList(), reinterpret_cast<HMENU>(-1),
                                   GadgetInstance(), nullptr);
    if (control) SetRange(control, minimum, maximum);
    GadgetRecord* record = nullptr;
    result = GadgetRegister(number, control, &kProgressBarKind, &record);
    if (!record) return;
    record->progressBar.back = -1;
    record->progressBar.bar = -1;
    record->progressBar.marquee = 0;
  });
  return result;
}

}  // namespace rt
