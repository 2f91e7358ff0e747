// Requesters of the Win32 back end: what Windows adds to the shared
// declarations (ui/requesters.h), namely the library start and who owns a
// box or dialog. Both requesters run on the calling thread, which Windows
// allows on any thread: a worker's box is its own, modal for its owner.
#pragma once

#include <windows.h>

#include "ui/requesters.h"

namespace rt {

// Requester library start, on the start-up thread: the common-control
// classes the dialogs draw with, and OLE for that thread (the open dialog's
// shell view needs it).
void RequesterLibraryStart();

// The program's main window, which the window library registers when it
// opens it and withdraws (null) when it goes. A requester belongs to the
// foreground window when that window is this process's; when the user has
// switched to another program, a visible main window owns it instead, so
// that a result box raised by a worker still blocks the window it reports on.
// Without either the requester has no owner.
void RequesterSetMainWindow(HWND window);
HWND RequesterOwner();

}  // namespace rt
