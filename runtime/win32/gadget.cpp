// The gadget library: the table, the default font and the generic
// operations. Every operation runs on the user-interface thread (carried
// there whole from any other), finds the gadget by number and does nothing
// when there is none. The program's own changes of a gadget's content run
// with posting suspended, so the notifications the control sends back while
// it changes raise no events.
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "core/workspace.h"
#include "ui/windows.h"
#include "win32/events.h"
#include "win32/gadget.h"
#include "win32/gadget_internal.h"

namespace rt {

namespace {

ObjectTable* g_gadgets = nullptr;
HFONT g_defaultFont = nullptr;
bool g_fontCreated = false;  // our own font, not the stock one

class PostingSuspended {
 public:
  PostingSuspended() { EventPostSuspend(); }
  ~PostingSuspended() { EventPostResume(); }
  PostingSuspended(const PostingSuspended&) = delete;
  PostingSuspended& operator=(const PostingSuspended&) = delete;
};

// Runs body(record) on the user-interface thread when the number names a gadget.
template <class Body>
void WithGadget(ObjectNumber gadget, Body&& body) {
  RunOnUserInterfaceThread([&] {
    if (GadgetRecord* record = GadgetRecordOf(gadget)) body(record);
  });
}

void WindowText(HWND control, std::u16string* text) {
  const int length = GetWindowTextLengthW(control);
  if (length <= 0) return;
  text->resize(static_cast<size_t>(length) + 1);
  const int copied = GetWindowTextW(control, reinterpret_cast<LPWSTR>(&(*text)[0]), length + 1);
  text->resize(static_cast<size_t>(copied > 0 ? copied : 0));
}

HFONT MessageFont() {
  NONCLIENTMETRICSW metrics{};
  // The size of the structure before its last member, which every version
  // of the system understands.
  metrics.cbSize = 500;
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, 500, &metrics, 0)) {
    if (HFONT font = CreateFontIndirectW(&metrics.lfMessageFont)) {
      g_fontCreated = true;
      return font;
    }
  }
  return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

}  // namespace

ObjectTable* GadgetTable() { return g_gadgets; }

GadgetRecord* GadgetRecordOf(ObjectNumber gadget) {
  return static_cast<GadgetRecord*>(ObjectTableGet(g_gadgets, gadget));
}

HFONT GadgetCurrentFont() { return g_defaultFont; }
HINSTANCE GadgetInstance() { return GetModuleHandleW(nullptr); }

HWND GadgetHandle(ObjectNumber gadget) {
  HWND control = nullptr;
  WithGadget(gadget, [&](GadgetRecord* record) { control = record->control; });
  return control;
}

int32_t GadgetKindOf(HWND control) {
  int32_t kind = 0;
  RunOnUserInterfaceThread([&] {
    if (GadgetRecord* record = GadgetOfControl(control)) kind = record->kind->kind;
  });
  return kind;
}

void GadgetDisable(ObjectNumber gadget, int32_t state) {
  WithGadget(gadget, [&](GadgetRecord* record) { EnableWindow(record->control, state == 0); });
}

void GadgetSetText(ObjectNumber gadget, RtString text) {
  WithGadget(gadget, [&](GadgetRecord* record) {
    PostingSuspended suspended;
    if (record->kind->setText) {
      record->kind->setText(record, text);
    } else {
      SetWindowTextW(record->control, reinterpret_cast<LPCWSTR>(text ? text : u""));
    }
  });
}

void GadgetGetText(ObjectNumber gadget, int64_t offset) {
  // Read on the user-interface thread, written into the caller's own workspace.
  std::u16string text;
  WithGadget(gadget, [&](GadgetRecord* record) {
    if (record->kind->getText) {
      record->kind->getText(record, &text);
    } else {
      WindowText(record->control, &text);
    }
  });
  ReturnString(text.c_str(), offset);
}

int32_t GadgetAddItem(ObjectNumber gadget, int32_t position, RtString text, intptr_t image, int32_t flags) {
  int32_t result = 0;
  WithGadget(gadget, [&](GadgetRecord* record) {
    if (!record->kind->addItem) return;
    PostingSuspended suspended;
    result = record->kind->addItem(record, position, text, image, flags);
  });
  return result;
}

void GadgetSetState(ObjectNumber gadget, int64_t value) {
  WithGadget(gadget, [&](GadgetRecord* record) {
    if (!record->kind->setState) return;
    PostingSuspended suspended;
    record->kind->setState(record, value);
  });
}

int64_t GadgetGetState(ObjectNumber gadget) {
  int64_t state = 0;
  WithGadget(gadget, [&](GadgetRecord* record) {
    if (record->kind->getState) state = record->kind->getState(record);
  });
  return state;
}

int32_t GadgetCountItems(ObjectNumber gadget) {
  int32_t count = 0;
  WithGadget(gadget, [&](GadgetRecord* record) {
    if (record->kind->countItems) count = record->kind->countItems(record);
  });
  return count;
}

void GadgetResize(ObjectNumber gadget, int32_t x, int32_t y, int32_t width, int32_t height) {
  WithGadget(gadget, [&](GadgetRecord* record) {
    RECT area;
    GetWindowRect(record->control, &area);
    MapWindowPoints(nullptr, GetParent(record->control), reinterpret_cast<POINT*>(&area), 2);
    if (x == UnsetCoordinate) x = area.left;
    if (y == UnsetCoordinate) y = area.top;
    if (width == UnsetCoordinate) width = area.right - area.left;
    if (height == UnsetCoordinate) height = area.bottom - area.top;
    if (record->kind->resize) {
      record->kind->resize(record, x, y, width, height);
      return;
    }
    MoveWindow(record->control, x, y, width, height, TRUE);
    InvalidateRect(record->control, nullptr, TRUE);
  });
}

void GadgetSetColor(ObjectNumber gadget, int32_t type, int64_t colour) {
  WithGadget(gadget, [&](GadgetRecord* record) {
    if (record->kind->setColor) record->kind->setColor(record, type, colour);
  });
}

int64_t GadgetGetColor(ObjectNumber gadget, int32_t type) {
  int64_t colour = -1;
  WithGadget(gadget, [&](GadgetRecord* record) {
    if (record->kind->getColor) colour = record->kind->getColor(record, type);
  });
  return colour;
}

int32_t GadgetGetAttribute(ObjectNumber gadget, int32_t attribute) {
  int32_t value = 0;
  WithGadget(gadget, [&](GadgetRecord* record) {
    if (record->kind->getAttribute) value = record->kind->getAttribute(record, attribute);
  });
  return value;
}

void GadgetSetAttribute(ObjectNumber gadget, int32_t attribute, int32_t value) {
  WithGadget(gadget, [&](GadgetRecord* record) {
    if (record->kind->setAttribute) record->kind->setAttribute(record, attribute, value);
  });
}

// Also the table's free function, which runs with the table locked; the
// control's tear-down (WM_NCDESTROY) releases the record.
void GadgetFree(ObjectNumber gadget) {
  RunOnUserInterfaceThread([&] {
    if (gadget == DynamicNumber) {
      ObjectTableReleaseAll(g_gadgets);
    } else if (GadgetRecord* record = GadgetRecordOf(gadget)) {
      DestroyWindow(record->control);
    }
  });
}

void GadgetLibraryStart() {
  if (!g_defaultFont) g_defaultFont = MessageFont();
  if (!g_gadgets) g_gadgets = ObjectTableCreate(sizeof(GadgetRecord), 50, GadgetFree);
  INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX),
                               ICC_TAB_CLASSES | ICC_HOTKEY_CLASS | ICC_DATE_CLASSES | ICC_USEREX_CLASSES |
                                   ICC_INTERNET_CLASSES};
  InitCommonControlsEx(&classes);
}

void GadgetLibraryEnd() {
  GadgetFree(DynamicNumber);
  if (g_fontCreated) DeleteObject(g_defaultFont);
  g_defaultFont = nullptr;
  g_fontCreated = false;
}

}  // namespace rt
