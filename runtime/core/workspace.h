// The per-thread string workspace: a growable buffer used like a stack in
// which string expressions are built and into which text-valued operations
// write their results, so that building text costs no heap call per piece.
//
// Protocol: S = WorkspacePosition(); append the pieces (WorkspaceAppend,
// ReturnNumber(v, WorkspacePosition()), or any text-valued operation with
// WorkspacePosition() as its output offset); WorkspaceTerminate(); take the
// address WorkspaceString(S) only now, since any piece may move the buffer;
// use it; WorkspaceRestore(S).
//
// Positions and offsets are byte offsets (two per code unit).
//
// The workspace has no error channel: running out of memory while growing it,
// or an offset outside it, ends the process with a message on stderr rather
// than handing out a dangling or too-small buffer. A thread that uses the
// workspace without having one gets one on first use (as WorkspaceEnsure).
#pragma once

#include "core/thread_key.h"
#include "core/types.h"

namespace rt {

namespace workspace_detail {

struct StringWorkspace {
  char* buffer;      // plain heap block of capacity + 10 bytes (16 when new)
  int64_t capacity;  // usable bytes
  int64_t position;  // first free byte
  // A clean-up entry owns this record and frees it when the thread ends.
  bool registered;
};

// The calling thread's workspace, created on first use. Where thread_local is
// native TLS the lookup is inline: the protocol's steps below are on the path
// of every string expression.
StringWorkspace* CreateForUse();
#if RT_NATIVE_THREAD_LOCAL
extern thread_local StringWorkspace* t_own;
inline StringWorkspace* Current() {
  StringWorkspace* ws = t_own;
  return ws ? ws : CreateForUse();
}
#else
StringWorkspace* Current();
#endif

[[noreturn]] void PositionOutside(int64_t position, int64_t capacity);

// Positions may run up to the last place a terminator fits in the block.
inline void SetPosition(StringWorkspace* ws, int64_t position) {
  if (position < 0 || position > ws->capacity + 8) PositionOutside(position, ws->capacity);
  ws->position = position;
}

}  // namespace workspace_detail

inline int64_t WorkspacePosition() { return workspace_detail::Current()->position; }
inline char* WorkspaceBase() { return workspace_detail::Current()->buffer; }  // valid until the next reservation
inline RtString WorkspaceString(int64_t offset) { return reinterpret_cast<RtString>(WorkspaceBase() + offset); }

RtChar* WorkspaceReserve(int64_t units, int64_t offset);  // offset -1 = the position
void WorkspaceAppend(RtString text);
inline void WorkspaceTerminate() {
  auto* ws = workspace_detail::Current();
  workspace_detail::SetPosition(ws, ws->position + 2);
}
inline void WorkspaceRestore(int64_t saved) { workspace_detail::SetPosition(workspace_detail::Current(), saved); }
void WorkspaceTrim(int64_t units);
void WorkspaceSetEmpty(int64_t offset);

void WorkspaceCreate();    // gives the calling thread a new workspace (one it has starts afresh)
void WorkspaceDestroy();   // frees the calling thread's workspace (none is fine)
void WorkspaceEnsure();    // creates the calling thread's workspace on first use

// Start-up and shut-down (the program entry calls them on the start-up
// thread): start-up gives the calling thread a workspace if it has none;
// shut-down frees it. The key itself lives as long as the process, so a
// thread that still runs keeps a valid workspace.
void WorkspaceStartup();
void WorkspaceShutdown();

// Text results follow one convention: written at `offset` in the calling
// thread's workspace, terminated, with the position right after the text.
// The text may itself lie in the workspace.
void ReturnString(RtString text, int64_t offset);
void ReturnNumber(int64_t value, int64_t offset);

// Diagnostics for tests: the calling thread's usable bytes (0 without a
// workspace), whether it has a workspace (never creates one), and the number
// of workspaces alive in the process.
int64_t WorkspaceCapacity();
bool WorkspaceExists();
int64_t WorkspaceLiveCount();

}  // namespace rt
