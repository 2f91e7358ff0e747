// A requester is modal for the thread that shows it: while it is up, the
// thread's other visible top-level windows are disabled (the owner is
// disabled by the box itself) and none of them stays in the topmost band,
// where it could hide the requester. Another thread's windows are left alone,
// so a worker's box does not lock the user-interface thread's window beyond
// what its owner rule does.
#pragma once

#include <windows.h>

#include "core/memory.h"

namespace rt {

class ModalScope {
 public:
  ModalScope();   // begin: for the calling thread's windows
  ~ModalScope();  // end: each window back as it was
  ModalScope(const ModalScope&) = delete;
  ModalScope& operator=(const ModalScope&) = delete;

 private:
  static BOOL CALLBACK Note(HWND window, LPARAM scope);

  NodeListHead windows_ = nullptr;  // ModalWindow records
  HWND foreground_ = nullptr;
};

}  // namespace rt
