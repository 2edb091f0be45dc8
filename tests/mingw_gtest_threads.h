// GoogleTest on MinGW-w64 with the win32 thread model: GCC 12's library there has no
// std::mutex or std::condition_variable, which GoogleTest's Windows port uses. These two small
// classes over the Windows slim reader/writer lock and condition variable stand in for them.
// Force-included into GoogleTest and into every test program of the Windows builds, so it
// declares the four kernel32 functions itself instead of including <windows.h> (test code
// includes the project's Windows types first).
#pragma once

#if defined(__MINGW32__) && defined(__cplusplus) && !defined(_GLIBCXX_HAS_GTHREADS)

#include <condition_variable>
#include <mutex>

struct _RTL_SRWLOCK;
struct _RTL_CONDITION_VARIABLE;
extern "C" {
__declspec(dllimport) void __stdcall AcquireSRWLockExclusive(_RTL_SRWLOCK*);
__declspec(dllimport) void __stdcall ReleaseSRWLockExclusive(_RTL_SRWLOCK*);
__declspec(dllimport) void __stdcall WakeConditionVariable(_RTL_CONDITION_VARIABLE*);
__declspec(dllimport) void __stdcall WakeAllConditionVariable(_RTL_CONDITION_VARIABLE*);
__declspec(dllimport) int __stdcall SleepConditionVariableSRW(_RTL_CONDITION_VARIABLE*,
                                                             _RTL_SRWLOCK*, unsigned long,
                                                             unsigned long);
}

namespace std {

// Both Windows objects are one pointer, zero when unused.
class mutex {
 public:
  mutex() = default;
  mutex(const mutex&) = delete;
  mutex& operator=(const mutex&) = delete;
  void lock() { ::AcquireSRWLockExclusive(native_handle()); }
  void unlock() { ::ReleaseSRWLockExclusive(native_handle()); }
  _RTL_SRWLOCK* native_handle() { return reinterpret_cast<_RTL_SRWLOCK*>(&lock_); }

 private:
  void* lock_ = nullptr;
};

class condition_variable {
 public:
  condition_variable() = default;
  condition_variable(const condition_variable&) = delete;
  condition_variable& operator=(const condition_variable&) = delete;
  void notify_one() { ::WakeConditionVariable(handle()); }
  void notify_all() { ::WakeAllConditionVariable(handle()); }
  void wait(unique_lock<mutex>& lock) {
    ::SleepConditionVariableSRW(handle(), lock.mutex()->native_handle(), 0xFFFFFFFFul, 0);
  }
  template <typename Predicate>
  void wait(unique_lock<mutex>& lock, Predicate done) {
    while (!done()) wait(lock);
  }

 private:
  _RTL_CONDITION_VARIABLE* handle() { return reinterpret_cast<_RTL_CONDITION_VARIABLE*>(&cv_); }
  void* cv_ = nullptr;
};

}  // namespace std

#endif
