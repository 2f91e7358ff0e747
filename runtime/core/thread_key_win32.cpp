// Windows back end of the thread keys: TLS slots, and FLS slots for keys with
// a destructor (FLS callbacks run at the end of every thread).
#include "core/thread_key.h"

#include <windows.h>

#include <atomic>

namespace rt {

namespace {

// An FLS callback has the system's calling convention and gets only the
// value, so each destructor key gets its own small trampoline.
constexpr int kDestructorKeys = 4;
std::atomic<ThreadKeyDestructor> g_destructors[kDestructorKeys];
std::atomic<int> g_destructorsUsed{0};

template <int I>
void WINAPI FlsTrampoline(void* value) {
  if (value) g_destructors[I].load()(value);
}

constexpr PFLS_CALLBACK_FUNCTION kTrampolines[kDestructorKeys] = {FlsTrampoline<0>, FlsTrampoline<1>,
                                                                  FlsTrampoline<2>, FlsTrampoline<3>};

}  // namespace

bool ThreadKeyCreate(ThreadKey* key, ThreadKeyDestructor destructor) {
  if (!destructor) {
    const DWORD index = TlsAlloc();
    if (index == TLS_OUT_OF_INDEXES) return false;
    key->native = index;
    key->valid = true;
    return true;
  }
  // FLS callbacks run at every thread's end, for threads the C library
  // started and for bare CreateThread threads alike.
  const int slot = g_destructorsUsed.fetch_add(1);
  if (slot >= kDestructorKeys) return false;
  g_destructors[slot].store(destructor);
  const DWORD index = FlsAlloc(kTrampolines[slot]);
  if (index == FLS_OUT_OF_INDEXES) return false;
  key->native = (uint64_t{1} << 32) | index;
  key->valid = true;
  return true;
}

void* ThreadKeyGet(const ThreadKey& key) {
  const DWORD index = static_cast<DWORD>(key.native);
  return (key.native >> 32) ? FlsGetValue(index) : TlsGetValue(index);
}

bool ThreadKeySet(const ThreadKey& key, void* value) {
  const DWORD index = static_cast<DWORD>(key.native);
  return ((key.native >> 32) ? FlsSetValue(index, value) : TlsSetValue(index, value)) != 0;
}

}  // namespace rt
