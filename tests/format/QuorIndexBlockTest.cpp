#include <vector>

#include "format/QuorBlockFixture.h"
#include "format/QuorIndexBlock.h"
#include "support/QuorGot.h"

class QuorIndexBlockTest : public QuorBlockFixture {
 protected:
  static std::vector<RawField> Entry(DWORD track, DWORD flags, ULONGLONG position,
                                     ULONGLONG timestamp) {
    return {{kTagEntryTrackId, U32(track)},
            {kTagEntryFlags, U32(flags)},
            {kTagEntryPosition, U64(position)},
            {kTagEntryTimestamp, U64(timestamp)}};
  }
  static std::vector<RawField> Join(std::initializer_list<std::vector<RawField>> parts) {
    std::vector<RawField> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
  }
  static const inline std::vector<RawField> kPrevious = {{kTagPreviousIndexOffset, U64(0)}};
};

TEST_F(QuorIndexBlockTest, EntriesAreWrittenByTrackAndReadBackInTheSameOrder) {
  CQuorIndexBlock written;
  ASSERT_EQ(written.SetOffsetToPreviousIndex(0x0102030405060708), S_OK);
  const CQuorMediaSampleIndex a(7, 0x03, 100, 10), b(3, 0x04, 200, 11), c(7, 0x01, 300, 12);
  for (const auto& entry : {a, b, c})
    ASSERT_EQ(written.AddSampleIndex(entry.m_trackId, entry), S_OK);
  EXPECT_EQ(written.GetEntryCount(), 3u);
  ASSERT_EQ(written.SetBlockIndex(4), S_OK);
  const Bytes bytes = WriteBlock(written);

  CQuorIndexBlock read;
  ASSERT_EQ(ReadBlock(read, bytes), S_OK);
  EXPECT_TRUE(read.IsHashValid());
  using Entries = std::vector<CQuorMediaSampleIndex>;
  EXPECT_EQ(Got(&read, &CQuorIndexBlock::GetIndexes, 7), (Entries{a, c}));
  EXPECT_EQ(Got(&read, &CQuorIndexBlock::GetIndexes, 3), (Entries{b}));
  Entries entries;
  EXPECT_EQ(read.GetIndexes(5, &entries), E_INVALIDARG);
  EXPECT_EQ(Got(&read, &CQuorIndexBlock::GetTrackIds), (std::vector<DWORD>{3, 7}));
  EXPECT_EQ(Got(&read, &CQuorIndexBlock::GetOffsetToPreviousIndex), 0x0102030405060708u);
  // Writing the read block again gives the same bytes.
  EXPECT_EQ(WriteBlock(read), bytes);
}

TEST_F(QuorIndexBlockTest, EntryFieldsAreCheckedAsTheyArrive) {
  const std::vector<RawField> e = Entry(1, 0x112, 2, 3);
  // Name, the fields, the read's result, the entries read.
  const std::tuple<const char*, std::vector<RawField>, HRESULT, DWORD> kCases[] = {
      {"Complete", Join({kPrevious, e}), S_OK, 1},
      {"MiddleFieldsSwapped", Join({kPrevious, {e[0], e[2], e[1], e[3]}}), S_OK, 1},
      {"FlagsBeforeTrackId", Join({kPrevious, {e[1], e[0], e[2], e[3]}}), E_FAIL, 0},
      {"TrackIdTwice", Join({kPrevious, {e[0], e[0]}}), E_FAIL, 0},
      {"IncompleteEntryDropped", Join({kPrevious, e, {e[0], e[1]}}), S_OK, 1},
      {"NoPreviousOffset", e, E_FAIL, 1},
      {"Opaque", Join({kPrevious, {{kTagOpaque, {1}}}}), E_FAIL, 0},
      {"EntryTrackIdOf8", Join({kPrevious, {{kTagEntryTrackId, U64(1)}}}), E_FAIL, 0},
  };
  for (const auto& [name, fields, expected, count] : kCases) {
    SCOPED_TRACE(name);
    CQuorIndexBlock block;
    EXPECT_EQ(ReadBlock(block, MakeBlock(btIndex, fields)), expected);
    EXPECT_EQ(block.GetEntryCount(), count);
    std::vector<CQuorMediaSampleIndex> entries;
    if (expected == S_OK) {
      ASSERT_EQ(block.GetIndexes(1, &entries), S_OK);
      EXPECT_EQ(entries[0], CQuorMediaSampleIndex(1, 0x12, 2, 3));  // flags keep 8 bits
    }
  }
}

TEST_F(QuorIndexBlockTest, ABlockWithoutPreviousOffsetIsNotWritten) {
  CQuorIndexBlock block;
  ASSERT_EQ(block.AddSampleIndex(1, CQuorMediaSampleIndex(1, 0, 0, 0)), S_OK);
  ASSERT_EQ(block.SetBlockIndex(0), S_OK);
  EXPECT_TRUE(WriteBlock(block, E_FAIL).empty());
  EXPECT_FALSE(block.IsEmpty());
}
