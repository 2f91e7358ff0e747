#include "io/path_posix.h"

#include <climits>

#include "core/utf.h"

namespace rt {

namespace {

// Walks at most PATH_MAX code units, so an absurdly long name costs no more
// than a legal one. Each unit needs at least one UTF-8 byte, so a name that
// reaches the limit in units is too long in bytes as well.
bool WellFormedAndShort(RtString name) {
  int64_t units = 0;
  for (const RtChar* p = name; *p; ++p) {
    if (++units >= PATH_MAX) return false;
    const RtChar unit = *p;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (p[1] < 0xDC00 || p[1] > 0xDFFF) return false;
      ++p;
      if (++units >= PATH_MAX) return false;
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      return false;
    }
  }
  return units > 0;
}

}  // namespace

char* PathFromName(RtString name) {
  if (!name || !WellFormedAndShort(name)) return nullptr;
  // The count includes the terminator, which PATH_MAX also counts.
  const int64_t bytes = Utf16ToUtf8(CodePageUtf8, name, -1, nullptr, 0);
  if (bytes <= 1 || bytes > PATH_MAX) return nullptr;
  char* path = ToUtf8(name);
  if (!path[0]) {  // conversion failed (out of memory)
    FreeUtf8(path);
    return nullptr;
  }
  return path;
}

}  // namespace rt
