// The open and save dialogs through the common file dialog, on the calling
// thread (the program calls them on its user-interface thread).
#include <windows.h>
#include <commdlg.h>

#include <cstring>
#include <mutex>

#include "core/memory.h"
#include "core/rt_string.h"
#include "core/workspace.h"
#include "win32/modal_scope.h"
#include "win32/requesters.h"

namespace rt {

namespace {

constexpr DWORD kSingleUnits = MAX_PATH;  // one path, the system's classic limit
constexpr DWORD kMultipleUnits = 512000;  // a folder and many names
constexpr DWORD kFlags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;

// What the last dialog left behind. A multiple selection keeps the dialog's
// own buffer: the folder, then each name, every one terminated, and an empty
// name at the end.
struct Selection {
  RtChar* buffer = nullptr;  // SizedAlloc, or null
  int64_t next = 0;          // unit index of the next name to hand out
  int32_t chosenFilter = 0;
};
std::mutex g_lock;
Selection g_selection;  // guarded by g_lock

// A heap copy of a text (null stays null), so that nothing the dialog keeps
// pointing at lives in the caller's workspace: window procedures run while
// the dialog is up.
RtChar* Copy(RtString text, int64_t extraUnits = 0) {
  const int64_t units = StringLength(text);
  auto* copy = static_cast<RtChar*>(SizedAlloc(static_cast<size_t>(units + 1 + extraUnits) * sizeof(RtChar)));
  if (copy && units) std::memcpy(copy, text, static_cast<size_t>(units) * sizeof(RtChar));
  return copy;
}

// The system's filter list: each "|" of the pattern string becomes a
// terminator, and two more end the list ("Firmware (*.fw)|*.fw;" is the name
// "Firmware (*.fw)" with the pattern "*.fw;"). Counts the complete pairs.
RtChar* FilterList(RtString patterns, int32_t* pairs) {
  RtChar* list = Copy(patterns, 2);
  int32_t parts = StringLength(patterns) > 0 ? 1 : 0;
  for (RtChar* unit = list; unit && *unit; ++unit) {
    if (*unit == u'|') {
      *unit = 0;
      ++parts;
    }
  }
  *pairs = parts / 2;
  return list;
}

bool UnfitForAName(RtString name) {
  for (; *name; ++name) {
    switch (*name) {
      case u'"': case u'*': case u'/': case u':': case u'<': case u'>': case u'?': case u'\\': case u'|':
        return true;
      default:
        if (*name < 0x20) return true;
    }
  }
  return false;
}

// The default file splits at its last backslash into the folder the dialog
// starts in and the name it proposes; a name the user could not have typed
// (a pattern with wildcards, a control character) is not proposed.
RtChar* SplitDefaultFile(RtString defaultFile, RtChar* name, DWORD nameUnits) {
  const int64_t units = StringLength(defaultFile);
  int64_t slash = units - 1;
  while (slash >= 0 && defaultFile[slash] != u'\\') --slash;
  RtChar* folder = nullptr;
  RtString proposed = defaultFile;
  if (slash > 0) {
    folder = static_cast<RtChar*>(SizedAlloc(static_cast<size_t>(slash + 1) * sizeof(RtChar)));
    if (folder) std::memcpy(folder, defaultFile, static_cast<size_t>(slash) * sizeof(RtChar));
    proposed = defaultFile + slash + 1;
  }
  int64_t take = StringLength(proposed);
  if (take > static_cast<int64_t>(nameUnits) - 1) take = nameUnits - 1;
  std::memcpy(name, proposed, static_cast<size_t>(take) * sizeof(RtChar));
  name[take] = 0;
  if (UnfitForAName(name)) name[0] = 0;
  return folder;
}

// Under g_lock: the next name of the kept selection joined to its folder, or
// an empty text.
void TakeNext(int64_t offset) {
  const RtChar* buffer = g_selection.buffer;
  if (!buffer || buffer[g_selection.next] == 0) {
    WorkspaceSetEmpty(offset);
    return;
  }
  const RtChar* name = buffer + g_selection.next;
  const int64_t folderUnits = StringLength(buffer);
  const int64_t nameUnits = StringLength(name);
  const int64_t separator = folderUnits > 0 && buffer[folderUnits - 1] != u'\\' ? 1 : 0;
  RtChar* to = WorkspaceReserve(folderUnits + separator + nameUnits, offset);
  std::memcpy(to, buffer, static_cast<size_t>(folderUnits) * sizeof(RtChar));
  if (separator) to[folderUnits] = u'\\';
  std::memcpy(to + folderUnits + separator, name, static_cast<size_t>(nameUnits) * sizeof(RtChar));
  to[folderUnits + separator + nameUnits] = 0;
  g_selection.next += nameUnits + 1;
}

void Forget() {
  SizedFree(g_selection.buffer);
  g_selection = Selection{};
}

}  // namespace

void FileDialog(RtString title, RtString defaultFile, RtString patterns, int32_t defaultIndex, int32_t flags,
                int64_t offset, int32_t save) {
  {
    std::lock_guard<std::mutex> guard(g_lock);
    Forget();
  }
  const bool multiple = (flags & FileDialogMultiple) != 0;
  const DWORD units = multiple ? kMultipleUnits : kSingleUnits;
  auto* file = static_cast<RtChar*>(SizedAlloc(units * sizeof(RtChar)));
  int32_t pairs = 0;
  RtChar* filters = FilterList(patterns, &pairs);
  RtChar* caption = title ? Copy(title) : nullptr;
  RtChar* folder = nullptr;
  BOOL accepted = FALSE;
  if (file && filters && (caption || !title)) {
    if (defaultFile && *defaultFile) folder = SplitDefaultFile(defaultFile, file, units);

    OPENFILENAMEW dialog;
    std::memset(&dialog, 0, sizeof dialog);
    dialog.lStructSize = sizeof dialog;  // the full size, newer trailing members included
    dialog.hwndOwner = RequesterOwner();
    dialog.lpstrFilter = reinterpret_cast<LPCWSTR>(filters);
    // An index outside the list leaves the first filter selected.
    dialog.nFilterIndex = defaultIndex >= 0 && defaultIndex < pairs ? static_cast<DWORD>(defaultIndex) + 1 : 1;
    dialog.lpstrFile = reinterpret_cast<LPWSTR>(file);
    dialog.nMaxFile = units;
    dialog.lpstrInitialDir = reinterpret_cast<LPCWSTR>(folder);
    dialog.lpstrTitle = reinterpret_cast<LPCWSTR>(caption);
    dialog.Flags = kFlags | (multiple ? OFN_ALLOWMULTISELECT : 0);
    {
      ModalScope modal;
      accepted = save ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog);
    }
    if (accepted) {
      std::lock_guard<std::mutex> guard(g_lock);
      g_selection.chosenFilter = dialog.nFilterIndex > 0 ? static_cast<int32_t>(dialog.nFilterIndex) - 1 : -1;
    }
  }
  SizedFree(folder);
  SizedFree(caption);
  SizedFree(filters);

  // A cancelled or failed dialog gives the empty text, never a stale path.
  if (!accepted) {
    SizedFree(file);
    WorkspaceSetEmpty(offset);
    return;
  }
  const RtChar* second = file + StringLength(file) + 1;
  if (!multiple || *second == 0) {
    // One path: a single selection, or a multiple one of a single file,
    // which the system gives whole.
    ReturnString(file, offset);
    SizedFree(file);
    return;
  }
  std::lock_guard<std::mutex> guard(g_lock);
  g_selection.buffer = file;
  g_selection.next = second - file;
  TakeNext(offset);
}

void FileDialogNextSelection(int64_t offset) {
  std::lock_guard<std::mutex> guard(g_lock);
  TakeNext(offset);
}

int32_t FileDialogChosenFilter() {
  std::lock_guard<std::mutex> guard(g_lock);
  return g_selection.chosenFilter;
}

}  // namespace rt
