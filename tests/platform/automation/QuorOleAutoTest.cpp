#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "quormediafiles/platform/QuorOleAuto.h"

namespace {

TEST(QuorOleAutoTest, BstrCarriesLengthPrefixTerminatorAndEmbeddedNuls) {
  CQuorBstr s = CQuorBstr::Copy(u"abc");
  EXPECT_EQ(SysStringLen(s.Get()), 3u);
  EXPECT_EQ(SysStringByteLen(s.Get()), 6u);
  std::uint32_t prefix = 0;
  std::memcpy(&prefix, reinterpret_cast<const char*>(s.Get()) - 4, 4);
  EXPECT_EQ(prefix, 6u);
  EXPECT_EQ(s.Get()[3], u'\0');
  s.Attach(SysAllocStringLen(u"a\0b", 3));
  EXPECT_EQ(s.View(), std::u16string_view(u"a\0b", 3));
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);
  *s.AddressOf() = SysAllocStringLen(nullptr, 2);  // the old string is freed first
  EXPECT_EQ(s.View(), std::u16string_view(u"\0\0", 2));
  CQuorBstr moved = std::move(s);
  EXPECT_FALSE(s);
  BSTR raw = moved.Detach();
  EXPECT_FALSE(moved);
  SysFreeString(raw);
}

TEST(QuorOleAutoTest, Utf8ConvertsWithSurrogatePairsAndIllFormedTextBecomesReplacements) {
  const std::string utf8 = "dir/Pässwörd€😀.qmf";
  const std::u16string utf16 = u"dir/Pässwörd€😀.qmf";
  EXPECT_EQ(QuorUtf8ToUtf16(utf8), utf16);
  EXPECT_EQ(QuorUtf16ToUtf8(utf16), utf8);
  EXPECT_EQ(CQuorBstr::FromUtf8(utf8).ToUtf8(), utf8);
  EXPECT_EQ(QuorBstrToUtf8(nullptr), "");
  const std::tuple<const char*, std::string, std::u16string> kCases[] = {
      {"StrayContinuation", "a\x80z", u"a\uFFFDz"},
      {"TruncatedAtEnd", "a\xE2\x82", u"a\uFFFD"},
      {"TruncatedBeforeAscii", "\xE2\x82z", u"\uFFFDz"},
      {"Overlong", "\xC0\xAF", u"\uFFFD"},
      {"EncodedSurrogate", "\xED\xA0\x80", u"\uFFFD"},
  };
  for (const auto& [name, illFormed, expected] : kCases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(QuorUtf8ToUtf16(illFormed), expected);
  }
  const char16_t lone[] = {u'a', 0xD800, u'b', 0};
  EXPECT_EQ(QuorUtf16ToUtf8(lone), std::string("a\xEF\xBF\xBD") + "b");
}

TEST(QuorOleAutoTest, LockedArrayCannotBeDestroyedOrResized) {
  SAFEARRAY* a = SafeArrayCreateVector(VT_UI1, 0, 4);
  void* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(a, &data), S_OK);
  SAFEARRAYBOUND bound{8, 0};
  EXPECT_EQ(SafeArrayDestroy(a), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(SafeArrayRedim(a, &bound), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(SafeArrayUnaccessData(a), S_OK);
  EXPECT_EQ(SafeArrayUnlock(a), E_UNEXPECTED);
  EXPECT_EQ(SafeArrayDestroy(a), S_OK);
  EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
}

TEST(QuorOleAutoTest, ElementsAndArrayCopiesAreDeepAndRedimKeepsThePrefix) {
  CQuorSafeArray a = CQuorSafeArray::CreateVector(VT_BSTR, 0, 3);
  for (LONG i = 0; i < 3; ++i) {
    CQuorBstr s = CQuorBstr::FromUtf8(std::string(1, static_cast<char>('a' + i)));
    ASSERT_EQ(SafeArrayPutElement(a.Get(), &i, s.Get()), S_OK);
  }  // the array holds its own copies
  LONG index = 1;
  CQuorBstr name = CQuorBstr::Copy(u"b");
  ASSERT_EQ(SafeArrayPutElement(a.Get(), &index, name.Get()), S_OK);  // replaces, frees old
  index = 3;
  CQuorBstr out;
  EXPECT_EQ(SafeArrayGetElement(a.Get(), &index, out.AddressOf()), DISP_E_BADINDEX);
  index = -1;
  EXPECT_EQ(SafeArrayPutElement(a.Get(), &index, name.Get()), DISP_E_BADINDEX);
  CQuorSafeArray copy;
  ASSERT_EQ(SafeArrayCopy(a.Get(), copy.AddressOf()), S_OK);
  a = CQuorSafeArray();  // the copy must not share strings with the original
  SAFEARRAYBOUND grow{5, 0};
  ASSERT_EQ(SafeArrayRedim(copy.Get(), &grow), S_OK);
  EXPECT_EQ(copy.Count(), 5u);
  for (LONG i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(SafeArrayGetElement(copy.Get(), &i, out.AddressOf()), S_OK);
    EXPECT_EQ(out.ToUtf8(), i < 3 ? std::string(1, static_cast<char>('a' + i)) : "");
  }
  SAFEARRAYBOUND shrink{1, 0};
  ASSERT_EQ(SafeArrayRedim(copy.Get(), &shrink), S_OK);  // frees "b" and "c"
  LONG upper = -1;
  ASSERT_EQ(SafeArrayGetUBound(copy.Get(), 1, &upper), S_OK);
  EXPECT_EQ(upper, 0);

  CQuorSafeArray words = CQuorSafeArray::CreateVector(VT_UI4, 0, 2);
  DWORD value = 0xA1B2C3D4;
  index = 1;
  ASSERT_EQ(SafeArrayPutElement(words.Get(), &index, &value), S_OK);
  CQuorSafeArray wordsCopy;
  ASSERT_EQ(SafeArrayCopy(words.Get(), wordsCopy.AddressOf()), S_OK);
  DWORD read = 0;
  ASSERT_EQ(SafeArrayGetElement(wordsCopy.Get(), &index, &read), S_OK);
  EXPECT_EQ(read, value);
}

}  // namespace
