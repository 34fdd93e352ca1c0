#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/sync/QuorEvent.h"
#include "platform/sync/QuorWaitableObject.h"
#include "platform/sync/QuorWaitableTimer.h"

namespace {

TEST(QuorWaitableObjectTest, EventsKeepOrDropTheirSignalByResetKind) {
  struct Case {
    const char* name;
    bool manualReset;
    bool signaledAfterWait;
  };
  const Case kCases[] = {{"ManualReset", true, true}, {"AutoReset", false, false}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    CQuorEvent event(c.manualReset, false);
    EXPECT_EQ(WaitForSingleObject(&event, 0), WAIT_TIMEOUT);
    event.SetEvent();
    event.SetEvent();  // a second set before the wait is the same signal
    EXPECT_EQ(WaitForSingleObject(&event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(event.IsSignaled(), c.signaledAfterWait);
    event.ResetEvent();
    EXPECT_EQ(WaitForSingleObject(&event, 0), WAIT_TIMEOUT);
  }
}

TEST(QuorWaitableObjectTest, LowestSignaledIndexWinsAndOthersKeepTheirSignal) {
  CQuorEvent stop(true, false);
  CQuorEvent sample(false, false);
  CQuorWaitableTimer timer(false);
  CQuorWaitableObject* const list[] = {&stop, &sample, &timer};

  ASSERT_EQ(timer.SetWaitableTimer(CQuorWaitableObject::Clock::now(), std::chrono::milliseconds(0)),
            S_OK);
  sample.SetEvent();
  stop.SetEvent();
  EXPECT_EQ(WaitForMultipleObjects(3, list, false, INFINITE), WAIT_OBJECT_0 + 0);
  stop.ResetEvent();
  EXPECT_EQ(WaitForMultipleObjects(3, list, false, INFINITE), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(3, list, false, INFINITE), WAIT_OBJECT_0 + 2);
  EXPECT_EQ(WaitForMultipleObjects(3, list, false, 0), WAIT_TIMEOUT);
}

TEST(QuorWaitableObjectTest, BadArgumentsFailTheWait) {
  CQuorEvent event(true, true);
  CQuorWaitableObject* const one[] = {&event};
  CQuorWaitableObject* const withNull[] = {&event, nullptr};
  EXPECT_EQ(WaitForMultipleObjects(0, one, false, 0), WAIT_FAILED);
  EXPECT_EQ(WaitForMultipleObjects(1, nullptr, false, 0), WAIT_FAILED);
  EXPECT_EQ(WaitForMultipleObjects(2, withNull, false, 0), WAIT_FAILED);
  EXPECT_EQ(WaitForMultipleObjects(1, one, true, 0), WAIT_FAILED);
}

// A signal of an auto-reset event must never be lost between a consumer's look and its sleep:
// the consumer drains per wake-up, as the writer's worker does, and waits without time limit,
// so a lost wake-up shows as a hang.
TEST(QuorWaitableObjectTest, ConcurrentSignalsOfAnAutoResetEventAreNeverLost) {
  constexpr int kProducers = 4;
  constexpr int kItemsEach = 20000;
  constexpr int kTotal = kProducers * kItemsEach;
  CQuorEvent itemEvent(false, false);
  std::atomic<int> produced{0};
  int wakeUps = 0;

  // The last signal stays set until the consumer takes it, so it waits at least once even when
  // the producers are done before it starts.
  std::thread consumer([&] {
    do {
      ASSERT_EQ(WaitForSingleObject(&itemEvent, INFINITE), WAIT_OBJECT_0);
      ++wakeUps;
    } while (produced.load() < kTotal);
  });
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([&] {
      for (int i = 0; i < kItemsEach; ++i) {
        produced.fetch_add(1);
        itemEvent.SetEvent();
      }
    });
  }
  for (std::thread& t : producers) {
    t.join();
  }
  consumer.join();
  EXPECT_GE(wakeUps, 1);
  EXPECT_LE(wakeUps, kTotal);
}

}  // namespace
