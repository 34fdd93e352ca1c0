#include <gtest/gtest.h>

#include <string>

#include "core/LoggedException.h"
#include "core/QuorMessageCatalogue.h"
#include "quormediafiles/QuorResultCodes.h"

namespace {

class QuorMessageCatalogueTest : public ::testing::Test {};

TEST_F(QuorMessageCatalogueTest, TextsAreExactAndPlaceholdersFilled) {
  struct Case {
    QuorMessageId id;
    std::string text;
  };
  const Case kCases[] = {
      {102, "Error- Cannot perform this operation - File Size Limit too small or no file space"},
      {10116,
       "Error CQuorMediaFileTrack::GetTrackInfo() Read Track IDs  failed with result 0x%08X"},
      {10121, "OpenFileset method succeeded-  filename: %s"},
      {10190, "Error- Cannot perfom this operation- Writing is in progress"},
      {10208, "Error - No Media Types are set "},
      {10276, "Error - Cannot cancel Authentication- it is not currently in progress"},
      // Gaps and ids past either end have no text.
      {0, ""},
      {101, ""},
      {10131, ""},
      {10183, ""},
      {10277, ""},
      {0xFFFF, ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.id);
    EXPECT_EQ(QuorLoadMessage(c.id), c.text);
    if (c.text.empty()) {
      EXPECT_EQ(QuorFormatMessage(c.id, 1), "");
    }
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
