// CQuorBlockBatch: the blocks that follow a reader's position, read whole into one buffer a batch
// at a time and hashed side by side (CQuorMD5Lanes), for walks that check every block of a file
// in order. Each block is then parsed from the buffer with CQuorMediaFileBlock::ReadFrom and its
// precomputed digest, which gives the same results as reading it from the file.
//
// Owns its buffer, the digests and the hash engine, all reused from batch to batch; a block's
// bytes and digest stay until the next Fill or Clear. No lock: one thread at a time.
#pragma once

#include <cstddef>
#include <vector>

#include "core/QuorMD5Lanes.h"
#include "quormediafiles/platform/QuorTypes.h"

class CQuorFileStorageReader;

class CQuorBlockBatch {
 public:
  // A batch ends after kMaxBlocks blocks or once it holds kMaxBytes (its last block may pass
  // that), which bounds both its memory and how far a walk reads ahead of its checks.
  static constexpr std::size_t kMaxBlocks = 128;
  static constexpr std::size_t kMaxBytes = 2u << 20;

  // Reads the next batch from the reader's position and hashes it. What would make the next
  // block's read fail ends the batch before that block, and is kept as GetEnd(): the reader's
  // failure (HRESULT_FROM_WIN32(ERROR_HANDLE_EOF) at the end of the file, also inside a block or
  // for a size word that runs past it), MFS_E_BAD_FORMAT for a word that is not a block type,
  // E_FAIL for a size word below the base fields, E_OUTOFMEMORY. Fails itself only when the
  // hash does.
  [[nodiscard]] HRESULT Fill(CQuorFileStorageReader* reader);
  // Forgets the batch (GetCount 0, GetEnd S_OK).
  void Clear() noexcept;
  // The steps of Fill for a walk that moves between blocks itself: one block read from the
  // reader's position onto the batch (failing as Fill's end does, with nothing added), and the
  // digests of every block held.
  [[nodiscard]] HRESULT Append(CQuorFileStorageReader* reader);
  [[nodiscard]] HRESULT HashBlocks();

  std::size_t GetCount() const noexcept { return m_offsets.size(); }
  // Block i: type, size word S and S bytes; its digest (after HashBlocks): the salted MD5 of all
  // but its last 16.
  const BYTE* GetBlock(std::size_t i) const noexcept { return m_bytes.data() + m_offsets[i]; }
  const BYTE* GetDigest(std::size_t i) const noexcept { return m_digests.data() + 16 * i; }
  // Why the last Fill stopped: S_OK at a size limit, else the failure of the block after it.
  HRESULT GetEnd() const noexcept { return m_end; }

 private:
  std::vector<BYTE> m_bytes;  // grows, never shrinks; m_used of it hold the batch
  std::size_t m_used = 0;
  std::vector<std::size_t> m_offsets;
  std::vector<BYTE> m_digests;
  std::vector<QuorMD5Job> m_jobs;
  HRESULT m_end = S_OK;
  CQuorMD5Lanes m_lanes;
};
