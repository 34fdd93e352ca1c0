#include "format/QuorBlockFixture.h"
#include "format/QuorMediaSampleBlock.h"

class QuorMediaSampleBlockTest : public QuorBlockFixture {};

TEST_F(QuorMediaSampleBlockTest, ABorrowedPayloadIsNotCopiedAndASecondOneReplacesIt) {
  const Bytes first = PatternBytes(10, 1);
  const Bytes second = PatternBytes(20, 2);
  CQuorMediaSampleBlock block;
  ASSERT_EQ(block.SetPayload(first.data(), 10, false), S_OK);
  ASSERT_EQ(block.SetPayload(second.data(), 20, false), S_OK);
  const BYTE* value = nullptr;
  DWORD length = 0;
  ASSERT_EQ(block.GetPayload(&value, &length), S_OK);
  EXPECT_EQ(value, second.data());
  EXPECT_EQ(length, 20u);
  EXPECT_EQ(block.GetFieldCount(), 1u);
  EXPECT_EQ(block.SetPayload(first.data(), 0, false), E_INVALIDARG);
}

TEST_F(QuorMediaSampleBlockTest, AnythingButOnePayloadFieldFailsTheRead) {
  const std::tuple<const char*, std::vector<RawField>, HRESULT> kCases[] = {
      {"NoPayload", {}, S_OK},
      {"EmptyPayloadIsDropped", {{kTagPayload, {}}}, S_OK},
      {"PayloadAndOpaque", {{kTagPayload, {1}}, {kTagOpaque, {1}}}, E_FAIL},
      {"TwoPayloads", {{kTagPayload, {1}}, {kTagPayload, {2}}}, E_FAIL},
      {"OtherTag", {{kTagTrackId, U32(1)}}, E_FAIL},
  };
  for (const auto& [name, fields, expected] : kCases) {
    SCOPED_TRACE(name);
    CQuorMediaSampleBlock block;
    EXPECT_EQ(ReadBlock(block, MakeBlock(btMediaSample, fields)), expected);
    const BYTE* value = nullptr;
    DWORD length = 0;
    if (expected == S_OK) {
      EXPECT_EQ(block.GetPayload(&value, &length), MFS_E_NO_VALUE);
    }
  }
  CQuorMediaSampleBlock block;
  EXPECT_EQ(ReadBlock(block, MakeBlock(btIndex, {})), E_FAIL);
}
