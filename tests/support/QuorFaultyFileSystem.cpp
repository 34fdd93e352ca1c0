#include "QuorFaultyFileSystem.h"

#include <algorithm>
#include <cerrno>

CQuorFaultyFileSystem::CQuorFaultyFileSystem() : m_real(QuorPosixFileSystem()) {}

bool CQuorFaultyFileSystem::Injected() {
  if (++m_calls != m_failCall) return false;
  m_faulted = true;
  errno = m_failError;
  return true;
}

std::uint64_t CQuorFaultyFileSystem::Grow(int fd, std::uint64_t end) {
  const std::uint64_t extent = m_extent[fd];
  return end > extent ? end - extent : 0;
}

int CQuorFaultyFileSystem::Open(const char* path, int flags, mode_t mode) {
  std::scoped_lock lock(m_lock);
  if (Injected()) return -1;
  const int fd = m_real.Open(path, flags, mode);
  if (fd >= 0) {
    struct stat status {};
    m_extent[fd] = m_real.Fstat(fd, &status) == 0 ? static_cast<std::uint64_t>(status.st_size) : 0;
  }
  return fd;
}

int CQuorFaultyFileSystem::Close(int fd) {
  std::scoped_lock lock(m_lock);
  m_extent.erase(fd);
  if (Injected()) {
    (void)m_real.Close(fd);  // the descriptor is gone either way, as on Linux
    return -1;
  }
  return m_real.Close(fd);
}

ssize_t CQuorFaultyFileSystem::Pread(int fd, void* buffer, size_t count, off_t offset) {
  if (m_beforeRead) m_beforeRead();
  std::scoped_lock lock(m_lock);
  if (Injected()) return -1;
  ++m_preadCalls;
  if (m_readLimit != 0) count = std::min(count, m_readLimit);
  return m_real.Pread(fd, buffer, count, offset);
}

ssize_t CQuorFaultyFileSystem::Pwrite(int fd, const void* buffer, size_t count, off_t offset) {
  std::scoped_lock lock(m_lock);
  if (Injected()) return -1;
  ++m_pwriteCalls;
  const std::uint64_t end = static_cast<std::uint64_t>(offset) + count;
  if (m_room) {
    const std::uint64_t grow = Grow(fd, end);
    if (grow > *m_room) {
      m_faulted = true;
      const std::uint64_t fits = count - (grow - *m_room);
      if (fits == 0) {
        errno = ENOSPC;
        return -1;
      }
      count = fits;
    }
  }
  const ssize_t n = m_real.Pwrite(fd, buffer, count, offset);
  if (n > 0) {
    const std::uint64_t written = static_cast<std::uint64_t>(offset) + static_cast<size_t>(n);
    if (m_room) *m_room -= Grow(fd, written);
    m_extent[fd] = std::max(m_extent[fd], written);
  }
  return n;
}

int CQuorFaultyFileSystem::Ftruncate(int fd, off_t length) {
  std::scoped_lock lock(m_lock);
  if (Injected()) return -1;
  const int result = m_real.Ftruncate(fd, length);
  if (result == 0) {
    const std::uint64_t newExtent = static_cast<std::uint64_t>(length);
    std::uint64_t& extent = m_extent[fd];
    if (m_room && newExtent < extent) *m_room += extent - newExtent;
    if (m_room && newExtent > extent) *m_room -= std::min(*m_room, newExtent - extent);
    extent = newExtent;
  }
  return result;
}

int CQuorFaultyFileSystem::Fallocate(int fd, int mode, off_t offset, off_t length) {
  std::scoped_lock lock(m_lock);
  if (Injected()) return -1;
  if (m_refuseFallocate) {
    errno = EOPNOTSUPP;
    return -1;
  }
  const std::uint64_t end = static_cast<std::uint64_t>(offset) + static_cast<std::uint64_t>(length);
  const std::uint64_t grow = Grow(fd, end);
  if (m_room && grow > *m_room) {
    m_faulted = true;
    errno = ENOSPC;
    return -1;
  }
  const int result = m_real.Fallocate(fd, mode, offset, length);
  if (result == 0) {
    if (m_room) *m_room -= grow;
    m_extent[fd] = std::max(m_extent[fd], end);
  }
  return result;
}

int CQuorFaultyFileSystem::Flock(int fd, int operation) {
  std::scoped_lock lock(m_lock);
  if (Injected()) return -1;
  return m_real.Flock(fd, operation);
}

int CQuorFaultyFileSystem::Fstat(int fd, struct stat* status) {
  std::scoped_lock lock(m_lock);
  if (Injected()) return -1;
  return m_real.Fstat(fd, status);
}

int CQuorFaultyFileSystem::Fdatasync(int fd) {
  std::scoped_lock lock(m_lock);
  if (Injected()) return -1;
  ++m_syncCalls;
  return m_real.Fdatasync(fd);
}

int CQuorFaultyFileSystem::Unlink(const char* path) {
  std::scoped_lock lock(m_lock);
  if (Injected()) return -1;
  return m_real.Unlink(path);
}

int CQuorFaultyFileSystem::ListDirectory(const char* path, std::vector<std::string>* names) {
  std::scoped_lock lock(m_lock);
  if (Injected()) return errno;
  return m_real.ListDirectory(path, names);
}
