// The base of every object a thread can wait on (a thread, signaled once it has ended), and the
// WaitForSingleObject / WaitForMultipleObjects functions over them.
//
// An object is either signaled or not. A manual-reset object stays signaled until it is reset;
// an auto-reset object is reset by the one wait that it satisfies. A wait over several objects
// returns the lowest index among those signaled, so the order of the list is a priority order.
// Every member is thread-safe; the objects must outlive every wait that names them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "quormediafiles/platform/QuorTypes.h"

inline constexpr DWORD INFINITE = 0xFFFFFFFF;
inline constexpr DWORD WAIT_OBJECT_0 = 0x00000000;
inline constexpr DWORD WAIT_TIMEOUT = 0x00000102;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
inline constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;

// One thread's wait in progress: objects that become signaled wake it through here.
class CQuorWaiter {
 public:
  void Notify();
  // Sleeps until notified or until the deadline; clears the notification.
  void Sleep(std::chrono::steady_clock::time_point deadline);

 private:
  std::mutex m_mutex;
  std::condition_variable m_wake;
  bool m_notified = false;
};

class CQuorWaitableObject {
 public:
  using Clock = std::chrono::steady_clock;

  CQuorWaitableObject(bool manualReset, bool initialState) noexcept;
  CQuorWaitableObject(const CQuorWaitableObject&) = delete;
  CQuorWaitableObject& operator=(const CQuorWaitableObject&) = delete;
  virtual ~CQuorWaitableObject() = default;

  // Whether the object is signaled now; does not consume an auto-reset signal.
  bool IsSignaled();

 protected:
  // Makes the object signaled and wakes the waiters.
  void Signal();

 private:
  friend DWORD WaitForMultipleObjects(DWORD count, CQuorWaitableObject* const* objects,
                                      bool waitAll, DWORD milliseconds);

  // Takes the signal if there is one (resetting an auto-reset object); true if taken.
  bool TryAcquire();
  void Register(CQuorWaiter* waiter);
  void Unregister(CQuorWaiter* waiter);

  std::mutex m_mutex;
  const bool m_manualReset;
  bool m_signaled;
  std::vector<CQuorWaiter*> m_waiters;
};

// Waits until one of the objects is signaled (waitAll must be false: waiting for all at once
// is not supported) and returns WAIT_OBJECT_0 + its index, the lowest signaled index winning;
// WAIT_TIMEOUT after the given time; WAIT_FAILED for a bad argument.
[[nodiscard]] DWORD WaitForMultipleObjects(DWORD count, CQuorWaitableObject* const* objects,
                                           bool waitAll, DWORD milliseconds);
[[nodiscard]] DWORD WaitForSingleObject(CQuorWaitableObject* object, DWORD milliseconds);
