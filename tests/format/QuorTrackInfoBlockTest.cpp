#include <string>
#include <vector>

#include "format/QuorBlockFixture.h"
#include "format/QuorTrackInfoBlock.h"
#include "support/QuorGot.h"

class QuorTrackInfoBlockTest : public QuorBlockFixture {
 protected:
  static Bytes GuidBytes(const GUID& guid) {
    Bytes bytes(16);
    EncodeGuid(bytes.data(), guid);
    return bytes;
  }

  const GUID m_a = {0xA, 1, 2, {3}}, m_b = {0xB, 1, 2, {3}}, m_c = {0xC, 1, 2, {3}};
};

TEST_F(QuorTrackInfoBlockTest, EveryFieldSurvivesAWriteAndAReadInSettingOrder) {
  CQuorTrackInfoBlock written;
  ASSERT_EQ(written.SetPairId(9), S_OK);
  ASSERT_EQ(written.SetTrackId(1), S_OK);
  ASSERT_EQ(written.SetMediaTypes(kMediaTypeVideo | kMediaTypeAudio), S_OK);
  ASSERT_EQ(written.SetTrackName(u"lobby"), S_OK);
  ASSERT_EQ(written.SetMediaSessionPlugin(m_c), S_OK);
  ASSERT_EQ(written.AddFilter(m_a), S_OK);
  ASSERT_EQ(written.AddFilter(m_b), S_OK);
  ASSERT_EQ(written.SetSourceId(77), S_OK);
  ASSERT_EQ(written.SetSourceUrl(u"rtsp://cam"), S_OK);
  ASSERT_EQ(written.SetTrackFlags(0), S_OK);
  ASSERT_EQ(written.SetTrackId(2), S_OK);  // replaces, stays second
  ASSERT_EQ(written.SetTrackFlags(kTrackFlagLastTrackInfo), S_OK);
  ASSERT_EQ(written.SetBlockIndex(1), S_OK);
  const std::vector<DWORD> order = {
      kTagPairId,      kTagTrackId,     kTagMediaTypes, kTagTrackName, kTagMediaSessionPlugin,
      kTagFilterClsid, kTagFilterClsid, kTagSourceId,   kTagSourceUrl, kTagTrackFlags};

  CQuorTrackInfoBlock read;
  ASSERT_EQ(ReadBlock(read, WriteBlock(written)), S_OK);
  EXPECT_TRUE(read.IsHashValid());
  std::vector<DWORD> tags;
  for (DWORD n = 0; read.GetFieldTagAt(n) != 0; ++n) tags.push_back(read.GetFieldTagAt(n));
  EXPECT_EQ(tags, order);
  using Track = CQuorTrackInfoBlock;
  EXPECT_EQ(Got(&read, &Track::GetTrackId), 2u);
  EXPECT_EQ(Got(&read, &Track::GetTrackFlags), kTrackFlagLastTrackInfo);
  EXPECT_EQ(Got(&read, &Track::GetMediaSessionPlugin), m_c);
  EXPECT_EQ(Got(&read, &Track::GetFilters), (std::vector<GUID>{m_a, m_b}));
  EXPECT_EQ(Got(&read, &Track::GetSourceUrl), "rtsp://cam");
}

TEST_F(QuorTrackInfoBlockTest, MoreThanTwoFiltersReadButAreReportedAsBadFormat) {
  CQuorTrackInfoBlock block;
  ASSERT_EQ(ReadBlock(block, MakeBlock(btTrackInfo, {{kTagFilterClsid, GuidBytes(m_a)},
                                                     {kTagTrackId, U32(1)},
                                                     {kTagFilterClsid, GuidBytes(m_b)},
                                                     {kTagFilterClsid, GuidBytes(m_c)},
                                                     {kTagTrackId, U32(2)},
                                                     {kTagOpaque, {1}}})),
            S_OK);
  std::vector<GUID> filters;
  EXPECT_EQ(block.GetFilters(&filters), MFS_E_BAD_FORMAT);
  EXPECT_EQ(filters, (std::vector<GUID>{m_a, m_b, m_c}));
  EXPECT_TRUE(Logged("Error Duplicated Field detected -Tag:517"));
  EXPECT_TRUE(Logged("Error Unknown Field detected -Tag:4"));
  EXPECT_FALSE(Logged("-Tag:515"));
}

TEST_F(QuorTrackInfoBlockTest, AbsentFieldsLongNamesAndOtherBlockTypes) {
  CQuorTrackInfoBlock block;
  std::vector<GUID> filters = {m_a};
  EXPECT_EQ(block.GetFilters(&filters), MFS_E_NO_VALUE);
  EXPECT_EQ(filters.size(), 1u);  // untouched
  const std::u16string longest(16383, u'n');
  EXPECT_EQ(block.SetTrackName(longest.c_str()), S_OK);
  EXPECT_EQ(block.SetTrackName((longest + u'n').c_str()), E_INVALIDARG);
  EXPECT_EQ(ReadBlock(block, MakeBlock(btFileInfo, {})), E_FAIL);
}
