// The program frame changes process-wide state (locale, keys, and on one path
// the process itself), so every case runs it in a child process.
#include "core/runtime_main.h"

#include "core/threads.h"
#include "core/workspace.h"

#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

std::string g_log;

void Note(const char* entry) {
  if (!g_log.empty()) g_log += ",";
  g_log += entry;
}

#define LIBRARY_FUNCTIONS(X)                  \
  void Start##X() { Note("start " #X); }     \
  void End##X() { Note("end " #X); }         \
  void Abandon##X() { Note("abandon " #X); }
LIBRARY_FUNCTIONS(A)
LIBRARY_FUNCTIONS(B)
LIBRARY_FUNCTIONS(C)
#undef LIBRARY_FUNCTIONS

// Library A comes first, so its abandon runs last and reports everything.
void AbandonAndReport() {
  AbandonA();
  std::fprintf(stderr, "log: %s.\n", g_log.c_str());
}

const rt::RuntimeLibrary kLibraries[] = {
    {"a", StartA, EndA, AbandonAndReport},
    {"b", StartB, EndB, AbandonB},
    {"none", nullptr, nullptr, nullptr},
    {"c", StartC, EndC, AbandonC},
};

char g_program[] = "fwupdater";
char g_option[] = "-x";
char* g_argv[] = {g_program, g_option, nullptr};

void QuietBody() {
  Note("body");
  // The start-up thread has its workspace.
  const int64_t start = rt::WorkspacePosition();
  rt::WorkspaceAppend(u"ok");
  rt::WorkspaceTerminate();
  if (std::memcmp(rt::WorkspaceString(start), u"ok", 6) == 0) Note("workspace");
  rt::WorkspaceRestore(start);
  if (rt::RuntimeArgumentCount() == 2 && rt::RuntimeArguments() == g_argv) Note("arguments");
  const char* numeric = std::setlocale(LC_NUMERIC, nullptr);
  if (numeric && std::strcmp(numeric, "C") == 0 && std::localeconv()->decimal_point[0] == '.') Note("numbers C");
#ifndef _WIN32
  const char* ctype = std::setlocale(LC_CTYPE, nullptr);
  if (ctype && std::strstr(ctype, "UTF-8")) Note("environment locale");
#endif
}

void RunNormally() {
#ifndef _WIN32
  setenv("LC_ALL", "C.UTF-8", 1);
#endif
  const int code = rt::RuntimeMain(2, g_argv, kLibraries, 4, QuietBody);
  std::fprintf(stderr, "log: %s.\n", g_log.c_str());
  std::exit(code);
}

TEST(RuntimeMainDeathTest, StartsInOrderRunsTheBodyAndEndsInReverse) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
#ifdef _WIN32
  const char* expected = "log: start A,start B,start C,body,workspace,arguments,numbers C,end C,end B,end A\\.";
#else
  const char* expected =
      "log: start A,start B,start C,body,workspace,arguments,numbers C,environment locale,end C,end B,end A\\.";
#endif
  EXPECT_EXIT(RunNormally(), ::testing::ExitedWithCode(0), expected);
}

int64_t RunForever(int64_t) {
  for (;;) rt::DelayMs(50);
}

void BodyLeavingAThread() {
  Note("body");
  if (rt::ThreadStart(RunForever, 0) == 0) Note("no thread");
}

void RunWithAWorkerLeft() {
  // Fully buffered: the report only shows if the frame flushes before it ends the process.
  static char buffer[4096];
  std::setvbuf(stderr, buffer, _IOFBF, sizeof buffer);
  rt::RuntimeMain(2, g_argv, kLibraries, 4, BodyLeavingAThread);
  std::fprintf(stderr, "returned\n");
  std::fflush(stderr);
  std::_Exit(7);  // the frame must not return while a thread runs
}

TEST(RuntimeMainDeathTest, ARunningThreadMakesItAbandonAndEndAtOnce) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(RunWithAWorkerLeft(), ::testing::ExitedWithCode(0),
              "log: start A,start B,start C,body,abandon C,abandon B,abandon A\\.");
}

int64_t ReturnAtOnce(int64_t) { return 0; }

void BodyWaitingForItsThread() {
  Note("body");
  rt::ThreadStart(ReturnAtOnce, 0);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (rt::ThreadRunningCount() > 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void RunWithAFinishedThread() {
  const int code = rt::RuntimeMain(0, nullptr, kLibraries, 4, BodyWaitingForItsThread);
  std::fprintf(stderr, "log: %s.\n", g_log.c_str());
  std::exit(code);
}

TEST(RuntimeMainDeathTest, ThreadsThatHaveEndedDoNotStopTheOrderlyEnd) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(RunWithAFinishedThread(), ::testing::ExitedWithCode(0),
              "log: start A,start B,start C,body,end C,end B,end A\\.");
}

void RunWithoutLibraries() {
  const int code = rt::RuntimeMain(0, nullptr, nullptr, 3, nullptr);
  std::fprintf(stderr, "returned %d\n", code);
  std::exit(code);
}

TEST(RuntimeMainDeathTest, NoLibrariesAndNoBody) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(RunWithoutLibraries(), ::testing::ExitedWithCode(0), "returned 0");
}

}  // namespace
