// CQuorFileFinalizationBlock: the last block of a properly closed member file (type 0x500),
// 92 bytes as written: the last-file flag and the file hash, the salted MD5 over the block
// hashes of every earlier block of the file.
#pragma once

#include "format/QuorMediaFileBlock.h"

class CQuorFileFinalizationBlock : public CQuorMediaFileBlock {
 public:
  CQuorFileFinalizationBlock() noexcept : CQuorMediaFileBlock(btFinalization) {}

  // Logs duplicated (kDuplicatedField) and unknown (kUnknownField) fields; fails only on a block
  // type other than finalization (E_FAIL).
  [[nodiscard]] HRESULT VerifyBlockFields() override;

  // True when bit 0 of the value's first byte is set.
  [[nodiscard]] HRESULT GetLastFileFlag(bool* lastFile);
  [[nodiscard]] HRESULT SetLastFileFlag(bool lastFile);
  // The bytes stay the block's.
  [[nodiscard]] HRESULT GetFileHash(const BYTE** hash, DWORD* length);
  // Copies the hash; a length other than 16: E_INVALIDARG.
  [[nodiscard]] HRESULT SetFileHash(const BYTE* hash, DWORD length);

 private:
  DWORD m_loggerContext = 0;
};
