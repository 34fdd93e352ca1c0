// CQuorFileAuthentication: the checks authentication makes over the blocks of one member file,
// fed in file order, as they lie in memory (a CQuorBlockBatch) or as blocks the forward block
// walker read: each block's index must run on by
// one from the block before it, its block hash must hold, and the finalization block's file hash
// must match the block hashes before it. The first block that fails ends the file's check, as
// does the finalization block; either way the verdict and the message that tells it are kept.
//
// The first block follows the previous file's last block index when one is given; without one
// any first index is taken and kept (GetFirstBlockIndex), for a caller that checks member files
// side by side and joins their block index chains afterwards.
//
// Owns one block object per kind, reused from block to block, and the running file hash. No
// lock: one thread at a time.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/QuorMD5Hash.h"
#include "core/QuorMessageCatalogue.h"
#include "format/QuorFormatLayout.h"
#include "quormediafiles/platform/QuorTypes.h"

class CQuorMediaFileBlock;

class CQuorFileAuthentication {
 public:
  CQuorFileAuthentication();
  ~CQuorFileAuthentication();
  CQuorFileAuthentication(const CQuorFileAuthentication&) = delete;
  CQuorFileAuthentication& operator=(const CQuorFileAuthentication&) = delete;

  // Starts a file whose first block must follow previousBlockIndex (any, when std::nullopt).
  [[nodiscard]] HRESULT Start(std::optional<DWORD> previousBlockIndex);

  // Called with each block index that runs on, before its hash is judged; a failure ends the
  // check with that result.
  using IndexVisitor = std::function<HRESULT(DWORD blockIndex)>;

  // Checks the next block: bytes holds it whole (type, size word, field area), digest its salted
  // MD5 (CQuorBlockBatch::GetDigest). *done turns true when the file's verdict is reached. A
  // block that does not parse, or the visitor's failure, is returned (the verdict stays "not
  // authentic").
  [[nodiscard]] HRESULT Check(const BYTE* bytes, const BYTE* digest, bool* done,
                              const IndexVisitor& visit = {});
  // The same for a block already read (its hash verdict taken), borrowed for the call.
  [[nodiscard]] HRESULT Check(CQuorMediaFileBlock& block, bool* done,
                              const IndexVisitor& visit = {});

  bool IsAuthentic() const noexcept { return m_authentic; }
  // The last block index that ran on (the previous file's while none did), for the next file.
  std::optional<DWORD> GetLastBlockIndex() const noexcept { return m_last; }
  // The index of the file's first block, once one parsed.
  std::optional<DWORD> GetFirstBlockIndex() const noexcept { return m_first; }
  // Why the file is not authentic, as the catalogue's text with the block index expected or
  // failing: kAuthBlockIndexNotSequential, kAuthBlockHashFailed or kAuthFileHashFailed; empty
  // otherwise.
  const std::string& GetReason() const noexcept { return m_reason; }

 private:
  std::unique_ptr<CQuorMediaFileBlock> m_kinds[btFinalization >> 8];
  CQuorMD5Hash m_fileHash;
  std::optional<DWORD> m_last;
  std::optional<DWORD> m_first;
  bool m_authentic = false;
  std::string m_reason;
};
