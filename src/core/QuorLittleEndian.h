// Little-endian encoding and decoding of the integers and GUIDs that every byte layout of the
// member files uses. Everything goes through shifts, so the result does not depend on the host's
// byte order or alignment; callers make sure the bytes they name exist.
#pragma once

#include <cstddef>
#include <cstdint>

#include "quormediafiles/platform/QuorTypes.h"

// A GUID as stored: Data1 (u32) | Data2 (u16) | Data3 (u16) | Data4 (8 bytes), the integers
// little-endian, which is the Windows memory layout of the structure.
inline constexpr std::size_t kGuidSize = 4 + 2 + 2 + 8;
static_assert(kGuidSize == 16);

inline void EncodeU16(BYTE* p, std::uint16_t value) noexcept {
  p[0] = static_cast<BYTE>(value);
  p[1] = static_cast<BYTE>(value >> 8);
}

inline void EncodeU32(BYTE* p, std::uint32_t value) noexcept {
  p[0] = static_cast<BYTE>(value);
  p[1] = static_cast<BYTE>(value >> 8);
  p[2] = static_cast<BYTE>(value >> 16);
  p[3] = static_cast<BYTE>(value >> 24);
}

inline void EncodeU64(BYTE* p, std::uint64_t value) noexcept {
  EncodeU32(p, static_cast<std::uint32_t>(value));
  EncodeU32(p + 4, static_cast<std::uint32_t>(value >> 32));
}

inline std::uint16_t DecodeU16(const BYTE* p) noexcept {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline std::uint32_t DecodeU32(const BYTE* p) noexcept {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline std::uint64_t DecodeU64(const BYTE* p) noexcept {
  return static_cast<std::uint64_t>(DecodeU32(p)) |
         (static_cast<std::uint64_t>(DecodeU32(p + 4)) << 32);
}

inline void EncodeGuid(BYTE* p, const GUID& guid) noexcept {
  EncodeU32(p, guid.Data1);
  EncodeU16(p + 4, guid.Data2);
  EncodeU16(p + 6, guid.Data3);
  for (std::size_t i = 0; i < sizeof guid.Data4; ++i) p[8 + i] = guid.Data4[i];
}

inline GUID DecodeGuid(const BYTE* p) noexcept {
  GUID guid{DecodeU32(p), DecodeU16(p + 4), DecodeU16(p + 6), {}};
  for (std::size_t i = 0; i < sizeof guid.Data4; ++i) guid.Data4[i] = p[8 + i];
  return guid;
}
