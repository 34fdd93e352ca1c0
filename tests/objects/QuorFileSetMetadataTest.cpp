#include <gtest/gtest.h>

#include "objects/QuorObjectsTestHelpers.h"
#include "quormediafiles/QuorMediaFilesInternal.h"

namespace {

class QuorFileSetMetadataTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(m_metadata.As(&m_setters), S_OK); }

  CQuorComPtr<IQuorFileSetMetadata> m_metadata =
      CreateObject<IQuorFileSetMetadata>(CLSID_QuorFileSetMetadata);
  CQuorComPtr<IQuorFileSetMetadataInt> m_setters;
};

TEST_F(QuorFileSetMetadataTest, ValuesAreUnsetUntilTheInternalSettersFillThem) {
  CQuorBstr text;
  ULONGLONG time = 0;
  VARIANT_BOOL flag = 7;
  EXPECT_EQ(m_metadata->GetFileSetGuid(text.AddressOf()), MFS_E_NO_VALUE);
  EXPECT_EQ(m_metadata->GetFileSetDescription(text.AddressOf()), MFS_E_NO_VALUE);
  EXPECT_EQ(m_metadata->GetFileSetCreationTime(&time), MFS_E_NO_VALUE);
  EXPECT_EQ(m_metadata->IsPasswordProtected(&flag), MFS_E_NO_VALUE);
  EXPECT_EQ(m_metadata->IsFileSetComplete(nullptr), E_POINTER);
  EXPECT_EQ(m_metadata->IsFileSetComplete(&flag), S_OK);
  EXPECT_EQ(flag, VARIANT_FALSE);

  // The values the setters store come back through the reader's tests.
  ASSERT_EQ(m_setters->SetFileSetComplete(VARIANT_TRUE), S_OK);
  EXPECT_EQ(m_setters->SetFilesetDescription(nullptr), E_POINTER);
  ASSERT_EQ(m_metadata->IsFileSetComplete(&flag), S_OK);
  EXPECT_EQ(flag, VARIANT_TRUE);
}

}  // namespace
