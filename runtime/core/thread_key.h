// Process-wide per-thread pointers ("thread keys") backed by the system's
// native thread-local storage: pthread keys on POSIX, TLS and FLS slots on
// Windows. Unlike emulated C++ thread_local storage, a native slot stays
// readable while a thread's exit destructors run, in whatever order the C
// library, the threads library and the system run them.
#pragma once

#include <cstdint>

// Whether C++ thread_local data is the system's native TLS, readable until the
// thread is gone (ELF systems), rather than emulated storage that the threads
// library may free before other exit destructors run (mingw-w64's GCC).
#if defined(_WIN32)
#define RT_NATIVE_THREAD_LOCAL 0
#else
#define RT_NATIVE_THREAD_LOCAL 1
#endif

namespace rt {

using ThreadKeyDestructor = void (*)(void* value);

struct ThreadKey {
  uint64_t native = 0;
  bool valid = false;
};

// A key whose destructor (may be null) runs on a thread that ends with a
// non-null value, called with that value. Keys with a destructor are never
// deleted: on Windows that would run the destructor for every live thread.
// At most four keys with a destructor exist per process.
bool ThreadKeyCreate(ThreadKey* key, ThreadKeyDestructor destructor);
void* ThreadKeyGet(const ThreadKey& key);
bool ThreadKeySet(const ThreadKey& key, void* value);

}  // namespace rt
