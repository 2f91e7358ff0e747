#include "core/utf.h"

#include <cstdlib>
#include <cstring>

#include "core/rt_string.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define RT_UTF_SSE2 1
#endif

namespace rt {

namespace {

constexpr RtChar kEmptyUnits[1] = {0};
constexpr char kEmptyBytes[1] = {0};
char g_emptyFallback[1] = {0};  // handed out when not even one byte can be had

inline bool IsHigh(unsigned c) { return c >= 0xD800 && c <= 0xDBFF; }
inline bool IsLow(unsigned c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Copies a leading run of ASCII units as bytes, at most `room` of them.
inline int64_t NarrowAscii(const RtChar* s, int64_t n, unsigned char* d, int64_t room) {
  const int64_t limit = n < room ? n : room;
  int64_t i = 0;
#if RT_UTF_SSE2
  const __m128i bias = _mm_set1_epi16(0x7F80);
  while (limit - i >= 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 8));
    if (_mm_movemask_epi8(_mm_adds_epu16(_mm_or_si128(a, b), bias)) & 0xAAAA) break;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_packus_epi16(a, b));
    i += 16;
  }
#endif
  for (; i < limit; ++i) {
    const unsigned c = s[i];
    if (c >= 0x80) break;
    d[i] = static_cast<unsigned char>(c);
  }
  return i;
}

// Length of the leading run of bytes below 0x80.
inline int64_t AsciiBytes(const unsigned char* s, int64_t n) {
  int64_t i = 0;
#if RT_UTF_SSE2
  while (n - i >= 16) {
    if (_mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i)))) break;
    i += 16;
  }
#endif
  while (i < n && s[i] < 0x80) ++i;
  return i;
}

// Widens a leading run of ASCII bytes, at most `room` of them.
inline int64_t WidenAscii(const unsigned char* s, int64_t n, RtChar* d, int64_t room) {
  const int64_t limit = n < room ? n : room;
  int64_t i = 0;
#if RT_UTF_SSE2
  const __m128i zero = _mm_setzero_si128();
  while (limit - i >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    if (_mm_movemask_epi8(v)) break;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_unpacklo_epi8(v, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i + 8), _mm_unpackhi_epi8(v, zero));
    i += 16;
  }
#endif
  for (; i < limit; ++i) {
    const unsigned c = s[i];
    if (c >= 0x80) break;
    d[i] = static_cast<RtChar>(c);
  }
  return i;
}

inline bool Ascii16(const RtChar* s) {
#if RT_UTF_SSE2
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 8));
  return (_mm_movemask_epi8(_mm_adds_epu16(_mm_or_si128(a, b), _mm_set1_epi16(0x7F80))) & 0xAAAA) == 0;
#else
  uint64_t w[4];
  std::memcpy(w, s, sizeof w);
  return ((w[0] | w[1] | w[2] | w[3]) & 0xFF80FF80FF80FF80ull) == 0;
#endif
}

inline void Narrow16(const RtChar* s, unsigned char* d) {
#if RT_UTF_SSE2
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 8));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_packus_epi16(a, b));
#else
  for (int k = 0; k < 16; ++k) d[k] = static_cast<unsigned char>(s[k]);
#endif
}

// Bytes of one character, or -1 at a high surrogate without its low one
// (where counting stops).
inline int CountOne(const RtChar* s, const RtChar* end) {
  const unsigned c = *s;
  if (c < 0x80) return 1;
  if (c < 0x800) return 2;
  if (c - 0xD800 >= 0x400) return 3;
  return (end - s >= 2 && s[1] - 0xDC00u < 0x400) ? 4 : -1;
}

// Blocks of 16 units at a time, as the converter below.
int64_t CountUtf8(const RtChar* s, int64_t n) {
  const RtChar* const end = s + n;
  int64_t bytes = 0;
  while (s < end) {
    if (end - s >= 16 && Ascii16(s)) {
      s += 16, bytes += 16;
      continue;
    }
    const RtChar* const stop = end - s >= 16 ? s + 16 : end;
    while (s < stop) {
      const int size = CountOne(s, end);
      if (size < 0) return bytes;
      bytes += size;
      s += size == 4 ? 2 : 1;
    }
  }
  return bytes;
}

enum class Encoded { Ok, Malformed, Stop };

// One character, without a room check.
inline Encoded EncodeOne(const RtChar*& s, const RtChar* end, unsigned char*& d) {
  const unsigned c = *s;
  if (c < 0x80) {
    *d++ = static_cast<unsigned char>(c), ++s;
  } else if (c < 0x800) {
    d[0] = static_cast<unsigned char>(0xC0 | (c >> 6));
    d[1] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    d += 2, ++s;
  } else if (c - 0xD800 >= 0x400) {
    d[0] = static_cast<unsigned char>(0xE0 | (c >> 12));
    d[1] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
    d[2] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    d += 3, ++s;
  } else {
    if (end - s < 2) return Encoded::Stop;
    const unsigned low = s[1];
    if (low - 0xDC00 >= 0x400) return Encoded::Malformed;
    const unsigned cp = 0x10000 + (((c & 0x3FF) << 10) | (low & 0x3FF));
    d[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
    d[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
    d[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
    d[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    d += 4, s += 2;
  }
  return Encoded::Ok;
}

// The destination holds the worst case (3 bytes a unit; a pair takes 4 for
// 2), so no character needs a room check. Blocks of 16 units are tested once
// each: all-ASCII blocks are narrowed at once, the others go one character
// at a time (a pair may end one unit past its block).
int64_t ConvertUtf8Unchecked(const RtChar* s, int64_t n, unsigned char* d) {
  const RtChar* const end = s + n;
  unsigned char* const first = d;
  while (end - s >= 16) {
    if (Ascii16(s)) {
      Narrow16(s, d);
      s += 16, d += 16;
      continue;
    }
    const RtChar* const stop = s + 16;
    while (s < stop) {
      const Encoded e = EncodeOne(s, end, d);
      if (e != Encoded::Ok) return e == Encoded::Malformed ? 0 : d - first;
    }
  }
  while (s < end) {
    const Encoded e = EncodeOne(s, end, d);
    if (e != Encoded::Ok) return e == Encoded::Malformed ? 0 : d - first;
  }
  return d - first;
}

int64_t ConvertUtf8(const RtChar* s, int64_t n, unsigned char* d, int64_t room) {
  if (n <= room / 3) return ConvertUtf8Unchecked(s, n, d);
  int64_t i = 0, o = 0;
  while (i < n) {
    const unsigned c = s[i];
    if (c < 0x80) {
      if (o >= room) break;
      const int64_t run = NarrowAscii(s + i, n - i, d + o, room - o);
      i += run;
      o += run;
    } else if (c < 0x800) {
      if (room - o < 2) break;
      d[o] = static_cast<unsigned char>(0xC0 | (c >> 6));
      d[o + 1] = static_cast<unsigned char>(0x80 | (c & 0x3F));
      o += 2, ++i;
    } else if (IsHigh(c)) {
      if (i + 1 >= n) break;
      const unsigned low = s[i + 1];
      if (!IsLow(low)) return 0;
      if (room - o < 4) break;
      const unsigned cp = 0x10000 + (((c & 0x3FF) << 10) | (low & 0x3FF));
      d[o] = static_cast<unsigned char>(0xF0 | (cp >> 18));
      d[o + 1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
      d[o + 2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
      d[o + 3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
      o += 4, i += 2;
    } else {
      if (room - o < 3) break;
      d[o] = static_cast<unsigned char>(0xE0 | (c >> 12));
      d[o + 1] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
      d[o + 2] = static_cast<unsigned char>(0x80 | (c & 0x3F));
      o += 3, ++i;
    }
  }
  return o;
}

// One UTF-8 character at s[0..n): its code point and length, or a verdict.
enum class Decoded { Ok, Malformed, Stop };

inline Decoded DecodeOne(const unsigned char* s, int64_t n, uint32_t* codePoint, int* length) {
  const unsigned lead = s[0];
  int follow;
  uint32_t cp, minimum;
  if (lead < 0x80) {
    *codePoint = lead;
    *length = 1;
    return Decoded::Ok;
  } else if (lead < 0xC0) {
    return Decoded::Malformed;  // stray continuation byte
  } else if (lead < 0xE0) {
    follow = 1, cp = lead & 0x1F, minimum = 0x80;
  } else if (lead < 0xF0) {
    follow = 2, cp = lead & 0x0F, minimum = 0x800;
  } else if (lead < 0xF8) {
    follow = 3, cp = lead & 0x07, minimum = 0x10000;
  } else {
    return Decoded::Malformed;
  }
  for (int j = 1; j <= follow; ++j) {
    if (j >= n) return Decoded::Stop;  // cut short by the end of the input
    const unsigned b = s[j];
    if ((b & 0xC0) != 0x80) return Decoded::Malformed;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < minimum) return Decoded::Malformed;  // overlong form
  if (cp > 0x10FFFF) return Decoded::Stop;
  *codePoint = cp;
  *length = follow + 1;
  return Decoded::Ok;
}

int64_t CountUtf16(const unsigned char* s, int64_t n) {
  int64_t i = 0, units = 0;
  while (i < n) {
    if (s[i] < 0x80) {
      const int64_t run = AsciiBytes(s + i, n - i);
      i += run;
      units += run;
      continue;
    }
    uint32_t cp;
    int length;
    if (DecodeOne(s + i, n - i, &cp, &length) != Decoded::Ok) break;
    units += cp >= 0x10000 ? 2 : 1;
    i += length;
  }
  return units;
}

int64_t ConvertUtf16(const unsigned char* s, int64_t n, RtChar* d, int64_t room) {
  int64_t i = 0, o = 0;
  while (i < n) {
    if (s[i] < 0x80) {
      if (o >= room) break;
      const int64_t run = WidenAscii(s + i, n - i, d + o, room - o);
      i += run;
      o += run;
      continue;
    }
    uint32_t cp;
    int length;
    const Decoded verdict = DecodeOne(s + i, n - i, &cp, &length);
    if (verdict == Decoded::Malformed) return 0;
    if (verdict == Decoded::Stop) break;
    if (cp >= 0x10000) {
      if (room - o < 2) break;
      d[o] = static_cast<RtChar>(0xD800 | ((cp - 0x10000) >> 10));
      d[o + 1] = static_cast<RtChar>(0xDC00 | ((cp - 0x10000) & 0x3FF));
      o += 2;
    } else {
      if (o >= room) break;
      d[o++] = static_cast<RtChar>(cp);
    }
    i += length;
  }
  return o;
}

}  // namespace

int64_t Utf16ToUtf8(int32_t codePage, const RtChar* source, int64_t sourceUnits, char* destination,
                    int64_t destinationBytes) {
  if ((codePage != CodePageUtf8 && codePage != CodePageLatin1) || sourceUnits < -1) return 0;
  if (!source) {
    source = kEmptyUnits;
    if (sourceUnits != 0) sourceUnits = 1;
  } else if (sourceUnits == -1) {
    sourceUnits = StringLength(source) + 1;
  }
  if (destination && destinationBytes < 0) destinationBytes = 0;
  auto* out = reinterpret_cast<unsigned char*>(destination);

  if (codePage == CodePageLatin1) {
    int64_t o = 0;
    for (int64_t i = 0; i < sourceUnits; ++i) {
      const unsigned c = source[i];
      if (c >= 256) continue;
      if (out) {
        if (o >= destinationBytes) break;
        out[o] = static_cast<unsigned char>(c);
      }
      ++o;
    }
    return o;
  }
  return out ? ConvertUtf8(source, sourceUnits, out, destinationBytes) : CountUtf8(source, sourceUnits);
}

int64_t Utf8ToUtf16(int32_t codePage, const char* source, int64_t sourceBytes, RtChar* destination,
                    int64_t destinationUnits) {
  if ((codePage != CodePageUtf8 && codePage != CodePageLatin1) || sourceBytes < -1) return 0;
  if (!source) {
    source = kEmptyBytes;
    if (sourceBytes != 0) sourceBytes = 1;
  } else if (sourceBytes == -1) {
    sourceBytes = static_cast<int64_t>(std::strlen(source)) + 1;
  }
  if (destination && destinationUnits < 0) destinationUnits = 0;
  const auto* in = reinterpret_cast<const unsigned char*>(source);

  if (codePage == CodePageLatin1) {
    if (!destination) return sourceBytes;
    const int64_t n = sourceBytes < destinationUnits ? sourceBytes : destinationUnits;
    for (int64_t i = 0; i < n; ++i) destination[i] = in[i];
    return n;
  }
  return destination ? ConvertUtf16(in, sourceBytes, destination, destinationUnits) : CountUtf16(in, sourceBytes);
}

namespace {

char* NewEmptyUtf8() {
  char* out = static_cast<char*>(std::malloc(1));
  if (!out) return g_emptyFallback;
  out[0] = 0;
  return out;
}

}  // namespace

char* ToUtf8(RtString text) {
  if (!text) return NewEmptyUtf8();
  const int64_t units = StringLength(text) + 1;  // with the terminator
  const int64_t count = CountUtf8(text, units);
  if (count == 0) return NewEmptyUtf8();
  char* out = static_cast<char*>(std::malloc(static_cast<size_t>(count) + 1));
  if (!out) return NewEmptyUtf8();
  // Converting walks the text as counting did and never writes more than the
  // count (less when it fails), so the exact size needs no room checks.
  const int64_t written = ConvertUtf8Unchecked(text, units, reinterpret_cast<unsigned char*>(out));
  out[written] = 0;
  return out;
}

void FreeUtf8(char* text) {
  if (text != g_emptyFallback) std::free(text);
}

}  // namespace rt
