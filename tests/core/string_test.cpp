#include "core/rt_string.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "core/workspace.h"
#include "sanitizers.h"

#if defined(__linux__)
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#endif

namespace {

using rt::RtChar;

TEST(Strings, NullIsTheEmptyStringEverywhere) {
  EXPECT_EQ(rt::StringLength(nullptr), 0);
  EXPECT_EQ(rt::StringLength(u""), 0);
  EXPECT_EQ(rt::StringLength(u"trx.fw"), 6);
  EXPECT_EQ(rt::StringLength(u"\U0001F600"), 2);  // a surrogate pair counts as two
  EXPECT_EQ(rt::StringEquals(nullptr, u""), 1);
  EXPECT_EQ(rt::StringEquals(u"", nullptr), 1);
  EXPECT_EQ(rt::StringEquals(nullptr, nullptr), 1);
  EXPECT_EQ(rt::StringEquals(nullptr, u"a"), 0);
  EXPECT_EQ(rt::StringCompare(nullptr, u""), 0);
  EXPECT_EQ(rt::StringCompareNoCase(nullptr, u""), 0);
  RtChar buffer[4] = {u'x', u'x', u'x', u'x'};
  EXPECT_EQ(rt::StringCopy(buffer, nullptr), buffer);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(buffer[1], u'x');
  rt::StringCopy(buffer, u"ab");
  EXPECT_EQ(std::u16string(buffer), u"ab");
}

TEST(Strings, CompareYieldsTheDifferenceOfTheFirstDifferingUnits) {
  EXPECT_EQ(rt::StringCompare(u"abc", u"abc"), 0);
  EXPECT_EQ(rt::StringCompare(u"abc", u"abd"), -1);
  EXPECT_EQ(rt::StringCompare(u"abd", u"abc"), 1);
  EXPECT_EQ(rt::StringCompare(u"ab", u"abc"), -int{u'c'});
  EXPECT_EQ(rt::StringCompare(u"\uFFFF", u"a"), 0xFFFF - int{u'a'});
  EXPECT_EQ(rt::StringEquals(u"COM1", u"COM1"), 1);
  EXPECT_EQ(rt::StringEquals(u"COM1", u"COM10"), 0);
  EXPECT_EQ(rt::StringEquals(u"com1", u"COM1"), 0);
}

TEST(Strings, NoCaseCompareUsesTheWideLowerCaseMapping) {
  EXPECT_EQ(rt::StringCompareNoCase(u"TRX.FW", u"trx.fw"), 0);
  EXPECT_EQ(rt::StringCompareNoCase(u"Firmware (*.FW)", u"firmware (*.fw)"), 0);
  EXPECT_EQ(rt::StringCompareNoCase(u"\u00C9T\u00C9", u"\u00E9t\u00E9"), 0);          // Latin-1
  EXPECT_EQ(rt::StringCompareNoCase(u"\u0391\u03A3", u"\u03B1\u03C3"), 0);            // Greek
  EXPECT_EQ(rt::StringCompareNoCase(u"\u0414\u0401", u"\u0434\u0451"), 0);            // Cyrillic
  EXPECT_EQ(rt::StringCompareNoCase(u"\uFF21", u"\uFF41"), 0);                        // full width
  EXPECT_EQ(rt::StringCompareNoCase(u"\u0100\u0102", u"\u0101\u0103"), 0);            // alternating pairs
  // The difference is taken after the mapping.
  EXPECT_EQ(rt::StringCompareNoCase(u"ABC", u"abd"), int{u'c'} - int{u'd'});
  EXPECT_EQ(rt::StringCompareNoCase(u"B", u"a"), 1);
  EXPECT_EQ(rt::StringCompareNoCase(u"a", u"AB"), -int{u'b'});
  EXPECT_NE(rt::StringCompareNoCase(u"[", u"{"), 0);  // punctuation has no case
}

TEST(Strings, LowerUnitIsAStableOneToOneMapping) {
  const RtChar pairs[][2] = {
      {u'A', u'a'}, {u'Z', u'z'}, {u'@', u'@'}, {u'[', u'['},
      {0x00D7, 0x00D7},  // the multiplication sign sits among capitals
      {0x00DE, 0x00FE}, {0x0178, 0x00FF}, {0x0101, 0x0101},
      {0x0130, u'i'},    // dotted capital I
      {0x212A, u'k'},    // Kelvin sign
      {0x2126, 0x03C9},  // Ohm sign
      {0x01C5, 0x01C6},  // title-case digraph
      {0x10A0, 0x2D00},  // Georgian
      {0xA7C0, 0xA7C1},
  };
  for (const auto& p : pairs) EXPECT_EQ(rt::StringLowerUnit(p[0]), p[1]) << std::hex << unsigned(p[0]);
  int mapped = 0;
  for (unsigned c = 0; c <= 0xFFFF; ++c) {
    const RtChar unit = static_cast<RtChar>(c);
    const RtChar lower = rt::StringLowerUnit(unit);
    // Lower-case text is its own lower case; surrogates are left alone.
    ASSERT_EQ(rt::StringLowerUnit(lower), lower) << std::hex << c;
    if (c >= 0xD800 && c <= 0xDFFF) {
      ASSERT_EQ(lower, unit);
    }
    if (lower != unit) ++mapped;
  }
  EXPECT_GT(mapped, 1000);
}

TEST(StringVariables, AssignCopiesAndNullFrees) {
  RtChar* variable = nullptr;
  EXPECT_EQ(rt::StringAssign(&variable, u"/dev/ttyUSB"), 24);
  ASSERT_NE(variable, nullptr);
  EXPECT_EQ(std::u16string(variable), u"/dev/ttyUSB");
  EXPECT_EQ(rt::StringAssign(&variable, u"a much longer text than before"), 62);
  EXPECT_EQ(std::u16string(variable), u"a much longer text than before");
  EXPECT_EQ(rt::StringAssign(&variable, u""), 2);
  ASSERT_NE(variable, nullptr);
  EXPECT_EQ(variable[0], 0);
  EXPECT_EQ(rt::StringAssign(&variable, nullptr), 2);
  EXPECT_EQ(variable, nullptr);
  EXPECT_EQ(rt::StringAssign(&variable, nullptr), 2);
  EXPECT_EQ(variable, nullptr);
  rt::StringFree(&variable);  // null is allowed
}

TEST(StringVariables, AssignFromItsOwnText) {
  RtChar* variable = nullptr;
  rt::StringAssign(&variable, u"firmware.fw");
  EXPECT_EQ(rt::StringAssign(&variable, variable), 24);
  EXPECT_EQ(std::u16string(variable), u"firmware.fw");
  EXPECT_EQ(rt::StringAssign(&variable, variable + 9), 6);
  EXPECT_EQ(std::u16string(variable), u"fw");
  rt::StringFree(&variable);
  EXPECT_EQ(variable, nullptr);
}

TEST(StringVariables, AssignFromWorkspaceMovesTheExpression) {
  rt::WorkspaceEnsure();
  RtChar* variable = nullptr;
  rt::StringAssign(&variable, u"old");
  const int64_t saved = rt::WorkspacePosition();
  rt::WorkspaceAppend(u"Can't open the serial port: ");
  rt::WorkspaceAppend(u"/dev/ttyUSB");
  rt::ReturnNumber(3, rt::WorkspacePosition());
  EXPECT_EQ(rt::StringAssignFromWorkspace(&variable, saved), 2 * 41);
  EXPECT_EQ(std::u16string(variable), u"Can't open the serial port: /dev/ttyUSB3");
  EXPECT_EQ(rt::WorkspacePosition(), saved);
  // An empty expression gives an empty, non-null variable.
  EXPECT_EQ(rt::StringAssignFromWorkspace(&variable, saved), 2);
  ASSERT_NE(variable, nullptr);
  EXPECT_EQ(variable[0], 0);
  rt::StringFree(&variable);
  // From nothing, the way the open-file handler stores the requester's answer.
  rt::ReturnString(u"/home/user/trx.fw", saved);
  EXPECT_EQ(rt::StringAssignFromWorkspace(&variable, saved), 36);
  EXPECT_EQ(std::u16string(variable), u"/home/user/trx.fw");
  rt::StringFree(&variable);
}

TEST(StringVariables, DuplicateMakesAnIndependentCopy) {
  RtChar* original = nullptr;
  rt::StringAssign(&original, u"Open");
  RtChar* copy = nullptr;
  EXPECT_EQ(rt::StringDuplicate(&copy, original), 10);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, original);
  rt::StringAssign(&original, u"Close");
  EXPECT_EQ(std::u16string(copy), u"Open");
  RtChar* untouched = nullptr;
  EXPECT_EQ(rt::StringDuplicate(&untouched, nullptr), 0);
  EXPECT_EQ(untouched, nullptr);
  rt::StringFree(&copy);
  rt::StringFree(&original);
}

#if defined(__linux__) && !defined(FWU_SANITIZED)
// Virtual memory use of this process in bytes.
long long AddressSpaceInUse() {
  long long pages = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%lld", &pages) != 1) pages = 0;
    std::fclose(f);
  }
  return pages * sysconf(_SC_PAGESIZE);
}

// Caps the address space so that the next large allocation really fails.
void CapAddressSpace() {
  const rlim_t cap = static_cast<rlim_t>(AddressSpaceInUse() + (16 << 20));
  rlimit limit{cap, cap};
  if (setrlimit(RLIMIT_AS, &limit) != 0) std::_Exit(3);
}

// Runs in a child process (a death test), where the memory cap cannot harm
// other tests. Exits 0 when every check held.
[[noreturn]] void FailedAllocationsKeepTheVariables() {
  rt::WorkspaceEnsure();
  const std::u16string big(32 << 20, u'z');  // 64 MiB of text
  const int64_t saved = rt::WorkspacePosition();
  rt::WorkspaceAppend(big.c_str());
  RtChar* variable = nullptr;
  rt::StringAssign(&variable, u"keep");
  RtChar* const before = variable;
  CapAddressSpace();
  int failures = 0;
  if (rt::StringAssign(&variable, big.c_str()) != 0) ++failures;
  if (variable != before || std::u16string(variable) != u"keep") ++failures;
  if (rt::StringAssignFromWorkspace(&variable, saved) != 0) ++failures;
  if (variable != before || std::u16string(variable) != u"keep") ++failures;
  if (rt::WorkspacePosition() != saved) ++failures;  // the expression is consumed either way
  RtChar* copy = nullptr;
  if (rt::StringDuplicate(&copy, big.c_str()) != 0 || copy != nullptr) ++failures;
  std::_Exit(failures);
}

TEST(StringVariablesDeathTest, FailedAllocationKeepsTheOldBlock) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(FailedAllocationsKeepTheVariables(), ::testing::ExitedWithCode(0), "");
}
#endif

}  // namespace
