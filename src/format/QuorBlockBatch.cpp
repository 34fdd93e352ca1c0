#include "format/QuorBlockBatch.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/QuorLittleEndian.h"
#include "format/QuorFormatLayout.h"
#include "quormediafiles/QuorResultCodes.h"

void CQuorBlockBatch::Clear() noexcept {
  m_used = 0;
  m_chunk = 0;
  m_chunkUsed = 0;
  m_blocks.clear();
  m_end = S_OK;
}

HRESULT CQuorBlockBatch::Fill(CQuorByteSource* reader) {
  Clear();
  while (m_blocks.size() < kMaxBlocks && m_used < kMaxBytes && SUCCEEDED(m_end)) {
    m_end = Append(reader);
  }
  return HashBlocks();
}

HRESULT CQuorBlockBatch::HashBlocks() {
  try {
    m_digests.resize(m_blocks.size() * kQuorMD5DigestSize);
    m_jobs.resize(m_blocks.size());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  for (std::size_t i = 0; i < m_blocks.size(); ++i) {
    const BYTE* block = GetBlock(i);
    // Everything but the hash value that ends the block.
    const std::size_t hashed =
        kBlockHeaderSize + DecodeU32(block + kBlockSizeWordOffset) - kUnhashedTailSize;
    m_jobs[i] = {block, hashed, m_digests.data() + i * kQuorMD5DigestSize};
  }
  return m_lanes.Hash(m_jobs);
}

HRESULT CQuorBlockBatch::Append(CQuorByteSource* reader) {
  if (reader == nullptr) return E_POINTER;
  BYTE header[kBlockHeaderSize];
  HRESULT hr = reader->Read(header + kBlockTypeOffset, kU32Size);
  if (FAILED(hr)) return hr;
  if (!IsBlockType(DecodeU32(header + kBlockTypeOffset))) return MFS_E_BAD_FORMAT;
  hr = reader->Read(header + kBlockSizeWordOffset, kU32Size);
  if (FAILED(hr)) return hr;
  const DWORD size = DecodeU32(header + kBlockSizeWordOffset);
  if (size < kBaseFieldsSize) return E_FAIL;
  // As in a block's own read, the size word is not trusted with memory.
  ULONGLONG remaining = 0;
  hr = reader->GetRemaining(&remaining);
  if (FAILED(hr)) return hr;
  if (size > remaining) return HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
  const std::size_t total = kBlockHeaderSize + static_cast<std::size_t>(size);
  BYTE* const block = Place(total);
  if (block == nullptr) return E_OUTOFMEMORY;
  std::memcpy(block, header, kBlockHeaderSize);
  hr = reader->Read(block + kBlockHeaderSize, size);
  if (FAILED(hr)) return hr;  // the room taken is given back by the next Clear
  try {
    m_blocks.push_back(block);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  m_used += total;
  return S_OK;
}

BYTE* CQuorBlockBatch::Place(std::size_t size) noexcept {
  for (; m_chunk < m_chunks.size(); ++m_chunk, m_chunkUsed = 0) {
    Chunk& chunk = m_chunks[m_chunk];
    if (chunk.Size() - m_chunkUsed >= size) {
      BYTE* const room = chunk.Get() + m_chunkUsed;
      m_chunkUsed += size;
      return room;
    }
  }
  Chunk chunk(std::max(size, m_chunks.empty() ? kFirstChunkSize : kQuorLargePageSize));
  if (chunk.Get() == nullptr) return nullptr;
  try {
    m_chunks.push_back(std::move(chunk));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  m_chunkUsed = size;
  return m_chunks.back().Get();
}
