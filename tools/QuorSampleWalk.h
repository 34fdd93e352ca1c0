// Walks the samples of one track of an open fileset the way quormf samples, extract and info
// list them: through the reader, in its order, each sample checked against its block hash, and
// past a sample the reader cannot read at all (reported as unreadable), so that one damaged
// block hides nothing after it. Failures of the reader other than a damaged sample throw
// CQuorError.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "quormediafiles/QuorMediaFiles.h"
#include "salvage/QuorSampleCheck.h"

struct QuorSampleRange {
  ULONG trackId = 0;
  std::optional<ULONGLONG> from;
  std::optional<ULONGLONG> to;
};

struct QuorSampleRecord {
  ULONGLONG timestamp = 0;
  bool keyFrame = false;
  bool video = false;
  bool audio = false;
  std::vector<std::uint8_t> payload;
  bool hashValid = true;  // its media sample block passes its block hash check
  bool readable = true;   // false: the reader failed on it; no flags or payload
};

QuorSampleRecord QuorReadSample(IQuorMediaFileSample* sample);

// A check over the member files the reader opened.
void QuorLoadSampleCheck(IQuorMediaFileReader* reader, CQuorSampleCheck* check);

// Calls visit for each sample of the range. A track without samples visits nothing.
void QuorForEachSample(IQuorMediaFileReader* reader, CQuorSampleCheck& check,
                       const QuorSampleRange& range,
                       const std::function<void(const QuorSampleRecord&)>& visit);
