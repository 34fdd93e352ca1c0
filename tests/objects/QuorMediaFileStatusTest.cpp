#include <gtest/gtest.h>

#include "objects/QuorObjectsTestHelpers.h"

namespace {

class QuorMediaFileStatusTest : public ::testing::Test {
 protected:
  CQuorComPtr<IQuorMediaFileStatus> m_status =
      CreateObject<IQuorMediaFileStatus>(CLSID_QuorMediaFileStatus);
};

TEST_F(QuorMediaFileStatusTest, FileIndexIsUnsetAtAllOnesAndFlagsUntilStored) {
  ULONG value = 5;
  EXPECT_EQ(m_status->GetFileIndex(nullptr), E_POINTER);
  EXPECT_EQ(m_status->GetFileIndex(&value), MFS_E_NOT_SET);
  EXPECT_EQ(m_status->GetStatusFlags(&value), MFS_E_NOT_SET);
  for (ULONG stored : {0x0u, 0x3Fu, 0xFFFFFFFFu}) {
    SCOPED_TRACE(stored);
    ASSERT_EQ(m_status->SetFileIndex(stored), S_OK);
    EXPECT_EQ(m_status->GetFileIndex(&value), stored == 0xFFFFFFFFu ? MFS_E_NOT_SET : S_OK);
    if (stored != 0xFFFFFFFFu) {
      EXPECT_EQ(value, stored);
    }
    ASSERT_EQ(m_status->SetStatusFlags(stored), S_OK);
    EXPECT_EQ(m_status->GetStatusFlags(&value), S_OK);
    EXPECT_EQ(value, stored);
  }
}

}  // namespace
