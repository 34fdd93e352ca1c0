// CQuorMutex: a non-recursive lock that Clang's thread-safety analysis knows (the standard
// library's mutex carries no annotations), and CQuorMutexLock, which holds one for a scope. A
// thread that holds the lock must not take it again.
#pragma once

#include <mutex>

#include "core/QuorThreadAnnotations.h"

class QUOR_CAPABILITY("mutex") CQuorMutex {
 public:
  CQuorMutex() = default;
  CQuorMutex(const CQuorMutex&) = delete;
  CQuorMutex& operator=(const CQuorMutex&) = delete;

  void lock() QUOR_ACQUIRE() { m_mutex.lock(); }
  void unlock() QUOR_RELEASE() { m_mutex.unlock(); }
  // For the analysis only: the caller's caller holds the lock (see QUOR_ASSERT_CAPABILITY).
  void AssertHeld() const QUOR_ASSERT_CAPABILITY(this) {}

 private:
  std::mutex m_mutex;
};

class QUOR_SCOPED_CAPABILITY CQuorMutexLock {
 public:
  explicit CQuorMutexLock(CQuorMutex& mutex) QUOR_ACQUIRE(mutex) : m_mutex(mutex) { mutex.lock(); }
  ~CQuorMutexLock() QUOR_RELEASE() { m_mutex.unlock(); }
  CQuorMutexLock(const CQuorMutexLock&) = delete;
  CQuorMutexLock& operator=(const CQuorMutexLock&) = delete;

 private:
  CQuorMutex& m_mutex;
};
