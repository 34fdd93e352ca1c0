// Walks the samples of one track of an open fileset the way quormf samples, extract and demo
// list them: quor::Reader::forEachSample (every sample in the order the files store them, past a
// sample the reader cannot read), each sample checked against its block hash by the salvage
// library's sample check, which also names the timestamp of a sample the reader cannot read.
// Failures of the reader other than a damaged sample throw quor::Error.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "quormediafiles/quor.hpp"
#include "salvage/QuorSampleCheck.h"

struct QuorSampleRange {
  std::uint32_t trackId = 0;
  std::optional<std::uint64_t> from;
  std::optional<std::uint64_t> to;
};

struct QuorSampleRecord {
  std::uint64_t timestamp = 0;
  quor::SampleFlags flags = quor::SampleFlags::None;
  std::span<const std::uint8_t> payload;  // valid during the visit only
  bool hashValid = true;                  // its media sample block passes its block hash check
  bool readable = true;                   // false: the reader failed on it; no flags or payload
};

// The record of a sample the reader handed out (hashValid true: not checked).
QuorSampleRecord QuorRecordOf(const quor::Sample& sample);

// A check over the member files the reader opened.
void QuorLoadSampleCheck(const quor::Reader& reader, CQuorSampleCheck* check);

// Calls visit for each sample of the range. A track without samples visits nothing.
void QuorForEachSample(const quor::Reader& reader, CQuorSampleCheck& check,
                       const QuorSampleRange& range,
                       const std::function<void(const QuorSampleRecord&)>& visit);
