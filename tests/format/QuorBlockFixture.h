// Shared verbs of the block tests: write a block to a real file and get its bytes back, build
// blocks by hand (for shapes the writer never makes), damage and reseal them, and read them
// through the storage's byte reader. Every file lives in a fresh temporary directory.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "core/QuorLittleEndian.h"
#include "core/QuorMD5Hash.h"
#include "format/QuorFormatLayout.h"
#include "format/QuorMediaFileBlock.h"
#include "platform/log/QuorLog.h"
#include "quormediafiles/QuorResultCodes.h"
#include "storage/QuorFileStorage.h"
#include "storage/QuorFileStorageReader.h"
#include "storage/QuorFileStorageWriter.h"
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

  // Writes block as the only block of a new member file; returns the file without signature.
  Bytes WriteBlock(CQuorPersistFileStorage& block, HRESULT expected = S_OK) {
    const std::u16string path = m_dir.WidePath("write.vid");
    CQuorFileStorage storage;
    EXPECT_EQ(storage.InitializeForWriting(path.c_str(), 1024 * 1024, true), S_OK);
    EXPECT_EQ(block.Write(storage.GetWriter()), expected);
    ULONGLONG size = 0;
    EXPECT_EQ(storage.Finalize(&size), S_OK);
    Bytes bytes = m_dir.ReadBytes("write.vid");
    EXPECT_GE(bytes.size(), kQuorFileSignatureSize);
    return Bytes(bytes.begin() + kQuorFileSignatureSize, bytes.end());
  }

  // Puts bytes into a file and reads one object from its start.
  HRESULT ReadBlock(CQuorPersistFileStorage& block, const Bytes& bytes) {
    m_dir.WriteBytes("read.vid", bytes);
    const std::u16string path = m_dir.WidePath("read.vid");
    CQuorFileStorage storage;
    EXPECT_EQ(storage.OpenFileForInspection(path.c_str()), S_OK);
    return block.Read(storage.GetReader());
  }

  bool Logged(const std::string& text) const { return m_log->Contains(DXL_EntryKind::Debug, text); }

  CQuorTempDir m_dir;
  std::shared_ptr<DXL_CaptureSink> m_log;
  DXL_ScopedSink m_scopedLog;
};
