// What passes between a media source or sink and a fileset: one sample of one track, the
// description of a track, and the error of media input and output. Timestamps are microseconds:
// the unit quormf's record, demo, import and export share.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "quormediafiles/platform/QuorTypes.h"

inline constexpr ULONGLONG kQuorTicksPerSecond = 1000000;  // timestamps are microseconds

struct QuorMediaSample {
  ULONG trackId = 0;
  ULONGLONG timestamp = 0;
  bool keyFrame = false;
  bool video = false;
  bool audio = false;
  std::vector<std::uint8_t> payload;
};

struct QuorMediaTrack {
  ULONG trackId = 0;
  std::string name;
  bool video = false;    // else audio
  GUID format{};         // one of the format identifiers playback recognises
  std::string codec;     // the codec's short name, for messages
  int sourceIndex = -1;  // the stream's index in the input, -1 when not imported
};

// A one-line message for the user: what went wrong with which input, output or stream.
class CQuorMediaError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
