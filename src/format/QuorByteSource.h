// The bytes that fields and blocks are read from and written to: a member file through its
// storage, or memory (format/QuorMemoryBytes.h). A source is read at a position that every read
// moves on by the bytes it returns; a sink takes bytes at its end.
//
// Neither is owned by the blocks that use it: a block borrows its source or sink for one Read or
// Write call. One thread at a time.
#pragma once

#include "quormediafiles/platform/QuorTypes.h"

class CQuorByteSource {
 public:
  // Exactly count bytes at the position, which moves past them: E_POINTER for a null buffer,
  // S_OK for 0 bytes, HRESULT_FROM_WIN32(ERROR_HANDLE_EOF) when the source ends first (the
  // position is then anywhere up to its end).
  [[nodiscard]] virtual HRESULT Read(BYTE* buffer, DWORD count) = 0;
  // Moves the position to offset bytes from the start; a position past the end is allowed and
  // reads there fail with the end-of-file code.
  [[nodiscard]] virtual HRESULT Seek(ULONGLONG offset) = 0;
  [[nodiscard]] virtual HRESULT GetPosition(ULONGLONG* position) = 0;
  // Bytes from the position to the end (0 beyond it), so that a size word can be refused
  // before anything is allocated for it.
  [[nodiscard]] virtual HRESULT GetRemaining(ULONGLONG* remaining) = 0;

  // Seek, then Read.
  [[nodiscard]] HRESULT ReadAt(ULONGLONG offset, BYTE* buffer, DWORD count) {
    const HRESULT hr = Seek(offset);
    return FAILED(hr) ? hr : Read(buffer, count);
  }

 protected:
  ~CQuorByteSource() = default;
};

class CQuorByteSink {
 public:
  // All count bytes after the ones written before, or a failure (a storage answers
  // MFS_E_FILE_FULL at its size limit and the disk-full code on a full disk; what reached it
  // of a failed write is the storage's to tell). E_POINTER for a null buffer, S_OK for 0 bytes.
  [[nodiscard]] virtual HRESULT Write(const BYTE* buffer, DWORD count) = 0;

 protected:
  ~CQuorByteSink() = default;
};
