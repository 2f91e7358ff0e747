// The message box. Windows lets any thread show one, so a worker's box runs
// on the worker itself; its owner (the window it blocks) is chosen by
// RequesterOwner.
#include <windows.h>

#include "win32/modal_scope.h"
#include "win32/requesters.h"

namespace rt {

namespace {

// The flags and results are those of the shared contract on every platform;
// the system's own MB_ and ID values are a detail of this back end.
UINT BoxStyle(int32_t flags) {
  UINT style = MB_OK;
  if (flags & MessageFlags::YesNo) {
    style = MB_YESNO;
  } else if (flags & MessageFlags::YesNoCancel) {
    style = MB_YESNOCANCEL;
  }
  if (flags & MessageFlags::Information) {
    style |= MB_ICONINFORMATION;
  } else if (flags & MessageFlags::Warning) {
    style |= MB_ICONWARNING;
  } else if (flags & MessageFlags::Critical) {
    style |= MB_ICONERROR;
  }
  return style;
}

// Closing a box that has no Cancel button also reports IDCANCEL; only the
// button itself counts as Cancel.
int32_t ResultOf(int pressed, UINT style) {
  switch (pressed) {
    case IDYES:
      return MessageResult::Yes;
    case IDNO:
      return MessageResult::No;
    case IDCANCEL:
      return (style & MB_TYPEMASK) == MB_YESNOCANCEL ? MessageResult::Cancel : MessageResult::Other;
    default:
      return MessageResult::Other;
  }
}

}  // namespace

int32_t MessageDialog(RtString title, RtString text, int32_t flags) {
  HWND owner = RequesterOwner();
  const UINT style = BoxStyle(flags);
  ModalScope modal;
  const int pressed = MessageBoxW(owner, reinterpret_cast<LPCWSTR>(text ? text : u""),
                                  reinterpret_cast<LPCWSTR>(title ? title : u""), style);
  return ResultOf(pressed, style);
}

}  // namespace rt
