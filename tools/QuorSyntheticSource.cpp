#include "QuorSyntheticSource.h"

namespace {

// SplitMix64: a small, well-mixed generator; good enough to make payloads look like data.
std::uint64_t Mix(std::uint64_t x) noexcept {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

std::uint64_t Seed(ULONG trackId, ULONGLONG frame) noexcept {
  return Mix((static_cast<std::uint64_t>(trackId) << 48) ^ frame);
}

}  // namespace

std::vector<std::uint8_t> CQuorSyntheticSource::Payload(ULONG trackId, ULONGLONG frame,
                                                        std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  std::uint64_t state = Seed(trackId, frame) ^ 0x5A5A5A5A5A5A5A5Aull;
  for (std::size_t i = 0; i < size; i += 8) {
    state = Mix(state);
    for (std::size_t k = 0; k < 8 && i + k < size; ++k) {
      bytes[i + k] = static_cast<std::uint8_t>(state >> (8 * k));
    }
  }
  return bytes;
}

bool CQuorSyntheticSource::Next(QuorSyntheticSample* sample) {
  const ULONGLONG videoTime = m_videoFrame * kQuorVideoPeriodUs;
  const ULONGLONG audioTime = m_audioFrame * kQuorAudioPeriodUs;
  const bool videoLeft = videoTime < m_durationUs;
  const bool audioLeft = audioTime < m_durationUs;
  if (!videoLeft && !audioLeft) return false;

  if (videoLeft && (!audioLeft || videoTime <= audioTime)) {
    const ULONGLONG frame = m_videoFrame++;
    const std::uint64_t r = Seed(kQuorVideoTrackId, frame);
    const bool key = frame % kQuorKeyFrameInterval == 0;
    const std::size_t size = key ? 24 * 1024 + r % (24 * 1024) : 2 * 1024 + r % (10 * 1024);
    *sample = {
        kQuorVideoTrackId, videoTime, key, true, false, Payload(kQuorVideoTrackId, frame, size)};
    return true;
  }
  const ULONGLONG frame = m_audioFrame++;
  const std::size_t size = 160 + Seed(kQuorAudioTrackId, frame) % 321;
  // Audio frames stand alone: each one is a key frame.
  *sample = {
      kQuorAudioTrackId, audioTime, true, false, true, Payload(kQuorAudioTrackId, frame, size)};
  return true;
}
