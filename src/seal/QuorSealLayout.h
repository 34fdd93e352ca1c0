// The seal record: one signed statement that the bytes of a member file, from its start to an
// offset, hash to a SHA-256 digest, appended to the member file's sidecar "<member>.seal" each
// time the writer closes an index block and when it finalizes the file. Records follow each
// other without gaps; each is framed by a magic word and its length, so a cut or damaged record
// is told apart from a complete one. Everything little-endian, encoded by shifts.
//
//   magic (u32) | length (u32, of the whole record) | version (u32)
//   | fileset GUID (16) | fileset index (u32) | block index (u32) | file offset (u64)
//   | flags (u32: 1 finalized) | SHA-256 of file bytes [0, offset) (32)
//   | public key id (16) | wall-clock time (u64, ms since 1970-01-01 UTC)
//   | Ed25519 signature over every byte before it (64)
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "core/QuorLittleEndian.h"
#include "quormediafiles/platform/QuorTypes.h"

inline constexpr std::uint32_t kSealMagic = 0x314C5351;  // "QSL1"
inline constexpr std::uint32_t kSealVersion = 1;
inline constexpr std::uint32_t kSealFlagFinalized = 0x1;
inline constexpr std::size_t kSealDigestSize = 32;     // SHA-256
inline constexpr std::size_t kSealKeyIdSize = 16;      // leading bytes of SHA-256(raw public key)
inline constexpr std::size_t kSealSignatureSize = 64;  // Ed25519
inline constexpr std::size_t kSealRawPublicKeySize = 32;

inline constexpr std::size_t kSealFrameSize = 4 + 4;                 // magic, length
inline constexpr std::size_t kSealSignedSize = kSealFrameSize + 4 +  // version
                                               kGuidSize +           // fileset GUID
                                               4 + 4 +               // fileset index, block index
                                               8 +                   // file offset
                                               4 +                   // flags
                                               kSealDigestSize +     // SHA-256
                                               kSealKeyIdSize +      // key id
                                               8;                    // time
inline constexpr std::size_t kSealRecordSize = kSealSignedSize + kSealSignatureSize;
static_assert(kSealSignedSize == 104);
static_assert(kSealRecordSize == 168);

// The sidecar of a member file is its name with this appended: a name that member-file
// discovery (every file with the member's extension) never lists.
inline constexpr char kSealSidecarSuffix[] = ".seal";

using QuorSealDigest = std::array<BYTE, kSealDigestSize>;
using QuorSealKeyId = std::array<BYTE, kSealKeyIdSize>;

struct QuorSealRecord {
  GUID fileSetGuid{};
  std::uint32_t fileSetIndex = 0;
  std::uint32_t blockIndex = 0;
  std::uint64_t offset = 0;
  bool finalized = false;
  QuorSealDigest digest{};
  QuorSealKeyId keyId{};
  std::uint64_t timeMs = 0;
  std::array<BYTE, kSealSignatureSize> signature{};
};

// The signed part of record into out[0, kSealSignedSize); the signature is left alone.
inline void EncodeSealSignedPart(const QuorSealRecord& record, BYTE* out) noexcept {
  BYTE* p = out;
  EncodeU32(p, kSealMagic);
  EncodeU32(p + 4, static_cast<std::uint32_t>(kSealRecordSize));
  EncodeU32(p + 8, kSealVersion);
  p += 12;
  EncodeGuid(p, record.fileSetGuid);
  p += kGuidSize;
  EncodeU32(p, record.fileSetIndex);
  EncodeU32(p + 4, record.blockIndex);
  EncodeU64(p + 8, record.offset);
  EncodeU32(p + 16, record.finalized ? kSealFlagFinalized : 0);
  p += 20;
  for (std::size_t i = 0; i < kSealDigestSize; ++i) p[i] = record.digest[i];
  p += kSealDigestSize;
  for (std::size_t i = 0; i < kSealKeyIdSize; ++i) p[i] = record.keyId[i];
  p += kSealKeyIdSize;
  EncodeU64(p, record.timeMs);
}

// Decodes one whole record of kSealRecordSize bytes whose frame the caller has checked.
inline QuorSealRecord DecodeSealRecord(const BYTE* in) noexcept {
  QuorSealRecord record;
  const BYTE* p = in + 12;
  record.fileSetGuid = DecodeGuid(p);
  p += kGuidSize;
  record.fileSetIndex = DecodeU32(p);
  record.blockIndex = DecodeU32(p + 4);
  record.offset = DecodeU64(p + 8);
  record.finalized = (DecodeU32(p + 16) & kSealFlagFinalized) != 0;
  p += 20;
  for (std::size_t i = 0; i < kSealDigestSize; ++i) record.digest[i] = p[i];
  p += kSealDigestSize;
  for (std::size_t i = 0; i < kSealKeyIdSize; ++i) record.keyId[i] = p[i];
  p += kSealKeyIdSize;
  record.timeMs = DecodeU64(p);
  p += 8;
  for (std::size_t i = 0; i < kSealSignatureSize; ++i) record.signature[i] = p[i];
  return record;
}
