#include "format/QuorBlockBatch.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/QuorLittleEndian.h"
#include "format/QuorFormatLayout.h"
#include "quormediafiles/QuorResultCodes.h"
#include "storage/QuorFileStorageReader.h"

void CQuorBlockBatch::Clear() noexcept {
  m_used = 0;
  m_offsets.clear();
  m_end = S_OK;
}

HRESULT CQuorBlockBatch::Fill(CQuorFileStorageReader* reader) {
  Clear();
  while (m_offsets.size() < kMaxBlocks && m_used < kMaxBytes && SUCCEEDED(m_end)) {
    m_end = Append(reader);
  }
  return HashBlocks();
}

HRESULT CQuorBlockBatch::HashBlocks() {
  try {
    m_digests.resize(m_offsets.size() * kQuorMD5DigestSize);
    m_jobs.resize(m_offsets.size());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  for (std::size_t i = 0; i < m_offsets.size(); ++i) {
    const BYTE* block = GetBlock(i);
    // Everything but the hash value that ends the block.
    const std::size_t hashed =
        kBlockHeaderSize + DecodeU32(block + kBlockSizeWordOffset) - kUnhashedTailSize;
    m_jobs[i] = {block, hashed, m_digests.data() + i * kQuorMD5DigestSize};
  }
  return m_lanes.Hash(m_jobs);
}

HRESULT CQuorBlockBatch::Append(CQuorFileStorageReader* reader) {
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
  try {
    if (m_bytes.size() < m_used + total)
      m_bytes.resize(std::max(m_used + total, 2 * m_bytes.size()));
    m_offsets.push_back(m_used);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  BYTE* block = m_bytes.data() + m_used;
  std::memcpy(block, header, kBlockHeaderSize);
  hr = reader->Read(block + kBlockHeaderSize, size);
  if (FAILED(hr)) {
    m_offsets.pop_back();
    return hr;
  }
  m_used += total;
  return S_OK;
}
