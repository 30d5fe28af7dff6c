// Clang's thread-safety analysis: what a lock guards and what a function needs held, written next
// to the data so that the compiler checks every access. The macros are empty for other compilers
// (GCC, MinGW-w64), where the code builds and behaves the same.
#pragma once

#include <mutex>

#if defined(__clang__)
#define TW_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define TW_THREAD_ANNOTATION(x)
#endif

#define TW_CAPABILITY(name) TW_THREAD_ANNOTATION(capability(name))
#define TW_SCOPED_CAPABILITY TW_THREAD_ANNOTATION(scoped_lockable)
#define TW_GUARDED_BY(lock) TW_THREAD_ANNOTATION(guarded_by(lock))
#define TW_REQUIRES(...) TW_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define TW_EXCLUDES(...) TW_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define TW_ACQUIRE(...) TW_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define TW_RELEASE(...) TW_THREAD_ANNOTATION(release_capability(__VA_ARGS__))

namespace tw {

// A std::mutex the analysis knows as a lock.
class TW_CAPABILITY("mutex") Mutex {
 public:
  void lock() TW_ACQUIRE() { mutex_.lock(); }
  void unlock() TW_RELEASE() { mutex_.unlock(); }

 private:
  std::mutex mutex_;
};

// Holds a Mutex for its scope.
class TW_SCOPED_CAPABILITY MutexGuard {
 public:
  explicit MutexGuard(Mutex& mutex) TW_ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
  ~MutexGuard() TW_RELEASE() { mutex_.unlock(); }
  MutexGuard(const MutexGuard&) = delete;
  MutexGuard& operator=(const MutexGuard&) = delete;

 private:
  Mutex& mutex_;
};

}  // namespace tw
