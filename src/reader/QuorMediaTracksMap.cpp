#include "reader/QuorMediaTracksMap.h"

#include <utility>

#include "core/LoggedException.h"

HRESULT CQuorMediaTracksMap::SaveTrack(DWORD trackId, std::unique_ptr<CQuorMediaFileTrack> track) {
  if (!track) return E_POINTER;
  return m_tracks.try_emplace(trackId, std::move(track)).second ? S_OK : E_FAIL;
}

CQuorMediaFileTrack* CQuorMediaTracksMap::Find(DWORD trackId) const noexcept {
  const auto it = m_tracks.find(trackId);
  return it == m_tracks.end() ? nullptr : it->second.get();
}

HRESULT CQuorMediaTracksMap::AddIndexToTracks(const CQuorIndexBlock& indexBlock, DWORD fileIndex,
                                              ULONGLONG position) {
  for (auto& [trackId, track] : m_tracks) {
    QUOR_RETURN_IF_FAILED(track->AddIndex(trackId, indexBlock, fileIndex, position));
  }
  return S_OK;
}

std::vector<DWORD> CQuorMediaTracksMap::GetTrackIds() const {
  std::vector<DWORD> ids;
  ids.reserve(m_tracks.size());
  for (const auto& [trackId, track] : m_tracks) ids.push_back(trackId);
  return ids;
}
