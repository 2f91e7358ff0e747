// The program frame changes process-wide state (locale, keys, and on one path
// the process itself), so every case runs it in a child process.
#include "core/runtime_main.h"

#include "core/memory.h"
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
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

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

// Library A comes first, so its end and its abandon run last and report
// everything: on Windows the frame never returns to its caller.
void EndAndReport() {
  EndA();
  std::fprintf(stderr, "log: %s.\n", g_log.c_str());
}
void AbandonAndReport() {
  AbandonA();
  std::fprintf(stderr, "log: %s.\n", g_log.c_str());
}

const rt::RuntimeLibrary kLibraries[] = {
    {"a", StartA, EndAndReport, AbandonAndReport},
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

// What follows the frame: on POSIX it returns the exit code to its caller; on
// Windows it ends the process itself with the code, so "returned" never shows.
[[noreturn]] void AfterTheFrame(int code) {
  std::fprintf(stderr, "returned %d\n", code);
  std::fflush(stderr);
  std::_Exit(code);
}
#ifdef _WIN32
constexpr const char* kReturned = "";
#else
constexpr const char* kReturned = "\nreturned 0";
#endif

void RunNormally() {
#ifndef _WIN32
  setenv("LC_ALL", "C.UTF-8", 1);
#endif
  AfterTheFrame(rt::RuntimeMain(2, g_argv, kLibraries, 4, QuietBody));
}

TEST(RuntimeMainDeathTest, StartsInOrderRunsTheBodyAndEndsInReverse) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
#ifdef _WIN32
  const std::string expected = "log: start A,start B,start C,body,workspace,arguments,numbers C,end C,end B,end A\\.";
#else
  const std::string expected =
      "log: start A,start B,start C,body,workspace,arguments,numbers C,environment locale,end C,end B,end A\\.";
#endif
  EXPECT_EXIT(RunNormally(), ::testing::ExitedWithCode(0), expected + kReturned);
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

void RunWithAFinishedThread() { AfterTheFrame(rt::RuntimeMain(0, nullptr, kLibraries, 4, BodyWaitingForItsThread)); }

TEST(RuntimeMainDeathTest, ThreadsThatHaveEndedDoNotStopTheOrderlyEnd) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(RunWithAFinishedThread(), ::testing::ExitedWithCode(0),
              std::string("log: start A,start B,start C,body,end C,end B,end A\\.") + kReturned);
}

void RunWithoutLibraries() {
  rt::RuntimeMain(0, nullptr, nullptr, 3, nullptr);
  std::fprintf(stderr, "ended\n");
  std::_Exit(0);
}

TEST(RuntimeMainDeathTest, NoLibrariesAndNoBody) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
#ifdef _WIN32
  EXPECT_EXIT(RunWithoutLibraries(), ::testing::ExitedWithCode(0), "^$");
#else
  EXPECT_EXIT(RunWithoutLibraries(), ::testing::ExitedWithCode(0), "ended");
#endif
}

// A harness that runs tests as the body reports their result through the
// exit code; on Windows the frame itself ends the process with it.
void BodySettingTheExitCode() {
  Note("body");
  rt::RuntimeSetExitCode(3);
}

void RunWithAnExitCode() { AfterTheFrame(rt::RuntimeMain(0, nullptr, kLibraries, 4, BodySettingTheExitCode)); }

TEST(RuntimeMainDeathTest, TheExitCodeIsTheProcessStatus) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
#ifdef _WIN32
  const char* returned = "";
#else
  const char* returned = "\nreturned 3";
#endif
  EXPECT_EXIT(RunWithAnExitCode(), ::testing::ExitedWithCode(3),
              std::string("log: start A,start B,start C,body,end C,end B,end A\\.") + returned);
}

#ifdef _WIN32
// The program heap is made before the first library starts, holds the
// runtime's blocks, is still there when the last library has ended, and is
// gone when the process ends: the system still runs the start-up thread's
// end callbacks inside ExitProcess, which is where the last check runs.
std::vector<HANDLE> Heaps() {
  std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 8);
  heaps.resize(GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data()));
  return heaps;
}

size_t g_heapsBefore = 0;
HANDLE g_programHeap = nullptr;

bool HeapHolds(HANDLE heap, const void* address) {
  const auto* byte = static_cast<const char*>(address);
  bool found = false;
  PROCESS_HEAP_ENTRY entry{};
  HeapLock(heap);
  while (!found && HeapWalk(heap, &entry)) {
    const auto* data = static_cast<const char*>(entry.lpData);
    found = (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) && byte >= data && byte < data + entry.cbData;
  }
  HeapUnlock(heap);
  return found;
}

bool Listed(HANDLE heap) {
  for (HANDLE h : Heaps()) {
    if (h == heap) return true;
  }
  return false;
}

void StartAndFindTheHeap() {
  StartA();
  const std::vector<HANDLE> heaps = Heaps();
  if (heaps.size() == g_heapsBefore + 1) Note("one heap more");
  void* block = rt::SizedAlloc(100);
  for (HANDLE heap : heaps) {
    if (heap != GetProcessHeap() && HeapHolds(heap, block)) g_programHeap = heap;
  }
  if (g_programHeap) Note("blocks from it");
  rt::SizedFree(block);
}

void EndWithTheHeapThere() {
  if (Listed(g_programHeap)) Note("heap there");
  EndAndReport();
}

void WINAPI AtThreadEnd(void*) {
  std::fprintf(stderr, Listed(g_programHeap) ? "heap left at exit\n" : "heap gone at exit\n");
}

const rt::RuntimeLibrary kHeapWatchers[] = {
    {"a", StartAndFindTheHeap, EndWithTheHeapThere, nullptr},
    {"b", StartB, EndB, nullptr},
};

void RunWithTheProgramHeap() {
  g_heapsBefore = Heaps().size();
  FlsSetValue(FlsAlloc(AtThreadEnd), &g_heapsBefore);
  AfterTheFrame(rt::RuntimeMain(0, nullptr, kHeapWatchers, 2, QuietBody));
}

TEST(RuntimeMainDeathTest, TheProgramHeapComesFirstAndGoesLast) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(RunWithTheProgramHeap(), ::testing::ExitedWithCode(0),
              "log: start A,one heap more,blocks from it,start B,body,workspace,numbers C,end B,heap there,end A\\.\n"
              "heap gone at exit");
}
#endif

}  // namespace
