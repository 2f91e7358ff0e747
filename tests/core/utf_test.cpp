#include "core/utf.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

using rt::CodePageLatin1;
using rt::CodePageUtf8;
using rt::RtChar;
using Bytes = std::vector<unsigned char>;
using Units = std::u16string;

constexpr unsigned char kGuard = 0xCC;

int64_t Count8(const Units& s) { return rt::Utf16ToUtf8(CodePageUtf8, s.data(), int64_t(s.size()), nullptr, 0); }

// Converts into a buffer of `room` bytes followed by guard bytes, checking
// that nothing past the room was touched.
Bytes To8(const Units& s, int64_t room, int64_t* result) {
  std::vector<unsigned char> buffer(size_t(room) + 16, kGuard);
  *result = rt::Utf16ToUtf8(CodePageUtf8, s.data(), int64_t(s.size()), reinterpret_cast<char*>(buffer.data()), room);
  for (size_t i = size_t(room); i < buffer.size(); ++i) EXPECT_EQ(buffer[i], kGuard) << "written past the room at " << i;
  return Bytes(buffer.begin(), buffer.begin() + (*result > 0 ? *result : 0));
}

Bytes To8(const Units& s) {
  int64_t n;
  return To8(s, Count8(s) + 8, &n);
}

int64_t Count16(const Bytes& s) {
  return rt::Utf8ToUtf16(CodePageUtf8, reinterpret_cast<const char*>(s.data()), int64_t(s.size()), nullptr, 0);
}

Units To16(const Bytes& s, int64_t room, int64_t* result) {
  std::vector<RtChar> buffer(size_t(room) + 8, RtChar{0xCCCC});
  *result = rt::Utf8ToUtf16(CodePageUtf8, reinterpret_cast<const char*>(s.data()), int64_t(s.size()), buffer.data(), room);
  for (size_t i = size_t(room); i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 0xCCCC) << "written past the room at " << i;
  return Units(buffer.begin(), buffer.begin() + (*result > 0 ? *result : 0));
}

int64_t Convert16(const Bytes& s) {
  int64_t n;
  To16(s, int64_t(s.size()) + 8, &n);
  return n;
}

TEST(Utf16ToUtf8, EncodesOneToFourBytes) {
  EXPECT_EQ(To8(u"\u00E9"), (Bytes{0xC3, 0xA9}));
  EXPECT_EQ(To8(u"\u20AC"), (Bytes{0xE2, 0x82, 0xAC}));
  EXPECT_EQ(To8(u"\xD83D\xDE00"), (Bytes{0xF0, 0x9F, 0x98, 0x80}));
  EXPECT_EQ(To8(u"A\u07FF\u0800\uFFFF"), (Bytes{0x41, 0xDF, 0xBF, 0xE0, 0xA0, 0x80, 0xEF, 0xBF, 0xBF}));
  EXPECT_EQ(To8(u"\xDBFF\xDFFF"), (Bytes{0xF4, 0x8F, 0xBF, 0xBF}));
  EXPECT_EQ(To8(u"\xDC00"), (Bytes{0xED, 0xB0, 0x80}));  // lone low surrogate: three bytes
  EXPECT_EQ(Count8(u"\u00E9\u20AC\xD83D\xDE00"), 9);
}

TEST(Utf16ToUtf8, UnpairedHighSurrogate) {
  int64_t n;
  // Not followed by a low surrogate: counting stops, converting fails.
  EXPECT_EQ(Count8(u"\xD83D" u"A"), 0);
  To8(u"\xD83D" u"A", 16, &n);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(Count8(u"ab\xD83D" u"c"), 2);
  To8(u"ab\xD83D" u"c", 16, &n);
  EXPECT_EQ(n, 0);
  // At the end of the input: both stop there.
  EXPECT_EQ(Count8(u"ab\xD83D"), 2);
  EXPECT_EQ(To8(u"ab\xD83D", 16, &n), (Bytes{'a', 'b'}));
  // With -1 the terminator is part of the input, so it is not at the end.
  const RtChar text[] = {u'a', 0xD83D, 0};
  char out[8];
  EXPECT_EQ(rt::Utf16ToUtf8(CodePageUtf8, text, -1, nullptr, 0), 1);
  EXPECT_EQ(rt::Utf16ToUtf8(CodePageUtf8, text, -1, out, 8), 0);
}

TEST(Utf16ToUtf8, FullDestinationTakesOnlyWholeCharacters) {
  const Units text = u"a\u00E9\u20AC\xD83D\xDE00";  // 1 + 2 + 3 + 4 bytes
  const int64_t expected[] = {0, 1, 1, 3, 3, 3, 6, 6, 6, 6, 10, 10};
  const Bytes all = To8(text);
  for (int64_t room = 0; room <= 11; ++room) {
    int64_t n;
    const Bytes got = To8(text, room, &n);
    EXPECT_EQ(n, expected[room]) << "room " << room;
    EXPECT_EQ(got, Bytes(all.begin(), all.begin() + expected[room]));
  }
  char c;
  EXPECT_EQ(rt::Utf16ToUtf8(CodePageUtf8, u"abc", 3, &c, -4), 0);
}

TEST(Utf16ToUtf8, LengthsAndOddCodePages) {
  char out[16];
  EXPECT_EQ(rt::Utf16ToUtf8(CodePageUtf8, u"ab", -1, nullptr, 0), 3);  // with the terminator
  EXPECT_EQ(rt::Utf16ToUtf8(CodePageUtf8, u"ab", -1, out, 16), 3);
  EXPECT_EQ(std::string(out), "ab");
  EXPECT_EQ(rt::Utf16ToUtf8(CodePageUtf8, nullptr, -1, nullptr, 0), 1);
  EXPECT_EQ(rt::Utf16ToUtf8(CodePageUtf8, nullptr, 0, nullptr, 0), 0);
  EXPECT_EQ(rt::Utf16ToUtf8(CodePageUtf8, u"ab", -2, nullptr, 0), 0);
  EXPECT_EQ(rt::Utf16ToUtf8(1252, u"ab", -1, nullptr, 0), 0);
  EXPECT_EQ(rt::Utf16ToUtf8(1252, u"ab", -1, out, 16), 0);
  // Code page 0 keeps units below 256 and drops the others.
  EXPECT_EQ(rt::Utf16ToUtf8(CodePageLatin1, u"A\u0100\u00E9", 3, nullptr, 0), 2);
  std::memset(out, 0, sizeof out);
  EXPECT_EQ(rt::Utf16ToUtf8(CodePageLatin1, u"A\u0100\u00E9", 3, out, 16), 2);
  EXPECT_EQ(static_cast<unsigned char>(out[0]), 0x41);
  EXPECT_EQ(static_cast<unsigned char>(out[1]), 0xE9);
  EXPECT_EQ(rt::Utf16ToUtf8(CodePageLatin1, u"abc", 3, out, 2), 2);
}

TEST(Utf8ToUtf16, DecodesOneToFourBytes) {
  int64_t n;
  EXPECT_EQ(To16(Bytes{0xF0, 0x9F, 0x98, 0x80}, 8, &n), u"\xD83D\xDE00");
  EXPECT_EQ(To16(Bytes{0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0x41}, 8, &n), u"\u00E9\u20AC" u"A");
  EXPECT_EQ(To16(Bytes{0xF4, 0x8F, 0xBF, 0xBF}, 8, &n), u"\xDBFF\xDFFF");
  EXPECT_EQ(To16(Bytes{0xED, 0xB0, 0x80}, 8, &n), u"\xDC00");  // what the encoder makes of a lone low surrogate
  EXPECT_EQ(Count16(Bytes{0xF0, 0x9F, 0x98, 0x80, 0x41}), 3);
}

TEST(Utf8ToUtf16, MalformedInputFailsConversionAndStopsCounting) {
  const Bytes malformed[] = {
      {0x80},                    // lone continuation byte
      {0x61, 0xBF, 0x62},        // stray continuation byte
      {0x61, 0xF8, 0x80, 0x80},  // lead byte above F7
      {0x61, 0xFF},
      {0x61, 0xC3, 0x41},        // lead byte followed by a non-continuation byte
      {0x61, 0xE2, 0x82, 0x41},
      {0x61, 0xC0, 0x80},        // overlong forms
      {0x61, 0xC1, 0xBF},
      {0x61, 0xE0, 0x80, 0x80},
      {0x61, 0xF0, 0x8F, 0xBF, 0xBF},
  };
  for (const Bytes& s : malformed) {
    EXPECT_EQ(Convert16(s), 0) << int(s.size());
    EXPECT_EQ(Count16(s), s[0] == 0x61 ? 1 : 0) << int(s.size());
  }
}

TEST(Utf8ToUtf16, CutShortOrTooLargeStopsBothWays) {
  int64_t n;
  // Cut short by the end of the input.
  EXPECT_EQ(Count16(Bytes{0x61, 0xE2, 0x82}), 1);
  EXPECT_EQ(To16(Bytes{0x61, 0xE2, 0x82}, 8, &n), u"a");
  EXPECT_EQ(To16(Bytes{0x61, 0xF0}, 8, &n), u"a");
  // Above 10FFFF.
  EXPECT_EQ(Count16(Bytes{0x61, 0xF4, 0x90, 0x80, 0x80, 0x62}), 1);
  EXPECT_EQ(To16(Bytes{0x61, 0xF4, 0x90, 0x80, 0x80, 0x62}, 8, &n), u"a");
  EXPECT_EQ(To16(Bytes{0x61, 0xF7, 0xBF, 0xBF, 0xBF}, 8, &n), u"a");
  // With -1 the terminator ends the text: a sequence cut by it is malformed.
  RtChar out[8];
  EXPECT_EQ(rt::Utf8ToUtf16(CodePageUtf8, "a\xE2\x82", -1, nullptr, 0), 1);
  EXPECT_EQ(rt::Utf8ToUtf16(CodePageUtf8, "a\xE2\x82", -1, out, 8), 0);
}

TEST(Utf8ToUtf16, FullDestinationTakesOnlyWholeCharacters) {
  const Bytes text{0x61, 0xF0, 0x9F, 0x98, 0x80, 0x62};  // a, pair, b
  const int64_t expected[] = {0, 1, 1, 3, 4, 4};
  for (int64_t room = 0; room <= 5; ++room) {
    int64_t n;
    const Units got = To16(text, room, &n);
    EXPECT_EQ(n, expected[room]) << "room " << room;
    EXPECT_EQ(got, Units(u"a\xD83D\xDE00" u"b").substr(0, size_t(expected[room])));
  }
}

TEST(Utf8ToUtf16, LengthsAndOddCodePages) {
  RtChar out[8] = {};
  EXPECT_EQ(rt::Utf8ToUtf16(CodePageUtf8, "ab", -1, nullptr, 0), 3);
  EXPECT_EQ(rt::Utf8ToUtf16(CodePageUtf8, "ab", -1, out, 8), 3);
  EXPECT_EQ(Units(out), u"ab");
  EXPECT_EQ(rt::Utf8ToUtf16(CodePageUtf8, nullptr, -1, nullptr, 0), 1);
  EXPECT_EQ(rt::Utf8ToUtf16(CodePageUtf8, "ab", -3, nullptr, 0), 0);
  EXPECT_EQ(rt::Utf8ToUtf16(437, "ab", -1, nullptr, 0), 0);
  EXPECT_EQ(rt::Utf8ToUtf16(437, "ab", -1, out, 8), 0);
  // Code page 0 widens every byte.
  EXPECT_EQ(rt::Utf8ToUtf16(CodePageLatin1, "\xE9\x80", -1, nullptr, 0), 3);
  EXPECT_EQ(rt::Utf8ToUtf16(CodePageLatin1, "\xE9\x80", -1, out, 8), 3);
  EXPECT_EQ(Units(out), u"\u00E9\u0080");
  EXPECT_EQ(rt::Utf8ToUtf16(CodePageLatin1, "abc", 3, out, 2), 2);
}

// The fast paths handle 16 units at a time: a non-ASCII unit at every place
// around those blocks, and every room, must give what one-at-a-time gives.
TEST(Utf, AsciiRunsOfEveryLengthAndPlacement) {
  for (int length = 0; length <= 40; ++length) {
    for (int place = -1; place < length; ++place) {
      Units text(size_t(length), u'x');
      if (place >= 0) text[size_t(place)] = u'\u00E9';
      Bytes expected;
      for (RtChar c : text) {
        if (c < 0x80) expected.push_back(static_cast<unsigned char>(c));
        else expected.insert(expected.end(), {0xC3, 0xA9});
      }
      ASSERT_EQ(Count8(text), int64_t(expected.size()));
      ASSERT_EQ(To8(text), expected) << length << " " << place;
      int64_t n;
      for (int64_t room = 0; room <= int64_t(expected.size()); ++room) {
        To8(text, room, &n);
        const bool splitsE9 = place >= 0 && room == place + 1;
        ASSERT_EQ(n, splitsE9 ? room - 1 : room) << length << " " << place << " " << room;
      }
      ASSERT_EQ(Count16(expected), int64_t(text.size()));
      ASSERT_EQ(To16(expected, int64_t(text.size()), &n), text);
      ASSERT_EQ(To16(expected, int64_t(text.size()) / 2, &n), text.substr(0, text.size() / 2));
    }
  }
}

// Surrogates at every place around the 16-unit blocks, with the input
// ending anywhere, including right after a high surrogate.
TEST(Utf, SurrogatesAroundBlockEdges) {
  for (int length = 1; length <= 40; ++length) {
    for (int place = 0; place < length; ++place) {
      Units text(size_t(length), u'x');
      text[size_t(place)] = 0xD83D;
      int64_t n;
      Bytes expected(size_t(place), 'x');
      if (place + 1 == length) {
        // Ends with a high surrogate: both stop in front of it.
        EXPECT_EQ(Count8(text), place);
        ASSERT_EQ(To8(text, 3 * length, &n), expected) << length;
        continue;
      }
      // Followed by 'x': counting stops there, converting fails.
      EXPECT_EQ(Count8(text), place);
      To8(text, 3 * length, &n);
      ASSERT_EQ(n, 0) << length << " " << place;
      // Followed by its low surrogate: a whole pair.
      text[size_t(place) + 1] = 0xDE00;
      expected.insert(expected.end(), {0xF0, 0x9F, 0x98, 0x80});
      expected.resize(size_t(length) + 2, 'x');
      ASSERT_EQ(To8(text, 3 * length, &n), expected) << length << " " << place;
      ASSERT_EQ(Count8(text), length + 2);
      ASSERT_EQ(To16(expected, length, &n), text);
    }
  }
}

// Deterministic pseudo-random input, as a fuzzer would produce.
struct Random {
  uint64_t state = 0x9E3779B97F4A7C15ull;
  uint32_t Next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return static_cast<uint32_t>(state >> 16);
  }
};

TEST(Utf, RoundTripsAndCountingAgreesWithConverting) {
  Random random;
  for (int round = 0; round < 3000; ++round) {
    Units text;
    const int length = int(random.Next() % 24);
    for (int i = 0; i < length; ++i) {
      switch (random.Next() % 6) {
        case 0: text += RtChar(random.Next() % 0x80); break;
        case 1: text += RtChar(0x80 + random.Next() % 0x780); break;
        case 2: text += RtChar(0x800 + random.Next() % 0xD000); break;
        case 3: text += RtChar(0xDC00 + random.Next() % 0x400); break;  // lone low
        default: {
          const uint32_t cp = 0x10000 + random.Next() % 0x100000;
          text += RtChar(0xD800 | ((cp - 0x10000) >> 10));
          text += RtChar(0xDC00 | ((cp - 0x10000) & 0x3FF));
        }
      }
    }
    // Valid UTF-16 (lone low surrogates included) converts whole and back.
    const int64_t count = Count8(text);
    int64_t n;
    const Bytes bytes = To8(text, count, &n);
    ASSERT_EQ(n, count);
    ASSERT_EQ(Count16(bytes), int64_t(text.size()));
    ASSERT_EQ(To16(bytes, int64_t(text.size()), &n), text);

    // Arbitrary bytes: a conversion that succeeds agrees with the count, and
    // a small room never sees writes past it.
    Bytes noise(random.Next() % 12);
    for (auto& b : noise) b = static_cast<unsigned char>(random.Next());
    const int64_t counted = Count16(noise);
    const int64_t converted = Convert16(noise);
    if (converted != 0) {
      ASSERT_EQ(converted, counted);
    }
    ASSERT_LE(counted, int64_t(noise.size()));
    To16(noise, random.Next() % 4, &n);
  }
}

TEST(ToUtf8, GivesANewZeroTerminatedString) {
  char* name = rt::ToUtf8(u"trx.fw");
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(std::memcmp(name, "trx.fw", 7), 0);
  rt::FreeUtf8(name);
  char* accented = rt::ToUtf8(u"/home/j\u00F6rg/\u20AC.fw");
  EXPECT_STREQ(accented, "/home/j\xC3\xB6rg/\xE2\x82\xAC.fw");
  rt::FreeUtf8(accented);
  // Never null: empty for null and for text that cannot be converted.
  for (const RtChar* bad : {static_cast<const RtChar*>(nullptr), u"", u"ab\xD800" u"cd", u"\xDBFF"}) {
    char* out = rt::ToUtf8(bad);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out[0], 0);
    rt::FreeUtf8(out);
  }
}

TEST(FormatText, FormatsIntoUtf16) {
  RtChar out[64];
  EXPECT_EQ(rt::FormatText(out, u"%d:%lld:%lld:%lld", 2, -1LL, 1234567890123LL, 0LL), 20);
  EXPECT_EQ(Units(out), u"2:-1:1234567890123:0");
  EXPECT_EQ(rt::FormatText(nullptr, u"%d:%lld:%lld:%lld", 2, -1LL, 1234567890123LL, 0LL), 20);
  // Without a destination the length is in UTF-8 bytes.
  EXPECT_EQ(rt::FormatText(nullptr, u"Gr\u00F6\u00DFe %s", "\xE2\x82\xAC"), 11);
  EXPECT_EQ(rt::FormatText(out, u"Gr\u00F6\u00DFe %s", "\xE2\x82\xAC"), 7);
  EXPECT_EQ(Units(out), u"Gr\u00F6\u00DFe \u20AC");
  EXPECT_EQ(rt::FormatText(out, u"%.3f|%5s|%-3d|%x", 2.5, "ab", 7, 255u), 18);
  EXPECT_EQ(Units(out), u"2.500|   ab|7  |ff");
  EXPECT_EQ(rt::FormatText(out, nullptr), 0);
  EXPECT_EQ(out[0], 0);
}

TEST(FormatText, OutputThatIsNotUtf8GivesAnEmptyText) {
  RtChar out[16];
  out[0] = u'x';
  EXPECT_EQ(rt::FormatText(out, u"<%s>", "\xFF"), 0);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(rt::FormatText(out, u"ab%s", "\xE2\x82"), 0);  // cut short by the terminator
  EXPECT_EQ(out[0], 0);
  // A code point above 10FFFF ends the text before it, still terminated.
  EXPECT_EQ(rt::FormatText(out, u"ab%s", "\xF4\x90\x80\x80"), 2);
  EXPECT_EQ(Units(out), u"ab");
}

}  // namespace
