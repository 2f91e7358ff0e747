// Requesters: the message box and the open-file dialog, called as plain
// functions from any thread. The caller waits until the user has answered,
// and the box is modal for the program's windows. Each user-interface back
// end (runtime/qt, runtime/win32) implements exactly these: Qt widgets
// belong to the user-interface thread, so the Qt back end carries a call
// from another thread over to it; Win32 lets any thread own a dialog, so
// there it runs on the calling thread.
#pragma once

#include <cstdint>

#include "core/types.h"

namespace rt {

namespace MessageFlags {
constexpr int32_t YesNo = 1;
constexpr int32_t YesNoCancel = 2;   // only without YesNo
constexpr int32_t Information = 4;
constexpr int32_t Critical = 8;      // only without Information and Warning
constexpr int32_t Warning = 16;      // only without Information
}  // namespace MessageFlags

namespace MessageResult {
constexpr int32_t Other = 0;  // OK, or the box closed without Yes, No or Cancel
constexpr int32_t Cancel = 2;
constexpr int32_t Yes = 6;
constexpr int32_t No = 7;
}  // namespace MessageResult

int32_t MessageDialog(RtString title, RtString text, int32_t flags);
inline int32_t ShowMessage(RtString title, RtString text) { return MessageDialog(title, text, 0); }

constexpr int32_t FileDialogMultiple = 1;  // AskOpenFiles: several existing files

// `patterns` alternates names and patterns separated by "|", as in
// "Firmware (*.fw)|*.fw;"; a pattern part may hold several patterns separated
// by semicolons. The chosen path (the first one) is written at `offset` of
// the calling thread's workspace; an empty text when the user cancels.
void FileDialog(RtString title, RtString defaultFile, RtString patterns, int32_t defaultIndex, int32_t flags,
                int64_t offset, int32_t save);
inline void AskOpenFile(RtString title, RtString defaultFile, RtString patterns, int32_t defaultIndex, int64_t offset) {
  FileDialog(title, defaultFile, patterns, defaultIndex, 0, offset, 0);
}
inline void AskOpenFiles(RtString title, RtString defaultFile, RtString patterns, int32_t defaultIndex, int32_t flags,
                         int64_t offset) {
  FileDialog(title, defaultFile, patterns, defaultIndex, flags, offset, 0);
}
inline void AskSaveFile(RtString title, RtString defaultFile, RtString patterns, int32_t defaultIndex, int64_t offset) {
  FileDialog(title, defaultFile, patterns, defaultIndex, 0, offset, 1);
}

// The next path the last accepted dialog returned, removed from its list; an
// empty text when none is left.
void FileDialogNextSelection(int64_t offset);
// The filter the user chose in the last dialog: its index, -1 when it was
// none of the list, 0 after a cancelled dialog.
int32_t FileDialogChosenFilter();

}  // namespace rt
