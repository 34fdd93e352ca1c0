#include "format/QuorBlockFixture.h"
#include "format/QuorFileInfoBlock.h"
#include "support/QuorGot.h"

class QuorFileInfoBlockTest : public QuorBlockFixture {};

using Info = CQuorFileInfoBlock;

TEST_F(QuorFileInfoBlockTest, GuidIndexAndPasswordSurviveAWriteAndARead) {
  const GUID guid = {0x11223344, 0x5566, 0x7788, {1, 2, 3, 4, 5, 6, 7, 8}};
  const BYTE password[16] = {0xDE, 0xAD, 0xBE, 0xEF};
  Info written;
  ASSERT_EQ(written.SetFileSetGuid(guid), S_OK);
  ASSERT_EQ(written.SetFileSetIndex(4), S_OK);
  ASSERT_EQ(written.SetPassword(password, 16), S_OK);
  ASSERT_EQ(written.SetFileSetIndex(5), S_OK);  // replaces
  ASSERT_EQ(written.SetBlockIndex(0), S_OK);

  Info read;
  ASSERT_EQ(ReadBlock(read, WriteBlock(written)), S_OK);
  EXPECT_TRUE(read.IsHashValid());
  EXPECT_EQ(Got(&read, &Info::GetFileSetGuid), guid);
  EXPECT_EQ(Got(&read, &Info::GetFileSetIndex), 5u);
  BYTE readPassword[16] = {};
  ASSERT_EQ(read.GetPasswordHash(readPassword, 16), S_OK);
  EXPECT_EQ(Bytes(readPassword, readPassword + 16), Bytes(password, password + 16));
  EXPECT_EQ(read.GetPasswordHash(readPassword, 15), E_INVALIDARG);
  EXPECT_EQ(read.SetPassword(password, 17), E_INVALIDARG);
}

// An empty description is stored as its NUL; a stored one is read up to its first NUL and
// never past its length.
TEST_F(QuorFileInfoBlockTest, DescriptionsEndAtTheirFirstNulOrTheirLength) {
  Info block;
  ASSERT_EQ(block.SetDescription(u""), S_OK);
  DWORD length = 0;
  const BYTE* value = nullptr;
  ASSERT_EQ(block.GetField(kTagDescription, &length, &value, false), S_OK);
  EXPECT_EQ(length, 2u);
  EXPECT_EQ(Got(&block, &Info::GetDescription), "");
  EXPECT_EQ(block.SetDescription(nullptr), E_POINTER);
  const std::pair<Bytes, std::string> kStored[] = {
      {{'a', 0, 'b', 0, 0, 0, 'c', 0, 'd'}, "ab"},  // NUL inside, odd trailing byte
      {{'x', 0, 'y', 0, 'z', 0}, "xyz"},            // no NUL at all
  };
  for (const auto& [stored, text] : kStored) {
    ASSERT_EQ(ReadBlock(block, MakeBlock(btFileInfo, {{kTagDescription, stored}})), S_OK);
    EXPECT_EQ(Got(&block, &Info::GetDescription), text);
  }
}

TEST_F(QuorFileInfoBlockTest, AbsentFieldsReadAsNoValueAndOtherBlockTypesAreRefused) {
  Info block;
  ASSERT_EQ(ReadBlock(block, MakeBlock(btFileInfo, {{kTagOpaque, {7}}})), S_OK);
  GUID guid{};
  EXPECT_EQ(block.GetFileSetGuid(&guid), MFS_E_NO_VALUE);
  BYTE password[16];
  EXPECT_EQ(block.GetPasswordHash(password, 16), MFS_E_NO_VALUE);
  EXPECT_FALSE(Logged("-Tag:4"));  // the opaque field is known here
  EXPECT_EQ(ReadBlock(block, MakeBlock(btTrackInfo, {})), E_FAIL);
}
