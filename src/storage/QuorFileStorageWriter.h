// The byte writer of a storage: writes n bytes at the current position of the storage's current
// file, under its size limit. Created and deleted by its CQuorFileStorage, which it borrows for
// its whole life; used only inside calls into that storage's owner, on that owner's thread.
#pragma once

#include "quormediafiles/platform/QuorTypes.h"

class CQuorFileStorage;

class CQuorFileStorageWriter {
 public:
  explicit CQuorFileStorageWriter(CQuorFileStorage* storage);
  virtual ~CQuorFileStorageWriter();
  CQuorFileStorageWriter(const CQuorFileStorageWriter&) = delete;
  CQuorFileStorageWriter& operator=(const CQuorFileStorageWriter&) = delete;

  // E_POINTER for a null buffer, MFS_E_NOT_SET without a storage, S_OK for 0 bytes; otherwise
  // the storage's Write (MFS_E_FILE_FULL at the size limit, the disk-full code on a full disk).
  [[nodiscard]] HRESULT Write(const BYTE* buffer, DWORD count);

 private:
  CQuorFileStorage* m_storage;
};
