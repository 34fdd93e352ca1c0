// CQuorMediaImporter: reads a media file or URL through libavformat and hands out its video and
// audio packets as self-describing samples, in the input's order, without decoding anything.
//
// Every video and audio stream whose codec has a format identifier becomes a track (ids 1, 2, ...
// in stream order). Samples take these forms:
//   H.264, H.265   Annex B (start codes), parameter sets in front of every key frame; when the
//                  presentation time differs from the decode time, a user-data SEI message
//                  carries the difference (see QuorMediaBitstream.h)
//   AAC            one ADTS frame (7-byte header, no CRC) per sample
//   MPEG-4 Visual  the packet, with the stream's VOS/VOL headers in front of every key frame
//   AV1            the temporal unit, with the sequence header OBU in every key frame
//   PCM            the packet as a complete WAVE file (44-byte header)
//   VP8, VP9, MJPEG, Opus, MP3   the packet as it is
// Timestamps are decode times in microseconds from the earliest decode time of the input (the
// importer looks a few packets ahead to find it), so samples of a track are in decode order with
// rising timestamps. Leading delta frames of a track before its first key frame are dropped and
// counted. A timestamp that does not rise, a reordered stream of another codec than H.264/H.265,
// unreadable data and, without skipUnsupported, a stream of another codec throw CQuorMediaError.
//
// Owns the libavformat context and its filters; one thread.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "QuorMediaSample.h"

class CQuorMediaImporter {
 public:
  // Opens input and maps its streams; throws CQuorMediaError. stopRequested (optional) is polled
  // while reading blocks: once it answers true, reading gives up and the input ends there.
  CQuorMediaImporter(const std::string& input, bool skipUnsupported,
                     bool (*stopRequested)() = nullptr);
  ~CQuorMediaImporter();
  CQuorMediaImporter(const CQuorMediaImporter&) = delete;
  CQuorMediaImporter& operator=(const CQuorMediaImporter&) = delete;

  const std::vector<QuorMediaTrack>& Tracks() const noexcept;
  // One line per stream left out: "stream 2 (subtitle): not video or audio".
  const std::vector<std::string>& SkippedStreams() const noexcept;
  // The input names a network source (it has a scheme other than file:).
  bool IsUrl() const noexcept;
  // The input's duration when the container knows it.
  std::optional<double> DurationSeconds() const noexcept;

  // The next sample; false at the end of the input. Throws CQuorMediaError.
  bool Next(QuorMediaSample* sample);
  // Whether the input ended because stopRequested asked it to.
  bool Stopped() const noexcept;
  // Delta frames dropped before the track's first key frame.
  ULONGLONG DroppedBeforeKeyFrame(ULONG trackId) const;

 private:
  struct State;
  std::unique_ptr<State> m_state;
};
