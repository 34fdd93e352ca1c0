// CQuorSampleCheck: whether the samples a reader hands out are the bytes that were recorded.
// The reader does not judge block hashes while it plays back; this finds, for every member file,
// the index entries of its readable index blocks (a walk that locates media sample blocks
// without reading them) and, asked about one sample, reads its media sample block and checks
// its hash. It also tells which sample comes after one that the reader cannot read, so that a
// player can step past it.
//
// Holds the member files open; one thread.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "format/QuorMediaSampleBlock.h"
#include "quormediafiles/platform/QuorTypes.h"

class CQuorFileStorage;

class CQuorSampleCheck {
 public:
  struct Entry {
    ULONGLONG timestamp = 0;
    std::size_t file = 0;  // into the files given to Load
    ULONGLONG position = 0;
  };

  CQuorSampleCheck();
  ~CQuorSampleCheck();
  CQuorSampleCheck(const CQuorSampleCheck&) = delete;
  CQuorSampleCheck& operator=(const CQuorSampleCheck&) = delete;

  // files: UTF-8 names of the member files. A file that cannot be opened contributes nothing.
  [[nodiscard]] HRESULT Load(const std::vector<std::string>& files);

  // The entry of the occurrence-th sample (0 for the first) of track trackId with this
  // timestamp, in timestamp order; null when no index block lists it.
  const Entry* Find(DWORD trackId, ULONGLONG timestamp, std::size_t occurrence = 0) const;
  // The first entry of the track at or after timestamp, or null.
  const Entry* LowerBound(DWORD trackId, ULONGLONG timestamp) const;
  // The entry after entry in its track's timestamp order, or null.
  const Entry* Next(DWORD trackId, const Entry* entry) const;
  // Whether the media sample block of entry reads and passes its block hash check.
  bool IsIntact(const Entry& entry);

 private:
  std::vector<std::unique_ptr<CQuorFileStorage>> m_files;
  std::map<DWORD, std::vector<Entry>> m_entries;  // by track, sorted by timestamp
  CQuorMediaSampleBlock m_block;                  // reused for every check
};
