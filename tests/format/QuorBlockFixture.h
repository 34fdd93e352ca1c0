// Shared verbs of the block tests: write a block and get its bytes back, build blocks by hand
// (for shapes the writer never makes), damage and reseal them, and read them back; all in
// memory, through the byte sink and source that a storage gives over a member file.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/QuorLittleEndian.h"
#include "core/QuorMD5Hash.h"
#include "format/QuorFormatLayout.h"
#include "format/QuorMediaFileBlock.h"
#include "format/QuorMemoryBytes.h"
#include "platform/log/QuorLog.h"
#include "quormediafiles/QuorResultCodes.h"
#include "support/QuorTempDir.h"

inline Bytes U32(DWORD value) {
  Bytes bytes(4);
  EncodeU32(bytes.data(), value);
  return bytes;
}

inline Bytes U64(ULONGLONG value) {
  Bytes bytes(8);
  EncodeU64(bytes.data(), value);
  return bytes;
}

struct RawField {
  DWORD tag;
  Bytes value;
};

inline void Append(Bytes& bytes, const Bytes& more) {
  bytes.insert(bytes.end(), more.begin(), more.end());
}

inline void AppendField(Bytes& bytes, DWORD tag, const Bytes& value) {
  Append(bytes, U32(tag));
  Append(bytes, U32(static_cast<DWORD>(value.size())));
  Append(bytes, value);
}

inline Bytes Digest(const BYTE* data, std::size_t size) {
  CQuorMD5Hash hash;
  BYTE digest[kQuorMD5DigestSize];
  EXPECT_EQ(hash.AddData(data, static_cast<DWORD>(size)), S_OK);
  EXPECT_EQ(hash.GetDigest(digest), S_OK);
  return Bytes(digest, digest + kQuorMD5DigestSize);
}

// Recomputes the hash at the end of a block after its other bytes were changed.
inline void Reseal(Bytes& block) {
  const Bytes digest = Digest(block.data(), block.size() - kUnhashedTailSize);
  std::copy(digest.begin(), digest.end(), block.end() - kUnhashedTailSize);
}

// A sealed block of the given type holding the own fields and the three base fields.
inline Bytes MakeBlock(DWORD type, const std::vector<RawField>& own, DWORD blockIndex = 0) {
  Bytes area;
  for (const RawField& field : own) AppendField(area, field.tag, field.value);
  const DWORD size = static_cast<DWORD>(area.size()) + kBaseFieldsSize;
  AppendField(area, kTagBlockIndex, U32(blockIndex));
  AppendField(area, kTagBlockSize, U32(size));
  AppendField(area, kTagBlockHash, Bytes(kHashSize, 0));
  Bytes block = U32(type);
  Append(block, U32(size));
  Append(block, area);
  Reseal(block);
  return block;
}

inline void FlipByte(Bytes& bytes, std::size_t offset) { bytes.at(offset) ^= 1; }
inline void TruncateBy(Bytes& bytes, std::size_t count) { bytes.resize(bytes.size() - count); }

class QuorBlockFixture : public ::testing::Test {
 protected:
  QuorBlockFixture() : m_log(std::make_shared<DXL_CaptureSink>()), m_scopedLog(m_log) {}

  // Writes block; returns the bytes it wrote.
  Bytes WriteBlock(CQuorPersistFileStorage& block, HRESULT expected = S_OK) {
    CQuorMemorySink sink;
    EXPECT_EQ(block.Write(&sink), expected);
    return sink.GetBytes();
  }

  // Reads one object from the start of bytes.
  HRESULT ReadBlock(CQuorPersistFileStorage& block, const Bytes& bytes) {
    CQuorMemorySource source(bytes);
    return block.Read(&source);
  }

  bool Logged(const std::string& text) const { return m_log->Contains(DXL_EntryKind::Debug, text); }

  std::shared_ptr<DXL_CaptureSink> m_log;
  DXL_ScopedSink m_scopedLog;
};
