// Damaged filesets: what opens, with which result and statuses, and which samples stay reachable.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "format/QuorFormatLayout.h"
#include "quormediafiles/QuorMediaFilesCpp.h"
#include "reader/QuorTestFileSet.h"
#include "support/QuorGot.h"

namespace {

class QuorMediaFileReaderRecoveryTest : public ::testing::Test {
 protected:
  void SetUp() override { m_written = m_set.Write(m_dir, ThreeFiles()); }

  // Whether the samples reachable from the start are exactly 0, 10, ..., last.
  bool ReachableUpTo(ULONGLONG last) {
    std::vector<ULONGLONG> expected;
    for (ULONGLONG t = 0; t <= last; t += 10) expected.push_back(t);
    return WalkForward(m_reader.Get(), 1, 0) == expected;
  }

  CQuorTempDir m_dir;
  CQuorTestFileSet m_set;
  std::vector<ParsedFile> m_written;
  CQuorComPtr<IQuorMediaFileReader> m_reader = NewReader();
};

// The last file (samples 200 to 290, index blocks after 230, 270 and 290) cut or damaged. Each
// case names the open's result, the file's status and the last sample that stays reachable.
TEST_F(QuorMediaFileReaderRecoveryTest, ADamagedLastFileIsRecoveredUpToItsLastWholeIndexBlock) {
  const ParsedFile& last = m_written[2];
  const ParsedBlock& firstIndex = last.First(btIndex);
  const ParsedBlock& secondIndex = last.First(btIndex, 1);
  const ParsedBlock& finalization = last.Last(btFinalization);
  const ParsedBlock& victim = last.First(btMediaSample, 5);  // sample 250
  const std::uint64_t size = last.size;
  auto cut = [](std::uint64_t keep) { return [keep](Bytes& b) { b.resize(keep); }; };
  const std::tuple<const char*, std::function<void(Bytes&)>, HRESULT, ULONG, ULONGLONG> kCases[] = {
      // Discovery leaves out a file whose file info block cannot be read.
      {"cut inside the file info block", cut(16 + 10), S_OK, 0xDEAD, 190},
      {"cut inside the track info block", cut(last.First(btTrackInfo).offset + 20), S_OK, 0x20,
       190},
      {"cut before the first index block", cut(firstIndex.offset), S_OK, 0x10, 190},
      {"cut inside a sample block", cut(firstIndex.offset - 10), S_OK, 0x10, 190},
      {"cut right after the first index block", cut(firstIndex.offset + firstIndex.size), S_OK,
       0x10, 230},
      {"cut inside the second index block", cut(secondIndex.offset + 30), S_OK, 0x10, 230},
      {"cut right after the second index block", cut(secondIndex.offset + secondIndex.size), S_OK,
       0x10, 270},
      {"cut inside the finalization block", cut(finalization.offset + 50), S_OK, 0x10, 290},
      {"finalization block without its last byte", cut(size - 1), S_OK, 0x10, 290},
      // An unknown block type after the first index block, and the size field's tag damaged so
      // that the finalization block is not found from the end: recovery fails there.
      {"unknown block type and no finalization from the end",
       [&](Bytes& b) {
         b[victim.offset + 2] ^= 1;  // type 0x400 -> 0x10400
         b[size - kSizeFieldFromEnd] ^= 1;
       },
       MFS_E_BAD_FORMAT, 0x00, 230},
      // Bytes behind the finalization block hide it from the end; the forward walk meets it.
      {"bytes behind the finalization block", [](Bytes& b) { b.insert(b.end(), 4, 0); },
       MFS_E_BAD_FORMAT, 0x00, 290},
  };
  const Bytes whole = m_dir.ReadBytes(m_set.FileName(2));
  for (const auto& [name, damage, open, status, lastReachable] : kCases) {
    SCOPED_TRACE(name);
    Bytes bytes = whole;
    damage(bytes);
    m_dir.WriteBytes(m_set.FileName(2), bytes);
    // The first file is named: the damaged one comes last in the storage's list, and its
    // recovery is the open's result.
    ASSERT_EQ(open, Open(m_reader.Get(), m_dir, m_set.FileName(0)));
    EXPECT_EQ(status, StatusOf(m_reader.Get(), m_dir, m_set.FileName(2)));
    EXPECT_EQ(0x02u, StatusOf(m_reader.Get(), m_dir, m_set.FileName(0)));
    EXPECT_TRUE(ReachableUpTo(lastReachable));
    if (FAILED(open)) {  // named first, the damaged file leaves no trace in the result
      ASSERT_EQ(S_OK, Open(m_reader.Get(), m_dir, m_set.FileName(2)));
      EXPECT_EQ(0x00u, StatusOf(m_reader.Get(), m_dir, m_set.FileName(2)));
    }
  }
}

// An index chain must run backwards: a previous offset at the block itself or after it fails
// the open, as meeting the same block twice would.
TEST_F(QuorMediaFileReaderRecoveryTest, AnIndexChainThatDoesNotRunBackwardsFailsTheOpen) {
  const ParsedFile& file = m_written[1];
  const ParsedBlock& lastIndex = file.Last(btIndex);
  const Bytes whole = m_dir.ReadBytes(m_set.FileName(1));
  const BYTE kPreviousField[] = {0x06, 0x03, 0, 0, 8, 0, 0, 0};  // tag 0x306, length 8
  const auto field = std::search(whole.begin() + lastIndex.offset, whole.end(),
                                 std::begin(kPreviousField), std::end(kPreviousField));
  ASSERT_NE(field, whole.end());
  const std::size_t value = (field - whole.begin()) + sizeof kPreviousField;
  for (const ULONGLONG target : {lastIndex.offset, file.Last(btFinalization).offset}) {
    SCOPED_TRACE(target);
    Bytes bytes = whole;
    for (int i = 0; i < 8; ++i) bytes[value + i] = BYTE(target >> (8 * i));
    m_dir.WriteBytes(m_set.FileName(1), bytes);
    EXPECT_EQ(E_FAIL, Open(m_reader.Get(), m_dir, m_set.FileName(0)));
  }
}

// A move that fails leaves the track where it was: the next step goes on from the last sample
// returned, read from its own file.
TEST_F(QuorMediaFileReaderRecoveryTest, AFailedMoveLeavesTheTrackWhereItWas) {
  // Samples large enough that the open's reads keep no index block but the last one read.
  std::vector<TestFile> files = ThreeFiles();
  for (std::size_t k = 0; k < 3; ++k) files[k].samples = MakeSamples(1, 10, k * 100, 10, 16384);
  m_written = m_set.Write(m_dir, files);
  ASSERT_EQ(S_OK, Open(m_reader.Get(), m_dir, m_set.FileName(0)));
  CQuorComPtr<IQuorMediaFileSample> sample;
  ASSERT_EQ(S_OK, m_reader->MoveTo(1, 0, sample.AddressOf()));
  // The index block of samples 140 to 170 gets an unknown type.
  m_dir.FlipByte(m_set.FileName(1), m_written[1].First(btIndex, 1).offset + 2);
  EXPECT_TRUE(FAILED(m_reader->MoveTo(1, 150, sample.AddressOf())));
  ASSERT_EQ(S_OK, m_reader->MoveNext(1, sample.AddressOf()));
  EXPECT_EQ(files[0].samples[1].payload, Decode(sample.Get()).payload);  // timestamp 10
}

TEST_F(QuorMediaFileReaderRecoveryTest, AnUnfinalizedMiddleFileIsRecoveredAndTheOpenSucceeds) {
  m_dir.TruncateBy(m_set.FileName(1), m_written[1].size - m_written[1].Last(btFinalization).offset);
  ASSERT_EQ(S_OK, Open(m_reader.Get(), m_dir, m_set.FileName(0)));
  EXPECT_EQ(0x10u, StatusOf(m_reader.Get(), m_dir, m_set.FileName(1)));
  EXPECT_EQ(0x03u, StatusOf(m_reader.Get(), m_dir, m_set.FileName(2)));
  EXPECT_TRUE(ReachableUpTo(290));
  // The last file says last; all three positions are there.
  EXPECT_EQ(VARIANT_TRUE, Got(m_reader.Get(), &IQuorMediaFileReader::IsCompleteFileSet));
}

}  // namespace
