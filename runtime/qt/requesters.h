// The Qt requesters. On the user-interface thread they run as modal dialogs
// (exec). Called from another thread they are shown there without a nested
// event loop and the caller waits until the user has answered (ui_thread.h).
#pragma once

#include <QStringList>

#include "ui/requesters.h"

namespace rt {

// The dialog's name filters for a pattern string: "name (pattern pattern)".
// A final name without a pattern is dropped.
QStringList FileDialogFilters(const QString& patterns);

}  // namespace rt
