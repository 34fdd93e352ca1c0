// A file system for tests that forwards to the real one and injects faults, for the files,
// storages and writer and reader objects a test hands it to (it must outlive what it was
// handed to, or their files must be closed first). All counters start at construction. Threads may
// call it at the same time (a writer and its seal thread).
//
// The disk-full fault models a disk that holds exactly N more bytes: every byte that a write
// or an fallocate adds beyond what a file already covers (its written or allocated extent)
// uses it up, a truncation below that extent gives room back, a write that would go past N
// writes the bytes that still fit and the next call fails with ENOSPC, and an fallocate past N
// fails with ENOSPC allocating nothing.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

#include "platform/com/QuorUnknownImpl.h"
#include "platform/io/QuorFileSystem.h"
#include "support/QuorGot.h"

class CQuorFaultyFileSystem final : public CQuorFileSystem {
 public:
  CQuorFaultyFileSystem();
  CQuorFaultyFileSystem(const CQuorFaultyFileSystem&) = delete;
  CQuorFaultyFileSystem& operator=(const CQuorFaultyFileSystem&) = delete;

  void SetDiskRoom(std::uint64_t bytes) { m_room = bytes; }
  // fallocate fails with EOPNOTSUPP, as on file systems that cannot preallocate.
  void RefuseFallocate() { m_refuseFallocate = true; }
  // Every pread returns at most this many bytes.
  void ShortenReadsTo(std::size_t bytes) { m_readLimit = bytes; }
  // The k-th call from now (1 = the next one), of any kind, an open included, fails with this
  // errno.
  void FailCall(std::uint64_t k, int error = EIO) {
    m_failCall = m_calls + k;
    m_failError = error;
  }
  // Whether a fault has been injected: a call failed by FailCall, or a write or fallocate that
  // the disk room cut short or refused.
  bool Faulted() const {
    std::scoped_lock lock(m_lock);
    return m_faulted;
  }
  std::uint64_t PwriteCalls() const { return Count(m_pwriteCalls); }
  std::uint64_t PreadCalls() const { return Count(m_preadCalls); }
  std::uint64_t SyncCalls() const { return Count(m_syncCalls); }
  // Runs hook on the reading thread before every pread: a test can hold a reader there while
  // another thread looks at it.
  void BeforeEachRead(std::function<void()> hook) { m_beforeRead = std::move(hook); }

  int Open(const char* path, int flags, mode_t mode) override;
  int Close(int fd) override;
  ssize_t Pread(int fd, void* buffer, size_t count, off_t offset) override;
  ssize_t Pwrite(int fd, const void* buffer, size_t count, off_t offset) override;
  int Ftruncate(int fd, off_t length) override;
  int Fallocate(int fd, int mode, off_t offset, off_t length) override;
  int Flock(int fd, int operation) override;
  int Fstat(int fd, struct stat* status) override;
  int Fdatasync(int fd) override;
  int Unlink(const char* path) override;
  int ListDirectory(const char* path, std::vector<std::string>* names) override;

 private:
  std::uint64_t Count(const std::uint64_t& counter) const {
    std::scoped_lock lock(m_lock);
    return counter;
  }
  bool Injected();  // counts the call; true (errno set) when it is the one to fail
  std::uint64_t Grow(int fd, std::uint64_t end);  // bytes beyond the file's extent

  mutable std::mutex m_lock;  // held through every call but the read hook
  CQuorFileSystem& m_real;
  std::optional<std::uint64_t> m_room;
  bool m_refuseFallocate = false;
  std::size_t m_readLimit = 0;
  std::uint64_t m_calls = 0, m_failCall = 0;
  int m_failError = EIO;
  bool m_faulted = false;
  std::uint64_t m_pwriteCalls = 0, m_preadCalls = 0, m_syncCalls = 0;
  std::function<void()> m_beforeRead;
  std::map<int, std::uint64_t> m_extent;  // per descriptor: bytes covered by data or allocation
};

// A new TObject (a writer or reader object) whose files go through fileSystem, as TInterface.
template <class TInterface, class TObject>
CQuorComPtr<TInterface> QuorNewObjectOver(CQuorFileSystem& fileSystem) {
  CQuorComPtr<TObject> object;
  EXPECT_EQ(QuorCreateObject(&object, fileSystem), S_OK);
  return QueryAs<TInterface>(object);
}
