// SPDX-License-Identifier: GPL-3.0-or-later
// Clang's thread safety annotations (-Wthread-safety, on in the fuzz build), and a mutex and
// a scoped lock that carry them: a member GUARDED_BY(lock_) may then be touched only with
// lock_ held, and a function that REQUIRES(lock_) only be called so. Other compilers see
// plain std::mutex and lock guards.
#pragma once

#include <mutex>

#if defined(__clang__)
#define QUILLMERE_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define QUILLMERE_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) QUILLMERE_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY QUILLMERE_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) QUILLMERE_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) QUILLMERE_THREAD_ANNOTATION(pt_guarded_by(x))
#define REQUIRES(...) QUILLMERE_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) QUILLMERE_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) QUILLMERE_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) QUILLMERE_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...) QUILLMERE_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define NO_THREAD_SAFETY_ANALYSIS QUILLMERE_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace quillmere {

// std::mutex as a capability the analysis knows.
class CAPABILITY("mutex") Mutex {
 public:
  void lock() ACQUIRE() { mutex_.lock(); }
  void unlock() RELEASE() { mutex_.unlock(); }
  bool try_lock() TRY_ACQUIRE(true) { return mutex_.try_lock(); }

 private:
  std::mutex mutex_;
};

// Holds a Mutex for its scope, like std::lock_guard; unlock and lock let a
// std::condition_variable_any wait on it, as on a std::unique_lock.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
  ~MutexLock() RELEASE() {
    if (held_) mutex_.unlock();
  }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

  void lock() ACQUIRE() {
    mutex_.lock();
    held_ = true;
  }
  void unlock() RELEASE() {
    held_ = false;
    mutex_.unlock();
  }

 private:
  Mutex& mutex_;
  bool held_ = true;
};

}  // namespace quillmere
