// CQuorIndexBlock: the index of the samples written since the previous index block of the file
// (type 0x300). Holds the offset of that previous index block and one entry per sample, grouped
// by track in ascending track id order and, within a track, in insertion order; that is also the
// order of the entries on disk (four fields each: track id, flags, position, timestamp).
// Entries live in the block itself, never in its field list; PrepareForWrite encodes them into
// one buffer, kept for the next write, that follows the own fields on disk. Clearing the block
// empties each track's list but keeps the list and its capacity, so the next read or write of a
// block of the same tracks allocates nothing; an empty list counts as no entries for that track.
#pragma once

#include <cstddef>
#include <map>
#include <span>
#include <vector>

#include "format/QuorMediaFileBlock.h"
#include "format/QuorMediaSampleIndex.h"

class CQuorIndexBlock : public CQuorMediaFileBlock {
 public:
  CQuorIndexBlock() noexcept : CQuorMediaFileBlock(btIndex) {}

  // Appends a copy of entry to the list of trackId; E_FAIL when the list cannot grow.
  [[nodiscard]] HRESULT AddSampleIndex(DWORD trackId, const CQuorMediaSampleIndex& entry);
  // A copy of the track's entries; a track without entries: E_INVALIDARG.
  [[nodiscard]] HRESULT GetIndexes(DWORD trackId, std::vector<CQuorMediaSampleIndex>* entries);
  // The track's entries in place, null for a track without entries; valid until the next
  // Read, ClearFields or AddSampleIndex.
  const std::vector<CQuorMediaSampleIndex>* FindIndexes(DWORD trackId) const noexcept;
  // The ids of the tracks that have entries, ascending.
  [[nodiscard]] HRESULT GetTrackIds(std::vector<DWORD>* trackIds) const;
  DWORD GetEntryCount() const noexcept;
  bool IsEmpty() const noexcept { return GetEntryCount() == 0; }
  // Absolute file offset of the previous index block of the file, 0 for none.
  [[nodiscard]] HRESULT GetOffsetToPreviousIndex(ULONGLONG* offset);
  [[nodiscard]] HRESULT SetOffsetToPreviousIndex(ULONGLONG offset);

  // Checks the fields, then encodes the entries, to follow the previous index offset field.
  [[nodiscard]] HRESULT PrepareForWrite() override;
  // Assembles entries from their four fields as they are parsed; a field out of order, or any
  // tag but the entry tags and the previous index offset, fails the read (E_FAIL).
  [[nodiscard]] HRESULT BlockFieldWasRead(DWORD tag, DWORD length, const BYTE* value) override;
  // Drops the entries, the entry being assembled and the own fields.
  void ClearFields() override;
  // E_FAIL on another block type or when the previous index offset is missing; logs duplicated
  // (kDuplicatedField) and unknown (kUnknownField) fields.
  [[nodiscard]] HRESULT VerifyBlockFields() override;

 protected:
  std::span<const BYTE> GetEncodedFields() const noexcept override { return m_encoded; }

 private:
  using EntryList = std::vector<CQuorMediaSampleIndex>;

  std::map<DWORD, EntryList> m_entries;  // lists of tracks without entries are kept, empty
  EntryList* m_lastList = nullptr;       // the list of m_lastTrackId, for runs of one track
  DWORD m_lastTrackId = 0;
  CQuorMediaSampleIndex m_pending;  // the entry being assembled, while m_pendingOpen
  bool m_pendingOpen = false;
  std::vector<BYTE> m_encoded;  // the entries' fields as of the last PrepareForWrite
  DWORD m_loggerContext = 0;
};
