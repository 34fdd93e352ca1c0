#include "format/QuorBlockFixture.h"
#include "format/QuorFileFinalizationBlock.h"
#include "support/QuorGot.h"

// The fields a file may hold that the writer never writes.
class QuorFileFinalizationBlockTest : public QuorBlockFixture {};

TEST_F(QuorFileFinalizationBlockTest, MissingRepeatedAndForeignFieldsAndBlockTypes) {
  CQuorFileFinalizationBlock block;
  EXPECT_EQ(block.SetFileHash(PatternBytes(16).data(), 15), E_INVALIDARG);
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
