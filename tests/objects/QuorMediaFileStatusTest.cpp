#include <gtest/gtest.h>

#include "objects/QuorObjectsTestHelpers.h"

namespace {

class QuorMediaFileStatusTest : public ::testing::Test {
 protected:
  CQuorComPtr<IQuorMediaFileStatus> m_status =
      CreateObject<IQuorMediaFileStatus>(CLSID_QuorMediaFileStatus);
};

TEST_F(QuorMediaFileStatusTest, FileIndexIsUnsetOnlyAtAllOnes) {
  ULONG index = 5;
  EXPECT_EQ(m_status->GetFileIndex(nullptr), E_POINTER);
  EXPECT_EQ(m_status->GetFileIndex(&index), MFS_E_NOT_SET);
  ASSERT_EQ(m_status->SetFileIndex(0), S_OK);
  EXPECT_EQ(m_status->GetFileIndex(&index), S_OK);
  EXPECT_EQ(index, 0u);
  ASSERT_EQ(m_status->SetFileIndex(0xFFFFFFFF), S_OK);
  EXPECT_EQ(m_status->GetFileIndex(&index), MFS_E_NOT_SET);
}

TEST_F(QuorMediaFileStatusTest, StatusFlagsAreUnsetUntilStoredThenKeptWhole) {
  ULONG flags = 5;
  EXPECT_EQ(m_status->GetStatusFlags(&flags), MFS_E_NOT_SET);
  for (ULONG stored : {0x0u, 0x3Fu, 0xFFFFFFFFu}) {
    SCOPED_TRACE(stored);
    ASSERT_EQ(m_status->SetStatusFlags(stored), S_OK);
    EXPECT_EQ(m_status->GetStatusFlags(&flags), S_OK);
    EXPECT_EQ(flags, stored);
  }
}

}  // namespace
