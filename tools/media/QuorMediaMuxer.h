// CQuorMediaMuxer: writes samples of a fileset into a standard container (MP4, Matroska or
// MPEG-TS) through libavformat, without decoding. The codec set-up each container needs comes
// from the samples themselves (see CQuorMediaImporter for their forms): H.264/H.265 parameter
// sets, the AAC configuration of the ADTS header, the WAVE header of PCM, the sequence header of
// AV1, the VOS/VOL headers of MPEG-4 Visual, the frame size of VP8/VP9/MJPEG key frames and the
// channel count of Opus packets. In-band forms that the container keeps elsewhere are taken off
// each sample (ADTS and WAVE headers, the presentation-offset SEI message). A sample's timestamp
// is its decode time; the presentation time adds the offset of its SEI message, if any.
//
// Owns the output context; writes the file named at construction and nothing else. One thread.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "QuorMediaSample.h"

struct QuorMuxTrack {
  QuorMediaTrack track;
  std::vector<std::uint8_t> firstKeyFrame;  // the set-up source; the track's first sample
};

class CQuorMediaMuxer {
 public:
  // "mp4", "matroska" or "mpegts" for the extension of path (.mp4, .mkv, .ts); throws
  // CQuorMediaError for another.
  static std::string ContainerFor(const std::string& path);

  // Opens path for writing in container, sets each track up from its first key frame and writes
  // the header; sample timestamps at baseTimestamp become time 0. Throws CQuorMediaError.
  CQuorMediaMuxer(const std::string& path, const std::string& container,
                  const std::vector<QuorMuxTrack>& tracks, ULONGLONG baseTimestamp);
  ~CQuorMediaMuxer();
  CQuorMediaMuxer(const CQuorMediaMuxer&) = delete;
  CQuorMediaMuxer& operator=(const CQuorMediaMuxer&) = delete;

  // One sample (its bytes as stored). Samples come in timestamp order across all tracks: the
  // container is written in that order as it comes.
  void Write(ULONG trackId, ULONGLONG timestamp, bool keyFrame,
             std::span<const std::uint8_t> payload);
  // Writes the trailer and closes the file.
  void Finish();

 private:
  struct State;
  std::unique_ptr<State> m_state;
};
