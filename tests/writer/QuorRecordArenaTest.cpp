#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/memory/QuorLargePages.h"
#include "writer/QuorRecordArena.h"

namespace {

struct Record {
  unsigned char* bytes;
  std::size_t size;
  unsigned char fill;
};

Record Take(CQuorRecordArena& arena, std::size_t size, unsigned char fill) {
  auto* bytes = static_cast<unsigned char*>(arena.Allocate(size));
  if (bytes != nullptr) std::memset(bytes, fill, size);
  return {bytes, size, fill};
}

// Whether every byte of the record still holds its fill.
bool Intact(const Record& r) {
  for (std::size_t i = 0; i < r.size; ++i) {
    if (r.bytes[i] != r.fill) return false;
  }
  return true;
}

TEST(QuorRecordArenaTest, RecordsAreAlignedAndNeverOverlapAcrossPieces) {
  const std::size_t kSizes[] = {1, 63, 64, 65, 1088, 65600, CQuorRecordArena::kMaxRecordSize};
  CQuorRecordArena arena;
  std::vector<Record> records;
  // Enough of every size to fill several pieces, each record with its own fill.
  for (std::size_t round = 0; round < 24; ++round) {
    for (const std::size_t size : kSizes) {
      records.push_back(Take(arena, size, static_cast<unsigned char>(records.size())));
      ASSERT_NE(records.back().bytes, nullptr) << size;
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(records.back().bytes) % 64, 0u) << size;
    }
  }
  EXPECT_GE(arena.HeldBytes(), 4 * kQuorLargePageSize);
  for (const Record& r : records) EXPECT_TRUE(Intact(r)) << r.size;
  for (const Record& r : records) CQuorRecordArena::Free(r.bytes);

  EXPECT_EQ(arena.Allocate(0), nullptr);
  EXPECT_EQ(arena.Allocate(CQuorRecordArena::kMaxRecordSize + 1), nullptr);
}

TEST(QuorRecordArenaTest, EmptiedPiecesGoBackToTheSystemButOneSpare) {
  constexpr std::size_t kRecord = 64 << 10;
  constexpr std::size_t kPerPiece = kQuorLargePageSize / kRecord - 1;  // the head takes a line
  CQuorRecordArena arena;
  std::vector<Record> burst;
  for (std::size_t i = 0; i < 6 * kPerPiece; ++i) burst.push_back(Take(arena, kRecord, 1));
  EXPECT_EQ(arena.HeldBytes(), 6 * kQuorLargePageSize);
  for (const Record& r : burst) CQuorRecordArena::Free(r.bytes);
  // The piece records are still carved from, and one spare.
  EXPECT_EQ(arena.HeldBytes(), 2 * kQuorLargePageSize);

  // A steady flow of records, each freed soon after, lives in those two pieces.
  std::deque<Record> flow;
  for (std::size_t i = 0; i < 20 * kPerPiece; ++i) {
    flow.push_back(Take(arena, kRecord, 2));
    if (flow.size() > kPerPiece / 2) {
      CQuorRecordArena::Free(flow.front().bytes);
      flow.pop_front();
    }
  }
  EXPECT_EQ(arena.HeldBytes(), 2 * kQuorLargePageSize);
  for (const Record& r : flow) CQuorRecordArena::Free(r.bytes);
}

// Two callers carve records and queue them; a third thread frees them in queue order, as the
// writer's worker does.
TEST(QuorRecordArenaTest, ConcurrentCallersAndAFreeingWorkerShareTheArena) {
  constexpr std::size_t kPerCaller = 20000;
  CQuorRecordArena arena;
  std::mutex lock;
  std::deque<Record> queue;
  std::size_t freed = 0;
  bool allIntact = true;
  auto caller = [&](unsigned char fill) {
    for (std::size_t i = 0; i < kPerCaller; ++i) {
      Record r = Take(arena, 200 + (i % 7) * 300, fill);
      ASSERT_NE(r.bytes, nullptr);
      std::scoped_lock guard(lock);
      queue.push_back(r);
    }
  };
  std::thread worker([&] {
    while (freed < 2 * kPerCaller) {
      Record r{};
      {
        std::scoped_lock guard(lock);
        if (queue.empty()) continue;
        r = queue.front();
        queue.pop_front();
      }
      allIntact = allIntact && Intact(r);
      CQuorRecordArena::Free(r.bytes);
      ++freed;
    }
  });
  std::thread first(caller, 0xA5);
  std::thread second(caller, 0x5A);
  first.join();
  second.join();
  worker.join();
  EXPECT_TRUE(allIntact);
  EXPECT_LE(arena.HeldBytes(), 3 * kQuorLargePageSize);
}

}  // namespace
