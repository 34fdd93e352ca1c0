#include "reader/QuorMediaFileTrack.h"

#include <iterator>
#include <utility>

#include "core/LoggedException.h"
#include "format/QuorIndexBlock.h"
#include "quormediafiles/QuorResultCodes.h"

HRESULT CQuorMediaFileTrack::AddIndex(DWORD trackId, const CQuorIndexBlock& indexBlock,
                                      DWORD fileIndex, ULONGLONG position) {
  // Only the time range is kept, so the entries are looked at in place, not copied.
  const std::vector<CQuorMediaSampleIndex>* entries = indexBlock.FindIndexes(trackId);
  if (entries == nullptr || entries->empty()) return S_OK;  // it lists no sample of this track

  const CQuorIndexBlockIdentifier identifier{fileIndex, position, entries->front().m_timestamp,
                                             entries->back().m_timestamp};
  // Opening walks each file's index chain backwards, so a block usually goes right before the
  // one added last: with that hint the insertion needs no search.
  const std::size_t before = m_directory.size();
  const auto added = m_directory.emplace_hint(m_lastAdded, identifier.m_firstTimestamp, identifier);
  const bool inserted = m_directory.size() != before;
  if (inserted) m_lastAdded = added;
  // The cursor may name a block that is no longer its neighbour's neighbour: position anew.
  m_cursorSet = false;
  return inserted ? S_OK : E_FAIL;
}

HRESULT CQuorMediaFileTrack::GetIndexBlockIdentifier(ULONGLONG timestamp,
                                                     CQuorIndexBlockIdentifier* identifier) {
  if (m_directory.empty()) return MFS_E_NO_VALUE;
  if (timestamp < m_directory.begin()->first) return E_INVALIDARG;
  m_directoryCursor = std::prev(m_directory.upper_bound(timestamp));
  m_cursorSet = true;
  *identifier = m_directoryCursor->second;
  return S_OK;
}

HRESULT CQuorMediaFileTrack::GetSampleIndex(ULONGLONG timestamp,
                                            std::vector<CQuorMediaSampleIndex>&& entries,
                                            CQuorMediaSampleIndex* entry) {
  if (entries.empty() || entries.front().m_timestamp > timestamp) return MFS_E_NO_VALUE;
  // Entries keep the order of the block: the first at exactly timestamp wins, else the one
  // before the first entry past it, else the last.
  std::size_t chosen = entries.size() - 1;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].m_timestamp == timestamp) {
      chosen = i;
      break;
    }
    if (entries[i].m_timestamp > timestamp) {
      chosen = i - 1;
      break;
    }
  }
  m_currentList = std::move(entries);
  m_currentPosition = static_cast<std::int32_t>(chosen);
  *entry = m_currentList[chosen];
  return S_OK;
}

HRESULT CQuorMediaFileTrack::GetNextSampleIndex(CQuorMediaSampleIndex* entry) {
  if (m_currentList.empty() ||
      static_cast<std::size_t>(m_currentPosition) + 1 == m_currentList.size()) {
    return MFS_E_NO_VALUE;
  }
  *entry = m_currentList[static_cast<std::size_t>(++m_currentPosition)];
  return S_OK;
}

HRESULT CQuorMediaFileTrack::GetPreviousSampleIndex(CQuorMediaSampleIndex* entry) {
  if (m_currentList.empty() || m_currentPosition <= 0) return MFS_E_NO_VALUE;
  *entry = m_currentList[static_cast<std::size_t>(--m_currentPosition)];
  return S_OK;
}

HRESULT CQuorMediaFileTrack::GetNextIdentifier(CQuorIndexBlockIdentifier* identifier) {
  if (!m_cursorSet) return MFS_E_NOT_SET;
  if (std::next(m_directoryCursor) == m_directory.end()) return MFS_E_NO_VALUE;
  ++m_directoryCursor;
  *identifier = m_directoryCursor->second;
  return S_OK;
}

HRESULT CQuorMediaFileTrack::GetPreviousIdentifier(CQuorIndexBlockIdentifier* identifier) {
  if (!m_cursorSet) return MFS_E_NOT_SET;
  if (m_directoryCursor == m_directory.begin()) return MFS_E_NO_VALUE;
  --m_directoryCursor;
  *identifier = m_directoryCursor->second;
  return S_OK;
}

HRESULT CQuorMediaFileTrack::GetCurrentFileIndex(DWORD* fileIndex) const {
  if (!m_cursorSet) return MFS_E_NO_VALUE;
  *fileIndex = m_directoryCursor->second.m_fileIndex;
  return S_OK;
}

HRESULT CQuorMediaFileTrack::GetFirstTimeStamp(ULONGLONG* timestamp) const {
  if (m_directory.empty()) return MFS_E_NO_VALUE;
  *timestamp = m_directory.begin()->second.m_firstTimestamp;
  return S_OK;
}

HRESULT CQuorMediaFileTrack::GetLastTimeStamp(ULONGLONG* timestamp) const {
  if (m_directory.empty()) return MFS_E_NO_VALUE;
  *timestamp = m_directory.rbegin()->second.m_lastTimestamp;
  return S_OK;
}
