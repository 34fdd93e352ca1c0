#include <gtest/gtest.h>

#include <string>

#include "core/LoggedException.h"
#include "core/QuorMessageCatalogue.h"
#include "quormediafiles/QuorResultCodes.h"

namespace {

class QuorMessageCatalogueTest : public ::testing::Test {};

TEST_F(QuorMessageCatalogueTest, GapsHaveNoTextAndPlaceholdersAreFilled) {
  for (const QuorMessageId id : {0, 101, 10131, 10183, 10277, 0xFFFF}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(QuorLoadMessage(id), "");
    EXPECT_EQ(QuorFormatMessage(id, 1), "");
  }
  EXPECT_EQ(QuorFormatMessage(10173, 3, 0x0000ABCDu),
            "CQuorMediaFileReader::MoveTo method succeeded for track ID:3, Timestamp: 0x0000ABCD");
  EXPECT_EQ(QuorFormatMessage(10137, 2, "a.qmf"),
            "CQuorMediaFileReader::GetFileNames method succeeded- file 1 of 2 is a.qmf");
  EXPECT_EQ(QuorFormatMessage(10263, static_cast<unsigned>(MFS_E_BAD_FORMAT)),
            "Error- AuthenticateFile method failed with result 0x8004F009");
}

// Helpers for the propagation macros: each returns what its macro made of hr.
HRESULT ReturnIfFailed(HRESULT hr) {
  QUOR_RETURN_IF_FAILED(hr);
  return S_OK;
}

HRESULT RaiseIfFailed(HRESULT hr) {
  try {
    QUOR_RAISE_IF_FAILED(hr, 10250);
    return S_OK;
  } catch (const CLoggedException& e) {
    EXPECT_EQ(e.Message(), "Error- Cannot open file");
    return e.Hr();
  }
}

TEST_F(QuorMessageCatalogueTest, MacrosPassFailuresOnAndLetSuccessCodesThrough) {
  const HRESULT kCodes[] = {S_OK, S_FALSE, MFS_S_NEXT_FILE, E_POINTER,
                            HRESULT_FROM_WIN32(ERROR_DISK_FULL)};
  for (HRESULT hr : kCodes) {
    SCOPED_TRACE(hr);
    const HRESULT expected = FAILED(hr) ? hr : S_OK;
    EXPECT_EQ(ReturnIfFailed(hr), expected);
    EXPECT_EQ(RaiseIfFailed(hr), expected);
  }
}

}  // namespace
