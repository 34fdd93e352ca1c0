#include "format/QuorIndexBlock.h"

#include <array>
#include <new>

#include "core/QuorClassLoggers.h"
#include "core/QuorLittleEndian.h"
#include "platform/log/QuorLog.h"

namespace {
constexpr std::array<DWORD, 1> kIndexTags = {kTagPreviousIndexOffset};
}  // namespace

HRESULT CQuorIndexBlock::AddSampleIndex(DWORD trackId, const CQuorMediaSampleIndex& entry) {
  try {
    // Map nodes stay put, so the list found last time is still the track's list.
    if (m_lastList == nullptr || m_lastTrackId != trackId) {
      m_lastList = &m_entries[trackId];
      m_lastTrackId = trackId;
    }
    m_lastList->push_back(entry);
  } catch (const std::bad_alloc&) {
    return E_FAIL;
  }
  return S_OK;
}

HRESULT CQuorIndexBlock::GetIndexes(DWORD trackId, std::vector<CQuorMediaSampleIndex>* entries) {
  if (entries == nullptr) return E_POINTER;
  const auto found = m_entries.find(trackId);
  if (found == m_entries.end() || found->second.empty()) return E_INVALIDARG;
  try {
    *entries = found->second;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

const std::vector<CQuorMediaSampleIndex>* CQuorIndexBlock::FindIndexes(
    DWORD trackId) const noexcept {
  const auto found = m_entries.find(trackId);
  return found == m_entries.end() || found->second.empty() ? nullptr : &found->second;
}

HRESULT CQuorIndexBlock::GetTrackIds(std::vector<DWORD>* trackIds) const {
  if (trackIds == nullptr) return E_POINTER;
  try {
    trackIds->clear();
    for (const auto& track : m_entries) {
      if (!track.second.empty()) trackIds->push_back(track.first);
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

DWORD CQuorIndexBlock::GetEntryCount() const noexcept {
  DWORD count = 0;
  for (const auto& track : m_entries) count += static_cast<DWORD>(track.second.size());
  return count;
}

HRESULT CQuorIndexBlock::GetOffsetToPreviousIndex(ULONGLONG* offset) {
  return GetU64(kTagPreviousIndexOffset, offset);
}

HRESULT CQuorIndexBlock::SetOffsetToPreviousIndex(ULONGLONG offset) {
  return SetU64(kTagPreviousIndexOffset, offset);
}

HRESULT CQuorIndexBlock::PrepareForWrite() {
  const HRESULT hr = VerifyBlockFields();
  if (FAILED(hr)) return hr;
  try {
    m_encoded.resize(static_cast<std::size_t>(GetEntryCount()) * kIndexEntrySize);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  BYTE* p = m_encoded.data();
  auto put = [&p](DWORD tag, DWORD length) {
    EncodeU32(p, tag);
    EncodeU32(p + 4, length);
    p += kFieldHeaderSize;
  };
  for (const auto& [trackId, list] : m_entries) {
    for (const CQuorMediaSampleIndex& entry : list) {
      put(kTagEntryTrackId, kU32Size);
      EncodeU32(p, trackId);
      p += kU32Size;
      put(kTagEntryFlags, kU32Size);
      EncodeU32(p, entry.m_flags);
      p += kU32Size;
      put(kTagEntryPosition, kU64Size);
      EncodeU64(p, entry.m_position);
      p += kU64Size;
      put(kTagEntryTimestamp, kU64Size);
      EncodeU64(p, entry.m_timestamp);
      p += kU64Size;
    }
  }
  return S_OK;
}

HRESULT CQuorIndexBlock::BlockFieldWasRead(DWORD tag, DWORD length, const BYTE* value) {
  if (value == nullptr) return E_POINTER;
  switch (tag) {
    case kTagEntryTrackId:
      if (length != kU32Size || m_pendingOpen) return E_FAIL;
      m_pending = CQuorMediaSampleIndex(DecodeU32(value), 0, 0, 0);
      m_pendingOpen = true;
      return S_OK;
    case kTagEntryFlags:
      if (length != kU32Size || !m_pendingOpen) return E_FAIL;
      m_pending.m_flags = value[0];  // readers keep the low 8 bits
      return S_OK;
    case kTagEntryPosition:
      if (length != kU64Size || !m_pendingOpen) return E_FAIL;
      m_pending.m_position = DecodeU64(value);
      return S_OK;
    case kTagEntryTimestamp:
      if (length != kU64Size || !m_pendingOpen) return E_FAIL;
      m_pending.m_timestamp = DecodeU64(value);
      m_pendingOpen = false;
      return AddSampleIndex(m_pending.m_trackId, m_pending);
    case kTagPreviousIndexOffset:
      return CQuorMediaFileBlock::BlockFieldWasRead(tag, length, value);
    default:
      return E_FAIL;
  }
}

void CQuorIndexBlock::ClearFields() {
  for (auto& track : m_entries) track.second.clear();
  m_encoded.clear();
  m_pendingOpen = false;
  CQuorMediaFileBlock::ClearFields();
}

HRESULT CQuorIndexBlock::VerifyBlockFields() {
  DXL_FunctionLogger logger(QuorIndexBlockLogger(), "CQuorIndexBlock::VerifyBlockFields", this, 0,
                            nullptr, kQuorDefaultLogLevel, m_loggerContext);
  if (GetBlockType() != btIndex) return E_FAIL;
  const DWORD seen = ReportFields(logger, kIndexTags);
  return (seen & 1u) != 0 ? S_OK : E_FAIL;
}
