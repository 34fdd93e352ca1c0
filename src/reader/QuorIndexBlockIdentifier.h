// One index block of a fileset as seen from one track: where the block lies and the time range
// of that track's entries in it. A plain value, copied freely; a default one is all zero.
#pragma once

#include <cstdint>

class CQuorIndexBlockIdentifier {
 public:
  std::uint32_t m_fileIndex = 0;       // storage file index of the file holding the block
  std::uint64_t m_position = 0;        // absolute offset of the block's first byte in that file
  std::uint64_t m_firstTimestamp = 0;  // timestamp of the track's first entry in the block
  std::uint64_t m_lastTimestamp = 0;   // timestamp of the track's last entry in the block
};
