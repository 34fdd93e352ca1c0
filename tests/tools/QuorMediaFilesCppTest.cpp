// The C++ convenience layer, for what the tool's tests do not reach through the tool: the text
// of a failure with and without error information, conversions that must refuse, and a getter
// that fails rather than having no value. The code names, the arrays of ids, names and payloads
// and the optional values of a recording are checked where the tool prints them.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "quormediafiles/QuorMediaFilesCpp.h"

namespace {

TEST(QuorMediaFilesCppTest, CheckNamesTheThreadsErrorDescriptionOrElseTheOperation) {
  CQuorComPtr<ICreateErrorInfo> create;
  ASSERT_EQ(CreateErrorInfo(create.AddressOf()), S_OK);
  CQuorBstr text = QuorBstr("Error getting Valid Password Hash");
  ASSERT_EQ(create->SetDescription(text.Get()), S_OK);
  CQuorComPtr<IErrorInfo> info;
  ASSERT_EQ(create.As(&info), S_OK);
  ASSERT_EQ(SetErrorInfo(0, info.Get()), S_OK);
  // The record is taken: a second failure without one names the operation instead.
  const std::pair<HRESULT, const char*> kFailures[] = {
      {MFS_E_BAD_PASSWORD, "MFS_E_BAD_PASSWORD (0x8004F008): Error getting Valid Password Hash"},
      {static_cast<HRESULT>(0x8004F0FFu), "0x8004F0FF: Write failed"}};
  for (const auto& [hr, what] : kFailures) {
    try {
      QuorCheck(hr, "Write");
      ADD_FAILURE() << "no exception";
    } catch (const CQuorError& e) {
      EXPECT_STREQ(e.what(), what);
      EXPECT_EQ(e.Code(), hr);
    }
  }
  EXPECT_EQ(QuorCheck(MFS_S_NEXT_FILE, "Write"), MFS_S_NEXT_FILE);
}

TEST(QuorMediaFilesCppTest, ArraysConvertOnlyToTheirOwnElementType) {
  for (const std::vector<std::uint8_t>& payload : {std::vector<std::uint8_t>{}, {0, 255, 128}}) {
    EXPECT_EQ(QuorBytes(QuorByteArray(payload).Get()), payload);
  }
  EXPECT_TRUE(QuorBytes(nullptr).empty());
  CQuorSafeArray ids = CQuorSafeArray::CreateVector(VT_UI4, 0, 3);
  EXPECT_EQ(QuorU32Vector(ids.Get()), (std::vector<ULONG>{0, 0, 0}));
  EXPECT_THROW(QuorBytes(ids.Get()), CQuorError) << "element size mismatch";
}

TEST(QuorMediaFilesCppTest, OptionalGettersTellAbsentFromFailed) {
  EXPECT_FALSE(QuorGetOptional<ULONG>([](ULONG*) { return MFS_E_NO_VALUE; }, "Get"));
  EXPECT_THROW(QuorGetOptional<ULONG>([](ULONG*) { return E_POINTER; }, "Get"), CQuorError);
  EXPECT_FALSE(QuorGetOptionalString([](BSTR*) { return MFS_E_NO_VALUE; }, "Get"));
  EXPECT_THROW(QuorGetOptionalString([](BSTR*) { return E_FAIL; }, "Get"), CQuorError);
}

}  // namespace
