// CQuorBlockBatch: the blocks that follow a reader's position, read whole into one buffer a batch
// at a time and hashed side by side (CQuorMD5Lanes), for walks that check every block of a file
// in order. Each block is then parsed from the buffer with CQuorMediaFileBlock::ReadFrom and its
// precomputed digest, which gives the same results as reading it from the file.
//
// Owns its memory, the digests and the hash engine, all reused from batch to batch. A block's
// bytes stay where they are until the next Fill or Clear, also while Append adds more; its
// digest until the next HashBlocks. No lock: one thread at a time.
#pragma once

#include <cstddef>
#include <vector>

#include "core/QuorMD5Lanes.h"
#include "format/QuorByteSource.h"
#include "platform/memory/QuorLargePages.h"
#include "quormediafiles/platform/QuorTypes.h"

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
  [[nodiscard]] HRESULT Fill(CQuorByteSource* reader);
  // Forgets the batch (GetCount 0, GetEnd S_OK).
  void Clear() noexcept;
  // The steps of Fill for a walk that moves between blocks itself: one block read from the
  // reader's position onto the batch (failing as Fill's end does, with nothing added), and the
  // digests of every block held.
  [[nodiscard]] HRESULT Append(CQuorByteSource* reader);
  [[nodiscard]] HRESULT HashBlocks();

  std::size_t GetCount() const noexcept { return m_blocks.size(); }
  // Block i: type, size word S and S bytes; its digest (after HashBlocks): the salted MD5 of all
  // but its last 16.
  const BYTE* GetBlock(std::size_t i) const noexcept { return m_blocks[i]; }
  const BYTE* GetDigest(std::size_t i) const noexcept { return m_digests.data() + 16 * i; }
  // Why the last Fill stopped: S_OK at a size limit, else the failure of the block after it.
  HRESULT GetEnd() const noexcept { return m_end; }

 private:
  // Blocks lie whole in chunks of memory that stay put while the batch grows (blocks parsed
  // from it borrow their bytes); chunks are kept for the next batches. The first chunk is
  // small, enough for a run of index blocks; a batch that outgrows it reads a whole file, afresh
  // for every file, so the chunks after it are taken in large pages: a few faults per file
  // rather than one per 4 KiB.
  static constexpr std::size_t kFirstChunkSize = 256u << 10;
  using Chunk = CQuorLargePages;
  // Room for size bytes after the last block: in the current chunk, a later one, or a new one
  // (null when out of memory).
  BYTE* Place(std::size_t size) noexcept;

  std::vector<Chunk> m_chunks;
  std::size_t m_chunk = 0;      // the chunk being filled
  std::size_t m_chunkUsed = 0;  // of it
  std::size_t m_used = 0;       // bytes of blocks in the batch
  std::vector<const BYTE*> m_blocks;
  std::vector<BYTE> m_digests;
  std::vector<QuorMD5Job> m_jobs;
  HRESULT m_end = S_OK;
  CQuorMD5Lanes m_lanes;
};
