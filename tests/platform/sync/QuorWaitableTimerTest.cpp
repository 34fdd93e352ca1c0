#include <gtest/gtest.h>

#include <chrono>

#include "platform/sync/QuorWaitableTimer.h"

namespace {

using std::chrono::milliseconds;
using Clock = CQuorWaitableObject::Clock;

TEST(QuorWaitableTimerTest, UnarmedFutureAndCancelledTimersAreNotSignaled) {
  CQuorWaitableTimer timer(false);
  EXPECT_EQ(WaitForSingleObject(&timer, 0), WAIT_TIMEOUT);
  ASSERT_EQ(timer.SetWaitableTimer(-36000000000LL, 0), S_OK);  // an hour from now
  EXPECT_EQ(WaitForSingleObject(&timer, 0), WAIT_TIMEOUT);
  ASSERT_EQ(timer.SetWaitableTimer(Clock::now() + milliseconds(1), milliseconds(1)), S_OK);
  ASSERT_EQ(timer.CancelWaitableTimer(), S_OK);
  EXPECT_EQ(WaitForSingleObject(&timer, 20), WAIT_TIMEOUT);
  EXPECT_EQ(timer.SetWaitableTimer(0, -1), E_INVALIDARG);
}

// An auto-reset timer due in the past fires once; a manual-reset one stays signaled until it is
// armed again.
TEST(QuorWaitableTimerTest, DueTimersFireOnceOrStaySignaledByResetKind) {
  CQuorWaitableTimer once(false);
  ASSERT_EQ(once.SetWaitableTimer(116444736000000000LL, 0), S_OK);  // 1970-01-01
  EXPECT_EQ(WaitForSingleObject(&once, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(&once, 0), WAIT_TIMEOUT);

  CQuorWaitableTimer manual(true);
  ASSERT_EQ(manual.SetWaitableTimer(Clock::now(), milliseconds(0)), S_OK);
  EXPECT_EQ(WaitForSingleObject(&manual, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(&manual, 0), WAIT_OBJECT_0);
  ASSERT_EQ(manual.SetWaitableTimer(Clock::now() + std::chrono::hours(1), milliseconds(0)), S_OK);
  EXPECT_EQ(WaitForSingleObject(&manual, 0), WAIT_TIMEOUT);
}

}  // namespace
