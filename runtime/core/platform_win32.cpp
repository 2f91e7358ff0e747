// Windows back end of the core's platform seam.
#include "core/platform.h"

#include <windows.h>
#include <mmsystem.h>
#include <process.h>

#include <cstdlib>
#include <new>

namespace rt::platform {

namespace {
struct StartPacket {
  ThreadEntry entry;
  void* argument;
};

unsigned __stdcall Trampoline(void* raw) {
  StartPacket packet = *static_cast<StartPacket*>(raw);
  delete static_cast<StartPacket*>(raw);
  packet.entry(packet.argument);
  return 0;
}
}  // namespace

bool ThreadCreateDetached(ThreadEntry entry, void* argument, size_t stackSize, uint64_t* identity) {
  auto* packet = new (std::nothrow) StartPacket{entry, argument};
  if (!packet) return false;
  unsigned id = 0;
  // The stack size is a reservation, as a pthread stack is; closing the
  // handle at once makes the thread detached.
  const uintptr_t handle = _beginthreadex(nullptr, static_cast<unsigned>(stackSize), Trampoline, packet,
                                          STACK_SIZE_PARAM_IS_A_RESERVATION | CREATE_SUSPENDED, &id);
  if (handle == 0) {
    delete packet;
    return false;
  }
  *identity = id;
  ResumeThread(reinterpret_cast<HANDLE>(handle));
  CloseHandle(reinterpret_cast<HANDLE>(handle));
  return true;
}

uint64_t ThreadSelf() { return GetCurrentThreadId(); }

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

void ExitNow(int code) { std::_Exit(code); }

}  // namespace rt::platform
