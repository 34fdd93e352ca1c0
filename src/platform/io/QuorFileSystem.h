// The operating-system file calls of the file layer, behind an object that the layer's users
// pass in (CQuorFile::Create, CQuorFindFile::FindFirst, the storage) so that tests can inject
// faults. Every call has POSIX semantics: -1 (or an errno value where noted) with errno set on
// failure. Production code uses the real one, QuorPosixFileSystem().
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <vector>

class CQuorFileSystem {
 public:
  virtual ~CQuorFileSystem() = default;

  virtual int Open(const char* path, int flags, mode_t mode) = 0;
  virtual int Close(int fd) = 0;
  virtual ssize_t Pread(int fd, void* buffer, size_t count, off_t offset) = 0;
  virtual ssize_t Pwrite(int fd, const void* buffer, size_t count, off_t offset) = 0;
  virtual int Ftruncate(int fd, off_t length) = 0;
  virtual int Fallocate(int fd, int mode, off_t offset, off_t length) = 0;
  virtual int Flock(int fd, int operation) = 0;
  virtual int Fstat(int fd, struct stat* status) = 0;
  // Writes the file's data (and the size that reaching it needs) to the storage device.
  virtual int Fdatasync(int fd) = 0;
  // Removes the directory entry of a file.
  virtual int Unlink(const char* path) = 0;
  // The names of every entry of a directory but "." and "..", in no particular order.
  // Returns 0 or an errno value.
  virtual int ListDirectory(const char* path, std::vector<std::string>* names) = 0;
};

// The real POSIX file system; it retries calls that a signal interrupts.
CQuorFileSystem& QuorPosixFileSystem() noexcept;
