#include "platform/sync/QuorWaitableTimer.h"

HRESULT CQuorWaitableTimer::SetWaitableTimer(LONGLONG dueTime, LONG periodMs) {
  if (periodMs < 0) {
    return E_INVALIDARG;
  }
  const Clock::time_point now = Clock::now();
  Clock::time_point dueAt;
  if (dueTime < 0) {
    dueAt = now + std::chrono::duration_cast<Clock::duration>(QuorFileTimeUnits(-dueTime));
  } else {
    const LONGLONG fileTimeNow = std::chrono::duration_cast<QuorFileTimeUnits>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count() +
                                 kFileTimeUnixEpoch;
    dueAt =
        now + std::chrono::duration_cast<Clock::duration>(QuorFileTimeUnits(dueTime - fileTimeNow));
  }
  return SetWaitableTimer(dueAt, std::chrono::milliseconds(periodMs));
}

HRESULT CQuorWaitableTimer::SetWaitableTimer(Clock::time_point dueAt,
                                             std::chrono::milliseconds period) {
  if (period.count() < 0) {
    return E_INVALIDARG;
  }
  {
    std::scoped_lock lock(Mutex());
    m_armed = true;
    m_dueAt = dueAt;
    m_period = period;
    SetSignaledLocked(false);
  }
  // Waiters sleeping towards an older due time look again.
  WakeWaiters();
  return S_OK;
}

HRESULT CQuorWaitableTimer::CancelWaitableTimer() {
  std::scoped_lock lock(Mutex());
  m_armed = false;
  return S_OK;
}

void CQuorWaitableTimer::UpdateLocked(Clock::time_point now) {
  if (!m_armed || now < m_dueAt) {
    return;
  }
  SetSignaledLocked(true);
  if (m_period.count() == 0) {
    m_armed = false;
    return;
  }
  // Periods that passed unobserved give one signal, and the next falls on the period's grid.
  const auto missed = (now - m_dueAt) / m_period;
  m_dueAt += (missed + 1) * m_period;
}

CQuorWaitableTimer::Clock::time_point CQuorWaitableTimer::NextDueTimeLocked() const {
  return m_armed ? m_dueAt : Clock::time_point::max();
}
