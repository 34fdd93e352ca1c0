#include "platform/sync/QuorWaitableObject.h"

#include <algorithm>

void CQuorWaiter::Notify() {
  {
    std::scoped_lock lock(m_mutex);
    m_notified = true;
  }
  m_wake.notify_one();
}

void CQuorWaiter::Sleep(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(m_mutex);
  if (deadline == std::chrono::steady_clock::time_point::max()) {
    m_wake.wait(lock, [this] { return m_notified; });
  } else {
    (void)m_wake.wait_until(lock, deadline, [this] { return m_notified; });
  }
  m_notified = false;
}

CQuorWaitableObject::CQuorWaitableObject(bool manualReset, bool initialState) noexcept
    : m_manualReset(manualReset), m_signaled(initialState) {}

bool CQuorWaitableObject::IsSignaled() {
  std::scoped_lock lock(m_mutex);
  UpdateLocked(Clock::now());
  return m_signaled;
}

void CQuorWaitableObject::Signal() {
  std::scoped_lock lock(m_mutex);
  // A waiter registered while the object was already signaled has been woken then, or sees
  // the signal in its next look, so only the edge needs to wake anyone. This keeps a burst of
  // signals on a busy auto-reset event down to a lock and a store.
  if (m_signaled) {
    return;
  }
  m_signaled = true;
  for (CQuorWaiter* waiter : m_waiters) {
    waiter->Notify();
  }
}

void CQuorWaitableObject::Unsignal() {
  std::scoped_lock lock(m_mutex);
  m_signaled = false;
}

void CQuorWaitableObject::WakeWaiters() {
  std::scoped_lock lock(m_mutex);
  for (CQuorWaiter* waiter : m_waiters) {
    waiter->Notify();
  }
}

bool CQuorWaitableObject::TryAcquire(Clock::time_point now) {
  std::scoped_lock lock(m_mutex);
  UpdateLocked(now);
  if (!m_signaled) {
    return false;
  }
  if (!m_manualReset) {
    m_signaled = false;
  }
  return true;
}

CQuorWaitableObject::Clock::time_point CQuorWaitableObject::NextDueTime() {
  std::scoped_lock lock(m_mutex);
  return NextDueTimeLocked();
}

void CQuorWaitableObject::Register(CQuorWaiter* waiter) {
  std::scoped_lock lock(m_mutex);
  m_waiters.push_back(waiter);
}

void CQuorWaitableObject::Unregister(CQuorWaiter* waiter) {
  std::scoped_lock lock(m_mutex);
  std::erase(m_waiters, waiter);
}

DWORD WaitForMultipleObjects(DWORD count, CQuorWaitableObject* const* objects, bool waitAll,
                             DWORD milliseconds) {
  using Clock = CQuorWaitableObject::Clock;
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || objects == nullptr || waitAll) {
    return WAIT_FAILED;
  }
  for (DWORD i = 0; i < count; ++i) {
    if (objects[i] == nullptr) {
      return WAIT_FAILED;
    }
  }
  const Clock::time_point timeoutAt = milliseconds == INFINITE
                                          ? Clock::time_point::max()
                                          : Clock::now() + std::chrono::milliseconds(milliseconds);

  CQuorWaiter waiter;
  // Registered before the first look, so a signal that comes after it wakes this wait.
  for (DWORD i = 0; i < count; ++i) {
    objects[i]->Register(&waiter);
  }
  DWORD result = WAIT_TIMEOUT;
  for (;;) {
    const Clock::time_point now = Clock::now();
    bool acquired = false;
    for (DWORD i = 0; i < count && !acquired; ++i) {
      if (objects[i]->TryAcquire(now)) {
        result = WAIT_OBJECT_0 + i;
        acquired = true;
      }
    }
    if (acquired || now >= timeoutAt) {
      break;
    }
    Clock::time_point wakeAt = timeoutAt;
    for (DWORD i = 0; i < count; ++i) {
      wakeAt = std::min(wakeAt, objects[i]->NextDueTime());
    }
    waiter.Sleep(wakeAt);
  }
  for (DWORD i = 0; i < count; ++i) {
    objects[i]->Unregister(&waiter);
  }
  return result;
}

DWORD WaitForSingleObject(CQuorWaitableObject* object, DWORD milliseconds) {
  return WaitForMultipleObjects(1, &object, false, milliseconds);
}
