// CQuorMediaFileStatus: the status of one member file of a fileset (coclass
// QuorMediaFileStatus), as the reader reports it. No lock.
#pragma once

#include "platform/automation/QuorDispatchObject.h"
#include "quormediafiles/QuorMediaFiles.h"

class CQuorMediaFileStatus final : public CQuorDispatchObject<IQuorMediaFileStatus> {
 public:
  // The file index of a new object; GetFileIndex answers MFS_E_NOT_SET while it is stored.
  static constexpr ULONG kFileIndexUnset = 0xFFFFFFFF;

  CQuorMediaFileStatus() noexcept = default;

  HRESULT GetFileIndex(ULONG* pdwFileIndex) override;
  HRESULT SetFileIndex(ULONG dwFileIndex) override;
  HRESULT GetStatusFlags(ULONG* pdwFlags) override;
  HRESULT SetStatusFlags(ULONG dwFlags) override;

 private:
  ULONG m_fileIndex = kFileIndexUnset;
  ULONG m_statusFlags = 0;
  bool m_flagsSet = false;
};
