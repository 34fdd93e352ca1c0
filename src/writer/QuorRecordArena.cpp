#include "writer/QuorRecordArena.h"

// Carved and freed records are fenced off under AddressSanitizer, as the heap fences off its
// blocks; without it the poisoning macros do nothing.
#include <sanitizer/asan_interface.h>

#include <cstdint>
#include <new>

// The head of a piece, on its first cache line. live counts the piece's records not yet freed,
// plus one while records are still carved from it, so that it cannot empty before it is full.
struct alignas(kQuorCacheLineSize) CQuorRecordArena::Piece {
  std::atomic<std::size_t> live{1};
  CQuorRecordArena* arena = nullptr;
};

CQuorRecordArena::~CQuorRecordArena() {
  Piece* current = nullptr;
  {
    CQuorMutexLock lock(m_lock);
    current = m_current;
    m_current = nullptr;
  }
  if (current != nullptr) Drop(current);
  CQuorMutexLock lock(m_lock);
  if (m_spare != nullptr) QuorFreeLargePages(m_spare, kQuorLargePageSize);
  m_spare = nullptr;
}

void* CQuorRecordArena::Allocate(std::size_t bytes) noexcept {
  static_assert(sizeof(Piece) == kQuorCacheLineSize);
  if (bytes == 0 || bytes > kMaxRecordSize) return nullptr;
  bytes = (bytes + kQuorCacheLineSize - 1) & ~(kQuorCacheLineSize - 1);
  Piece* full = nullptr;  // dropped outside the lock, as its last record may be freed meanwhile
  unsigned char* record = nullptr;
  {
    CQuorMutexLock lock(m_lock);
    if (m_current == nullptr || m_used + bytes > kQuorLargePageSize) {
      Piece* next = m_spare;
      if (next != nullptr) {
        m_spare = nullptr;
      } else {
        next = static_cast<Piece*>(QuorAllocateLargePages(kQuorLargePageSize));
        if (next == nullptr) return nullptr;
        ++m_pieces;
      }
      new (next) Piece();
      next->arena = this;
      ASAN_POISON_MEMORY_REGION(next + 1, kQuorLargePageSize - sizeof(Piece));
      full = m_current;
      m_current = next;
      m_used = sizeof(Piece);
    }
    record = reinterpret_cast<unsigned char*>(m_current) + m_used;
    m_used += bytes;
    m_current->live.fetch_add(1, std::memory_order_relaxed);
  }
  if (full != nullptr) Drop(full);
  ASAN_UNPOISON_MEMORY_REGION(record, bytes);
  return record;
}

void CQuorRecordArena::Free(void* record) noexcept {
  if (record == nullptr) return;
  // A piece is aligned on its size: the record's offset into it is the low bits of its address.
  const std::size_t offset = reinterpret_cast<std::uintptr_t>(record) & (kQuorLargePageSize - 1);
  Drop(reinterpret_cast<Piece*>(static_cast<unsigned char*>(record) - offset));
}

void CQuorRecordArena::Drop(Piece* piece) noexcept {
  // The release orders this thread's use of its record before the reuse of the piece.
  if (piece->live.fetch_sub(1, std::memory_order_acq_rel) == 1) piece->arena->Release(piece);
}

void CQuorRecordArena::Release(Piece* piece) noexcept {
  ASAN_POISON_MEMORY_REGION(piece + 1, kQuorLargePageSize - sizeof(Piece));
  CQuorMutexLock lock(m_lock);
  if (m_spare == nullptr) {
    m_spare = piece;
    return;
  }
  QuorFreeLargePages(piece, kQuorLargePageSize);
  --m_pieces;
}

std::size_t CQuorRecordArena::HeldBytes() const noexcept {
  CQuorMutexLock lock(m_lock);
  return m_pieces * kQuorLargePageSize;
}
