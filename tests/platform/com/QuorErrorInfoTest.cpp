#include <gtest/gtest.h>

#include <thread>

#include "quormediafiles/platform/QuorErrorInfo.h"
#include "quormediafiles/platform/QuorOleAuto.h"
#include "support/QuorGot.h"

namespace {

class QuorErrorInfoTest : public ::testing::Test {
 protected:
  void TearDown() override { (void)SetErrorInfo(0, nullptr); }  // leave the thread clean

  // Sets the thread's record to one with this description and interface id.
  static void SetRecord(const char16_t* description, REFIID iid) {
    ICreateErrorInfo* create = nullptr;
    ASSERT_EQ(CreateErrorInfo(&create), S_OK);
    ASSERT_EQ(create->SetGUID(iid), S_OK);
    ASSERT_EQ(create->SetSource(const_cast<LPOLESTR>(u"Quor.Test")), S_OK);
    ASSERT_EQ(create->SetDescription(const_cast<LPOLESTR>(description)), S_OK);
    IErrorInfo* info = nullptr;
    ASSERT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)), S_OK);
    create->Release();
    ASSERT_EQ(SetErrorInfo(0, info), S_OK);
    info->Release();  // the thread holds the only reference now
  }
};

TEST_F(QuorErrorInfoTest, NewestRecordIsHandedOutOnceWithItsFields) {
  SetRecord(u"older", GUID_NULL);
  SetRecord(u"Error - Null ppsaFileNames Passed", IID_ICreateErrorInfo);
  IErrorInfo* info = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  CQuorBstr description, helpFile;
  EXPECT_EQ(info->GetDescription(description.AddressOf()), S_OK);
  EXPECT_EQ(info->GetHelpFile(helpFile.AddressOf()), S_OK);
  EXPECT_EQ(description.View(), u"Error - Null ppsaFileNames Passed");
  EXPECT_FALSE(helpFile);
  info->Release();

  EXPECT_EQ(GetErrorInfo(0, &info), S_FALSE);
  EXPECT_EQ(info, nullptr);
}

TEST_F(QuorErrorInfoTest, EachThreadSeesOnlyItsOwnRecord) {
  SetRecord(u"main", GUID_NULL);
  std::string seenByOther = "?";
  std::thread other([&] {
    seenByOther = LastErrorText();   // nothing set on this thread
    SetRecord(u"other", GUID_NULL);  // released when the thread ends
  });
  other.join();
  EXPECT_EQ(seenByOther, "");
  EXPECT_EQ(LastErrorText(), "main");
}

}  // namespace
