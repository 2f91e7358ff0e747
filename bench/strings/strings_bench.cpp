// Figures: the port-scan name built with the workspace protocol against the
// same text as a std::u16string (goal: at least 3x faster), and UTF-16 to
// UTF-8 conversion of 1 KiB of text against QString::toUtf8 and ICU's
// u_strToUTF8 (goal: no slower than the faster of them).
#include <QString>
#include <benchmark/benchmark.h>
#include <unicode/ustring.h>

#include <string>
#include <vector>

#include "core/utf.h"
#include "core/workspace.h"

namespace {

// The port scan: "/dev/ttyUSB" followed by 0..99, one name at a time.
void PortNamesWorkspace(benchmark::State& state) {
  rt::WorkspaceEnsure();
  for (auto _ : state) {
    for (int64_t i = 0; i < 100; ++i) {
      const int64_t saved = rt::WorkspacePosition();
      rt::WorkspaceAppend(u"/dev/ttyUSB");
      rt::ReturnNumber(i, rt::WorkspacePosition());
      rt::WorkspaceTerminate();
      benchmark::DoNotOptimize(rt::WorkspaceString(saved));
      rt::WorkspaceRestore(saved);
    }
  }
  state.SetItemsProcessed(state.iterations() * 100);
}
BENCHMARK(PortNamesWorkspace);

void PortNamesU16String(benchmark::State& state) {
  for (auto _ : state) {
    for (int64_t i = 0; i < 100; ++i) {
      std::u16string name(u"/dev/ttyUSB");
      char16_t digits[20];
      int count = 0;
      int64_t v = i;
      do {
        digits[count++] = static_cast<char16_t>(u'0' + v % 10);
        v /= 10;
      } while (v);
      while (count) name += digits[--count];
      benchmark::DoNotOptimize(name.c_str());
    }
  }
  state.SetItemsProcessed(state.iterations() * 100);
}
BENCHMARK(PortNamesU16String);

std::u16string AsciiText() {
  std::u16string s;
  const char16_t* words = u"Firmware update for the device on /dev/ttyUSB0, header then body; ";
  while (s.size() < 1024) s += words;
  s.resize(1024);
  return s;
}

// Latin-1, other BMP characters and surrogate pairs among ASCII.
std::u16string MixedText() {
  std::u16string s;
  const char16_t* words = u"J\u00F6rg's b\u00E9b\u00E9 \u20AC12 \u0414\u0430\u043D\u043D\u044B\u0435 "
                          u"\u6570\u636E \U0001F600\U0001F680 na\u00EFve \u03B1\u03B2\u03B3 ";
  while (s.size() < 1024) s += words;
  s.resize(1024);
  if (s[1023] >= 0xD800 && s[1023] <= 0xDBFF) s[1023] = u'.';
  return s;
}

const std::u16string& Text(int which) {
  static const std::u16string ascii = AsciiText(), mixed = MixedText();
  return which == 0 ? ascii : mixed;
}

void ToUtf8Runtime(benchmark::State& state, int which) {
  const std::u16string& text = Text(which);
  std::vector<char> out(text.size() * 3 + 1);
  for (auto _ : state) {
    const int64_t n = rt::Utf16ToUtf8(rt::CodePageUtf8, text.data(), static_cast<int64_t>(text.size()), out.data(),
                                      static_cast<int64_t>(out.size()));
    benchmark::DoNotOptimize(n);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()) * 2);
}
BENCHMARK_CAPTURE(ToUtf8Runtime, ascii, 0);
BENCHMARK_CAPTURE(ToUtf8Runtime, mixed, 1);

// Counting, allocating and converting: what ToUtf8 does for every path.
void ToUtf8RuntimeAllocating(benchmark::State& state, int which) {
  const std::u16string& text = Text(which);
  for (auto _ : state) {
    char* s = rt::ToUtf8(text.c_str());
    benchmark::DoNotOptimize(s);
    rt::FreeUtf8(s);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()) * 2);
}
BENCHMARK_CAPTURE(ToUtf8RuntimeAllocating, ascii, 0);
BENCHMARK_CAPTURE(ToUtf8RuntimeAllocating, mixed, 1);

void ToUtf8Qt(benchmark::State& state, int which) {
  const std::u16string& text = Text(which);
  const QString q(reinterpret_cast<const QChar*>(text.data()), static_cast<int>(text.size()));
  for (auto _ : state) {
    QByteArray bytes = q.toUtf8();
    benchmark::DoNotOptimize(bytes.constData());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()) * 2);
}
BENCHMARK_CAPTURE(ToUtf8Qt, ascii, 0);
BENCHMARK_CAPTURE(ToUtf8Qt, mixed, 1);

void ToUtf8Icu(benchmark::State& state, int which) {
  const std::u16string& text = Text(which);
  std::vector<char> out(text.size() * 3 + 1);
  for (auto _ : state) {
    UErrorCode error = U_ZERO_ERROR;
    int32_t length = 0;
    u_strToUTF8(out.data(), static_cast<int32_t>(out.size()), &length, reinterpret_cast<const UChar*>(text.data()),
                static_cast<int32_t>(text.size()), &error);
    benchmark::DoNotOptimize(length);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()) * 2);
}
BENCHMARK_CAPTURE(ToUtf8Icu, ascii, 0);
BENCHMARK_CAPTURE(ToUtf8Icu, mixed, 1);

}  // namespace
