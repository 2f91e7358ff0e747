// A recursive lock for short critical sections on hot paths.
//
// The owner's identity sits in an atomic word and the hold count beside it,
// over one plain std::mutex: re-entry costs no atomic operation, and a first
// entry is exactly one plain mutex lock. The C library's recursive kind pays
// for a type dispatch and extra bookkeeping on every lock and unlock, which
// shows on paths that take the lock twice per element.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

namespace rt {

// An address that tells the calling thread apart from every other live
// thread; never 0. Reading it is one thread-pointer load on the usual
// platforms, far cheaper than asking the system for a thread id.
inline uintptr_t CurrentThreadTag() {
  static thread_local char tag;
  return reinterpret_cast<uintptr_t>(&tag);
}

// Satisfies BasicLockable, so std::lock_guard and std::unique_lock work.
class RecursiveLock {
 public:
  RecursiveLock() = default;
  RecursiveLock(const RecursiveLock&) = delete;
  RecursiveLock& operator=(const RecursiveLock&) = delete;

  void lock() {
    const uintptr_t self = CurrentThreadTag();
    // Only this thread ever stores its own tag, so seeing it means this
    // thread holds the lock; any other value means it does not.
    if (owner_.load(std::memory_order_relaxed) == self) {
      ++depth_;
      return;
    }
    mutex_.lock();
    owner_.store(self, std::memory_order_relaxed);
    depth_ = 1;
  }

  bool try_lock() {
    const uintptr_t self = CurrentThreadTag();
    if (owner_.load(std::memory_order_relaxed) == self) {
      ++depth_;
      return true;
    }
    if (!mutex_.try_lock()) return false;
    owner_.store(self, std::memory_order_relaxed);
    depth_ = 1;
    return true;
  }

  // Only by the holder, once per lock().
  void unlock() {
    if (--depth_ != 0) return;
    owner_.store(0, std::memory_order_relaxed);
    mutex_.unlock();
  }

  // Whether the calling thread holds the lock (for assertions and tests).
  bool HeldByCaller() const { return owner_.load(std::memory_order_relaxed) == CurrentThreadTag(); }

 private:
  std::atomic<uintptr_t> owner_{0};
  uint32_t depth_ = 0;  // touched only by the holder
  std::mutex mutex_;
};

}  // namespace rt
