// The C++ convenience layer: the error text applications print (the code names themselves are
// checked where the tool prints them) and the conversions between automation arrays and standard
// containers.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "quormediafiles/QuorMediaFilesCpp.h"

namespace {

TEST(QuorMediaFilesCppTest, CheckThrowsWithNameCodeAndTheThreadsErrorDescription) {
  CQuorComPtr<ICreateErrorInfo> create;
  ASSERT_EQ(CreateErrorInfo(create.AddressOf()), S_OK);
  CQuorBstr text = QuorBstr("Error getting Valid Password Hash");
  ASSERT_EQ(create->SetDescription(text.Get()), S_OK);
  CQuorComPtr<IErrorInfo> info;
  ASSERT_EQ(create.As(&info), S_OK);
  ASSERT_EQ(SetErrorInfo(0, info.Get()), S_OK);
  try {
    QuorCheck(MFS_E_BAD_PASSWORD, "OpenFileSet");
    FAIL() << "no exception";
  } catch (const CQuorError& e) {
    EXPECT_STREQ(e.what(), "MFS_E_BAD_PASSWORD (0x8004F008): Error getting Valid Password Hash");
    EXPECT_EQ(e.Code(), MFS_E_BAD_PASSWORD);
  }
  // The record was taken: a second failure without one names the operation instead.
  try {
    QuorCheck(static_cast<HRESULT>(0x8004F0FFu), "Write");
    FAIL() << "no exception";
  } catch (const CQuorError& e) {
    EXPECT_STREQ(e.what(), "0x8004F0FF: Write failed");
  }
  EXPECT_EQ(QuorCheck(MFS_S_NEXT_FILE, "Write"), MFS_S_NEXT_FILE);
}

TEST(QuorMediaFilesCppTest, ArraysRoundTripThroughStandardContainers) {
  const std::vector<std::vector<std::uint8_t>> kPayloads = {{}, {7}, {0, 1, 2, 255, 128, 64}};
  for (const auto& payload : kPayloads) {
    SCOPED_TRACE(payload.size());
    CQuorSafeArray array = QuorByteArray(payload);
    EXPECT_EQ(array.Count(), payload.size());
    EXPECT_EQ(QuorBytes(array.Get()), payload);
  }
  EXPECT_TRUE(QuorBytes(nullptr).empty());

  CQuorSafeArray ids = CQuorSafeArray::CreateVector(VT_UI4, 0, 3);
  for (LONG i = 0; i < 3; ++i) {
    ULONG value = 10u * static_cast<ULONG>(i + 1);
    ASSERT_EQ(SafeArrayPutElement(ids.Get(), &i, &value), S_OK);
  }
  EXPECT_EQ(QuorU32Vector(ids.Get()), (std::vector<ULONG>{10, 20, 30}));
  EXPECT_THROW(QuorBytes(ids.Get()), CQuorError) << "element size mismatch";

  CQuorSafeArray names = CQuorSafeArray::CreateVector(VT_BSTR, 0, 2);
  const char* kNames[] = {"cam.qmf", "caméra1.qmf"};
  for (LONG i = 0; i < 2; ++i) {
    CQuorBstr name = QuorBstr(kNames[i]);
    ASSERT_EQ(SafeArrayPutElement(names.Get(), &i, name.Get()), S_OK);
  }
  EXPECT_EQ(QuorStringVector(names.Get()), (std::vector<std::string>{kNames[0], kNames[1]}));
}

TEST(QuorMediaFilesCppTest, OptionalGettersTellAbsentFromFailed) {
  EXPECT_EQ(QuorGetOptional<ULONG>(
                [](ULONG* p) {
                  *p = 5;
                  return S_OK;
                },
                "Get"),
            5u);
  EXPECT_FALSE(QuorGetOptional<ULONG>([](ULONG*) { return MFS_E_NO_VALUE; }, "Get"));
  EXPECT_THROW(QuorGetOptional<ULONG>([](ULONG*) { return E_POINTER; }, "Get"), CQuorError);
  EXPECT_FALSE(QuorGetOptionalString([](BSTR*) { return MFS_E_NO_VALUE; }, "Get"));
  EXPECT_EQ(QuorGetOptionalString(
                [](BSTR* p) {
                  *p = QuorBstrFromUtf8("url");
                  return S_OK;
                },
                "Get"),
            "url");
}

}  // namespace
