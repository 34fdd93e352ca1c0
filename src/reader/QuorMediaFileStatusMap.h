// CQuorMediaFileStatusMap: the status flags of each member file of an open fileset, by storage
// file index. Looking up an absent file index with At inserts it with flags 0; Find does not.
// Owned by the reader and touched only under its lock.
#pragma once

#include <map>

#include "quormediafiles/platform/QuorTypes.h"

// Status bits of one member file.
inline constexpr DWORD kFileStatusLastFile = 0x01;         // its finalization block says last
inline constexpr DWORD kFileStatusFinalized = 0x02;        // its finalization block was read
inline constexpr DWORD kFileStatusAuthentic = 0x04;        // it passed authentication
inline constexpr DWORD kFileStatusAuthTested = 0x08;       // its authentication was tested
inline constexpr DWORD kFileStatusRecovered = 0x10;        // its index was rebuilt by recovery
inline constexpr DWORD kFileStatusTrackInfoFailed = 0x20;  // a track info block failed to read

class CQuorMediaFileStatusMap {
 public:
  // The flags of fileIndex, inserted as 0 when absent.
  DWORD& At(DWORD fileIndex) { return m_flags[fileIndex]; }
  // The flags of fileIndex without inserting; false when absent.
  bool Find(DWORD fileIndex, DWORD* flags) const noexcept {
    const auto it = m_flags.find(fileIndex);
    if (it == m_flags.end()) return false;
    *flags = it->second;
    return true;
  }
  void SetBits(DWORD fileIndex, DWORD bits) { At(fileIndex) |= bits; }
  void ClearBits(DWORD fileIndex, DWORD bits) { At(fileIndex) &= ~bits; }
  void Clear() noexcept { m_flags.clear(); }
  std::size_t GetCount() const noexcept { return m_flags.size(); }

 private:
  std::map<DWORD, DWORD> m_flags;
};
