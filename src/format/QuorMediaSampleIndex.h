// One entry of an index block: which track a sample belongs to, its flags as stored (0x01 key
// frame, 0x02 video, 0x04 audio, 0x08 the sample's flag 0x10; readers keep the low 8 bits), the
// absolute offset of its media sample block in its file, and its timestamp. A plain value.
#pragma once

#include "quormediafiles/platform/QuorTypes.h"

class CQuorMediaSampleIndex {
 public:
  constexpr CQuorMediaSampleIndex() noexcept = default;
  constexpr CQuorMediaSampleIndex(DWORD trackId, DWORD flags, ULONGLONG position,
                                  ULONGLONG timestamp) noexcept
      : m_trackId(trackId), m_flags(flags), m_position(position), m_timestamp(timestamp) {}

  friend constexpr bool operator==(const CQuorMediaSampleIndex&,
                                   const CQuorMediaSampleIndex&) noexcept = default;

  DWORD m_trackId = 0;
  DWORD m_flags = 0;
  ULONGLONG m_position = 0;
  ULONGLONG m_timestamp = 0;
};
