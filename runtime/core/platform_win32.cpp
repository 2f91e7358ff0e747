// Windows back end of the core's platform seam: the program heap, numbered
// threads whose handles are reaped lazily, run-once, Sleep with a 1 ms timer.
//
// The core keeps its locked object tables, per-thread slots and per-thread
// workspaces on Windows too, so threads here carry the same wrapper as on
// POSIX (ThreadBody in threads.cpp) rather than running the procedure bare:
// one core for both builds, already checked for races under ThreadSanitizer.
#include "core/platform.h"

#include <windows.h>
#include <mmsystem.h>
#include <process.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <new>

#include "core/memory.h"
#include "core/run_once.h"

namespace rt::platform {

namespace {

// --- Program heap -----------------------------------------------------------

// Created on first use (a static initialiser may allocate before the program
// frame runs) and at the latest by ProcessStart; destroyed by ProcessEnd.
std::atomic<HANDLE> g_heap{nullptr};
std::atomic<bool> g_heapDestroyed{false};
OnceState g_heapOnce = 0;

void CreateProgramHeap() { g_heap.store(HeapCreate(0, 4096, 0), std::memory_order_release); }

HANDLE ProgramHeap() {
  HANDLE heap = g_heap.load(std::memory_order_acquire);
  if (heap || g_heapDestroyed.load(std::memory_order_acquire)) return heap;
  RunOnce(&g_heapOnce, CreateProgramHeap);
  return g_heap.load(std::memory_order_acquire);
}

// --- Threads ----------------------------------------------------------------

struct StartPacket {
  ThreadEntry entry;
  void* argument;
  uint64_t number;
};

// Threads this seam started, with the handles kept for ThreadNotEnded; guarded
// by g_threadsLock. Numbers start at 1 and are never reused.
struct StartedThread {
  HANDLE handle;
  uint64_t number;
};
std::mutex g_threadsLock;
NodeListHead g_threads = nullptr;
uint64_t g_lastNumber = 0;

thread_local uint64_t t_number = 0;

unsigned __stdcall Trampoline(void* raw) {
  StartPacket packet = *static_cast<StartPacket*>(raw);
  delete static_cast<StartPacket*>(raw);
  t_number = packet.number;
  packet.entry(packet.argument);
  return 0;
}

// Under g_threadsLock: closes the handles of threads that have ended. A
// thread's handle is only needed while someone may ask whether it runs, so
// they are given back here rather than by a thread that waits for each.
void ReapEnded() {
  void* node = NodeListFirst(g_threads);
  while (node) {
    void* next = NodeListNext(node);
    auto* started = static_cast<StartedThread*>(node);
    if (WaitForSingleObject(started->handle, 0) == WAIT_OBJECT_0) {
      CloseHandle(started->handle);
      NodeListRemove(&g_threads, node);
    }
    node = next;
  }
}

// --- Run-once ---------------------------------------------------------------

using OnceCallback = BOOL(CALLBACK*)(void* once, void* parameter, void** context);
using InitOnceExecuteOnceFunction = BOOL(WINAPI*)(void* once, OnceCallback callback, void* parameter, void** context);
static_assert(sizeof(OnceState) == sizeof(void*), "the state word is the system's INIT_ONCE");

// Systems before Vista lack it; the lookup is by name so that the program
// still starts there.
InitOnceExecuteOnceFunction LookUpInitOnceExecuteOnce() {
  HMODULE kernel = LoadLibraryW(L"Kernel32.dll");
  if (!kernel) return nullptr;
  FARPROC found = GetProcAddress(kernel, "InitOnceExecuteOnce");
  // Kernel32 is mapped for the life of every process, so the address stays
  // valid after this reference is given back.
  FreeLibrary(kernel);
  return reinterpret_cast<InitOnceExecuteOnceFunction>(reinterpret_cast<void (*)()>(found));
}

InitOnceExecuteOnceFunction SystemRunOnce() {
  static const InitOnceExecuteOnceFunction function = LookUpInitOnceExecuteOnce();
  return function;
}

struct OnceCall {
  void (*routine)();
};

BOOL CALLBACK RunRoutine(void*, void* parameter, void**) {
  static_cast<OnceCall*>(parameter)->routine();
  return TRUE;
}

}  // namespace

void ProcessStart() { ProgramHeap(); }

int ProcessEnd(int code) {
  // ExitProcess runs no C library exit handlers: what is buffered goes out now.
  std::fflush(nullptr);
  g_heapDestroyed.store(true, std::memory_order_release);
  if (HANDLE heap = g_heap.exchange(nullptr, std::memory_order_acq_rel)) HeapDestroy(heap);
  ExitProcess(static_cast<UINT>(code));
}

void* HeapAllocate(size_t bytes) {
  HANDLE heap = ProgramHeap();
  return heap ? HeapAlloc(heap, HEAP_ZERO_MEMORY, bytes) : nullptr;
}

void* HeapReallocate(void* block, size_t bytes) {
  HANDLE heap = ProgramHeap();
  return heap ? HeapReAlloc(heap, 0, block, bytes) : nullptr;
}

void HeapRelease(void* block) {
  // Once the heap is gone its blocks went with it; the system's end-of-thread
  // callbacks that ExitProcess still runs may give some back.
  HANDLE heap = g_heap.load(std::memory_order_acquire);
  if (block && heap) HeapFree(heap, 0, block);
}

bool ThreadCreateDetached(ThreadEntry entry, void* argument, size_t stackSize, uint64_t* identity) {
  auto* packet = new (std::nothrow) StartPacket{entry, argument, 0};
  if (!packet) return false;
  std::lock_guard<std::mutex> guard(g_threadsLock);
  ReapEnded();
  auto* started = static_cast<StartedThread*>(NodeListPush(&g_threads, sizeof(StartedThread)));
  if (!started) {
    delete packet;
    return false;
  }
  // _beginthreadex rather than a bare CreateThread: the thread uses the C
  // library. The stack size is a reservation, as a pthread stack is. The
  // thread starts suspended so that its number is known before it runs.
  unsigned id = 0;
  const uintptr_t handle = _beginthreadex(nullptr, static_cast<unsigned>(stackSize), Trampoline, packet,
                                          STACK_SIZE_PARAM_IS_A_RESERVATION | CREATE_SUSPENDED, &id);
  if (handle == 0) {
    NodeListRemove(&g_threads, started);
    delete packet;
    return false;
  }
  started->handle = reinterpret_cast<HANDLE>(handle);
  started->number = ++g_lastNumber;
  packet->number = started->number;
  *identity = started->number;
  ResumeThread(started->handle);
  return true;
}

uint64_t ThreadSelf() { return t_number; }

bool ThreadNotEnded(uint64_t identity) {
  std::lock_guard<std::mutex> guard(g_threadsLock);
  for (void* node = NodeListFirst(g_threads); node; node = NodeListNext(node)) {
    const auto* started = static_cast<const StartedThread*>(node);
    if (started->number == identity) return WaitForSingleObject(started->handle, 0) == WAIT_TIMEOUT;
  }
  return false;
}

void ThreadForgetAll() {
  std::lock_guard<std::mutex> guard(g_threadsLock);
  while (void* node = NodeListFirst(g_threads)) {
    CloseHandle(static_cast<StartedThread*>(node)->handle);
    NodeListRemove(&g_threads, node);
  }
}

void RunOnce(OnceState* state, void (*routine)()) {
  if (InitOnceExecuteOnceFunction execute = SystemRunOnce()) {
    OnceCall call{routine};
    execute(state, RunRoutine, &call, nullptr);
    return;
  }
  RunOnceInterlocked(state, routine);
}

// Windows has no pause signal; nothing can pause a thread this way.
void InstallPauseHandler(void (*)()) {}

int SleepOnce(int64_t seconds, int64_t nanoseconds) {
  if (seconds < 0 || nanoseconds < 0 || nanoseconds > 999999999) return -1;
  if (seconds > (INT64_C(0xFFFFFFFE) / 1000) - 1) return -1;  // INFINITE is not a length
  // The system timer ticks every 15.6 ms by default; short delays (the serial
  // answer wait polls in 1 ms steps) need 1 ms. The period is kept until the
  // process ends.
  static const bool fineTimer = timeBeginPeriod(1) == TIMERR_NOERROR;
  (void)fineTimer;
  Sleep(static_cast<DWORD>(seconds * 1000 + nanoseconds / 1000000));
  return 0;
}

void SleepSeconds(unsigned seconds) { Sleep(seconds * 1000u); }

void ExitNow(int code) { ExitProcess(static_cast<UINT>(code)); }

}  // namespace rt::platform
