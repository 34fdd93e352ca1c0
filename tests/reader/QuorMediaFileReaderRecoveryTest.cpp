// Damaged filesets: what opens, with which result and statuses, and which samples stay reachable.
#include <gtest/gtest.h>

#include <functional>

#include "format/QuorFormatLayout.h"
#include "reader/QuorTestFileSet.h"
#include "storage/QuorFileStorage.h"

namespace {

class QuorMediaFileReaderRecoveryTest : public ::testing::Test {
 protected:
  void SetUp() override { m_written = m_set.Write(m_dir, ThreeFiles()); }

  // Cuts a file so that it keeps its first size bytes.
  void CutTo(std::size_t file, std::uint64_t size) {
    m_dir.TruncateBy(m_set.FileName(file), m_written[file].size - size);
  }
  std::vector<ULONGLONG> Reachable() { return WalkForward(m_reader.Get(), 1, 0); }
  static std::vector<ULONGLONG> Range(ULONGLONG from, ULONGLONG to) {
    std::vector<ULONGLONG> out;
    for (ULONGLONG t = from; t <= to; t += 10) out.push_back(t);
    return out;
  }
  static std::vector<ULONGLONG> Join(std::vector<std::vector<ULONGLONG>> parts) {
    std::vector<ULONGLONG> out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
  }

  CQuorTempDir m_dir;
  CQuorTestFileSet m_set;
  std::vector<WrittenFile> m_written;
  CQuorComPtr<IQuorMediaFileReader> m_reader = NewReader();
};

// The last file (10 samples, index blocks after samples 4, 8 and 10) cut at many places. Each
// case names the samples of the last file that stay reachable.
TEST_F(QuorMediaFileReaderRecoveryTest, ALastFileCutShortIsRecoveredUpToItsLastWholeIndexBlock) {
  const WrittenFile& last = m_written[2];
  const WrittenBlock& firstIndex = last.First(btIndex);
  const WrittenBlock& secondIndex = last.First(btIndex, &firstIndex - last.blocks.data() + 1);
  const WrittenBlock& finalization = last.Last(btFinalization);
  struct Case {
    const char* name;
    std::uint64_t keep;
    HRESULT open;
    ULONG status;
    std::vector<ULONGLONG> lastFileSamples;
  };
  const Case kCases[] = {
      // Discovery leaves out a file whose file info block cannot be read.
      {"inside the file info block", 16 + 10, S_OK, 0xDEAD, {}},
      {"inside the track info block", last.First(btTrackInfo).offset + 20, S_OK, 0x20, {}},
      {"before the first index block", firstIndex.offset, S_OK, 0x10, {}},
      {"inside a sample block", firstIndex.offset - 10, S_OK, 0x10, {}},
      {"right after the first index block", firstIndex.offset + firstIndex.size, S_OK, 0x10,
       Range(200, 230)},
      {"inside the second index block", secondIndex.offset + 30, S_OK, 0x10, Range(200, 230)},
      {"right after the second index block", secondIndex.offset + secondIndex.size, S_OK, 0x10,
       Range(200, 270)},
      {"inside the finalization block", finalization.offset + 50, S_OK, 0x10, Range(200, 290)},
      {"finalization block without its last byte", last.size - 1, S_OK, 0x10, Range(200, 290)},
  };
  const Bytes whole = m_dir.ReadBytes(m_set.FileName(2));
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    m_dir.WriteBytes(m_set.FileName(2), Bytes(whole.begin(), whole.begin() + c.keep));
    // The first file is named: the damaged one comes last in the storage's list.
    ASSERT_EQ(c.open, Open(m_reader.Get(), m_dir, m_set.FileName(0)));
    EXPECT_EQ(c.status, StatusOf(m_reader.Get(), m_dir, m_set.FileName(2)));
    EXPECT_EQ(0x02u, StatusOf(m_reader.Get(), m_dir, m_set.FileName(0)));
    EXPECT_EQ(Join({Range(0, 190), c.lastFileSamples}), Reachable());
  }
}

TEST_F(QuorMediaFileReaderRecoveryTest, AnUnfinalizedMiddleFileIsRecoveredAndTheOpenSucceeds) {
  CutTo(1, m_written[1].Last(btFinalization).offset);
  ASSERT_EQ(S_OK, Open(m_reader.Get(), m_dir, m_set.FileName(0)));
  EXPECT_EQ(0x10u, StatusOf(m_reader.Get(), m_dir, m_set.FileName(1)));
  EXPECT_EQ(0x03u, StatusOf(m_reader.Get(), m_dir, m_set.FileName(2)));
  EXPECT_EQ(Range(0, 290), Reachable());
  VARIANT_BOOL complete = VARIANT_TRUE;
  EXPECT_EQ(S_OK, m_reader->IsCompleteFileSet(&complete));
  EXPECT_EQ(VARIANT_TRUE, complete);  // the last file says last; all three positions are there
}

TEST_F(QuorMediaFileReaderRecoveryTest, AFailedRecoveryOfTheLastListedFileIsTheOpensResult) {
  // An unknown block type in the middle of the last file, and its tail damaged so that the
  // finalization block is not found from the end.
  const WrittenBlock& sample = m_written[2].First(btMediaSample, 0);
  const std::size_t secondSample = &sample - m_written[2].blocks.data() + 1;
  const WrittenBlock& victim = m_written[2].blocks[secondSample + 5];
  m_dir.FlipByte(m_set.FileName(2), victim.offset + 2);  // type 0x400/0x300 -> 0x10400/0x10300
  m_dir.FlipByte(m_set.FileName(2), m_written[2].size - kSizeFieldFromEnd);  // size field's tag

  EXPECT_EQ(MFS_E_BAD_FORMAT, Open(m_reader.Get(), m_dir, m_set.FileName(0)));
  EXPECT_EQ(0x00u, StatusOf(m_reader.Get(), m_dir, m_set.FileName(2)));
  EXPECT_EQ(0x02u, StatusOf(m_reader.Get(), m_dir, m_set.FileName(1)));
  // The index blocks before the bad block stay reachable.
  EXPECT_EQ(Join({Range(0, 190), Range(200, 230)}), Reachable());

  // The same damage in a file that is not last in the list leaves no trace in the result.
  ASSERT_EQ(S_OK, Open(m_reader.Get(), m_dir, m_set.FileName(2)));
  EXPECT_EQ(0x00u, StatusOf(m_reader.Get(), m_dir, m_set.FileName(2)));
}

TEST_F(QuorMediaFileReaderRecoveryTest,
       AFinalizationBlockMetByRecoveryFailsItKeepingEarlierBlocks) {
  // Bytes behind the finalization block hide it from the end of the file; the forward walk
  // then meets it.
  Bytes bytes = m_dir.ReadBytes(m_set.FileName(2));
  bytes.insert(bytes.end(), {0, 0, 0, 0});
  m_dir.WriteBytes(m_set.FileName(2), bytes);
  EXPECT_EQ(MFS_E_BAD_FORMAT, Open(m_reader.Get(), m_dir, m_set.FileName(0)));
  EXPECT_EQ(0x00u, StatusOf(m_reader.Get(), m_dir, m_set.FileName(2)));
  EXPECT_EQ(Range(0, 290), Reachable());
}

// One byte flipped in each block kind of the middle file: the open still succeeds, because
// only framing faults make a block unreadable, and a hash mismatch is left to authentication.
TEST_F(QuorMediaFileReaderRecoveryTest, AFlippedValueByteInAnyBlockKindStillOpens) {
  const Bytes whole = m_dir.ReadBytes(m_set.FileName(1));
  for (DWORD type : {btFileInfo, btTrackInfo, btMediaSample, btIndex, btFinalization}) {
    SCOPED_TRACE(type);
    m_dir.WriteBytes(m_set.FileName(1), whole);
    const WrittenBlock& block = m_written[1].First(type);
    m_dir.FlipByte(m_set.FileName(1), block.offset + block.size - 1);  // last hash byte
    ASSERT_EQ(S_OK, Open(m_reader.Get(), m_dir, m_set.FileName(0)));
    EXPECT_EQ(0x02u, StatusOf(m_reader.Get(), m_dir, m_set.FileName(1)));
    EXPECT_EQ(Range(0, 290), Reachable());
  }
}

TEST_F(QuorMediaFileReaderRecoveryTest, AMissingMiddleFileLeavesAGapButTheRestOpens) {
  m_dir.Remove(m_set.FileName(1));
  ASSERT_EQ(S_OK, Open(m_reader.Get(), m_dir, m_set.FileName(0)));
  EXPECT_EQ(Join({Range(0, 90), Range(200, 290)}), Reachable());
  VARIANT_BOOL complete = VARIANT_TRUE;
  EXPECT_EQ(S_OK, m_reader->IsCompleteFileSet(&complete));
  EXPECT_EQ(VARIANT_FALSE, complete);
}

TEST_F(QuorMediaFileReaderRecoveryTest, StrangersBesideTheFilesetAreLeftOut) {
  // A file of another fileset and a file still open for writing, both with the extension.
  CQuorTestFileSet stranger;
  stranger.m_guid.Data1 ^= 0xFF;
  stranger.m_baseName = "other";
  stranger.Write(m_dir, ThreeFiles());
  CQuorFileStorage recording;
  const std::u16string busy = m_dir.WidePath("busy.vid");
  ASSERT_EQ(S_OK, recording.InitializeForWriting(busy.c_str(), 1024, true));

  ASSERT_EQ(S_OK, Open(m_reader.Get(), m_dir, m_set.FileName(0)));
  CQuorSafeArray names;
  ASSERT_EQ(S_OK, m_reader->GetFileNames(names.AddressOf()));
  for (ULONG i = 0; i < names.Count(); ++i) {
    const std::string name = QuorBstrToUtf8(static_cast<BSTR*>(names.Get()->pvData)[i]);
    EXPECT_EQ(std::string::npos, name.find("other")) << name;
    EXPECT_EQ(std::string::npos, name.find("busy")) << name;
  }
  EXPECT_EQ(0xDEADu, StatusOf(m_reader.Get(), m_dir, "other.vid"));
  EXPECT_EQ(0x02u, StatusOf(m_reader.Get(), m_dir, m_set.FileName(0)));
}

}  // namespace
