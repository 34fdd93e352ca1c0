#include <functional>

#include "format/QuorBlockFixture.h"
#include "format/QuorFileInfoBlock.h"
#include "format/QuorMediaFileBlock.h"
#include "format/QuorMediaSampleBlock.h"
#include "format/QuorTrackInfoBlock.h"
#include "support/QuorGot.h"

class QuorMediaFileBlockTest : public QuorBlockFixture {
 protected:
  // A file info block with a few fields, written with block index 7.
  Bytes WrittenFileInfo() {
    CQuorFileInfoBlock block;
    EXPECT_EQ(block.SetFileSetIndex(3), S_OK);
    EXPECT_EQ(block.SetDescription(u"cam"), S_OK);
    EXPECT_EQ(block.SetBlockIndex(7), S_OK);
    return WriteBlock(block);
  }
};

TEST_F(QuorMediaFileBlockTest, ABlockWithoutBlockIndexIsNotWritten) {
  CQuorFileInfoBlock block;
  ASSERT_EQ(block.SetFileSetIndex(1), S_OK);
  EXPECT_TRUE(WriteBlock(block, MFS_E_WRONG_STATE).empty());
}

TEST_F(QuorMediaFileBlockTest, PayloadOnlyWritesTheOwnFieldsButHashesTheWholeBlock) {
  const Bytes payload = PatternBytes(5000);
  CQuorMediaSampleBlock whole, payloadOnly;
  for (CQuorMediaSampleBlock* block : {&whole, &payloadOnly}) {
    ASSERT_EQ(block->SetPayload(payload.data(), 5000, false), S_OK);
    ASSERT_EQ(block->SetBlockIndex(9), S_OK);
  }
  payloadOnly.SetPayloadOnly(true);
  const Bytes full = WriteBlock(whole);
  Bytes field;
  AppendField(field, kTagPayload, payload);
  EXPECT_EQ(WriteBlock(payloadOnly), field);
  const BYTE *a = nullptr, *b = nullptr;
  DWORD length = 0;
  ASSERT_EQ(whole.GetBlockHash(&a, &length), S_OK);
  ASSERT_EQ(payloadOnly.GetBlockHash(&b, &length), S_OK);
  EXPECT_EQ(Bytes(a, a + 16), Bytes(b, b + 16));
  EXPECT_EQ(Bytes(a, a + 16), Bytes(full.end() - 16, full.end()));
}

TEST_F(QuorMediaFileBlockTest, EveryFlippedByteFailsTheReadOrTheHash) {
  const Bytes written = WrittenFileInfo();
  for (std::size_t offset = 0; offset < written.size(); ++offset) {
    for (const BYTE mask : {0x01, 0x80}) {
      SCOPED_TRACE(testing::Message() << "offset " << offset << " mask " << int{mask});
      Bytes bytes = written;
      bytes[offset] ^= mask;
      CQuorFileInfoBlock block;
      const HRESULT hr = ReadBlock(block, bytes);
      if (hr == S_OK) {
        EXPECT_FALSE(block.IsHashValid());
      } else {
        EXPECT_TRUE(hr == E_FAIL || hr == E_INVALIDARG ||
                    hr == HRESULT_FROM_WIN32(ERROR_HANDLE_EOF))
            << std::hex << hr;
      }
    }
  }
}

// Adds bytes behind the last field and counts them in the size word and the size field.
void Grow(Bytes& bytes, std::size_t extra) {
  const DWORD size = DecodeU32(bytes.data() + 4) + static_cast<DWORD>(extra);
  EncodeU32(bytes.data() + 4, size);
  EncodeU32(bytes.data() + bytes.size() - 28, size);
  bytes.insert(bytes.end(), extra, 0x11);
}

TEST_F(QuorMediaFileBlockTest, DamagedFramingGivesItsDocumentedCode) {
  const HRESULT kEof = HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
  // Name, the damage, the read's result, the hash verdict.
  const std::tuple<const char*, std::function<void(Bytes&)>, HRESULT, bool> kDamage[] = {
      {"Nothing", [](Bytes&) {}, S_OK, true},
      {"SizeFieldValue", [](Bytes& b) { FlipByte(b, b.size() - 28); }, E_FAIL, false},
      {"SizeWordGrows",
       [](Bytes& b) {
         b.push_back(0);
         b[4] += 1;
       },
       E_FAIL, false},
      {"TypeWord0x600", [](Bytes& b) { b[1] = 0x06; }, E_FAIL, false},
      {"SizeWordBelow48", [](Bytes& b) { EncodeU32(b.data() + 4, 47); }, E_FAIL, false},
      {"SizeWordHuge", [](Bytes& b) { EncodeU32(b.data() + 4, 0xFFFFFFF0); }, kEof, false},
      {"TruncatedBy1", [](Bytes& b) { TruncateBy(b, 1); }, kEof, false},
      {"OnlyTheType", [](Bytes& b) { b.resize(4); }, kEof, false},
      {"Empty", [](Bytes& b) { b.clear(); }, kEof, false},
      {"OneByteAfterTheHashField", [](Bytes& b) { Grow(b, 1); }, E_FAIL, false},
      {"EightBytesAfterTheHashField", [](Bytes& b) { Grow(b, 8); }, E_FAIL, false},
      {"LastFieldRunsPastTheEnd", [](Bytes& b) { EncodeU32(b.data() + b.size() - 20, 17); },
       E_INVALIDARG, false},
  };
  const Bytes written = WrittenFileInfo();
  for (const auto& [name, apply, read, hashValid] : kDamage) {
    SCOPED_TRACE(name);
    Bytes bytes = written;
    apply(bytes);
    CQuorFileInfoBlock block;
    EXPECT_EQ(ReadBlock(block, bytes), read);
    EXPECT_EQ(block.IsHashValid(), hashValid);
  }
}

TEST_F(QuorMediaFileBlockTest, RefusedFieldsAreDroppedAndUnknownOnesKeptWithTheirMessages) {
  const Bytes bytes = MakeBlock(btFileInfo, {{kTagFileSetIndex, U32(1)},
                                             {kTagDescription, {}},
                                             {kTagPayload, {1, 2}},
                                             {kTagFileSetIndex, U32(2)}});
  CQuorFileInfoBlock block;
  ASSERT_EQ(ReadBlock(block, bytes), S_OK);
  EXPECT_TRUE(block.IsHashValid());
  EXPECT_EQ(block.GetFieldCount(), 3u);  // the empty description is dropped
  EXPECT_TRUE(Logged("Error Unknown Field detected -Tag:260"));
  EXPECT_TRUE(Logged("Error Unknown Field detected -Tag:1025"));
  EXPECT_TRUE(Logged("Error Duplicated Field detected -Tag:258"));
  EXPECT_EQ(Got(&block, &CQuorFileInfoBlock::GetFileSetIndex), 1u);
}

TEST_F(QuorMediaFileBlockTest, FieldAccessRefusesBaseAndUnknownTagsAndEmptyValues) {
  CQuorTrackInfoBlock block;
  const BYTE a[16] = {0xA};
  DWORD length = 0;
  const BYTE* value = nullptr;
  EXPECT_EQ(block.GetField(kTagBlockSize, &length, &value, false), MFS_E_NOT_SET);
  EXPECT_EQ(block.GetField(0x0302, &length, &value, false), E_INVALIDARG);
  EXPECT_EQ(block.SetField(kTagBlockSize, 4, a, true, false), E_INVALIDARG);
  EXPECT_EQ(block.SetField(kTagTrackId, 0, a, true, false), E_INVALIDARG);
  EXPECT_EQ(block.SetField(kTagTrackId, 4, nullptr, true, false), E_POINTER);
}

TEST_F(QuorMediaFileBlockTest, ASecondReadReplacesEverythingOfTheFirst) {
  CQuorFileInfoBlock block;
  ASSERT_EQ(ReadBlock(block, WrittenFileInfo()), S_OK);
  // A block without hash field must not find the first block's hash still there.
  Bytes bytes = MakeBlock(btFileInfo, {});
  TruncateBy(bytes, kHashFieldSize);
  EncodeU32(bytes.data() + 4, DecodeU32(bytes.data() + 4) - kHashFieldSize);
  EXPECT_EQ(ReadBlock(block, bytes), E_FAIL);
  EXPECT_EQ(block.GetFieldCount(), 0u);
  ASSERT_EQ(ReadBlock(block, MakeBlock(btFileInfo, {{kTagFileSetIndex, U32(5)}}, 11)), S_OK);
  EXPECT_EQ(Got(&block, &CQuorFileInfoBlock::GetFileSetIndex), 5u);
  EXPECT_EQ(Got(&block, &CQuorFileInfoBlock::GetBlockIndex), 11u);
}
