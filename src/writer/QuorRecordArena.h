// CQuorRecordArena: memory for the writer's queue records, carved in queue order out of pieces
// of kQuorLargePageSize that the system may back with large pages. A caller that outpaces the
// disk grows the queue by thousands of records a millisecond; from large pages that growth
// costs one fault per piece instead of one per 4 KiB, which on some machines is as much as the
// record's hashing. Records are cache-line aligned, so that the caller filling one and the
// worker writing its neighbour never share a line.
//
// Records are freed in about the order they were made, so pieces empty one after the other: a
// piece whose records are all freed is kept as the spare for the next records, or given back
// to the system when a spare is kept already. The arena must outlive its records.
// Allocate and Free: any thread.
#pragma once

#include <atomic>
#include <cstddef>

#include "core/QuorMutex.h"
#include "core/QuorThreadAnnotations.h"
#include "platform/memory/QuorLargePages.h"

class CQuorRecordArena {
 public:
  // The largest record the arena hands out; larger ones belong to the general heap.
  static constexpr std::size_t kMaxRecordSize = kQuorLargePageSize / 8;

  CQuorRecordArena() noexcept = default;
  CQuorRecordArena(const CQuorRecordArena&) = delete;
  CQuorRecordArena& operator=(const CQuorRecordArena&) = delete;
  ~CQuorRecordArena();

  // bytes of memory aligned on a cache line; null when bytes is 0 or above kMaxRecordSize or
  // the system has no memory for a new piece.
  void* Allocate(std::size_t bytes) noexcept;
  // Gives back a record from Allocate of any arena.
  static void Free(void* record) noexcept;

  // The bytes of the pieces the arena holds, for tests.
  std::size_t HeldBytes() const noexcept;

 private:
  struct Piece;

  // Drops the piece's count of its records; the last one releases it.
  static void Drop(Piece* piece) noexcept;
  void Release(Piece* piece) noexcept;

  mutable CQuorMutex m_lock;
  Piece* m_current QUOR_GUARDED_BY(m_lock) = nullptr;  // records are carved from this one
  std::size_t m_used QUOR_GUARDED_BY(m_lock) = 0;      // bytes of m_current carved
  Piece* m_spare QUOR_GUARDED_BY(m_lock) = nullptr;
  std::size_t m_pieces QUOR_GUARDED_BY(m_lock) = 0;  // mapped, the spare included
};
