#include "format/QuorFileAuthentication.h"

#include <new>

#include "core/LoggedException.h"
#include "core/QuorLittleEndian.h"
#include "format/QuorBlockFactory.h"
#include "format/QuorFileFinalizationBlock.h"
#include "format/QuorMediaFileBlock.h"

CQuorFileAuthentication::CQuorFileAuthentication() = default;
CQuorFileAuthentication::~CQuorFileAuthentication() = default;

HRESULT CQuorFileAuthentication::Start(std::optional<DWORD> previousBlockIndex) {
  m_last = previousBlockIndex;
  m_first.reset();
  m_authentic = false;
  m_reason.clear();
  return m_fileHash.ReInitialize();
}

HRESULT CQuorFileAuthentication::Check(const BYTE* bytes, const BYTE* digest, bool* done,
                                       const IndexVisitor& visit) {
  *done = true;
  std::unique_ptr<CQuorMediaFileBlock>& block = m_kinds[(DecodeU32(bytes) >> 8) - 1];
  try {
    if (!block) block = QuorNewBlockOfType(DecodeU32(bytes));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  QUOR_RETURN_IF_FAILED(block->ReadFrom(bytes, digest));
  return Check(*block, done, visit);
}

HRESULT CQuorFileAuthentication::Check(CQuorMediaFileBlock& block, bool* done,
                                       const IndexVisitor& visit) {
  *done = true;
  DWORD index = 0;
  QUOR_RETURN_IF_FAILED(block.GetBlockIndex(&index));
  if (!m_first) m_first = index;
  if (m_last && index != *m_last + 1) {
    m_reason = kAuthBlockIndexNotSequential.Format(static_cast<int>(*m_last + 1));
    return S_OK;
  }
  m_last = index;
  if (visit) QUOR_RETURN_IF_FAILED(visit(index));
  if (!block.IsHashValid()) {
    m_reason = kAuthBlockHashFailed.Format(static_cast<int>(index));
    return S_OK;
  }
  if (block.GetBlockType() == btFinalization) {
    const BYTE* stored = nullptr;
    DWORD length = 0;
    QUOR_RETURN_IF_FAILED(
        static_cast<CQuorFileFinalizationBlock&>(block).GetFileHash(&stored, &length));
    if (length == kHashSize && m_fileHash.IsSame(stored)) {
      m_authentic = true;
    } else {
      m_reason = kAuthFileHashFailed.Text();
    }
    return S_OK;
  }
  const BYTE* hash = nullptr;
  DWORD length = 0;
  QUOR_RETURN_IF_FAILED(block.GetBlockHash(&hash, &length));
  QUOR_RETURN_IF_FAILED(m_fileHash.AddData(hash, length));
  *done = false;
  return S_OK;
}
