#include "platform/io/QuorFileSystem.h"

#include <dirent.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstring>

#include "platform/io/QuorLastError.h"

namespace {

class CQuorPosixFileSystem final : public CQuorFileSystem {
 public:
  constexpr CQuorPosixFileSystem() noexcept = default;

  int Open(const char* path, int flags, mode_t mode) override {
    return RetryOnEintr([&] { return ::open(path, flags, mode); });
  }
  // Linux frees the descriptor even when close is interrupted, so it is never repeated.
  int Close(int fd) override { return ::close(fd); }
  ssize_t Pread(int fd, void* buffer, size_t count, off_t offset) override {
    return RetryOnEintr([&] { return ::pread(fd, buffer, count, offset); });
  }
  ssize_t Pwrite(int fd, const void* buffer, size_t count, off_t offset) override {
    return RetryOnEintr([&] { return ::pwrite(fd, buffer, count, offset); });
  }
  int Ftruncate(int fd, off_t length) override {
    return RetryOnEintr([&] { return ::ftruncate(fd, length); });
  }
  int Fallocate(int fd, int mode, off_t offset, off_t length) override {
    return RetryOnEintr([&] { return ::fallocate(fd, mode, offset, length); });
  }
  int Flock(int fd, int operation) override {
    return RetryOnEintr([&] { return ::flock(fd, operation); });
  }
  int Fstat(int fd, struct stat* status) override {
    return RetryOnEintr([&] { return ::fstat(fd, status); });
  }
  int Fdatasync(int fd) override {
    return RetryOnEintr([&] { return ::fdatasync(fd); });
  }
  int Unlink(const char* path) override {
    return RetryOnEintr([&] { return ::unlink(path); });
  }
  int ListDirectory(const char* path, std::vector<std::string>* names) override {
    DIR* dir = ::opendir(path);
    if (dir == nullptr) return errno;
    names->clear();
    int error = 0;
    for (;;) {
      errno = 0;
      const dirent* entry = ::readdir(dir);
      if (entry == nullptr) {
        error = errno;
        break;
      }
      if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
      try {
        names->emplace_back(entry->d_name);
      } catch (...) {
        error = ENOMEM;
        break;
      }
    }
    (void)::closedir(dir);  // a read-only directory stream has nothing to lose on close
    return error;
  }
};

constinit CQuorPosixFileSystem g_posixFileSystem;

}  // namespace

CQuorFileSystem& QuorPosixFileSystem() noexcept { return g_posixFileSystem; }
