// CQuorMediaFileTrack: the reader's model of one track of an open fileset. It owns the track's
// track info block as read from the first file that holds it, a directory of every index block
// of the fileset that lists samples of the track (keyed and ordered by the timestamp of the
// track's first entry in the block, across all member files), and the navigation state: a
// cursor in that directory and the track's entries of the index block under the cursor, with
// the position of the current entry. Only one index block's entries are held at a time.
//
// Owned by CQuorMediaTracksMap; touched only by reader methods, which hold the reader's lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "format/QuorMediaSampleIndex.h"
#include "format/QuorTrackInfoBlock.h"
#include "reader/QuorIndexBlockIdentifier.h"

class CQuorIndexBlock;

class CQuorMediaFileTrack {
 public:
  CQuorMediaFileTrack() = default;
  virtual ~CQuorMediaFileTrack() = default;
  CQuorMediaFileTrack(const CQuorMediaFileTrack&) = delete;
  CQuorMediaFileTrack& operator=(const CQuorMediaFileTrack&) = delete;

  CQuorTrackInfoBlock& GetTrackInfo() noexcept { return m_trackInfo; }

  // Adds the block (read from fileIndex at position) to the directory when it lists samples of
  // this track. A second block whose entries for the track begin at the same timestamp: E_FAIL,
  // the first stays. Either way the directory cursor is unset afterwards.
  // trackId is this track's id, as its track info block gives it.
  [[nodiscard]] HRESULT AddIndex(DWORD trackId, const CQuorIndexBlock& indexBlock, DWORD fileIndex,
                                 ULONGLONG position);

  // Moves the directory cursor to the block with the greatest first timestamp not above
  // timestamp. Empty directory: MFS_E_NO_VALUE; timestamp before the first block: E_INVALIDARG.
  [[nodiscard]] HRESULT GetIndexBlockIdentifier(ULONGLONG timestamp,
                                                CQuorIndexBlockIdentifier* identifier);
  // Chooses, in the order listed, the first entry at exactly timestamp, else the last entry
  // before it, and makes a copy of entries the current list. Empty entries or a first entry
  // after timestamp: MFS_E_NO_VALUE and nothing changes; no memory for the copy: E_OUTOFMEMORY.
  [[nodiscard]] HRESULT GetSampleIndex(ULONGLONG timestamp,
                                       const std::vector<CQuorMediaSampleIndex>& entries,
                                       CQuorMediaSampleIndex* entry);
  // Step within the current list; at either end MFS_E_NO_VALUE and nothing moves.
  [[nodiscard]] HRESULT GetNextSampleIndex(CQuorMediaSampleIndex* entry);
  [[nodiscard]] HRESULT GetPreviousSampleIndex(CQuorMediaSampleIndex* entry);
  // Step the directory cursor. Unset cursor: MFS_E_NOT_SET; past either end: MFS_E_NO_VALUE,
  // the cursor stays on the first or last block.
  [[nodiscard]] HRESULT GetNextIdentifier(CQuorIndexBlockIdentifier* identifier);
  [[nodiscard]] HRESULT GetPreviousIdentifier(CQuorIndexBlockIdentifier* identifier);
  // The file of the block under the cursor; unset cursor: MFS_E_NO_VALUE.
  [[nodiscard]] HRESULT GetCurrentFileIndex(DWORD* fileIndex) const;
  // First timestamp of the earliest block, last timestamp of the latest block (by first
  // timestamp); empty directory: MFS_E_NO_VALUE.
  [[nodiscard]] HRESULT GetFirstTimeStamp(ULONGLONG* timestamp);
  [[nodiscard]] HRESULT GetLastTimeStamp(ULONGLONG* timestamp);

  std::size_t GetIdentifierCount() const noexcept;

  // The directory cursor, kept by a move before it searches or steps, and put back when the
  // move fails before its entries became the current list: cursor and list then still agree.
  struct Cursor {
    std::size_t index = 0;
    bool set = false;
  };
  Cursor SaveCursor() const noexcept { return {m_directoryCursor, m_cursorSet}; }
  void RestoreCursor(const Cursor& cursor) noexcept {
    m_directoryCursor = cursor.index;
    m_cursorSet = cursor.set;
  }

 private:
  // Sorts the run and stacks it on the sorted runs, merging as the stack's rule asks.
  void StackRun();
  // Merges the run and every sorted run into the directory.
  void MergeRun();

  CQuorTrackInfoBlock m_trackInfo;
  // The directory: one identifier per index block, sorted by first timestamp, no two alike.
  // An open adds ten thousand blocks and more, each file's backwards, so new blocks first
  // gather in a run that keeps one direction (each block before the last, or each after it).
  // A block that breaks the direction moves the run, sorted, onto a stack of sorted runs above
  // the directory, each at most half as long as the list below it (longer ones merge down); a
  // search of the directory merges them all. An open thus does about one merge per file, and
  // blocks in any order cost a logarithmic number of merges each, never one per block.
  std::vector<CQuorIndexBlockIdentifier> m_directory;
  std::vector<std::vector<CQuorIndexBlockIdentifier>> m_sortedRuns;
  std::vector<CQuorIndexBlockIdentifier> m_run;
  bool m_runDescending = false;  // with two blocks or more in the run
  std::size_t m_directoryCursor = 0;
  bool m_cursorSet = false;
  std::vector<CQuorMediaSampleIndex> m_currentList;
  std::int32_t m_currentPosition = -1;
};
