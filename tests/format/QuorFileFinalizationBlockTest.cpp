#include "format/QuorBlockFixture.h"
#include "format/QuorFileFinalizationBlock.h"
#include "support/QuorGot.h"

class QuorFileFinalizationBlockTest : public QuorBlockFixture {};

TEST_F(QuorFileFinalizationBlockTest, FlagAndFileHashSurviveAWriteAndARead) {
  const Bytes fileHash = PatternBytes(16, 5);
  for (const bool lastFile : {false, true}) {
    SCOPED_TRACE(lastFile);
    CQuorFileFinalizationBlock written;
    ASSERT_EQ(written.SetLastFileFlag(lastFile), S_OK);
    ASSERT_EQ(written.SetFileHash(fileHash.data(), 16), S_OK);
    ASSERT_EQ(written.SetBlockIndex(12), S_OK);
    const Bytes bytes = WriteBlock(written);

    CQuorFileFinalizationBlock read;
    ASSERT_EQ(ReadBlock(read, bytes), S_OK);
    EXPECT_EQ(Got(&read, &CQuorFileFinalizationBlock::GetLastFileFlag), lastFile);
    const BYTE* hash = nullptr;
    DWORD length = 0;
    ASSERT_EQ(read.GetFileHash(&hash, &length), S_OK);
    EXPECT_EQ(Bytes(hash, hash + length), fileHash);
  }
  CQuorFileFinalizationBlock block;
  EXPECT_EQ(block.SetFileHash(fileHash.data(), 15), E_INVALIDARG);
}

TEST_F(QuorFileFinalizationBlockTest, MissingRepeatedAndForeignFieldsAndBlockTypes) {
  CQuorFileFinalizationBlock block;
  ASSERT_EQ(ReadBlock(block, MakeBlock(btFinalization, {{kTagFileHash, Bytes(16, 1)},
                                                        {kTagFileHash, Bytes(16, 2)},
                                                        {kTagOpaque, {1}}})),
            S_OK);
  bool flag = false;
  EXPECT_EQ(block.GetLastFileFlag(&flag), MFS_E_NO_VALUE);
  for (const DWORD stored : {0x2u, 0x101u}) {  // only bit 0 of the first byte counts
    ASSERT_EQ(ReadBlock(block, MakeBlock(btFinalization, {{kTagLastFileFlag, U32(stored)}})), S_OK);
    EXPECT_EQ(Got(&block, &CQuorFileFinalizationBlock::GetLastFileFlag), stored == 0x101u);
  }
  EXPECT_EQ(ReadBlock(block, MakeBlock(btMediaSample, {})), E_FAIL);
}
