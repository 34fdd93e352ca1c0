// CQuorSyntheticSource: the built-in sample data of quormf demo and quormf record. Two tracks:
// a video camera at 25 frames per second with a key frame every second (key frames 24 to 48 KiB,
// other frames 2 to 12 KiB) and a microphone at 50 frames per second (160 to 480 bytes). Payload
// bytes and sizes come from a fixed pseudo-random sequence per track and frame number, so two
// runs produce the same fileset content. Timestamps are microseconds from 0, the unit of every
// quormf command.
//
// Owns nothing but its counters; one thread at a time.
#pragma once

#include <cstdint>
#include <vector>

#include "QuorMediaSample.h"
#include "quormediafiles/platform/QuorTypes.h"

inline constexpr ULONG kQuorVideoTrackId = 1;
inline constexpr ULONG kQuorAudioTrackId = 2;
inline constexpr ULONGLONG kQuorVideoPeriodUs = 40000;  // 25 frames per second
inline constexpr ULONGLONG kQuorAudioPeriodUs = 20000;  // 50 frames per second
inline constexpr ULONGLONG kQuorKeyFrameInterval = 25;

// The synthetic source hands out the samples that imported media gives.
using QuorSyntheticSample = QuorMediaSample;

class CQuorSyntheticSource {
 public:
  // Samples with timestamps below durationUs.
  explicit CQuorSyntheticSource(ULONGLONG durationUs) noexcept : m_durationUs(durationUs) {}

  // The next sample in timestamp order (video before audio at equal timestamps); false at the
  // end.
  bool Next(QuorSyntheticSample* sample);

 private:
  static std::vector<std::uint8_t> Payload(ULONG trackId, ULONGLONG frame, std::size_t size);

  ULONGLONG m_durationUs;
  ULONGLONG m_videoFrame = 0;
  ULONGLONG m_audioFrame = 0;
};
