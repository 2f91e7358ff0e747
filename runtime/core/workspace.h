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

void WorkspaceCreate();    // gives the calling thread a new workspace
void WorkspaceDestroy();   // frees the calling thread's workspace
void WorkspaceEnsure();    // creates key and/or workspace on first use of a thread

// Start-up and shut-down of the workspace key (the program entry calls them).
void WorkspaceStartup();
void WorkspaceShutdown();

// Text results follow one convention: written at `offset` in the calling
// thread's workspace, terminated, with the position right after the text.
void ReturnString(RtString text, int64_t offset);
void ReturnNumber(int64_t value, int64_t offset);

}  // namespace rt
