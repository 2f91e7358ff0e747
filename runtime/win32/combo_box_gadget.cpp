// Combo boxes: a drop-down list (or, with flag 0x2, an editable field with a
// list). The closed control is exactly the height the program asked for:
// the system sizes it from the item height, so the item height is set to
// the requested height less the control's own overhead, measured once.
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "win32/event_kind.h"
#include "win32/events.h"
#include "win32/gadget.h"
#include "win32/gadget_internal.h"
#include "win32/window_internal.h"

namespace rt {

namespace {

constexpr int32_t kEditable = 0x00000002;
constexpr int32_t kWithImages = 0x10000000;
constexpr DWORD kListStyle = CBS_DROPDOWNLIST | WS_TABSTOP;
constexpr DWORD kCommonStyle = WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_GROUP;

// The height of the closed control beyond its item height: the same for
// every combo box of the process (one font, one theme).
int32_t g_overhead = -1;

bool IsEditable(const GadgetRecord* gadget) {
  return (GetWindowLongPtrW(gadget->control, GWL_STYLE) & CBS_DROPDOWNLIST) != CBS_DROPDOWNLIST;
}

int32_t WindowHeight(HWND control) {
  RECT area;
  GetWindowRect(control, &area);
  return area.bottom - area.top;
}

// The height given to the control window: its list included.
int32_t CreationHeight(bool extended, int32_t height) {
  return !extended && ApplicationThemed() ? height + 30 : 350;
}

void ApplyClosedHeight(GadgetRecord* gadget) {
  if (g_overhead < 0) {
    SendMessageW(gadget->control, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), 15);
    g_overhead = WindowHeight(gadget->control) - 15;
  }
  const int32_t itemHeight = gadget->comboBox.closedHeight - g_overhead;
  if (itemHeight > 0) SendMessageW(gadget->control, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), itemHeight);
}

int32_t SelectedIndex(GadgetRecord* gadget) {
  return static_cast<int32_t>(SendMessageW(gadget->control, CB_GETCURSEL, 0, 0));
}

void ItemText(GadgetRecord* gadget, int32_t index, std::u16string* text) {
  const LRESULT length = SendMessageW(gadget->control, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (index < 0 || length == CB_ERR || length <= 0) return;
  text->resize(static_cast<size_t>(length) + 1);
  const LRESULT copied = SendMessageW(gadget->control, CB_GETLBTEXT, static_cast<WPARAM>(index),
                                      reinterpret_cast<LPARAM>(&(*text)[0]));
  text->resize(copied > 0 ? static_cast<size_t>(copied) : 0);
}

LRESULT Message(GadgetRecord* gadget, HWND, UINT message, WPARAM wParam, LPARAM, bool* handled) {
  if (message != WM_COMMAND) return 0;
  *handled = true;  // notifications not listed here raise nothing
  switch (HIWORD(wParam)) {
    case CBN_SELCHANGE:
      // While it is posted, the text read is the chosen item's, not the
      // field's, which the control updates only afterwards.
      gadget->comboBox.postingSelection = 1;
      GadgetPostEvent(gadget->control, GadgetEventType::Change);
      gadget->comboBox.postingSelection = 0;
      break;
    case CBN_EDITCHANGE:
      GadgetPostEvent(gadget->control, GadgetEventType::Change);
      break;
    case CBN_SETFOCUS:
    case CBN_KILLFOCUS:
      // A drop-down list has no field of its own to report focus for.
      if (IsEditable(gadget)) {
        GadgetPostEvent(gadget->control,
                        HIWORD(wParam) == CBN_SETFOCUS ? GadgetEventType::FocusIn : GadgetEventType::FocusOut);
      }
      break;
    default:
      break;
  }
  return 0;
}

int64_t GetState(GadgetRecord* gadget) {
  const int32_t index = SelectedIndex(gadget);
  if (IsEditable(gadget)) {
    std::u16string field(static_cast<size_t>(GetWindowTextLengthW(gadget->control)) + 1, u'\0');
    GetWindowTextW(gadget->control, reinterpret_cast<LPWSTR>(&field[0]), static_cast<int>(field.size()));
    if (SendMessageW(gadget->control, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                     reinterpret_cast<LPARAM>(field.c_str())) == CB_ERR) {
      return -1;  // the typed text is no item
    }
  }
  return index;
}

void SetState(GadgetRecord* gadget, int64_t value) {
  SendMessageW(gadget->control, CB_SETCURSEL, static_cast<WPARAM>(value), 0);
}

void GetText(GadgetRecord* gadget, std::u16string* text) {
  const bool plain = !gadget->comboBox.extended || IsEditable(gadget);
  if (plain && !gadget->comboBox.postingSelection) {
    const int length = GetWindowTextLengthW(gadget->control);
    if (length <= 0) return;
    text->resize(static_cast<size_t>(length) + 1);
    const int copied = GetWindowTextW(gadget->control, reinterpret_cast<LPWSTR>(&(*text)[0]), length + 1);
    text->resize(copied > 0 ? static_cast<size_t>(copied) : 0);
    return;
  }
  ItemText(gadget, static_cast<int32_t>(GetState(gadget)), text);
}

void SetText(GadgetRecord* gadget, RtString text) {
  const auto* units = reinterpret_cast<LPCWSTR>(text ? text : u"");
  if (IsEditable(gadget)) {
    SetWindowTextW(gadget->control, units);
  } else if (!*units) {
    SendMessageW(gadget->control, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
  } else {
    // A text that is no item leaves the selection as it is.
    const LRESULT index =
        SendMessageW(gadget->control, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(units));
    if (index != CB_ERR) SendMessageW(gadget->control, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  }
}

int32_t AddItem(GadgetRecord* gadget, int32_t position, RtString text, intptr_t, int32_t) {
  const auto* units = reinterpret_cast<LPCWSTR>(text ? text : u"");
  if (gadget->comboBox.extended) {
    COMBOBOXEXITEMW item{};
    item.mask = CBEIF_TEXT;
    item.iItem = position < 0 ? SendMessageW(gadget->control, CB_GETCOUNT, 0, 0) : position;
    item.pszText = const_cast<LPWSTR>(units);
    return SendMessageW(gadget->control, CBEM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)) < 0 ? 0 : 1;
  }
  if (position < -1) return 0;
  // Inserting never selects: a new combo box shows nothing chosen.
  const LRESULT index =
      SendMessageW(gadget->control, CB_INSERTSTRING, static_cast<WPARAM>(position), reinterpret_cast<LPARAM>(units));
  if (index < 0) return 0;
  // The first item can make the system size the closed control anew.
  ApplyClosedHeight(gadget);
  return 1;
}

int32_t CountItems(GadgetRecord* gadget) {
  return static_cast<int32_t>(SendMessageW(gadget->control, CB_GETCOUNT, 0, 0));
}

void Resize(GadgetRecord* gadget, int32_t x, int32_t y, int32_t width, int32_t height) {
  const LRESULT selection = SendMessageW(gadget->control, CB_GETCURSEL, 0, 0);
  gadget->comboBox.closedHeight = height;
  MoveWindow(gadget->control, x, y, width, CreationHeight(gadget->comboBox.extended, height), TRUE);
  ApplyClosedHeight(gadget);
  SendMessageW(gadget->control, CB_SETCURSEL, static_cast<WPARAM>(selection), 0);
}

}  // namespace

const GadgetKindTable kComboBoxKind = {GadgetKind::ComboBox, Message, nullptr, GetState, SetState, GetText,
                                       SetText, AddItem, CountItems, Resize, nullptr, nullptr, nullptr, nullptr};

intptr_t ComboBoxGadget(ObjectNumber number, int32_t x, int32_t y, int32_t width, int32_t height, int32_t flags) {
  intptr_t result = 0;
  RunOnUserInterfaceThread([&] {
    const bool extended = flags & kWithImages;
    DWORD style = static_cast<DWORD>(flags & ~kWithImages);
    if (!(flags & kEditable)) style |= kListStyle;
    style |= kCommonStyle;
    HWND control = CreateWindowExW(0, extended ? WC_COMBOBOXEXW : L"ComboBox", L"", style, x, y, width,
                                   CreationHeight(extended, height), GadgetCurrentList(),
                                   reinterpret_cast<HMENU>(-1), GadgetInstance(), nullptr);
    if (control && (flags & kEditable)) {
      HWND field = extended ? reinterpret_cast<HWND>(SendMessageW(control, CBEM_GETEDITCONTROL, 0, 0))
                            : GetWindow(control, GW_CHILD);
      if (field) SetWindowLongPtrW(field, GWL_STYLE, GetWindowLongPtrW(field, GWL_STYLE) | WS_TABSTOP);
    }
    GadgetRecord* record = nullptr;
    result = GadgetRegister(number, control, &kComboBoxKind, &record);
    if (!record) return;
    record->comboBox.extended = extended;
    record->comboBox.images = nullptr;
    record->comboBox.postingSelection = 0;
    record->comboBox.closedHeight = height;
    ApplyClosedHeight(record);
  });
  return result;
}

}  // namespace rt
