#include "platform/memory/QuorLargePages.h"

#include <sys/mman.h>

#include <cstdint>
#include <new>
#include <utility>

void* QuorAllocateLargePages(std::size_t bytes) noexcept {
  if (bytes == 0 || bytes % kQuorLargePageSize != 0 || bytes > SIZE_MAX - kQuorLargePageSize) {
    return nullptr;
  }
  // The mapping is asked one page larger, so that an aligned piece lies within it, and the
  // parts before and after that piece are given back.
  const std::size_t mapped = bytes + kQuorLargePageSize;
  void* const raw =
      ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const std::size_t misalignment = reinterpret_cast<std::uintptr_t>(raw) % kQuorLargePageSize;
  const std::size_t before = misalignment == 0 ? 0 : kQuorLargePageSize - misalignment;
  const std::size_t after = mapped - before - bytes;
  unsigned char* const pages = static_cast<unsigned char*>(raw) + before;
  if (before != 0) (void)::munmap(raw, before);  // an unmap of whole pages of ours cannot fail
  if (after != 0) (void)::munmap(pages + bytes, after);
  // Only advice: without large pages the piece is backed by small ones.
  (void)::madvise(pages, bytes, MADV_HUGEPAGE);
  return pages;
}

void QuorFreeLargePages(void* pages, std::size_t bytes) noexcept {
  if (pages != nullptr) (void)::munmap(pages, bytes);  // an unmap of our own piece cannot fail
}

CQuorLargePages::CQuorLargePages(std::size_t bytes) noexcept {
  if (bytes < kQuorLargePageSize) {
    m_bytes = new (std::nothrow) unsigned char[bytes];
    m_size = m_bytes != nullptr ? bytes : 0;
    return;
  }
  const std::size_t pages = bytes / kQuorLargePageSize + (bytes % kQuorLargePageSize != 0);
  if (pages > SIZE_MAX / kQuorLargePageSize) return;
  m_bytes = static_cast<unsigned char*>(QuorAllocateLargePages(pages * kQuorLargePageSize));
  if (m_bytes != nullptr) m_size = pages * kQuorLargePageSize;
}

CQuorLargePages::CQuorLargePages(CQuorLargePages&& other) noexcept
    : m_bytes(std::exchange(other.m_bytes, nullptr)), m_size(std::exchange(other.m_size, 0)) {}

CQuorLargePages& CQuorLargePages::operator=(CQuorLargePages&& other) noexcept {
  if (this != &other) {
    Free();
    m_bytes = std::exchange(other.m_bytes, nullptr);
    m_size = std::exchange(other.m_size, 0);
  }
  return *this;
}

CQuorLargePages::~CQuorLargePages() { Free(); }

void CQuorLargePages::Free() noexcept {
  if (m_size < kQuorLargePageSize) {
    delete[] m_bytes;
  } else {
    QuorFreeLargePages(m_bytes, m_size);
  }
}
