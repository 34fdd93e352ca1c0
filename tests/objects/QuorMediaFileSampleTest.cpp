#include <gtest/gtest.h>

#include <vector>

#include "objects/QuorMediaFileSample.h"
#include "quormediafiles/QuorMediaFilesCpp.h"
#include "support/QuorGot.h"

namespace {

using S = IQuorMediaFileSample;

class QuorMediaFileSampleTest : public ::testing::Test {
 protected:
  // Key frame, video and audio.
  std::vector<VARIANT_BOOL> GetFlags() {
    VARIANT_BOOL keyFrame = 7, video = 7, audio = 7;
    EXPECT_EQ(m_sample->GetFlags(&keyFrame, &video, &audio), S_OK);
    return {keyFrame, video, audio};
  }

  CQuorComPtr<IQuorMediaFileSample> m_sample =
      CreateObject<IQuorMediaFileSample>(CLSID_QuorMediaFileSample);
};

TEST_F(QuorMediaFileSampleTest, SetFlagsBuildsSampleFlagsAndGetFlagsReadsThemBack) {
  const std::tuple<VARIANT_BOOL, VARIANT_BOOL, VARIANT_BOOL, ULONG> kCases[] = {
      {VARIANT_TRUE, VARIANT_FALSE, VARIANT_TRUE, 0x05},
      {VARIANT_FALSE, VARIANT_TRUE, VARIANT_FALSE, 0x0A},
      {1, 1, 1, 0x07},
      {VARIANT_FALSE, VARIANT_FALSE, VARIANT_FALSE, 0x08},
  };
  ASSERT_EQ(m_sample->SetSampleFlags(0x12), S_OK);  // replaced below, frame mark included
  for (const auto& [keyFrame, video, audio, sampleFlags] : kCases) {
    SCOPED_TRACE(sampleFlags);
    ASSERT_EQ(m_sample->SetFlags(keyFrame, video, audio), S_OK);
    EXPECT_EQ(Got(m_sample.Get(), &S::GetSampleFlags), sampleFlags);
    auto norm = [](VARIANT_BOOL v) { return v ? VARIANT_TRUE : VARIANT_FALSE; };
    EXPECT_EQ(GetFlags(), std::vector<VARIANT_BOOL>({norm(keyFrame), norm(video), norm(audio)}));
  }
}

TEST_F(QuorMediaFileSampleTest, SetSampleFlagsNeedsOneBitOfEachGroup) {
  const std::pair<ULONG, bool> kCases[] = {
      {0x00, false}, {0x02, false}, {0x01, false}, {0x18, false}, {0x06, false},
      {0x03, true},  {0x0C, true},  {0x12, true},  {0x105, true}, {0xFFFFFFFF, true},
  };
  for (const auto& [flags, valid] : kCases) {
    SCOPED_TRACE(flags);
    auto sample = CreateObject<IQuorMediaFileSample>(CLSID_QuorMediaFileSample);
    ASSERT_EQ(sample->SetSampleFlags(0x05), S_OK);
    EXPECT_EQ(sample->SetSampleFlags(flags), valid ? S_OK : E_INVALIDARG);
    // Stored unchanged, other bits included.
    EXPECT_EQ(Got(sample.Get(), &S::GetSampleFlags), valid ? flags : 0x05u);
  }
  ASSERT_EQ(m_sample->SetSampleFlags(0x12), S_OK);  // a frame mark beside the video bit
  EXPECT_EQ(GetFlags(), std::vector<VARIANT_BOOL>({VARIANT_FALSE, VARIANT_TRUE, VARIANT_FALSE}));
}

TEST_F(QuorMediaFileSampleTest, PayloadIsCopiedInAndOutAndOnlyByteVectorsAreTaken) {
  EXPECT_EQ(m_sample->SetPayloadData(nullptr), E_POINTER);
  SAFEARRAY* none = nullptr;
  EXPECT_EQ(m_sample->SetPayloadData(&none), E_INVALIDARG);
  CQuorSafeArray words = CQuorSafeArray::CreateVector(VT_UI4, 0, 2);
  SAFEARRAY* psa = words.Get();
  EXPECT_EQ(m_sample->SetPayloadData(&psa), E_INVALIDARG);

  CQuorSafeArray mine = QuorByteArray(std::vector<BYTE>{1, 2, 3});
  psa = mine.Get();
  ASSERT_EQ(m_sample->SetPayloadData(&psa), S_OK);
  static_cast<BYTE*>(mine.Get()->pvData)[0] = 99;
  CQuorSafeArray out = Got(m_sample.Get(), &S::GetPayloadData);
  EXPECT_EQ(QuorBytes(out.Get()), (std::vector<BYTE>{1, 2, 3}));
  static_cast<BYTE*>(out.Get()->pvData)[1] = 99;
  EXPECT_EQ(QuorBytes(Got(m_sample.Get(), &S::GetPayloadData).Get()), (std::vector<BYTE>{1, 2, 3}));
}

TEST_F(QuorMediaFileSampleTest, PayloadIsViewedTakenAndLentWithoutCopies) {
  const auto access = QueryAs<IQuorMediaFileSampleAccess>(m_sample);
  const BYTE* data = nullptr;
  ULONG size = 0;
  EXPECT_EQ(access->GetPayloadView(&data, &size), MFS_E_NO_VALUE);

  // The array refused stays its owner's.
  EXPECT_EQ(access->TakePayload(CQuorSafeArray::CreateVector(VT_UI4, 0, 1).Get()), E_INVALIDARG);

  CQuorSafeArray bytes = QuorByteArray(std::vector<BYTE>{7, 8});
  void* const storage = bytes.Get()->pvData;
  ASSERT_EQ(access->TakePayload(bytes.Get()), S_OK);
  (void)bytes.Detach();  // the sample owns it now
  ASSERT_EQ(access->GetPayloadView(&data, &size), S_OK);
  EXPECT_EQ(data, storage);
  EXPECT_EQ(size, 2u);
  EXPECT_EQ(QuorBytes(Got(m_sample.Get(), &S::GetPayloadData).Get()), (std::vector<BYTE>{7, 8}));

  // Lent bytes replace the array taken (freed) and are seen where they lie; a copy is a copy.
  const BYTE lent[] = {1, 2, 3};
  static_cast<CQuorMediaFileSample*>(m_sample.Get())->LendPayload(lent, sizeof lent);
  ASSERT_EQ(access->GetPayloadView(&data, &size), S_OK);
  EXPECT_EQ(data, lent);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(QuorBytes(Got(m_sample.Get(), &S::GetPayloadData).Get()), (std::vector<BYTE>{1, 2, 3}));
}

}  // namespace
