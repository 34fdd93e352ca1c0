// The operating-system file calls of the file layer, behind one replaceable object so that
// tests can inject faults. Every call has POSIX semantics: -1 (or an errno value where noted)
// with errno set on failure. The process-wide current object defaults to the real one; a test
// installs its own for a while and puts the previous one back. Installing is not synchronized
// with file calls on other threads: install before the files under test are used.
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
  // The names of every entry of a directory but "." and "..", in no particular order.
  // Returns 0 or an errno value.
  virtual int ListDirectory(const char* path, std::vector<std::string>* names) = 0;
};

// The file system that every file call currently goes through.
CQuorFileSystem& QuorCurrentFileSystem() noexcept;

// Makes fileSystem (null: the real one) current and returns the one it replaces.
CQuorFileSystem* QuorSetFileSystem(CQuorFileSystem* fileSystem) noexcept;

// The real POSIX file system; it retries calls that a signal interrupts.
CQuorFileSystem& QuorPosixFileSystem() noexcept;
