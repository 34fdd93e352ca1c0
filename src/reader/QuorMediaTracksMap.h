// CQuorMediaTracksMap: the tracks of an open fileset, by ascending track id, each an owned
// CQuorMediaFileTrack. Every walk over all tracks goes in that order. Owned by the reader and
// touched only under its lock.
#pragma once

#include <map>
#include <memory>
#include <vector>

#include "reader/QuorMediaFileTrack.h"

class CQuorIndexBlock;

class CQuorMediaTracksMap {
 public:
  // Inserts track under trackId, which must be the id its track info block gives (the key is
  // what AddIndexToTracks offers the track as its id). An id that is present keeps its first
  // track: track is destroyed and the result is E_FAIL. A null track: E_POINTER.
  [[nodiscard]] HRESULT SaveTrack(DWORD trackId, std::unique_ptr<CQuorMediaFileTrack> track);
  // The track of trackId, or null.
  CQuorMediaFileTrack* Find(DWORD trackId) const noexcept;
  // Offers the block to every track in ascending id order; the first failure is returned.
  [[nodiscard]] HRESULT AddIndexToTracks(const CQuorIndexBlock& indexBlock, DWORD fileIndex,
                                         ULONGLONG position);
  // The ids in ascending order.
  std::vector<DWORD> GetTrackIds() const;
  bool IsEmpty() const noexcept { return m_tracks.empty(); }
  std::size_t GetCount() const noexcept { return m_tracks.size(); }
  // Destroys every track.
  void Clear() noexcept { m_tracks.clear(); }

 private:
  std::map<DWORD, std::unique_ptr<CQuorMediaFileTrack>> m_tracks;
};
