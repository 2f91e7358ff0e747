// The gadget record, the kinds' operation tables and what the gadget files
// share; not for the program. Everything here runs on the user-interface
// thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "core/object_table.h"
#include "core/types.h"

namespace rt {

struct GadgetRecord;

// A kind's operations; a null entry means the generic behaviour.
struct GadgetKindTable {
  int32_t kind;
  // Messages the parent receives about the control (WM_COMMAND, WM_NOTIFY,
  // WM_CTLCOLOR..., scrolling). Sets *handled when it answers.
  LRESULT (*message)(GadgetRecord* gadget, HWND parent, UINT message, WPARAM wParam, LPARAM lParam, bool* handled);
  void (*free)(GadgetRecord* gadget);
  int64_t (*getState)(GadgetRecord* gadget);
  void (*setState)(GadgetRecord* gadget, int64_t value);
  void (*getText)(GadgetRecord* gadget, std::u16string* text);
  void (*setText)(GadgetRecord* gadget, RtString text);
  int32_t (*addItem)(GadgetRecord* gadget, int32_t position, RtString text, intptr_t image, int32_t flags);
  int32_t (*countItems)(GadgetRecord* gadget);
  void (*resize)(GadgetRecord* gadget, int32_t x, int32_t y, int32_t width, int32_t height);
  int32_t (*getAttribute)(GadgetRecord* gadget, int32_t attribute);
  void (*setAttribute)(GadgetRecord* gadget, int32_t attribute, int32_t value);
  void (*setColor)(GadgetRecord* gadget, int32_t type, int64_t colour);
  int64_t (*getColor)(GadgetRecord* gadget, int32_t type);
};

// The four words each kind keeps for itself.
struct ImageGadgetData {
  intptr_t image;              // the HBITMAP or HICON shown, or 0
  HBITMAP premultiplied;       // a copy for alpha drawing, or null
  int32_t dragArmed;           // the left button went down on the image
  int32_t skipRightUp;         // the right button's release ends a double click
  POINT press;                 // where the left button went down
};
struct ComboBoxGadgetData {
  int32_t extended;            // class "ComboBoxEx32"
  void* images;                // its image list, or null
  int32_t postingSelection;    // a selection change is being posted
  int32_t closedHeight;        // the height asked for, without the list
};
struct StringGadgetData {
  int64_t back;                // -1: none
  int64_t front;               // -1: none
  HBRUSH brush;                // the shared brush of `back`
};
struct ProgressBarGadgetData {
  int64_t back;
  int64_t bar;
  int32_t marquee;
};

// Element of the gadget table; the control is the presence word.
struct GadgetRecord {
  HWND control;
  const GadgetKindTable* kind;
  WNDPROC previous;  // the control's procedure before the common one
  union {
    intptr_t words[4];
    ImageGadgetData image;
    ComboBoxGadgetData comboBox;
    StringGadgetData string;
    ProgressBarGadgetData progressBar;
  };
};
static_assert(sizeof(ImageGadgetData) <= 4 * sizeof(intptr_t), "four words");

constexpr wchar_t kGadgetIdProperty[] = L"KT_ID";

ObjectTable* GadgetTable();
// The gadget of a live number, or null.
GadgetRecord* GadgetRecordOf(ObjectNumber gadget);
// The gadget whose control `control` is (its identifier names it and the
// record names the control back), or null.
GadgetRecord* GadgetOfControl(HWND control);
int64_t GadgetIdentity(const GadgetRecord* gadget);

// Common creation, after the kind has made its control: record, the common
// procedure, identifier, "KT_ID" and font. A control it cannot register is
// destroyed. Returns what the creation operation returns.
intptr_t GadgetRegister(ObjectNumber number, HWND control, const GadgetKindTable* kind, GadgetRecord** created);
// The window new controls go into, or null.
HWND GadgetCurrentList();
HFONT GadgetCurrentFont();
HINSTANCE GadgetInstance();

// Posts a gadget event of `control` (nothing for a control being torn down).
void GadgetPostEvent(HWND control, int64_t type);
// The parent's side: hands a message about `control` to its gadget's kind.
bool GadgetParentMessage(HWND control, HWND parent, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

// Subclassing with a procedure shared by every control of a class: the
// class's own procedure is kept once, on the first control.
WNDPROC SubclassControl(HWND control, WNDPROC procedure, WNDPROC* saved);

// The shared brushes of the colour cache (brush_cache.cpp).
HBRUSH BrushCacheAcquire(int64_t colour);
void BrushCacheRelease(int64_t colour);

// The kinds' tables.
extern const GadgetKindTable kButtonKind;
extern const GadgetKindTable kComboBoxKind;
extern const GadgetKindTable kStringKind;
extern const GadgetKindTable kProgressBarKind;
extern const GadgetKindTable kImageKind;

}  // namespace rt
