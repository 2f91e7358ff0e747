// RtString operations and string variables.
// A string variable is an owned pointer: null, or a plain heap block (malloc,
// not SizedAlloc) holding an RtString with room for the text plus 5 code units.
#pragma once

#include "core/types.h"

namespace rt {

int64_t StringLength(RtString s);                  // code units before the terminator
RtChar* StringCopy(RtChar* destination, RtString source);  // copies the terminator; returns destination
int StringEquals(RtString a, RtString b);          // 1 or 0; null equals ""
int StringCompare(RtString a, RtString b);         // 0, or the difference of the first differing units
int StringCompareNoCase(RtString a, RtString b);   // the same after wide lower-case mapping
// The wide lower-case mapping used above: the simple (one-to-one) Unicode
// lower-case mapping of a BMP code unit. It is the same on every platform and
// in every locale, so sorting and matching never depend on the environment.
// Surrogates and unmapped units map to themselves.
RtChar StringLowerUnit(RtChar c);

// String variables. A failed allocation leaves the variable as it was (its
// old block valid and unchanged) and yields 0; success yields the bytes of
// the new text including its terminator (at least 2).
int64_t StringAssign(RtChar** variable, RtString text);       // null frees the variable and yields 2
// Moves the text from `saved` to the workspace position into the variable
// and restores the position to `saved` (on failure too).
int64_t StringAssignFromWorkspace(RtChar** variable, int64_t saved);
// Stores a new block with a copy of `text` in the variable, which is only an
// output: a block it held before is not freed. Null text stores nothing and
// yields 0.
int64_t StringDuplicate(RtChar** variable, RtString text);
void StringFree(RtChar** variable);                          // frees and nulls (null allowed)

}  // namespace rt
