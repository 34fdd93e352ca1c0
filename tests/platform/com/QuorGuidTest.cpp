#include <gtest/gtest.h>

#include <string>

#include "quormediafiles/platform/QuorErrorInfo.h"
#include "quormediafiles/platform/QuorGuid.h"
#include "quormediafiles/platform/QuorOleAuto.h"

namespace {

TEST(QuorGuidTest, TextRoundTripsForRandomGuids) {
  for (int i = 0; i < 32; ++i) {
    GUID guid{};
    ASSERT_EQ(CoCreateGuid(&guid), S_OK);
    EXPECT_EQ(guid.Data3 >> 12, 4);         // version 4
    EXPECT_EQ(guid.Data4[0] & 0xC0, 0x80);  // RFC 4122 variant
    OLECHAR text[kGuidStringBufferSize];
    EXPECT_EQ(StringFromGUID2(guid, text, kGuidStringBufferSize - 1), 0);  // no room for the NUL
    ASSERT_EQ(StringFromGUID2(guid, text, kGuidStringBufferSize), 39);
    GUID parsed{};
    ASSERT_EQ(IIDFromString(text, &parsed), S_OK);
    EXPECT_EQ(parsed, guid);
    ASSERT_EQ(QuorGuidFromString(QuorGuidToString(guid), &parsed), S_OK);
    EXPECT_EQ(parsed, guid);
  }
}

// The text is upper case.
TEST(QuorGuidTest, ParsingAcceptsEitherCaseAndRefusesMalformedText) {
  GUID parsed{};
  ASSERT_EQ(CLSIDFromString(u"{1cf2b120-547d-101b-8e65-08002b2bd119}", &parsed), S_OK);
  EXPECT_EQ(parsed, IID_IErrorInfo);
  EXPECT_EQ(QuorGuidToString(parsed), "{1CF2B120-547D-101B-8E65-08002B2BD119}");
  const char16_t* kBad[] = {
      u"1CF2B120-547D-101B-8E65-08002B2BD119",     // no braces
      u"{1CF2B120-547D-101B-8E65-08002B2BD11}",    // one digit short
      u"{1CF2B120-547D-101B-8E65-08002B2BD1190}",  // one digit long
      u"{1CF2B120_547D-101B-8E65-08002B2BD119}",   // wrong separator
      u"{1CF2B12G-547D-101B-8E65-08002B2BD119}",   // not a hex digit
      u"",
  };
  for (const char16_t* text : kBad) {
    SCOPED_TRACE(QuorUtf16ToUtf8(text));
    EXPECT_EQ(IIDFromString(text, &parsed), E_INVALIDARG);
    EXPECT_EQ(CLSIDFromString(text, &parsed), CO_E_CLASSSTRING);
  }
  EXPECT_EQ(IIDFromString(nullptr, &parsed), S_OK);
  EXPECT_EQ(parsed, GUID_NULL);
  EXPECT_EQ(QuorGuidFromString("{0}", &parsed), E_INVALIDARG);
}

}  // namespace
