#include "core/workspace.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <string>
#include <thread>

#include "core/rt_string.h"
#include "core/thread_cleanup.h"
#include "sanitizers.h"

namespace {

using rt::WorkspacePosition;

std::u16string At(int64_t offset) { return std::u16string(rt::WorkspaceString(offset)); }

std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// Runs `body` on a thread the runtime did not start and waits for it.
template <typename F>
void OnForeignThread(F body) {
  std::thread thread(body);
  thread.join();
}

TEST(Workspace, NewWorkspaceIsSixteenBytesAtPositionZero) {
  OnForeignThread([] {
    rt::WorkspaceCreate();
    EXPECT_EQ(rt::WorkspaceCapacity(), 16);
    EXPECT_EQ(WorkspacePosition(), 0);
    EXPECT_EQ(At(0), u"");
    // Needed 10 bytes stays below capacity - 4; needed 12 does not.
    rt::WorkspaceReserve(5, -1);
    EXPECT_EQ(rt::WorkspaceCapacity(), 16);
    EXPECT_EQ(WorkspacePosition(), 10);
    rt::WorkspaceReserve(1, -1);
    EXPECT_EQ(rt::WorkspaceCapacity(), 12 + 16384);
    EXPECT_EQ(WorkspacePosition(), 12);
    // Appending within the 16 KiB of slack does not move the buffer.
    const char* base = rt::WorkspaceBase();
    for (int i = 0; i < 100; ++i) rt::WorkspaceAppend(u"0123456789");
    EXPECT_EQ(rt::WorkspaceBase(), base);
    EXPECT_EQ(rt::WorkspaceCapacity(), 12 + 16384);
    rt::WorkspaceDestroy();
    EXPECT_FALSE(rt::WorkspaceExists());
  });
}

TEST(Workspace, PortNameWithNumberAndRestore) {
  rt::WorkspaceEnsure();
  const int64_t saved = WorkspacePosition();
  rt::WorkspaceAppend(u"/dev/ttyUSB");
  rt::ReturnNumber(7, WorkspacePosition());
  rt::WorkspaceTerminate();
  EXPECT_EQ(std::u16string(rt::WorkspaceString(saved)), u"/dev/ttyUSB7");
  EXPECT_EQ(WorkspacePosition(), saved + 2 * 13);
  rt::WorkspaceRestore(saved);
  EXPECT_EQ(WorkspacePosition(), saved);
}

TEST(Workspace, ReturnNumberLeavesPositionAfterTheDigits) {
  rt::WorkspaceEnsure();
  const struct {
    int64_t value;
    std::u16string text;
  } cases[] = {{-42, u"-42"},
               {0, u"0"},
               {INT64_MIN, u"-9223372036854775808"},
               {INT64_MAX, u"9223372036854775807"},
               {7, u"7"},
               {10, u"10"},
               {99, u"99"},
               {100, u"100"},
               {-9, u"-9"},
               {-100, u"-100"},
               {1234567, u"1234567"}};
  for (const auto& c : cases) {
    const int64_t saved = WorkspacePosition();
    rt::ReturnNumber(c.value, saved);
    EXPECT_EQ(WorkspacePosition(), saved + 2 * static_cast<int64_t>(c.text.size())) << c.value;
    EXPECT_EQ(At(saved), c.text);  // the terminator follows the digits
    rt::WorkspaceRestore(saved);
  }
}

TEST(Workspace, AppendWritesATerminatorWithoutCountingIt) {
  rt::WorkspaceEnsure();
  const int64_t saved = WorkspacePosition();
  rt::WorkspaceAppend(u"ab");
  EXPECT_EQ(WorkspacePosition(), saved + 4);
  rt::WorkspaceAppend(nullptr);
  rt::WorkspaceAppend(u"");
  EXPECT_EQ(WorkspacePosition(), saved + 4);
  EXPECT_EQ(At(saved), u"ab");
  rt::WorkspaceAppend(u"c");
  rt::WorkspaceTrim(2);
  EXPECT_EQ(WorkspacePosition(), saved + 2);
  rt::WorkspaceSetEmpty(saved);
  EXPECT_EQ(WorkspacePosition(), saved);
  EXPECT_EQ(At(saved), u"");
  // A result written at an earlier output offset replaces what stood there.
  rt::WorkspaceAppend(u"abcdef");
  rt::ReturnNumber(5, saved);
  EXPECT_EQ(WorkspacePosition(), saved + 2);
  EXPECT_EQ(At(saved), u"5");
  rt::ReturnString(u"xy", saved);
  EXPECT_EQ(WorkspacePosition(), saved + 4);
  EXPECT_EQ(At(saved), u"xy");
  rt::WorkspaceRestore(saved);
}

TEST(Workspace, ExpressionThatGrowsTheBufferKeepsItsText) {
  OnForeignThread([] {
    rt::WorkspaceEnsure();
    const int64_t saved = WorkspacePosition();
    const char* before = rt::WorkspaceBase();
    std::u16string expected;
    const std::u16string piece(3000, u'x');
    for (int i = 0; i < 20; ++i) {
      rt::WorkspaceAppend(piece.c_str());
      rt::ReturnNumber(i, WorkspacePosition());
      expected += piece + Wide(std::to_string(i));
    }
    rt::WorkspaceTerminate();
    EXPECT_NE(rt::WorkspaceBase(), before);  // it did move
    EXPECT_EQ(std::u16string(rt::WorkspaceString(saved)), expected);
    rt::WorkspaceRestore(saved);
  });
}

TEST(Workspace, ShrinksBackToOneMebibyteAfterALargeExpression) {
  OnForeignThread([] {
    rt::WorkspaceEnsure();
    const int64_t saved = WorkspacePosition();
    rt::WorkspaceReserve(3 * 1024 * 1024 / 2, -1);  // 3 MiB of text
    EXPECT_GE(rt::WorkspaceCapacity(), 3 * 1024 * 1024);
    rt::WorkspaceRestore(saved);
    rt::WorkspaceAppend(u"small");
    EXPECT_EQ(rt::WorkspaceCapacity(), 1048576);
    EXPECT_EQ(At(saved), u"small");

    // A large workspace shrinks only to what the next reservation needs.
    rt::WorkspaceRestore(saved);
    rt::WorkspaceReserve(3 * 1024 * 1024 / 2, -1);
    rt::WorkspaceRestore(saved);
    rt::WorkspaceReserve(1536 * 1024 / 2, -1);
    EXPECT_EQ(rt::WorkspaceCapacity(), 1536 * 1024);
  });
}

TEST(Workspace, TextFromTheWorkspaceItselfSurvivesAMove) {
  OnForeignThread([] {
    rt::WorkspaceEnsure();
    rt::WorkspaceAppend(u"port ");
    rt::WorkspaceTerminate();
    const int64_t first = 0;
    // Appending a text that lies in the workspace while the buffer grows.
    const int64_t saved = WorkspacePosition();
    const std::u16string big(10000, u'y');
    rt::WorkspaceAppend(big.c_str());
    rt::WorkspaceTerminate();
    const int64_t second = WorkspacePosition();
    rt::WorkspaceAppend(rt::WorkspaceString(saved));  // 10000 units, forces growth
    rt::WorkspaceAppend(rt::WorkspaceString(first));
    rt::WorkspaceTerminate();
    EXPECT_EQ(At(second), big + u"port ");
    // ReturnString at an offset, from the workspace, with growth.
    const int64_t third = WorkspacePosition();
    rt::ReturnString(rt::WorkspaceString(second), third);
    EXPECT_EQ(WorkspacePosition(), third + 2 * 10005);
    EXPECT_EQ(At(third), big + u"port ");
    rt::ReturnString(nullptr, third);
    EXPECT_EQ(WorkspacePosition(), third);
    EXPECT_EQ(At(third), u"");
  });
}

TEST(Workspace, ThreadsHaveTheirOwnWorkspaces) {
  std::atomic<int> failures{0};
  auto work = [&failures](int id) {
    rt::WorkspaceEnsure();
    for (int i = 0; i < 2000; ++i) {
      const int64_t saved = WorkspacePosition();
      rt::WorkspaceAppend(u"thread ");
      rt::ReturnNumber(id, WorkspacePosition());
      rt::WorkspaceAppend(u":");
      rt::ReturnNumber(i, WorkspacePosition());
      rt::WorkspaceTerminate();
      if (At(saved) != Wide("thread " + std::to_string(id) + ":" + std::to_string(i))) ++failures;
      rt::WorkspaceRestore(saved);
    }
  };
  std::thread a(work, 1), b(work, 2), c(work, 3);
  a.join();
  b.join();
  c.join();
  EXPECT_EQ(failures.load(), 0);
}

struct ExitObservation {
  std::atomic<int> ran{0};
  std::atomic<bool> workspaceGone{false};
};

TEST(Workspace, ForeignThreadGetsAWorkspaceFreedAtItsExit) {
  const int64_t liveBefore = rt::WorkspaceLiveCount();
  const int64_t recordsBefore = rt::ThreadCleanupRecordCount();
  ExitObservation seen;
  OnForeignThread([&seen, recordsBefore] {
    // Registered first, so it runs after the workspace's own clean-up.
    rt::ThreadCleanupAdd(
        [](void* p) {
          auto* s = static_cast<ExitObservation*>(p);
          s->workspaceGone = !rt::WorkspaceExists();
          s->ran++;
        },
        &seen);
    EXPECT_FALSE(rt::WorkspaceExists());
    rt::WorkspaceEnsure();
    EXPECT_TRUE(rt::WorkspaceExists());
    EXPECT_EQ(rt::WorkspaceCapacity(), 16);
    rt::WorkspaceEnsure();  // a second call keeps the same workspace
    rt::WorkspaceAppend(u"text");
    EXPECT_EQ(WorkspacePosition(), 8);
    EXPECT_EQ(rt::ThreadCleanupRecordCount(), recordsBefore + 1);
  });
  EXPECT_EQ(seen.ran.load(), 1);
  EXPECT_TRUE(seen.workspaceGone.load());
  EXPECT_EQ(rt::WorkspaceLiveCount(), liveBefore);
  EXPECT_EQ(rt::ThreadCleanupRecordCount(), recordsBefore);
}

TEST(Workspace, UseWithoutEnsureStillGetsAFreedWorkspace) {
  const int64_t liveBefore = rt::WorkspaceLiveCount();
  OnForeignThread([] {
    rt::WorkspaceAppend(u"abc");
    EXPECT_EQ(At(0), u"abc");
  });
  EXPECT_EQ(rt::WorkspaceLiveCount(), liveBefore);
}

TEST(Workspace, CreateAndDestroyLikeARuntimeThread) {
  const int64_t liveBefore = rt::WorkspaceLiveCount();
  const int64_t recordsBefore = rt::ThreadCleanupRecordCount();
  OnForeignThread([liveBefore, recordsBefore] {
    rt::WorkspaceCreate();
    rt::WorkspaceEnsure();  // the procedure's own call finds it
    rt::WorkspaceAppend(u"abc");
    rt::WorkspaceCreate();  // starts it afresh
    EXPECT_EQ(WorkspacePosition(), 0);
    EXPECT_EQ(rt::WorkspaceLiveCount(), liveBefore + 1);
    EXPECT_EQ(rt::ThreadCleanupRecordCount(), recordsBefore);
    rt::WorkspaceDestroy();
    rt::WorkspaceDestroy();  // no workspace: nothing happens
  });
  EXPECT_EQ(rt::WorkspaceLiveCount(), liveBefore);
}

TEST(Workspace, StartupGivesAWorkspaceAndShutdownFreesIt) {
  const int64_t liveBefore = rt::WorkspaceLiveCount();
  OnForeignThread([] {
    rt::WorkspaceStartup();
    EXPECT_TRUE(rt::WorkspaceExists());
    rt::WorkspaceAppend(u"kept");
    rt::WorkspaceStartup();  // keeps the existing one
    EXPECT_EQ(At(0), u"kept");
    rt::WorkspaceShutdown();
    EXPECT_FALSE(rt::WorkspaceExists());
  });
  EXPECT_EQ(rt::WorkspaceLiveCount(), liveBefore);
}

TEST(WorkspaceDeathTest, ImpossibleReservationEndsTheProcessWithAMessage) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(rt::WorkspaceReserve(INT64_MAX / 2, -1), "string workspace: impossible reservation");
  EXPECT_DEATH(rt::WorkspaceReserve(4, -7), "string workspace: offset outside the workspace");
  EXPECT_DEATH(rt::WorkspaceRestore(-2), "string workspace: position outside the workspace");
  EXPECT_DEATH(rt::WorkspaceTrim(1 + WorkspacePosition() / 2), "string workspace: trim past the start");
}

#if defined(__linux__) && !defined(FWU_SANITIZED)
// The system itself refuses the memory (128 TiB): growth never hands out a
// buffer smaller than what is written into it.
TEST(WorkspaceDeathTest, FailedGrowthEndsTheProcessWithAMessage) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(rt::WorkspaceReserve(int64_t{1} << 46, -1), "string workspace: out of memory growing the workspace");
}
#endif

}  // namespace
