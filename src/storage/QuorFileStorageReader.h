// The byte source of a storage: the current file of its CQuorFileStorage, the one that its Seek
// or GetPosition selected last. Created and deleted by that storage, which it borrows for its
// whole life; used only inside calls into that storage's owner, on that owner's thread.
#pragma once

#include "format/QuorByteSource.h"

class CQuorFileStorage;

class CQuorFileStorageReader final : public CQuorByteSource {
 public:
  explicit CQuorFileStorageReader(CQuorFileStorage* storage) noexcept : m_storage(storage) {}
  CQuorFileStorageReader(const CQuorFileStorageReader&) = delete;
  CQuorFileStorageReader& operator=(const CQuorFileStorageReader&) = delete;

  // Besides the source's codes: MFS_E_NO_VALUE without a current file, and the storage's own
  // failures (MFS_E_WRONG_STATE outside reading mode, the file's errors).
  [[nodiscard]] HRESULT Read(BYTE* buffer, DWORD count) override;
  [[nodiscard]] HRESULT Seek(ULONGLONG offset) override;
  [[nodiscard]] HRESULT GetPosition(ULONGLONG* position) override;
  [[nodiscard]] HRESULT GetRemaining(ULONGLONG* remaining) override;

 private:
  CQuorFileStorage* m_storage;
};
