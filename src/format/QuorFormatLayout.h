// The "Format 2" byte layout, written down once: field and block framing, the block types, the
// tag table with the value length each tag accepts, and the sizes and offsets that writers and
// readers derive from them. All integers on disk are little-endian (core/QuorLittleEndian.h).
//
//   field: tag (u32) | length L (u32) | L value bytes
//   block: type (u32) | size S (u32) | S bytes of fields, the last three always being the block
//          index (tag 1), the block size (tag 2, value S) and the block hash (tag 3, 16 bytes)
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "core/QuorLittleEndian.h"
#include "quormediafiles/platform/QuorTypes.h"

// Every member file starts with the 16 bytes of this GUID in GUID memory layout; the first
// block follows at offset 16.
inline constexpr GUID kQuorFileSignatureGuid = {
    0xCC534098, 0x4638, 0x41D2, {0x89, 0xA3, 0x03, 0xC7, 0x9B, 0xBC, 0x62, 0x2F}};
inline constexpr std::size_t kQuorFileSignatureSize = kGuidSize;
static_assert(kQuorFileSignatureSize == 16);
inline std::array<BYTE, kQuorFileSignatureSize> QuorFileSignatureBytes() noexcept {
  std::array<BYTE, kQuorFileSignatureSize> bytes{};
  EncodeGuid(bytes.data(), kQuorFileSignatureGuid);
  return bytes;
}

// The kind of a block, stored as its first u32; the high byte of a block type is the high byte
// of the tags that belong to it.
enum BlockType : DWORD {
  btFileInfo = 0x100,
  btTrackInfo = 0x200,
  btIndex = 0x300,
  btMediaSample = 0x400,
  btFinalization = 0x500,
};

constexpr bool IsBlockType(DWORD type) noexcept {
  return type == btFileInfo || type == btTrackInfo || type == btIndex || type == btMediaSample ||
         type == btFinalization;
}

// Tags. 1 to 4 may stand in every block; the others belong to the block type of their high byte.
inline constexpr DWORD kTagBlockIndex = 0x0001;
inline constexpr DWORD kTagBlockSize = 0x0002;
inline constexpr DWORD kTagBlockHash = 0x0003;
inline constexpr DWORD kTagOpaque = 0x0004;
inline constexpr DWORD kTagFileSetGuid = 0x0101;
inline constexpr DWORD kTagFileSetIndex = 0x0102;
inline constexpr DWORD kTagCreationTime = 0x0103;
inline constexpr DWORD kTagDescription = 0x0104;
inline constexpr DWORD kTagPasswordHash = 0x0105;
inline constexpr DWORD kTagMediaTypes = 0x0202;
inline constexpr DWORD kTagFilterClsid = 0x0203;
inline constexpr DWORD kTagMediaSessionPlugin = 0x0204;
inline constexpr DWORD kTagTrackId = 0x0205;
inline constexpr DWORD kTagTrackName = 0x0206;
inline constexpr DWORD kTagSourceUrl = 0x0207;
inline constexpr DWORD kTagSourceId = 0x0208;
inline constexpr DWORD kTagTrackFlags = 0x0209;
inline constexpr DWORD kTagPairId = 0x020A;
inline constexpr DWORD kTagEntryTrackId = 0x0301;
inline constexpr DWORD kTagEntryFlags = 0x0303;
inline constexpr DWORD kTagEntryPosition = 0x0304;
inline constexpr DWORD kTagEntryTimestamp = 0x0305;
inline constexpr DWORD kTagPreviousIndexOffset = 0x0306;
inline constexpr DWORD kTagPayload = 0x0401;
inline constexpr DWORD kTagLastFileFlag = 0x0501;
inline constexpr DWORD kTagFileHash = 0x0502;

// Value widths.
inline constexpr DWORD kU32Size = 4;
inline constexpr DWORD kU64Size = 8;
inline constexpr DWORD kGuidValueSize = 4 + 2 + 2 + 8;
inline constexpr DWORD kHashSize = 16;            // MD5 digest
inline constexpr DWORD kMaxStringLength = 32768;  // UTF-16LE bytes, terminating NUL included
static_assert(kGuidValueSize == 16);

// One row of the tag table: the value lengths a tag accepts, both ends inclusive.
struct QuorTagRule {
  DWORD tag;
  DWORD minLength;
  DWORD maxLength;
};

inline constexpr DWORD kAnyLength = 0xFFFFFFFF;

// Exactly these 26 tags are valid; every other number (0, 0x0201, 0x0302, ...) is not a tag.
inline constexpr std::array<QuorTagRule, 26> kTagTable = {{
    {kTagBlockIndex, kU32Size, kU32Size},
    {kTagBlockSize, kU32Size, kU32Size},
    {kTagBlockHash, kHashSize, kHashSize},
    {kTagOpaque, 1, kAnyLength},
    {kTagFileSetGuid, kGuidValueSize, kGuidValueSize},
    {kTagFileSetIndex, kU32Size, kU32Size},
    {kTagCreationTime, kU64Size, kU64Size},
    {kTagDescription, 0, kMaxStringLength},
    {kTagPasswordHash, kHashSize, kHashSize},
    {kTagMediaTypes, kU32Size, kU32Size},
    {kTagFilterClsid, kGuidValueSize, kGuidValueSize},
    {kTagMediaSessionPlugin, kGuidValueSize, kGuidValueSize},
    {kTagTrackId, kU32Size, kU32Size},
    {kTagTrackName, 0, kMaxStringLength},
    {kTagSourceUrl, 0, kMaxStringLength},
    {kTagSourceId, kU32Size, kU32Size},
    {kTagTrackFlags, kU32Size, kU32Size},
    {kTagPairId, kU32Size, kU32Size},
    {kTagEntryTrackId, kU32Size, kU32Size},
    {kTagEntryFlags, kU32Size, kU32Size},
    {kTagEntryPosition, kU64Size, kU64Size},
    {kTagEntryTimestamp, kU64Size, kU64Size},
    {kTagPreviousIndexOffset, kU64Size, kU64Size},
    {kTagPayload, 1, kAnyLength},
    {kTagLastFileFlag, kU32Size, kU32Size},
    {kTagFileHash, kHashSize, kHashSize},
}};

namespace quor_layout_detail {
// Every tag has a high byte below 6 and a low byte below 16, so a 6 x 16 table answers a lookup
// with one bounds check and one load. Entries hold the row number in kTagTable plus one.
inline constexpr DWORD kTagGroups = 6;
inline constexpr DWORD kTagsPerGroup = 16;
inline constexpr auto kTagSlots = [] {
  std::array<std::uint8_t, kTagGroups * kTagsPerGroup> slots{};
  for (std::size_t i = 0; i < kTagTable.size(); ++i) {
    const DWORD tag = kTagTable[i].tag;
    slots[(tag >> 8) * kTagsPerGroup + (tag & 0xFF)] = static_cast<std::uint8_t>(i + 1);
  }
  return slots;
}();
}  // namespace quor_layout_detail

// The row of a tag in kTagTable, or -1 when the number is not a valid tag.
constexpr int FindTagRow(DWORD tag) noexcept {
  using namespace quor_layout_detail;
  if ((tag >> 8) >= kTagGroups || (tag & 0xFF) >= kTagsPerGroup) return -1;
  return static_cast<int>(kTagSlots[(tag >> 8) * kTagsPerGroup + (tag & 0xFF)]) - 1;
}

constexpr bool IsValidTag(DWORD tag) noexcept { return FindTagRow(tag) >= 0; }

constexpr bool IsAcceptedLength(DWORD tag, DWORD length) noexcept {
  const int row = FindTagRow(tag);
  return row >= 0 && length >= kTagTable[row].minLength && length <= kTagTable[row].maxLength;
}

static_assert(IsValidTag(kTagPayload) && IsValidTag(kTagEntryFlags));
static_assert(!IsValidTag(0) && !IsValidTag(0x0201) && !IsValidTag(0x0302) && !IsValidTag(0x0600));
static_assert(IsAcceptedLength(kTagDescription, 0) && !IsAcceptedLength(kTagDescription, 32769));
static_assert(!IsAcceptedLength(kTagBlockIndex, 8) && IsAcceptedLength(kTagOpaque, 1));

// Field framing.
inline constexpr DWORD kFieldHeaderSize = 4 + 4;  // tag | length
inline constexpr DWORD kU32FieldSize = kFieldHeaderSize + kU32Size;
inline constexpr DWORD kU64FieldSize = kFieldHeaderSize + kU64Size;
inline constexpr DWORD kGuidFieldSize = kFieldHeaderSize + kGuidValueSize;
inline constexpr DWORD kHashFieldSize = kFieldHeaderSize + kHashSize;
static_assert(kFieldHeaderSize == 8 && kU32FieldSize == 12 && kHashFieldSize == 24);
// While parsing a field area, fewer than this many bytes cannot start a field with a value.
inline constexpr DWORD kMinParsableField = kFieldHeaderSize + 1;

// Block framing.
inline constexpr DWORD kBlockHeaderSize = 4 + 4;  // type | size S
inline constexpr DWORD kBlockTypeOffset = 0;
inline constexpr DWORD kBlockSizeWordOffset = 4;
inline constexpr DWORD kBlockIndexFieldSize = kU32FieldSize;
inline constexpr DWORD kBlockSizeFieldSize = kU32FieldSize;
inline constexpr DWORD kBlockHashFieldSize = kHashFieldSize;
// The three fields that end every field area; also the smallest valid S.
inline constexpr DWORD kBaseFieldsSize =
    kBlockIndexFieldSize + kBlockSizeFieldSize + kBlockHashFieldSize;
static_assert(kBaseFieldsSize == 48);
// The last bytes of every block: its size field, then its hash field.
inline constexpr DWORD kBlockTrailerSize = kBlockSizeFieldSize + kBlockHashFieldSize;
static_assert(kBlockTrailerSize == 36);
// What follows the block index field's value when S is computed: the size and hash fields and
// the block index field's own header.
inline constexpr DWORD kSizeBesidesBlockIndexValue = kBaseFieldsSize - kU32Size;
static_assert(kSizeBesidesBlockIndexValue == 44);
inline constexpr DWORD kEmptyBlockSize = kBlockHeaderSize + kBaseFieldsSize;
static_assert(kEmptyBlockSize == 56);
// Bytes at the end of a block that its hash does not cover: the hash value itself.
inline constexpr DWORD kUnhashedTailSize = kHashSize;

// Offsets counted back from the end of a block (or of a finalized file, whose last block is the
// finalization block).
inline constexpr DWORD kSizeFieldFromEnd = kBlockTrailerSize;
inline constexpr DWORD kIndexFieldFromEnd = kBlockTrailerSize + kBlockIndexFieldSize;
static_assert(kSizeFieldFromEnd == 36 && kIndexFieldFromEnd == 48);

// Media sample block: the payload field and nothing else of its own.
inline constexpr DWORD kMediaSampleOverhead = kBlockHeaderSize + kFieldHeaderSize + kBaseFieldsSize;
static_assert(kMediaSampleOverhead == 64);
static_assert(kMediaSampleOverhead + 1 == 65);  // a 1-byte sample block, size word 57

// Index block: previous index offset, then four fields per entry.
inline constexpr DWORD kIndexEntrySize = kU32FieldSize +  // track id
                                         kU32FieldSize +  // flags
                                         kU64FieldSize +  // position
                                         kU64FieldSize;   // timestamp
static_assert(kIndexEntrySize == 56);
inline constexpr DWORD kIndexBlockFixedSize = kBlockHeaderSize + kU64FieldSize + kBaseFieldsSize;
static_assert(kIndexBlockFixedSize == 72);  // a block of n entries occupies 56n + 72 bytes

// Finalization block: last-file flag and file hash.
inline constexpr DWORD kFinalizationSizeWord = kU32FieldSize + kHashFieldSize + kBaseFieldsSize;
inline constexpr DWORD kFinalizationBlockSize = kBlockHeaderSize + kFinalizationSizeWord;
static_assert(kFinalizationSizeWord == 84 && kFinalizationBlockSize == 92);

// Value bits.
inline constexpr DWORD kMediaTypeVideo = 0x1;
inline constexpr DWORD kMediaTypeAudio = 0x2;
inline constexpr DWORD kTrackFlagLastTrackInfo = 0x1;
inline constexpr DWORD kEntryFlagKeyFrame = 0x01;
inline constexpr DWORD kEntryFlagVideo = 0x02;
inline constexpr DWORD kEntryFlagAudio = 0x04;
inline constexpr DWORD kEntryFlagSample10 = 0x08;   // the sample's own flag 0x10
inline constexpr DWORD kEntryFlagsKeptMask = 0xFF;  // readers keep the low 8 bits
