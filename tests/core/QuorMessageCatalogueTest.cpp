#include <gtest/gtest.h>

#include <array>
#include <string>

#include "core/QuorMessageCatalogue.h"
#include "quormediafiles/QuorResultCodes.h"

namespace {

// What a QuorMessage constant refuses to compile with: placeholders out of step with its
// argument types.
using quor_message_detail::PlaceholdersMatch;
static_assert(PlaceholdersMatch("100%% of %i, 0x%08X", std::array<char, 2>{'i', 'X'}));
static_assert(!PlaceholdersMatch("%i then %s", std::array<char, 2>{'s', 'i'}));
static_assert(!PlaceholdersMatch("id %i", std::array<char, 0>{}));
static_assert(!PlaceholdersMatch("no placeholder", std::array<char, 1>{'i'}));

TEST(QuorMessageCatalogueTest, LookupAndFormattingUseTheNamedTexts) {
  for (const QuorMessageId id : {0, 101, 10131, 10183, 10277, 0xFFFF}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(QuorLoadMessage(id), "");
  }
  EXPECT_EQ(QuorLoadMessage(kNullFileNamesOut.Id()), kNullFileNamesOut.Text());
  EXPECT_EQ(kReaderMoveToSucceeded.Format(3, 0x0000ABCDu),
            "CQuorMediaFileReader::MoveTo method succeeded for track ID:3, Timestamp: 0x0000ABCD");
  EXPECT_EQ(kReaderGetFileNamesSucceeded.Format(2, "a.qmf"),
            "CQuorMediaFileReader::GetFileNames method succeeded- file 1 of 2 is a.qmf");
  EXPECT_EQ(kAuthenticateFileFailed.Format(static_cast<std::uint32_t>(MFS_E_BAD_FORMAT)),
            "Error- AuthenticateFile method failed with result 0x8004F009");
}

}  // namespace
