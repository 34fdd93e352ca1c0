#include "platform/sync/QuorWaitableObject.h"

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
  return m_signaled;
}

void CQuorWaitableObject::Signal() {
  std::scoped_lock lock(m_mutex);
  // A waiter registered while the object was already signaled has been woken then, or sees
  // the signal in its next look, so only the edge needs to wake anyone.
  if (m_signaled) {
    return;
  }
  m_signaled = true;
  for (CQuorWaiter* waiter : m_waiters) {
    waiter->Notify();
  }
}

bool CQuorWaitableObject::TryAcquire() {
  std::scoped_lock lock(m_mutex);
  if (!m_signaled) {
    return false;
  }
  if (!m_manualReset) {
    m_signaled = false;
  }
  return true;
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
      if (objects[i]->TryAcquire()) {
        result = WAIT_OBJECT_0 + i;
        acquired = true;
      }
    }
    if (acquired || now >= timeoutAt) {
      break;
    }
    waiter.Sleep(timeoutAt);
  }
  for (DWORD i = 0; i < count; ++i) {
    objects[i]->Unregister(&waiter);
  }
  return result;
}

DWORD WaitForSingleObject(CQuorWaitableObject* object, DWORD milliseconds) {
  return WaitForMultipleObjects(1, &object, false, milliseconds);
}
