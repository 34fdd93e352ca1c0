// Memory taken straight from the system in pieces of whole kQuorLargePageSize pages, aligned on
// that size and offered to the system for backing with large pages, for buffers that are large
// or grow quickly: a large page costs one fault where small ones cost one per 4 KiB, and on a
// virtual machine that backs the guest's memory lazily, each of those faults can cost as much as
// hashing the page. Where large pages are not available the pieces work the same, with small
// pages. Any thread.
#pragma once

#include <cstddef>

inline constexpr std::size_t kQuorLargePageSize = std::size_t{2} << 20;
// The size of a processor cache line, for what two threads must not share.
inline constexpr std::size_t kQuorCacheLineSize = 64;

// A piece of bytes (a multiple of kQuorLargePageSize), zero-filled, aligned on
// kQuorLargePageSize; null when the system has no memory for it.
void* QuorAllocateLargePages(std::size_t bytes) noexcept;
// Gives back a piece from QuorAllocateLargePages with the size it was asked for.
void QuorFreeLargePages(void* pages, std::size_t bytes) noexcept;

// Owns a buffer of at least the bytes asked for, freed exactly once: a piece of large pages for
// a large page or more, and heap memory for less, where a large page would be mostly waste.
class CQuorLargePages {
 public:
  CQuorLargePages() noexcept = default;
  // Room for bytes (from kQuorLargePageSize on, rounded up to whole large pages); Get() is null
  // when there is no memory.
  explicit CQuorLargePages(std::size_t bytes) noexcept;
  CQuorLargePages(CQuorLargePages&& other) noexcept;
  CQuorLargePages& operator=(CQuorLargePages&& other) noexcept;
  ~CQuorLargePages();

  unsigned char* Get() const noexcept { return m_bytes; }
  std::size_t Size() const noexcept { return m_size; }  // 0 without memory

 private:
  void Free() noexcept;

  unsigned char* m_bytes = nullptr;
  std::size_t m_size = 0;
};
