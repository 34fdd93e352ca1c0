// The byte sink of a storage: writes at the current position of its CQuorFileStorage's current
// file, under its size limit. Created and deleted by that storage, which it borrows for its
// whole life; used only inside calls into that storage's owner, on that owner's thread.
#pragma once

#include "format/QuorByteSource.h"

class CQuorFileStorage;

class CQuorFileStorageWriter final : public CQuorByteSink {
 public:
  explicit CQuorFileStorageWriter(CQuorFileStorage* storage) noexcept : m_storage(storage) {}
  CQuorFileStorageWriter(const CQuorFileStorageWriter&) = delete;
  CQuorFileStorageWriter& operator=(const CQuorFileStorageWriter&) = delete;

  // The storage's Write: MFS_E_FILE_FULL at the size limit, the disk-full code on a full disk.
  [[nodiscard]] HRESULT Write(const BYTE* buffer, DWORD count) override;

 private:
  CQuorFileStorage* m_storage;
};
