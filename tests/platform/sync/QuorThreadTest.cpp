#include <gtest/gtest.h>

#include <atomic>
#include <latch>

#include "platform/sync/QuorThread.h"
#include "quormediafiles/QuorResultCodes.h"

namespace {

struct Probe {
  std::atomic<int> runs{0};
  std::latch* gate = nullptr;  // the routine waits for it when set
};

DWORD CountRun(void* parameter) {
  auto* probe = static_cast<Probe*>(parameter);
  if (probe->gate != nullptr) {
    probe->gate->wait();  // released by the test
  }
  probe->runs.fetch_add(1);
  return 42;
}

TEST(QuorThreadTest, SuspendedThreadRunsOnlyAfterResumeOrNeverWhenDestroyed) {
  Probe probe;
  std::latch gate(1);
  probe.gate = &gate;
  CQuorThread thread;
  ASSERT_EQ(thread.CreateThread(&CountRun, &probe, true), S_OK);
  EXPECT_EQ(WaitForSingleObject(&thread, 0), WAIT_TIMEOUT);
  DWORD exitCode = 0;
  EXPECT_EQ(thread.GetExitCodeThread(&exitCode), MFS_E_WRONG_STATE);

  ASSERT_EQ(thread.ResumeThread(), S_OK);
  ASSERT_EQ(thread.ResumeThread(), S_OK);  // resuming a running thread changes nothing
  EXPECT_EQ(probe.runs.load(), 0);
  gate.count_down();
  EXPECT_EQ(WaitForSingleObject(&thread, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(probe.runs.load(), 1);
  ASSERT_EQ(thread.GetExitCodeThread(&exitCode), S_OK);
  EXPECT_EQ(exitCode, 42u);

  Probe never;
  {
    CQuorThread suspended;
    ASSERT_EQ(suspended.CreateThread(&CountRun, &never, true), S_OK);
  }
  EXPECT_EQ(never.runs.load(), 0);
}

TEST(QuorThreadTest, ThreadCreatedRunningNeedsNoResumeAndIsCreatedOnce) {
  Probe probe;
  CQuorThread thread;
  EXPECT_EQ(thread.ResumeThread(), HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE));
  ASSERT_EQ(thread.CreateThread(&CountRun, &probe, false), S_OK);
  EXPECT_EQ(thread.CreateThread(&CountRun, &probe, false), E_UNEXPECTED);
  EXPECT_EQ(WaitForSingleObject(&thread, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(probe.runs.load(), 1);
  EXPECT_EQ(thread.CreateThread(nullptr, nullptr, false), E_POINTER);
}

}  // namespace
