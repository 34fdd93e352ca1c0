#include "format/QuorBlockFixture.h"
#include "format/QuorMediaFileField.h"

class QuorMediaFileFieldTest : public QuorBlockFixture {};

// The tag table decides both what Set accepts and what Read takes from a file; the two differ
// only for an empty description, which a file may hold.
TEST_F(QuorMediaFileFieldTest, SetAndReadAcceptOnlyTheTagsAndLengthsOfTheTagTable) {
  const Bytes big(40000, 0x5A);
  const HRESULT kBad = MFS_E_BAD_FORMAT;
  const std::tuple<const char*, DWORD, DWORD, HRESULT, HRESULT> kCases[] = {
      {"DescriptionEmpty", kTagDescription, 0, E_INVALIDARG, S_OK},
      {"DescriptionAtLimit", kTagDescription, 32768, S_OK, S_OK},
      {"DescriptionOverLimit", kTagDescription, 32769, E_INVALIDARG, kBad},
      {"BlockIndexOf8", kTagBlockIndex, 8, E_INVALIDARG, kBad},
      {"OpaqueOf1", kTagOpaque, 1, S_OK, S_OK},
      {"PayloadOf40000", kTagPayload, 40000, S_OK, S_OK},
      {"HashOf15", kTagBlockHash, 15, E_INVALIDARG, kBad},
      {"Tag0x0303", 0x0303, 4, S_OK, S_OK},
      {"Tag0x0302", 0x0302, 4, E_INVALIDARG, kBad},
      {"Tag0x0201", 0x0201, 4, E_INVALIDARG, kBad},
      {"Tag0", 0, 4, E_INVALIDARG, kBad},
  };
  for (const auto& [name, tag, length, setHr, readHr] : kCases) {
    SCOPED_TRACE(name);
    CQuorMediaFileField field;
    const BYTE before[4] = {9, 9, 9, 9};
    ASSERT_EQ(field.Set(kTagTrackId, 4, before, true), S_OK);
    EXPECT_EQ(field.Set(tag, length, big.data(), true), setHr);
    if (setHr == S_OK) {
      EXPECT_EQ(field.GetTag(), tag);
      EXPECT_EQ(field.GetLength(), length);
    } else {  // a refused Set leaves the field as it was
      EXPECT_EQ(field.GetTag(), kTagTrackId);
      EXPECT_EQ(Bytes(field.GetValue(), field.GetValue() + 4), Bytes(before, before + 4));
    }
    Bytes bytes;
    AppendField(bytes, tag, Bytes(big.begin(), big.begin() + length));
    CQuorMediaFileField read;
    EXPECT_EQ(ReadBlock(read, bytes), readHr);
    EXPECT_EQ(read.IsLoaded(), readHr == S_OK);
    if (readHr == S_OK) {
      EXPECT_EQ(Bytes(read.GetValue(), read.GetValue() + read.GetLength()),
                Bytes(bytes.begin() + kFieldHeaderSize, bytes.end()));
    }
  }
  CQuorMediaFileField field;
  EXPECT_EQ(field.Set(kTagTrackId, 4, nullptr, true), E_INVALIDARG);
}

TEST_F(QuorMediaFileFieldTest, ACutOffFieldReadsAsEndOfFile) {
  auto raw = [](DWORD tag, DWORD length, std::size_t present) {
    Bytes bytes = U32(tag);
    Append(bytes, U32(length));
    Append(bytes, Bytes(present, 0x41));
    return bytes;
  };
  const std::pair<const char*, Bytes> kCases[] = {
      {"ValueCutOff", raw(kTagPayload, 100, 60)},
      {"SmallValueCutOff", raw(kTagTrackId, 4, 2)},
      {"HugeLengthWord", raw(kTagPayload, 0xFFFFFFF0, 10)},
      {"LengthWordCutOff", Bytes{0x05, 0x02, 0, 0, 4}},
  };
  for (const auto& [name, bytes] : kCases) {
    SCOPED_TRACE(name);
    CQuorMediaFileField field;
    EXPECT_EQ(ReadBlock(field, bytes), HRESULT_FROM_WIN32(ERROR_HANDLE_EOF));
    EXPECT_FALSE(field.IsLoaded());
  }
}
