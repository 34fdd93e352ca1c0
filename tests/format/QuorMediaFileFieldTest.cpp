#include "format/QuorBlockFixture.h"
#include "format/QuorMediaFileField.h"

class QuorMediaFileFieldTest : public QuorBlockFixture {};

TEST_F(QuorMediaFileFieldTest, SetAcceptsOnlyTheLengthsOfTheTagTable) {
  const Bytes big(40000, 0x5A);
  struct Case {
    const char* name;
    DWORD tag;
    DWORD length;
    HRESULT expected;
  };
  const Case kCases[] = {
      {"DescriptionEmpty", kTagDescription, 0, E_INVALIDARG},
      {"DescriptionAtLimit", kTagDescription, 32768, S_OK},
      {"DescriptionOverLimit", kTagDescription, 32769, E_INVALIDARG},
      {"BlockIndexOf8", kTagBlockIndex, 8, E_INVALIDARG},
      {"OpaqueOf1", kTagOpaque, 1, S_OK},
      {"PayloadOf40000", kTagPayload, 40000, S_OK},
      {"HashOf15", kTagBlockHash, 15, E_INVALIDARG},
      {"Tag0x0302", 0x0302, 4, E_INVALIDARG},
      {"Tag0x0201", 0x0201, 4, E_INVALIDARG},
      {"Tag0", 0, 4, E_INVALIDARG},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    CQuorMediaFileField field;
    const BYTE before[4] = {9, 9, 9, 9};
    ASSERT_EQ(field.Set(kTagTrackId, 4, before, true), S_OK);
    EXPECT_EQ(field.Set(c.tag, c.length, big.data(), true), c.expected);
    if (c.expected == S_OK) {
      EXPECT_EQ(field.GetTag(), c.tag);
      EXPECT_EQ(field.GetLength(), c.length);
    } else {  // a refused Set leaves the field as it was
      EXPECT_EQ(field.GetTag(), kTagTrackId);
      EXPECT_EQ(Bytes(field.GetValue(), field.GetValue() + 4), Bytes(before, before + 4));
    }
  }
  CQuorMediaFileField field;
  EXPECT_EQ(field.Set(kTagTrackId, 4, nullptr, true), E_INVALIDARG);
}

TEST_F(QuorMediaFileFieldTest, ReadAcceptsOnlyTheTagsAndLengthsOfTheTagTable) {
  struct Case {
    const char* name;
    Bytes bytes;
    HRESULT expected;
  };
  auto raw = [](DWORD tag, DWORD length, std::size_t present) {
    Bytes bytes = U32(tag);
    Append(bytes, U32(length));
    Append(bytes, Bytes(present, 0x41));
    return bytes;
  };
  const Case kCases[] = {
      {"DescriptionEmpty", raw(kTagDescription, 0, 0), S_OK},
      {"DescriptionAtLimit", raw(kTagDescription, 32768, 32768), S_OK},
      {"DescriptionOverLimit", raw(kTagDescription, 32769, 32769), MFS_E_BAD_FORMAT},
      {"Tag0x0302", raw(0x0302, 4, 4), MFS_E_BAD_FORMAT},
      {"Tag0x0303", raw(0x0303, 4, 4), S_OK},
      {"Tag0x0201", raw(0x0201, 4, 4), MFS_E_BAD_FORMAT},
      {"BlockIndexOf8", raw(kTagBlockIndex, 8, 8), MFS_E_BAD_FORMAT},
      {"OpaqueOf1", raw(kTagOpaque, 1, 1), S_OK},
      {"ValueCutOff", raw(kTagPayload, 100, 60), HRESULT_FROM_WIN32(ERROR_HANDLE_EOF)},
      {"SmallValueCutOff", raw(kTagTrackId, 4, 2), HRESULT_FROM_WIN32(ERROR_HANDLE_EOF)},
      {"HugeLengthWord", raw(kTagPayload, 0xFFFFFFF0, 10), HRESULT_FROM_WIN32(ERROR_HANDLE_EOF)},
      {"LengthWordCutOff", Bytes{0x05, 0x02, 0, 0, 4}, HRESULT_FROM_WIN32(ERROR_HANDLE_EOF)},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    CQuorMediaFileField field;
    EXPECT_EQ(ReadBlock(field, c.bytes), c.expected);
    EXPECT_EQ(field.IsLoaded(), c.expected == S_OK);
    if (c.expected == S_OK) {
      EXPECT_EQ(Bytes(field.GetValue(), field.GetValue() + field.GetLength()),
                Bytes(c.bytes.begin() + kFieldHeaderSize, c.bytes.end()));
    }
  }
}

TEST_F(QuorMediaFileFieldTest, WriteAndAddToHashProduceTheSameBytes) {
  CQuorMediaFileField field;
  const BYTE five[4] = {5, 0, 0, 0};
  ASSERT_EQ(field.Set(kTagFileSetIndex, 4, five, true), S_OK);
  const Bytes expected = {0x02, 0x01, 0, 0, 0x04, 0, 0, 0, 0x05, 0, 0, 0};
  EXPECT_EQ(WriteBlock(field), expected);

  CQuorMD5Hash hash;
  BYTE digest[kQuorMD5DigestSize];
  ASSERT_EQ(field.AddToHash(hash), S_OK);
  ASSERT_EQ(hash.GetDigest(digest), S_OK);
  EXPECT_EQ(Bytes(digest, digest + kQuorMD5DigestSize), Digest(expected.data(), expected.size()));
}

TEST_F(QuorMediaFileFieldTest, AFieldThatWasNeverSetWritesAndHashesNothing) {
  CQuorMediaFileField field;
  EXPECT_TRUE(WriteBlock(field, MFS_E_WRONG_STATE).empty());
  CQuorMD5Hash hash;
  EXPECT_EQ(field.AddToHash(hash), MFS_E_WRONG_STATE);
  EXPECT_EQ(field.Write(nullptr), E_POINTER);
}
