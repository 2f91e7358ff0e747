#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "core/utf.h"

namespace rt {

int64_t FormatText(RtChar* destination, RtString format, ...) {
  char* utf8Format = ToUtf8(format);
  va_list arguments;
  va_start(arguments, format);
  // The measuring pass consumes its own copy of the arguments.
  va_list measuring;
  va_copy(measuring, arguments);
  const int length = std::vsnprintf(nullptr, 0, utf8Format, measuring);
  va_end(measuring);

  int64_t result = 0;
  if (!destination) {
    result = length > 0 ? length : 0;
  } else {
    destination[0] = 0;
    char* text = length >= 0 ? static_cast<char*>(std::malloc(static_cast<size_t>(length) + 1)) : nullptr;
    if (text && std::vsnprintf(text, static_cast<size_t>(length) + 1, utf8Format, arguments) == length) {
      // The destination holds at least length + 1 units, more than the text
      // can take in UTF-16, so the limit below is never what stops it.
      const int64_t units = Utf8ToUtf16(CodePageUtf8, text, length + 1, destination, int64_t{length} + 1);
      if (units > 0 && destination[units - 1] == 0) {
        result = units - 1;
      } else {
        // Malformed output converted nothing; a cut-short tail stopped early
        // without its terminator.
        destination[units] = 0;
        result = units;
      }
    }
    std::free(text);
  }
  va_end(arguments);
  FreeUtf8(utf8Format);
  return result;
}

}  // namespace rt
