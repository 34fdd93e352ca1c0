#include "reader/QuorMediaFileTrack.h"

#include <algorithm>
#include <new>
#include <utility>

#include "core/LoggedException.h"
#include "format/QuorIndexBlock.h"
#include "quormediafiles/QuorResultCodes.h"

namespace {

using Identifiers = std::vector<CQuorIndexBlockIdentifier>;

bool StartsBefore(const CQuorIndexBlockIdentifier& a, const CQuorIndexBlockIdentifier& b) noexcept {
  return a.m_firstTimestamp < b.m_firstTimestamp;
}

// Whether a list sorted by first timestamp, ascending or descending, holds a block that starts
// at timestamp.
bool HoldsStart(const Identifiers& list, ULONGLONG timestamp, bool descending) noexcept {
  if (list.empty()) return false;
  // Most blocks of an open lie beyond the blocks of earlier files: no search.
  const ULONGLONG low = (descending ? list.back() : list.front()).m_firstTimestamp;
  const ULONGLONG high = (descending ? list.front() : list.back()).m_firstTimestamp;
  if (timestamp < low || timestamp > high) return false;
  const auto found = std::lower_bound(
      list.begin(), list.end(), timestamp,
      [descending](const CQuorIndexBlockIdentifier& id, ULONGLONG value) {
        return descending ? id.m_firstTimestamp > value : id.m_firstTimestamp < value;
      });
  return found != list.end() && found->m_firstTimestamp == timestamp;
}

}  // namespace

HRESULT CQuorMediaFileTrack::AddIndex(DWORD trackId, const CQuorIndexBlock& indexBlock,
                                      DWORD fileIndex, ULONGLONG position) {
  // Only the time range is kept, so the entries are looked at in place, not copied.
  const std::vector<CQuorMediaSampleIndex>* entries = indexBlock.FindIndexes(trackId);
  if (entries == nullptr || entries->empty()) return S_OK;  // it lists no sample of this track

  // The cursor may name a block that is no longer its neighbour's neighbour: position anew.
  m_cursorSet = false;
  const CQuorIndexBlockIdentifier identifier{fileIndex, position, entries->front().m_timestamp,
                                             entries->back().m_timestamp};
  const ULONGLONG first = identifier.m_firstTimestamp;
  if (!m_run.empty()) {
    // A block that goes on in the run's direction lies beyond every block of the run.
    const ULONGLONG last = m_run.back().m_firstTimestamp;
    const bool goesOn =
        m_run.size() == 1 ? first != last : (m_runDescending ? first < last : first > last);
    if (!goesOn) {
      if (HoldsStart(m_run, first, m_runDescending)) return E_FAIL;
      StackRun();
    }
  }
  if (HoldsStart(m_directory, first, false)) return E_FAIL;
  for (const Identifiers& run : m_sortedRuns) {
    if (HoldsStart(run, first, false)) return E_FAIL;
  }
  if (m_run.size() == 1) m_runDescending = first < m_run.back().m_firstTimestamp;
  m_run.push_back(identifier);
  return S_OK;
}

namespace {

// Merges the sorted list from into the sorted list into; from is left empty.
void MergeInto(Identifiers& into, Identifiers& from) {
  const auto middle = into.insert(into.end(), from.begin(), from.end());
  std::inplace_merge(into.begin(), middle, into.end(), StartsBefore);
  from.clear();
}

}  // namespace

void CQuorMediaFileTrack::StackRun() {
  if (m_run.empty()) return;
  if (m_runDescending) std::reverse(m_run.begin(), m_run.end());
  m_runDescending = false;
  m_sortedRuns.push_back(std::move(m_run));
  m_run.clear();
  // Each list at least twice as long as the one above it, the directory at the bottom: a block
  // takes part in a logarithmic number of merges however the runs come.
  for (;;) {
    Identifiers& top = m_sortedRuns.back();
    Identifiers& below =
        m_sortedRuns.size() >= 2 ? m_sortedRuns[m_sortedRuns.size() - 2] : m_directory;
    if (below.size() > 2 * top.size()) break;
    MergeInto(below, top);
    m_sortedRuns.pop_back();
    if (m_sortedRuns.empty()) break;
  }
}

void CQuorMediaFileTrack::MergeRun() {
  StackRun();
  while (!m_sortedRuns.empty()) {
    Identifiers& below =
        m_sortedRuns.size() >= 2 ? m_sortedRuns[m_sortedRuns.size() - 2] : m_directory;
    MergeInto(below, m_sortedRuns.back());
    m_sortedRuns.pop_back();
  }
}

std::size_t CQuorMediaFileTrack::GetIdentifierCount() const noexcept {
  std::size_t count = m_directory.size() + m_run.size();
  for (const Identifiers& run : m_sortedRuns) count += run.size();
  return count;
}

HRESULT CQuorMediaFileTrack::GetIndexBlockIdentifier(ULONGLONG timestamp,
                                                     CQuorIndexBlockIdentifier* identifier) {
  MergeRun();
  if (m_directory.empty()) return MFS_E_NO_VALUE;
  if (timestamp < m_directory.front().m_firstTimestamp) return E_INVALIDARG;
  const auto after = std::upper_bound(m_directory.begin(), m_directory.end(), timestamp,
                                      [](ULONGLONG value, const CQuorIndexBlockIdentifier& id) {
                                        return value < id.m_firstTimestamp;
                                      });
  m_directoryCursor = static_cast<std::size_t>(after - m_directory.begin()) - 1;
  m_cursorSet = true;
  *identifier = m_directory[m_directoryCursor];
  return S_OK;
}

HRESULT CQuorMediaFileTrack::GetSampleIndex(ULONGLONG timestamp,
                                            const std::vector<CQuorMediaSampleIndex>& entries,
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
  try {
    m_currentList.assign(entries.begin(), entries.end());  // into the capacity kept from the last
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
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
  if (m_directoryCursor + 1 == m_directory.size()) return MFS_E_NO_VALUE;
  *identifier = m_directory[++m_directoryCursor];
  return S_OK;
}

HRESULT CQuorMediaFileTrack::GetPreviousIdentifier(CQuorIndexBlockIdentifier* identifier) {
  if (!m_cursorSet) return MFS_E_NOT_SET;
  if (m_directoryCursor == 0) return MFS_E_NO_VALUE;
  *identifier = m_directory[--m_directoryCursor];
  return S_OK;
}

HRESULT CQuorMediaFileTrack::GetCurrentFileIndex(DWORD* fileIndex) const {
  if (!m_cursorSet) return MFS_E_NO_VALUE;
  *fileIndex = m_directory[m_directoryCursor].m_fileIndex;
  return S_OK;
}

HRESULT CQuorMediaFileTrack::GetFirstTimeStamp(ULONGLONG* timestamp) {
  MergeRun();
  if (m_directory.empty()) return MFS_E_NO_VALUE;
  *timestamp = m_directory.front().m_firstTimestamp;
  return S_OK;
}

HRESULT CQuorMediaFileTrack::GetLastTimeStamp(ULONGLONG* timestamp) {
  MergeRun();
  if (m_directory.empty()) return MFS_E_NO_VALUE;
  *timestamp = m_directory.back().m_lastTimestamp;
  return S_OK;
}
