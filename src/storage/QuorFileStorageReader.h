// The byte reader of a storage: reads exactly n bytes at the current position of the storage's
// current file. Created and deleted by its CQuorFileStorage, which it borrows for its whole
// life; used only inside calls into that storage's owner, on that owner's thread.
#pragma once

#include "quormediafiles/platform/QuorTypes.h"

class CQuorFileStorage;

class CQuorFileStorageReader {
 public:
  explicit CQuorFileStorageReader(CQuorFileStorage* storage);
  virtual ~CQuorFileStorageReader();
  CQuorFileStorageReader(const CQuorFileStorageReader&) = delete;
  CQuorFileStorageReader& operator=(const CQuorFileStorageReader&) = delete;

  // E_POINTER for a null buffer, MFS_E_NOT_SET without a storage, S_OK for 0 bytes; otherwise
  // the storage's Read (HRESULT_FROM_WIN32(ERROR_HANDLE_EOF) when the file ends first).
  [[nodiscard]] HRESULT Read(BYTE* buffer, DWORD count);
  // Bytes from the current position to the end of the current file, so that a size word can
  // be refused before anything is allocated for it.
  [[nodiscard]] HRESULT GetRemaining(ULONGLONG* remaining);

 private:
  CQuorFileStorage* m_storage;
};
