// A waitable timer: signaled when its due time comes and, when it has a period, again every
// period after that. A synchronization (auto-reset) timer is released by the wait that it
// satisfies; a notification (manual-reset) timer stays signaled until it is set again. Periods
// missed while nobody waited collapse into one signal. The clock is read by the waits, so the
// timer needs no thread of its own. Any thread may arm, cancel or wait.
#pragma once

#include <chrono>

#include "platform/com/QuorFileTime.h"
#include "platform/sync/QuorWaitableObject.h"

class CQuorWaitableTimer : public CQuorWaitableObject {
 public:
  explicit CQuorWaitableTimer(bool manualReset) noexcept
      : CQuorWaitableObject(manualReset, false) {}

  // dueTime: positive, an absolute time in 100-ns units since 1601-01-01 UTC; negative, a time
  // relative to now in 100-ns units. periodMs: 0 for a one-shot timer. Arming resets the signal.
  [[nodiscard]] HRESULT SetWaitableTimer(LONGLONG dueTime, LONG periodMs);
  // The same with a due time on the monotonic clock; what the tests and the writer's
  // relative timers use.
  [[nodiscard]] HRESULT SetWaitableTimer(Clock::time_point dueAt, std::chrono::milliseconds period);
  // Disarms the timer; a signal already due stays until taken or reset.
  [[nodiscard]] HRESULT CancelWaitableTimer();

 private:
  void UpdateLocked(Clock::time_point now) override;
  Clock::time_point NextDueTimeLocked() const override;

  bool m_armed = false;
  Clock::time_point m_dueAt;
  Clock::duration m_period{};
};
