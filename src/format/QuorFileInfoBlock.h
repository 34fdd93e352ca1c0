// CQuorFileInfoBlock: the first block of every member file (type 0x100). It describes the whole
// fileset (GUID, creation time, description, password hash) and the file's position in it. Every
// field is optional and single; a getter of an absent field returns MFS_E_NO_VALUE. Setters copy.
#pragma once

#include "format/QuorMediaFileBlock.h"

class CQuorFileInfoBlock : public CQuorMediaFileBlock {
 public:
  CQuorFileInfoBlock() noexcept : CQuorMediaFileBlock(btFileInfo) {}

  // Logs duplicated (kDuplicatedField) and unknown (kUnknownField) fields; fails only on a block
  // type other than file info (E_FAIL).
  [[nodiscard]] HRESULT VerifyBlockFields() override;

  [[nodiscard]] HRESULT GetFileSetGuid(GUID* guid);
  [[nodiscard]] HRESULT SetFileSetGuid(const GUID& guid);
  [[nodiscard]] HRESULT GetFileSetIndex(DWORD* index);
  [[nodiscard]] HRESULT SetFileSetIndex(DWORD index);
  // Seconds since 1970-01-01 00:00 UTC.
  [[nodiscard]] HRESULT GetFileSetCreationTime(ULONGLONG* seconds);
  [[nodiscard]] HRESULT SetFileSetCreationTime(ULONGLONG seconds);
  // A new BSTR the caller frees; at most 16383 characters are stored.
  [[nodiscard]] HRESULT GetDescription(BSTR* description);
  [[nodiscard]] HRESULT SetDescription(const OLECHAR* description);
  // Copies the 16-byte password hash into hash; size must be 16.
  [[nodiscard]] HRESULT GetPasswordHash(BYTE* hash, DWORD size);
  [[nodiscard]] HRESULT SetPassword(const BYTE* hash, DWORD size);

 private:
  DWORD m_loggerContext = 0;
};
