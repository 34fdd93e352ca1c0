// Memory taken straight from the system in pieces of kQuorLargePageSize, aligned on that size
// and offered to the system for backing with large pages, for memory that grows quickly: a
// large page costs one fault where small ones cost one per 4 KiB. Where large pages are not
// available the pieces work the same, with small pages. Any thread.
#pragma once

#include <cstddef>

inline constexpr std::size_t kQuorLargePageSize = std::size_t{2} << 20;

// A piece of bytes (a multiple of kQuorLargePageSize), zero-filled, aligned on
// kQuorLargePageSize; null when the system has no memory for it.
void* QuorAllocateLargePages(std::size_t bytes) noexcept;
// Gives back a piece from QuorAllocateLargePages with the size it was asked for.
void QuorFreeLargePages(void* pages, std::size_t bytes) noexcept;
