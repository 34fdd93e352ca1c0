#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "core/QuorMD5Hash.h"
#include "platform/log/QuorLog.h"
#include "quormediafiles/QuorResultCodes.h"
#include "quormediafiles/platform/QuorOleAuto.h"

namespace {

// Expected digests were computed independently:
//   python3 -c "import hashlib; salt = bytes.fromhex('5a17c3e8209b4d61a60f3e72d488b12c');
//               print(hashlib.md5(salt + data).hexdigest())"
// with strings as data.encode('utf-16-le').
class QuorMD5HashTest : public ::testing::Test {
 protected:
  static std::string Hex(const BYTE* bytes, std::size_t count) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
      text += kDigits[bytes[i] >> 4];
      text += kDigits[bytes[i] & 0xF];
    }
    return text;
  }

  // The digest through GetHash, checked for its length and freed.
  static std::string Digest(CQuorMD5Hash& hash) {
    BYTE* buffer = nullptr;
    DWORD length = 0;
    EXPECT_EQ(hash.GetHash(&buffer, &length), S_OK);
    EXPECT_EQ(length, kQuorMD5DigestSize);
    std::string text = buffer ? Hex(buffer, length) : "";
    delete[] buffer;
    return text;
  }
};

TEST_F(QuorMD5HashTest, DigestsMatchIndependentlyComputedValues) {
  std::vector<BYTE> pattern(1024);
  for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<BYTE>(i % 251);
  const BYTE abc[] = {'a', 'b', 'c'};
  // Name, bytes fed through AddData (when set) and their count, text fed through AddString
  // (when set), the digest.
  const std::tuple<const char*, const BYTE*, DWORD, const char*, const char*> kCases[] = {
      // No data is MD5 of the salt alone, not MD5 of nothing (d41d8cd9...).
      {"NoData", nullptr, 0, nullptr, "62a1f10366742d6ba3bd53dfe83996c7"},
      {"EmptyDataChangesNothing", abc, 0, nullptr, "62a1f10366742d6ba3bd53dfe83996c7"},
      {"Bytes abc", abc, 3, nullptr, "5376eb6c3f3d85d544f66dc3805a2fc4"},
      {"Pattern1K", pattern.data(), 1024, nullptr, "b167598700e02760bdc6c9ca47e19de9"},
      {"String abc", nullptr, 0, "abc", "86d2678eb647b403f5adeb8754cbae41"},
      {"StringWithSurrogates", nullptr, 0, "Pässwörd€😀", "f3f702a3fe7a532738b73e1770d18e8c"},
  };
  for (const auto& [name, data, length, text, expected] : kCases) {
    SCOPED_TRACE(name);
    CQuorMD5Hash hash;
    if (data) {
      ASSERT_EQ(hash.AddData(data, length), S_OK);
    }
    if (text) {
      ASSERT_EQ(hash.AddString(CQuorBstr::FromUtf8(text).Get()), S_OK);
    }
    EXPECT_EQ(Digest(hash), expected);
  }
}

TEST_F(QuorMD5HashTest, FinishedDigestNullArgumentsAndPartialMatchesAreRefused) {
  CQuorMD5Hash hash;
  const BYTE abc[] = {'a', 'b', 'c'};
  BYTE* buffer = nullptr;
  DWORD length = 0;
  EXPECT_EQ(hash.AddData(nullptr, 0), E_POINTER);
  EXPECT_EQ(hash.AddString(nullptr), E_POINTER);
  EXPECT_EQ(hash.GetHash(nullptr, &length), E_POINTER);
  EXPECT_EQ(hash.GetHash(&buffer, nullptr), E_POINTER);
  EXPECT_FALSE(hash.IsSame(nullptr));
  BYTE digest[kQuorMD5DigestSize];
  ASSERT_EQ(hash.GetDigest(digest), S_OK);
  EXPECT_EQ(Hex(digest, sizeof digest), "62a1f10366742d6ba3bd53dfe83996c7");
  EXPECT_TRUE(FAILED(hash.AddData(abc, 3)));
  EXPECT_TRUE(FAILED(hash.AddString(CQuorBstr::Copy(u"").Get())));
  const auto capture = std::make_shared<DXL_CaptureSink>();
  const DXL_ScopedSink scope(capture);
  EXPECT_TRUE(FAILED(hash.GetDigest(digest)));
  EXPECT_EQ(capture->Entries().at(0).functionName, "CQuorMD5Hash::GetDigest");

  // After ReInitialize, IsSame compares with the whole digest: any flipped byte is a mismatch.
  for (std::size_t flipped = 0; flipped <= kQuorMD5DigestSize; ++flipped) {
    SCOPED_TRACE(flipped);
    BYTE expected[kQuorMD5DigestSize];
    std::copy(std::begin(digest), std::end(digest), expected);
    if (flipped < kQuorMD5DigestSize) expected[flipped] ^= 0x01;
    ASSERT_EQ(hash.ReInitialize(), S_OK);
    EXPECT_EQ(hash.IsSame(expected), flipped == kQuorMD5DigestSize);
  }
  ASSERT_EQ(hash.ReInitialize(), S_OK);
  ASSERT_EQ(hash.AddData(abc, 3), S_OK);
  EXPECT_EQ(Digest(hash), "5376eb6c3f3d85d544f66dc3805a2fc4");
}

}  // namespace
