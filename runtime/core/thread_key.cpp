#include "core/thread_key.h"

#if defined(_WIN32)
#include <windows.h>

#include <atomic>
#else
#include <pthread.h>
#endif

namespace rt {

#if defined(_WIN32)

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

#else

static_assert(sizeof(pthread_key_t) <= sizeof(uint64_t), "pthread_key_t must fit 64 bits");

bool ThreadKeyCreate(ThreadKey* key, ThreadKeyDestructor destructor) {
  pthread_key_t native;
  if (pthread_key_create(&native, destructor) != 0) return false;
  key->native = static_cast<uint64_t>(native);
  key->valid = true;
  return true;
}

void* ThreadKeyGet(const ThreadKey& key) { return pthread_getspecific(static_cast<pthread_key_t>(key.native)); }

bool ThreadKeySet(const ThreadKey& key, void* value) {
  return pthread_setspecific(static_cast<pthread_key_t>(key.native), value) == 0;
}

#endif

}  // namespace rt
