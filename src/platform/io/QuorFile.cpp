#include "platform/io/QuorFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "platform/io/QuorFileSystem.h"
#include "platform/io/QuorLastError.h"

namespace {

constexpr ULONGLONG kMaxOffset = static_cast<ULONGLONG>(std::numeric_limits<off_t>::max());

// A write past the process's file size limit must fail with EFBIG instead of killing the
// process; done once, on the first file opened.
bool IgnoreFileSizeSignal() noexcept {
  (void)std::signal(SIGXFSZ, SIG_IGN);  // the previous handler is of no use to us
  return true;
}

bool IsDiskFull(int error) noexcept { return error == ENOSPC || error == EDQUOT || error == EFBIG; }

}  // namespace

CQuorFile::CQuorFile(CQuorFile&& other) noexcept { MoveFrom(other); }

CQuorFile& CQuorFile::operator=(CQuorFile&& other) noexcept {
  if (this != &other) {
    (void)Close();  // an owner that cares about the outcome closes before replacing
    MoveFrom(other);
  }
  return *this;
}

CQuorFile::~CQuorFile() { (void)Close(); }

void CQuorFile::MoveFrom(CQuorFile& other) noexcept {
  m_fd = std::exchange(other.m_fd, -1);
  m_fileSystem = other.m_fileSystem;
  m_canRead = other.m_canRead;
  m_canWrite = other.m_canWrite;
  m_preallocate = other.m_preallocate;
  m_position = other.m_position;
  m_size = other.m_size;
  m_allocated = other.m_allocated;
  m_reserve = other.m_reserve;
  m_writeBuffer = std::move(other.m_writeBuffer);
  m_writeStart = other.m_writeStart;
  m_writeLength = std::exchange(other.m_writeLength, 0);
  m_readBuffer = std::move(other.m_readBuffer);
  m_readStart = other.m_readStart;
  m_readLength = std::exchange(other.m_readLength, 0);
  m_readAhead = other.m_readAhead;
  m_readEnd = other.m_readEnd;
}

bool CQuorFile::Create(const std::string& path, DWORD access, DWORD shareMode, DWORD creation,
                       DWORD flagsAndAttributes, CQuorFileSystem& fileSystem) {
  static const bool kSignalIgnored = IgnoreFileSizeSignal();
  (void)kSignalIgnored;
  (void)Close();  // Create on an open object starts over, as a fresh handle would
  m_fileSystem = &fileSystem;

  const bool canRead = (access & GENERIC_READ) != 0;
  const bool canWrite = (access & GENERIC_WRITE) != 0;
  if (!canRead && !canWrite) return FailWithWin32(ERROR_INVALID_PARAMETER);
  if ((flagsAndAttributes & ~FILE_FLAG_RANDOM_ACCESS) != 0)
    return FailWithWin32(ERROR_INVALID_PARAMETER);
  // Non-blocking, so that opening a FIFO without a writer returns at once to be refused below;
  // for a regular file the flag changes nothing.
  int flags = O_CLOEXEC | O_NONBLOCK |
              (canRead && canWrite ? O_RDWR
               : canWrite          ? O_WRONLY
                                   : O_RDONLY);
  switch (creation) {
    case CREATE_NEW:
      flags |= O_CREAT | O_EXCL;
      break;
    case CREATE_ALWAYS:
      // Not O_TRUNC: the file is emptied only once the lock shows nobody else has it open.
      flags |= O_CREAT;
      break;
    case OPEN_EXISTING:
      break;
    default:
      return FailWithWin32(ERROR_INVALID_PARAMETER);
  }

  CQuorFileSystem& fs = *m_fileSystem;
  const int fd = fs.Open(path.c_str(), flags, 0666);
  if (fd < 0) return FailWithErrno(errno);
  auto fail = [&](int error) {
    (void)fs.Close(fd);  // the open failed as a whole; its error is the one to report
    return FailWithErrno(error);
  };

  struct stat status {};
  if (fs.Fstat(fd, &status) != 0) return fail(errno);
  // Directories, FIFOs, devices and sockets are not files in this sense.
  if (!S_ISREG(status.st_mode)) return fail(EISDIR);
  const bool exclusive = canWrite || (shareMode & FILE_SHARE_READ) == 0;
  if (fs.Flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) return fail(errno);
  ULONGLONG size = static_cast<ULONGLONG>(status.st_size);
  if (creation == CREATE_ALWAYS && size != 0) {
    if (fs.Ftruncate(fd, 0) != 0) return fail(errno);
    size = 0;
  }

  m_fd = fd;
  m_canRead = canRead;
  m_canWrite = canWrite;
  m_preallocate = true;
  m_position = 0;
  m_size = size;
  m_allocated = size;
  m_reserve = 0;
  m_writeStart = 0;
  m_writeLength = 0;
  m_readStart = 0;
  m_readLength = 0;
  m_readAhead =
      (flagsAndAttributes & FILE_FLAG_RANDOM_ACCESS) != 0 ? kMinReadAhead : kReadBufferSize;
  m_readEnd = kNoRead;
  return true;
}

bool CQuorFile::Read(void* buffer, DWORD count, DWORD* read) {
  if (read != nullptr) *read = 0;
  if (!IsOpen()) return FailWithWin32(ERROR_INVALID_HANDLE);
  if (!m_canRead) return FailWithWin32(ERROR_ACCESS_DENIED);
  if (count == 0) return true;
  if (buffer == nullptr) return FailWithWin32(ERROR_INVALID_PARAMETER);
  if (!FlushWrites()) return false;

  CQuorFileSystem& fs = *m_fileSystem;
  BYTE* out = static_cast<BYTE*>(buffer);
  DWORD done = 0;
  int error = 0;
  while (done < count) {
    const ULONGLONG bufferEnd = m_readStart + m_readLength;
    if (m_position >= m_readStart && m_position < bufferEnd) {
      const DWORD n = static_cast<DWORD>(std::min<ULONGLONG>(count - done, bufferEnd - m_position));
      std::memcpy(out + done, m_readBuffer.get() + (m_position - m_readStart), n);
      done += n;
      m_position += n;
      continue;
    }
    if (m_position >= kMaxOffset) break;  // nothing can lie there
    const DWORD wanted = count - done;
    ULONGLONG start = m_position;
    const DWORD window = NextReadWindow(&start);
    if (start == m_position && wanted >= window) {
      const ssize_t n = fs.Pread(m_fd, out + done, wanted, static_cast<off_t>(m_position));
      if (n < 0) {
        error = errno;
        break;
      }
      m_readEnd = m_position + static_cast<ULONGLONG>(n);
      if (n == 0) break;
      done += static_cast<DWORD>(n);
      m_position += static_cast<ULONGLONG>(n);
      continue;
    }
    if (!m_readBuffer) {
      m_readBuffer.reset(new (std::nothrow) BYTE[kReadBufferSize]);
      if (!m_readBuffer) {
        error = ENOMEM;
        break;
      }
    }
    m_readLength = 0;
    const ssize_t n = fs.Pread(m_fd, m_readBuffer.get(), window, static_cast<off_t>(start));
    if (n < 0) {
      error = errno;
      break;
    }
    m_readStart = start;
    m_readLength = static_cast<DWORD>(n);
    m_readEnd = start + static_cast<ULONGLONG>(n);
    // Nothing at the position: the end of the file. A fill that began before the position and
    // fell short of it is followed by one at the position.
    if (n == 0 && start == m_position) break;
  }
  if (read != nullptr) *read = done;
  return error == 0 ? true : FailWithErrno(error);
}

DWORD CQuorFile::NextReadWindow(ULONGLONG* start) noexcept {
  const ULONGLONG position = *start;
  if (m_readEnd == kNoRead) return m_readAhead;
  if (position == m_readEnd) {
    m_readAhead = std::min(m_readAhead * 2, kReadBufferSize);
    return m_readAhead;
  }
  m_readAhead = kMinReadAhead;
  if (m_readLength != 0 && position < m_readStart) {
    // Backwards: twice the buffer, ending a little inside it so that a block reaching over
    // the buffer's start still comes in one fill.
    const DWORD window =
        std::clamp(m_readLength * 2, kMinReadAhead, kReadBufferSize);  // m_readLength <= 256 KiB
    const ULONGLONG end = m_readStart + std::min(m_readLength, kMinReadAhead);
    const ULONGLONG from = end > window ? end - window : 0;
    if (position >= from) {
      *start = from;
      return window;
    }
  }
  return m_readAhead;
}

bool CQuorFile::Write(const void* buffer, DWORD count, DWORD* written) {
  if (written != nullptr) *written = 0;
  if (!IsOpen()) return FailWithWin32(ERROR_INVALID_HANDLE);
  if (!m_canWrite) return FailWithWin32(ERROR_ACCESS_DENIED);
  if (count == 0) return true;
  if (buffer == nullptr) return FailWithWin32(ERROR_INVALID_PARAMETER);
  if (m_position > kMaxOffset - count) return FailWithWin32(ERROR_DISK_FULL);
  const BYTE* in = static_cast<const BYTE*>(buffer);
  const ULONGLONG end = m_position + count;

  if (m_writeLength != 0 && m_position != m_writeStart + m_writeLength && !FlushWrites()) {
    return false;
  }
  m_readLength = 0;  // the bytes it holds may be about to change
  if (m_preallocate && !Allocate(m_reserve > kMaxOffset - end ? kMaxOffset : end + m_reserve)) {
    return false;
  }

  if (!m_preallocate) {
    if (!FlushWrites() || !WriteThrough(in, count)) return false;
  } else {
    if (count > kWriteBufferSize - m_writeLength && !FlushWrites()) return false;
    if (count >= kWriteBufferSize) {
      int error = 0;
      if (!PwriteAll(in, count, m_position, &error)) return FailWithErrno(error);
    } else {
      if (!m_writeBuffer) {
        m_writeBuffer.reset(new (std::nothrow) BYTE[kWriteBufferSize]);
        if (!m_writeBuffer) return FailWithWin32(ERROR_NOT_ENOUGH_MEMORY);
      }
      if (m_writeLength == 0) m_writeStart = m_position;
      std::memcpy(m_writeBuffer.get() + m_writeLength, in, count);
      m_writeLength += count;
    }
  }
  m_position = end;
  m_size = std::max(m_size, end);
  if (written != nullptr) *written = count;
  return true;
}

bool CQuorFile::SetPointer(LONGLONG distance, ULONGLONG* newPosition, DWORD moveMethod) {
  if (!IsOpen()) return FailWithWin32(ERROR_INVALID_HANDLE);
  LONGLONG base = 0;
  switch (moveMethod) {
    case FILE_BEGIN:
      break;
    case FILE_CURRENT:
      base = static_cast<LONGLONG>(m_position);
      break;
    case FILE_END:
      base = static_cast<LONGLONG>(m_size);
      break;
    default:
      return FailWithWin32(ERROR_INVALID_PARAMETER);
  }
  LONGLONG target = 0;
  if (__builtin_add_overflow(base, distance, &target)) {
    return FailWithWin32(ERROR_INVALID_PARAMETER);
  }
  if (target < 0) return FailWithWin32(ERROR_NEGATIVE_SEEK);
  const ULONGLONG position = static_cast<ULONGLONG>(target);
  if (m_writeLength != 0 && position != m_writeStart + m_writeLength && !FlushWrites()) {
    return false;
  }
  m_position = position;
  if (newPosition != nullptr) *newPosition = position;
  return true;
}

bool CQuorFile::GetPosition(ULONGLONG* position) const noexcept {
  if (!IsOpen()) return FailWithWin32(ERROR_INVALID_HANDLE);
  *position = m_position;
  return true;
}

bool CQuorFile::GetSize(ULONGLONG* size) const noexcept {
  if (!IsOpen()) return FailWithWin32(ERROR_INVALID_HANDLE);
  *size = m_size;
  return true;
}

bool CQuorFile::SetEndOfFile() {
  if (!IsOpen()) return FailWithWin32(ERROR_INVALID_HANDLE);
  if (!m_canWrite) return FailWithWin32(ERROR_ACCESS_DENIED);
  if (!FlushWrites()) return false;
  m_readLength = 0;
  // Truncating at the end also drops the room allocated beyond it.
  if (m_fileSystem->Ftruncate(m_fd, static_cast<off_t>(m_position)) != 0) {
    return FailWithErrno(errno);
  }
  m_size = m_position;
  m_allocated = std::min(m_allocated, m_position);
  return true;
}

bool CQuorFile::Flush() {
  if (!IsOpen()) return FailWithWin32(ERROR_INVALID_HANDLE);
  return FlushWrites();
}

bool CQuorFile::Sync() {
  if (!Flush()) return false;
  if (m_fileSystem->Fdatasync(m_fd) != 0) return FailWithErrno(errno);
  return true;
}

bool CQuorFile::SetReserve(ULONGLONG bytes) {
  if (!IsOpen()) return FailWithWin32(ERROR_INVALID_HANDLE);
  m_reserve = bytes;
  if (!m_canWrite || !m_preallocate) return true;
  return Allocate(bytes > kMaxOffset - m_position ? kMaxOffset : m_position + bytes);
}

bool CQuorFile::Close() {
  if (!IsOpen()) return true;
  CQuorFileSystem& fs = *m_fileSystem;
  const bool flushed = FlushWrites();
  int error = flushed ? 0 : -1;
  if (flushed && m_canWrite && m_allocated > m_size) {
    // Only room beyond the end goes; the data stays. If this fails the file merely keeps
    // some preallocated space, which is no reason to fail the close.
    (void)fs.Ftruncate(m_fd, static_cast<off_t>(m_size));
  }
  if (fs.Close(m_fd) != 0 && error == 0) error = errno;
  m_fd = -1;
  m_writeBuffer.reset();
  m_writeLength = 0;
  m_readBuffer.reset();
  m_readLength = 0;
  if (error == -1) return false;  // FlushWrites has set the last error
  return error == 0 ? true : FailWithErrno(error);
}

bool CQuorFile::FlushWrites() {
  if (m_writeLength == 0) return true;
  int error = 0;
  CQuorFileSystem& fs = *m_fileSystem;
  DWORD done = 0;
  while (done < m_writeLength) {
    const ssize_t n = fs.Pwrite(m_fd, m_writeBuffer.get() + done, m_writeLength - done,
                                static_cast<off_t>(m_writeStart + done));
    if (n <= 0) {
      error = n < 0 ? errno : ENOSPC;
      break;
    }
    done += static_cast<DWORD>(n);
  }
  // What did not reach the OS stays buffered, so a later flush can try again.
  if (done != 0 && done != m_writeLength) {
    std::memmove(m_writeBuffer.get(), m_writeBuffer.get() + done, m_writeLength - done);
  }
  m_writeStart += done;
  m_writeLength -= done;
  return error == 0 ? true : FailWithErrno(error);
}

bool CQuorFile::Allocate(ULONGLONG end) {
  if (end <= m_allocated) return true;
  CQuorFileSystem& fs = *m_fileSystem;
  // Whole steps keep the calls rare; near a full disk the exact room still counts.
  const ULONGLONG stepEnd =
      std::min(kMaxOffset, (end + kAllocationStep - 1) / kAllocationStep * kAllocationStep);
  if (fs.Fallocate(m_fd, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(m_allocated),
                   static_cast<off_t>(stepEnd - m_allocated)) == 0) {
    m_allocated = stepEnd;
    return true;
  }
  int error = errno;
  if (error == EOPNOTSUPP || error == ENOSYS) {
    m_preallocate = false;
    return true;
  }
  if (IsDiskFull(error) && stepEnd != end) {
    if (fs.Fallocate(m_fd, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(m_allocated),
                     static_cast<off_t>(end - m_allocated)) == 0) {
      m_allocated = end;
      return true;
    }
    error = errno;
  }
  return FailWithErrno(error);
}

bool CQuorFile::WriteThrough(const BYTE* buffer, DWORD count) {
  int error = 0;
  if (PwriteAll(buffer, count, m_position, &error)) return true;
  // Without preallocation a full disk shows up part way through; a write that only appended
  // is taken back so that it changes nothing.
  if (m_position >= m_size) {
    (void)m_fileSystem->Ftruncate(m_fd, static_cast<off_t>(m_size));  // best effort
  }
  return FailWithErrno(error);
}

bool CQuorFile::PwriteAll(const BYTE* buffer, size_t count, ULONGLONG offset, int* error) {
  CQuorFileSystem& fs = *m_fileSystem;
  size_t done = 0;
  while (done < count) {
    const ssize_t n =
        fs.Pwrite(m_fd, buffer + done, count - done, static_cast<off_t>(offset + done));
    if (n <= 0) {
      *error = n < 0 ? errno : ENOSPC;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}
