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

#include "core/types.h"

namespace rt {

int64_t WorkspacePosition();
char* WorkspaceBase();                         // valid until the next reservation
inline RtString WorkspaceString(int64_t offset) { return reinterpret_cast<RtString>(WorkspaceBase() + offset); }

RtChar* WorkspaceReserve(int64_t units, int64_t offset);  // offset -1 = the position
void WorkspaceAppend(RtString text);
void WorkspaceTerminate();
void WorkspaceRestore(int64_t saved);
void WorkspaceTrim(int64_t units);
void WorkspaceSetEmpty(int64_t offset);

void WorkspaceCreate();    // gives the calling thread a new workspace (replacing one it has)
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
