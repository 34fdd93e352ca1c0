#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <utility>

#include "platform/memory/QuorLargePages.h"

namespace {

TEST(QuorLargePagesTest, BuffersHoldWhatWasAskedAndLargeOnesAreAlignedOnALargePage) {
  constexpr std::size_t kLarge = kQuorLargePageSize;
  const std::size_t kSizes[] = {1, 4096, kLarge - 1, kLarge, kLarge + 1, 3 * kLarge};
  for (const std::size_t size : kSizes) {
    SCOPED_TRACE(size);
    CQuorLargePages buffer(size);
    ASSERT_NE(buffer.Get(), nullptr);
    EXPECT_GE(buffer.Size(), size);
    if (size >= kLarge) {
      EXPECT_EQ(buffer.Size() % kLarge, 0u);
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer.Get()) % kLarge, 0u);
    }
    // Every byte is the buffer's own: written at both ends, and moved whole.
    std::memset(buffer.Get(), 0x5A, buffer.Size());
    CQuorLargePages moved = std::move(buffer);
    EXPECT_EQ(buffer.Get(), nullptr);  // NOLINT(bugprone-use-after-move): moved-from is empty
    EXPECT_EQ(moved.Get()[0], 0x5A);
    EXPECT_EQ(moved.Get()[moved.Size() - 1], 0x5A);
  }
}

TEST(QuorLargePagesTest, PiecesAreWholeLargePagesOnly) {
  EXPECT_EQ(QuorAllocateLargePages(0), nullptr);
  EXPECT_EQ(QuorAllocateLargePages(kQuorLargePageSize + 4096), nullptr);
  void* const piece = QuorAllocateLargePages(2 * kQuorLargePageSize);
  ASSERT_NE(piece, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(piece) % kQuorLargePageSize, 0u);
  QuorFreeLargePages(piece, 2 * kQuorLargePageSize);
}

}  // namespace
