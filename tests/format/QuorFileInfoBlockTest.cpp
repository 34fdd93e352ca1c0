#include <string>

#include "format/QuorBlockFixture.h"
#include "format/QuorFileInfoBlock.h"
#include "quormediafiles/platform/QuorOleAuto.h"

class QuorFileInfoBlockTest : public QuorBlockFixture {
 protected:
  std::u16string ReadDescription(CQuorFileInfoBlock& block) {
    BSTR text = nullptr;
    EXPECT_EQ(block.GetDescription(&text), S_OK);
    std::u16string result(text, SysStringLen(text));
    SysFreeString(text);
    return result;
  }
};

TEST_F(QuorFileInfoBlockTest, EveryFieldSurvivesAWriteAndARead) {
  const GUID guid = {0x11223344, 0x5566, 0x7788, {1, 2, 3, 4, 5, 6, 7, 8}};
  const BYTE password[16] = {0xDE, 0xAD, 0xBE, 0xEF};
  CQuorFileInfoBlock written;
  ASSERT_EQ(written.SetFileSetGuid(guid), S_OK);
  ASSERT_EQ(written.SetFileSetIndex(4), S_OK);
  ASSERT_EQ(written.SetFileSetCreationTime(0x0000000123456789ull), S_OK);
  ASSERT_EQ(written.SetDescription(u"front door"), S_OK);
  ASSERT_EQ(written.SetPassword(password, 16), S_OK);
  ASSERT_EQ(written.SetFileSetIndex(5), S_OK);  // replaces
  ASSERT_EQ(written.SetBlockIndex(0), S_OK);
  const Bytes bytes = WriteBlock(written);
  EXPECT_EQ(DecodeGuid(bytes.data() + kBlockHeaderSize + kFieldHeaderSize), guid);

  CQuorFileInfoBlock read;
  ASSERT_EQ(ReadBlock(read, bytes), S_OK);
  EXPECT_TRUE(read.IsHashValid());
  GUID readGuid{};
  DWORD index = 0;
  ULONGLONG time = 0;
  BYTE readPassword[16] = {};
  ASSERT_EQ(read.GetFileSetGuid(&readGuid), S_OK);
  ASSERT_EQ(read.GetFileSetIndex(&index), S_OK);
  ASSERT_EQ(read.GetFileSetCreationTime(&time), S_OK);
  ASSERT_EQ(read.GetPasswordHash(readPassword, 16), S_OK);
  EXPECT_EQ(readGuid, guid);
  EXPECT_EQ(index, 5u);
  EXPECT_EQ(time, 0x0000000123456789ull);
  EXPECT_EQ(ReadDescription(read), u"front door");
  EXPECT_EQ(Bytes(readPassword, readPassword + 16), Bytes(password, password + 16));
  EXPECT_EQ(read.GetPasswordHash(readPassword, 15), E_INVALIDARG);
  EXPECT_EQ(read.SetPassword(password, 17), E_INVALIDARG);
}

// An empty description is stored as its NUL; a stored one is read up to its first NUL and
// never past its length.
TEST_F(QuorFileInfoBlockTest, DescriptionsEndAtTheirFirstNulOrTheirLength) {
  CQuorFileInfoBlock block;
  ASSERT_EQ(block.SetDescription(u""), S_OK);
  DWORD length = 0;
  const BYTE* value = nullptr;
  ASSERT_EQ(block.GetField(kTagDescription, &length, &value, false), S_OK);
  EXPECT_EQ(length, 2u);
  EXPECT_EQ(ReadDescription(block), u"");
  EXPECT_EQ(block.SetDescription(nullptr), E_POINTER);
  const std::pair<Bytes, std::u16string> kStored[] = {
      {{'a', 0, 'b', 0, 0, 0, 'c', 0, 'd'}, u"ab"},  // NUL inside, odd trailing byte
      {{'x', 0, 'y', 0, 'z', 0}, u"xyz"},            // no NUL at all
  };
  for (const auto& [stored, text] : kStored) {
    ASSERT_EQ(ReadBlock(block, MakeBlock(btFileInfo, {{kTagDescription, stored}})), S_OK);
    EXPECT_EQ(ReadDescription(block), text);
  }
}

TEST_F(QuorFileInfoBlockTest, AbsentFieldsReadAsNoValueAndOtherBlockTypesAreRefused) {
  CQuorFileInfoBlock block;
  ASSERT_EQ(ReadBlock(block, MakeBlock(btFileInfo, {{kTagOpaque, {7}}})), S_OK);
  GUID guid{};
  EXPECT_EQ(block.GetFileSetGuid(&guid), MFS_E_NO_VALUE);
  BYTE password[16];
  EXPECT_EQ(block.GetPasswordHash(password, 16), MFS_E_NO_VALUE);
  EXPECT_FALSE(Logged("-Tag:4"));  // the opaque field is known here
  EXPECT_EQ(ReadBlock(block, MakeBlock(btTrackInfo, {})), E_FAIL);
}
