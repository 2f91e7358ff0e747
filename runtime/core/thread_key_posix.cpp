// POSIX back end of the thread keys: pthread keys.
#include "core/thread_key.h"

#include <pthread.h>

namespace rt {

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

}  // namespace rt
