// One open file, Win32 style: created or opened by name, read and written at a 64-bit file
// pointer, truncated and closed. Failures return false and set the calling thread's last error
// (GetLastError), as the Win32 file functions do.
//
// CQuorFile owns its descriptor and closes it exactly once (Close, assignment over it, or the
// destructor); it is move-only. One thread at a time may use one file.
//
// Speed: the file pointer lives in memory and small transfers are batched. Contiguous writes
// gather in a write buffer that reaches the OS in large writes; it is flushed before a read, a
// truncation, a seek elsewhere, a close, and on Flush. Reads are served from a read-ahead
// buffer, also after a seek that lands inside it. The read-ahead adapts: a fill that continues
// where the last OS read ended doubles the window up to the whole buffer, a seek elsewhere
// starts again at kMinReadAhead, so random access moves a few KiB per read, not the buffer. A
// seek just before the buffer is taken for a walk backwards through the file and the fill
// reaches back from the buffer, doubling likewise. Until the first OS read the window is the
// whole buffer, or kMinReadAhead for a file opened with FILE_FLAG_RANDOM_ACCESS. A read at least
// as large as the window goes straight into the caller's memory.
//
// A buffered write never hides a full disk: the file's allocation is grown ahead of the data
// (fallocate, keeping the file size) and bytes are buffered only inside allocated room, so a
// write is accepted only when its bytes are sure to fit. The write that cannot get room fails
// with ERROR_DISK_FULL and changes nothing. Where the file system cannot preallocate, writes go
// straight through. SetReserve keeps allocation ahead of the data by a number of bytes, so that
// room for closing bytes is held back; truncation and closing release what lies beyond the end.
//
// Sharing: a file opened for writing or with share mode 0 is locked exclusively, a file opened
// for reading with FILE_SHARE_READ is locked shared (advisory flock, so between openers of this
// layer, within one process as between processes); an open that meets a conflicting lock
// fails with ERROR_SHARING_VIOLATION.
#pragma once

#include <memory>
#include <string>

#include "platform/io/QuorFileSystem.h"
#include "quormediafiles/platform/QuorTypes.h"

inline constexpr DWORD GENERIC_READ = 0x80000000u;
inline constexpr DWORD GENERIC_WRITE = 0x40000000u;
inline constexpr DWORD FILE_SHARE_READ = 0x00000001u;
inline constexpr DWORD FILE_SHARE_WRITE = 0x00000002u;
inline constexpr DWORD CREATE_NEW = 1;
inline constexpr DWORD CREATE_ALWAYS = 2;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD FILE_BEGIN = 0;
inline constexpr DWORD FILE_CURRENT = 1;
inline constexpr DWORD FILE_END = 2;
inline constexpr DWORD FILE_FLAG_RANDOM_ACCESS = 0x10000000u;

class CQuorFile {
 public:
  static constexpr DWORD kWriteBufferSize = 1u << 20;
  static constexpr DWORD kReadBufferSize = 256u << 10;
  static constexpr DWORD kMinReadAhead = 4u << 10;
  static constexpr ULONGLONG kAllocationStep = 4u << 20;

  CQuorFile() noexcept = default;
  CQuorFile(CQuorFile&& other) noexcept;
  CQuorFile& operator=(CQuorFile&& other) noexcept;  // closes the file it held
  CQuorFile(const CQuorFile&) = delete;
  CQuorFile& operator=(const CQuorFile&) = delete;
  ~CQuorFile();  // closes; a failure to flush is lost here, so owners call Close or Flush

  // CreateFile: path in UTF-8; access GENERIC_READ and/or GENERIC_WRITE; shareMode 0 or
  // FILE_SHARE_READ; creation CREATE_NEW, CREATE_ALWAYS (an existing file is emptied) or
  // OPEN_EXISTING; flagsAndAttributes 0 or FILE_FLAG_RANDOM_ACCESS (the first read fetches a few
  // KiB, not the whole buffer: for a file that is read here and there rather than from the start
  // on). Anything but a regular file (a directory, FIFO, device or socket) is refused with
  // ERROR_ACCESS_DENIED, without waiting for a FIFO's other end. Closes a file held before.
  // Every call on the file goes through fileSystem until it closes; fileSystem must outlive it.
  [[nodiscard]] bool Create(const std::string& path, DWORD access, DWORD shareMode, DWORD creation,
                            DWORD flagsAndAttributes = 0,
                            CQuorFileSystem& fileSystem = QuorPosixFileSystem());
  bool IsOpen() const noexcept { return m_fd >= 0; }

  // ReadFile: reads up to count bytes at the file pointer; fewer only at the end of the file.
  [[nodiscard]] bool Read(void* buffer, DWORD count, DWORD* read);
  // WriteFile: all count bytes at the file pointer, or none (ERROR_DISK_FULL when there is no
  // room for them, or for them and the reserve).
  [[nodiscard]] bool Write(const void* buffer, DWORD count, DWORD* written);
  // SetFilePointerEx: moveMethod FILE_BEGIN, FILE_CURRENT or FILE_END; a position before the
  // start fails with ERROR_NEGATIVE_SEEK. newPosition may be null.
  [[nodiscard]] bool SetPointer(LONGLONG distance, ULONGLONG* newPosition, DWORD moveMethod);
  // The file pointer, from memory.
  [[nodiscard]] bool GetPosition(ULONGLONG* position) const noexcept;
  // The size of the file including bytes still buffered.
  [[nodiscard]] bool GetSize(ULONGLONG* size) const noexcept;
  // SetEndOfFile: the file ends at the file pointer.
  [[nodiscard]] bool SetEndOfFile();
  // Hands buffered bytes to the OS (not to the disk: no fsync).
  [[nodiscard]] bool Flush();
  // Flush, then writes the file's data through to the storage device (fdatasync).
  [[nodiscard]] bool Sync();
  // Keeps allocation at least bytes ahead of the file pointer from now on; fails with
  // ERROR_DISK_FULL when that room cannot be had now. Ignored on file systems that cannot
  // preallocate and on files not open for writing.
  [[nodiscard]] bool SetReserve(ULONGLONG bytes);
  // CloseHandle: flushes, releases preallocated room beyond the end, closes. Closing a closed
  // file succeeds.
  [[nodiscard]] bool Close();

 private:
  static constexpr ULONGLONG kNoRead = ~0ull;

  [[nodiscard]] bool FlushWrites();
  // The fill for a read at *start that the buffer cannot serve: its size, and in *start where
  // it begins (before the read's position when reading backwards). Updates the window.
  DWORD NextReadWindow(ULONGLONG* start) noexcept;
  [[nodiscard]] bool Allocate(ULONGLONG end);
  [[nodiscard]] bool WriteThrough(const BYTE* buffer, DWORD count);
  [[nodiscard]] bool PwriteAll(const BYTE* buffer, size_t count, ULONGLONG offset, int* error);
  void MoveFrom(CQuorFile& other) noexcept;

  int m_fd = -1;
  CQuorFileSystem* m_fileSystem = &QuorPosixFileSystem();
  bool m_canRead = false;
  bool m_canWrite = false;
  bool m_preallocate = true;  // false once the file system refuses fallocate
  ULONGLONG m_position = 0;
  ULONGLONG m_size = 0;       // including buffered bytes
  ULONGLONG m_allocated = 0;  // bytes from offset 0 that are sure to have room on disk
  ULONGLONG m_reserve = 0;
  std::unique_ptr<BYTE[]> m_writeBuffer;  // holds [m_writeStart, m_writeStart + m_writeLength)
  ULONGLONG m_writeStart = 0;
  DWORD m_writeLength = 0;
  std::unique_ptr<BYTE[]> m_readBuffer;  // holds [m_readStart, m_readStart + m_readLength)
  ULONGLONG m_readStart = 0;
  DWORD m_readLength = 0;
  DWORD m_readAhead = kReadBufferSize;  // size of the next forward fill
  ULONGLONG m_readEnd = kNoRead;        // where the last OS read ended
};
