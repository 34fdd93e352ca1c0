#include <gtest/gtest.h>

#include "quormediafiles/QuorMediaFilesCpp.h"
#include "support/QuorGot.h"

namespace {

using I = IQuorTrackMetadata;

const struct {
  const char* name;
  HRESULT (I::*get)(BSTR*);
  HRESULT (I::*set)(BSTR);
} kStringFields[] = {
    {"TrackName", &I::GetTrackName, &I::SetTrackName},
    {"SourceUrl", &I::GetSourceUrl, &I::SetSourceUrl},
    {"MediaSessionPlugin", &I::GetMediaSessionPlugin, &I::SetMediaSessionPlugin},
    {"VideoFormatIdentifier", &I::GetVideoFormatIdentifier, &I::SetVideoFormatIdentifier},
    {"AudioFormatIdentifier", &I::GetAudioFormatIdentifier, &I::SetAudioFormatIdentifier},
};

class QuorTrackMetadataTest : public ::testing::Test {
 protected:
  CQuorComPtr<I> m_track = CreateObject<I>(CLSID_QuorTrackMetadata);
};

TEST_F(QuorTrackMetadataTest, StringFieldsFollowTheCommonRules) {
  for (const auto& f : kStringFields) {
    SCOPED_TRACE(f.name);
    I* track = m_track.Get();
    CQuorBstr out, again;
    EXPECT_EQ((track->*f.get)(out.AddressOf()), MFS_E_NO_VALUE);
    EXPECT_EQ((track->*f.get)(nullptr), E_POINTER);
    EXPECT_EQ((track->*f.set)(nullptr), E_POINTER);

    CQuorBstr embedded = CQuorBstr::Copy(std::u16string_view(u"cam\0era", 7));
    ASSERT_EQ((track->*f.set)(embedded.Get()), S_OK);
    ASSERT_EQ((track->*f.get)(out.AddressOf()), S_OK);
    EXPECT_EQ(out.View(), u"cam");
    EXPECT_NE(out.Get(), embedded.Get());

    // The getter hands out a copy: changing it leaves the field alone.
    out.Get()[0] = u'X';
    ASSERT_EQ((track->*f.get)(again.AddressOf()), S_OK);
    EXPECT_EQ(again.View(), u"cam");

    ASSERT_EQ((track->*f.set)(CQuorBstr::Copy(u"").Get()), S_OK);
    EXPECT_EQ((track->*f.get)(again.AddressOf()), MFS_E_NO_VALUE);
  }
}

TEST_F(QuorTrackMetadataTest, FiltersKeepOrderAndDuplicatesInCopies) {
  CQuorSafeArray first;
  EXPECT_EQ(m_track->GetFilters(first.AddressOf()), MFS_E_NO_VALUE);
  EXPECT_EQ(m_track->AddFilter(nullptr), E_POINTER);
  for (const char16_t* text : {u"{A}", u"{B}", u"{A}"}) {
    ASSERT_EQ(m_track->AddFilter(CQuorBstr::Copy(text).Get()), S_OK);
  }
  ASSERT_EQ(m_track->GetFilters(first.AddressOf()), S_OK);
  EXPECT_EQ(QuorStringVector(first.Get()), (std::vector<std::string>{"{A}", "{B}", "{A}"}));
  LONG lower = -1;
  EXPECT_EQ(SafeArrayGetLBound(first.Get(), 1, &lower), S_OK);
  EXPECT_EQ(lower, 0);

  LONG index = 1;
  ASSERT_EQ(SafeArrayPutElement(first.Get(), &index, CQuorBstr::Copy(u"changed").Get()), S_OK);
  CQuorSafeArray second;
  ASSERT_EQ(m_track->GetFilters(second.AddressOf()), S_OK);
  EXPECT_EQ(QuorStringVector(second.Get())[1], "{B}");
}

}  // namespace
