// RtString operations and string variables.
// A string variable is an owned pointer: null, or a plain heap block holding
// an RtString with room for the text plus 5 code units.
#pragma once

#include "core/types.h"

namespace rt {

int64_t StringLength(RtString s);                  // code units before the terminator
RtChar* StringCopy(RtChar* destination, RtString source);  // copies the terminator; returns destination
int StringEquals(RtString a, RtString b);          // 1 or 0; null equals ""
int StringCompare(RtString a, RtString b);         // 0, or the difference of the first differing units
int StringCompareNoCase(RtString a, RtString b);   // the same after wide lower-case mapping
RtChar StringLowerUnit(RtChar c);                  // the wide lower-case mapping used above

// String variables.
int64_t StringAssign(RtChar** variable, RtString text);       // bytes incl. terminator; null frees and yields 2
void StringAssignFromWorkspace(RtChar** variable, int64_t saved);
void StringDuplicate(RtChar** variable, RtString text);       // new copy (nothing for null)
void StringFree(RtChar** variable);                          // frees and nulls (null allowed)

}  // namespace rt
