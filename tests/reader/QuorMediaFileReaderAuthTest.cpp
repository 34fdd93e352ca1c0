// Fileset queries and authentication through the reader's public interface.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <semaphore>
#include <thread>

#include "format/QuorFormatLayout.h"
#include "platform/log/QuorLog.h"
#include "quormediafiles/QuorFormatIds.h"
#include "reader/QuorTestFileSet.h"
#include "support/QuorFaultyFileSystem.h"
#include "support/QuorGot.h"

namespace {

class QuorMediaFileReaderAuthTest : public ::testing::Test {
 protected:
  void Write(std::vector<TestFile> files = ThreeFiles()) { m_written = m_set.Write(m_dir, files); }
  VARIANT_BOOL Authentic() { return Got(m_reader.Get(), &IQuorMediaFileReader::IsAuthentic); }
  // The status flags of every file in hexadecimal, "0E 0E 0F".
  std::string Statuses() {
    std::string out;
    for (std::size_t k = 0; k < m_written.size(); ++k) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "%s%02X", k ? " " : "",
                    StatusOf(m_reader.Get(), m_dir, m_set.FileName(k)));
      out += hex;
    }
    return out;
  }

  CQuorTempDir m_dir;
  CQuorTestFileSet m_set;
  std::vector<ParsedFile> m_written;
  CQuorFaultyFileSystem m_fileSystem;  // where the concurrent tests hold the walk's reads
  CQuorComPtr<IQuorMediaFileReader> m_reader = NewReader();
  std::shared_ptr<DXL_CaptureSink> m_log = std::make_shared<DXL_CaptureSink>();
  DXL_ScopedSink m_scopedLog{m_log};
};

// Whole filesets, sound or with a file missing, unfinalized or rewritten: the verdict, the
// statuses it leaves, what it logs, and the completeness answer beside it.
TEST_F(QuorMediaFileReaderAuthTest, VerdictStatusesAndCompletenessFollowTheFiles) {
  auto untouched = [&] { Write(); };
  auto middleMissing = [&] {
    Write();
    m_dir.Remove(m_set.FileName(1));
  };
  auto lastUnfinalized = [&] {
    std::vector<TestFile> files = ThreeFiles();
    files[2].finalize = false;
    Write(files);
  };
  auto singleFileWithoutPosition = [&] {
    std::vector<TestFile> files(1);
    files[0].samples = MakeSamples(1, 10, 0, 10);
    files[0].lastFile = true;
    files[0].filesetIndex = TestFile::kNone;
    Write(files);
  };
  // The middle file with one payload changed and its block rehashed: every block is sound on
  // its own, but the file hash no longer matches.
  auto sampleRewritten = [&] {
    Write();
    const ParsedBlock& block = m_written[1].First(btMediaSample);
    ForgeByte(m_dir, m_set.FileName(1), block.offset + kBlockHeaderSize + kFieldHeaderSize, false);
  };
  const struct {
    const char* name;
    std::function<void()> write;
    VARIANT_BOOL authentic;
    const char* statuses;  // of each file after the verdict, in hexadecimal
    const char* logged;    // by the verdict
    VARIANT_BOOL complete;
    const char* completeness;  // logged by the completeness answer
    std::size_t reachable;
  } kCases[] = {
      {"untouched", untouched, VARIANT_TRUE, "0E 0E 0F", "Fileset Authentication Succeeded",
       VARIANT_TRUE, "Fileset is complete", 30},
      // The third file's sequence check fails at the first block of the missing one (index 16).
      {"middle missing", middleMissing, VARIANT_FALSE, "0E DEAD 0B", "BlockIndex in Block: 16",
       VARIANT_FALSE, "At least one file", 20},
      {"last unfinalized", lastUnfinalized, VARIANT_FALSE, "0E 0E 18", "0x80070026", VARIANT_FALSE,
       "Last file in fileset is missing", 30},
      {"single file without a position", singleFileWithoutPosition, VARIANT_TRUE, "0F",
       "Fileset Authentication Succeeded", VARIANT_TRUE, "Fileset is complete", 10},
      {"sample rewritten and rehashed", sampleRewritten, VARIANT_FALSE, "0E 0A 0F",
       "failed test for File Level Hash", VARIANT_TRUE, "Fileset is complete", 30},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    for (std::size_t k = 0; k < 3; ++k) m_dir.Remove(m_set.FileName(k));
    c.write();
    ASSERT_EQ(S_OK, Open(m_reader.Get(), m_dir, m_set.FileName(0)));
    EXPECT_EQ(c.reachable, WalkForward(m_reader.Get(), 1, 0).size());
    m_log->Clear();
    EXPECT_EQ(c.authentic, Authentic());
    EXPECT_TRUE(m_log->Contains(DXL_EntryKind::Release, c.logged) ||
                m_log->Contains(DXL_EntryKind::Debug, c.logged));
    EXPECT_EQ(c.statuses, Statuses());
    m_log->Clear();
    EXPECT_EQ(c.complete, Got(m_reader.Get(), &IQuorMediaFileReader::IsCompleteFileSet));
    EXPECT_TRUE(m_log->Contains(DXL_EntryKind::Release, c.completeness));
    const auto metadata = Got(m_reader.Get(), &IQuorMediaFileReader::GetFileSetMetadata);
    EXPECT_EQ(c.complete, Got(metadata.Get(), &IQuorFileSetMetadata::IsFileSetComplete));
  }
  EXPECT_EQ(0, Got(m_reader.Get(), &IQuorMediaFileReader::GetAuthenticationProgress));
  EXPECT_EQ(MFS_E_WRONG_STATE, m_reader->CancelAuthentication());
  EXPECT_EQ(E_POINTER, m_reader->IsAuthentic(nullptr));
  EXPECT_EQ(E_POINTER, m_reader->IsCompleteFileSet(nullptr));
}

// One byte flipped in every block of every file: the open still succeeds with every sample
// reachable (only framing faults make a block unreadable); the damaged file fails its block
// hash check at that block, and the files after it fail their sequence check.
TEST_F(QuorMediaFileReaderAuthTest, AFlippedByteFailsItsFileAndTheFilesAfterIt) {
  Write();
  std::vector<Bytes> original;
  for (std::size_t k = 0; k < 3; ++k) original.push_back(m_dir.ReadBytes(m_set.FileName(k)));
  for (std::size_t k = 0; k < 3; ++k) {
    for (const ParsedBlock& block : m_written[k].blocks) {
      SCOPED_TRACE(testing::Message() << "file " << k << " block " << block.blockIndex);
      m_dir.WriteBytes(m_set.FileName(k), original[k]);
      m_dir.FlipByte(m_set.FileName(k), block.offset + block.size - 1);  // a hash byte
      ASSERT_EQ(S_OK, Open(m_reader.Get(), m_dir, m_set.FileName(0)));
      EXPECT_EQ(k == 2 ? 0x03u : 0x02u, StatusOf(m_reader.Get(), m_dir, m_set.FileName(k)));
      EXPECT_EQ(30u, WalkForward(m_reader.Get(), 1, 0).size());
      m_log->Clear();
      EXPECT_EQ(VARIANT_FALSE, Authentic());
      EXPECT_TRUE(m_log->Contains(DXL_EntryKind::Release, "Block Level hash at BlockIndex: " +
                                                              std::to_string(block.blockIndex)));
      for (std::size_t f = 0; f < 3; ++f) {
        // A walk that stopped at a finalization block had passed its sequence check there, so
        // the next file still follows on.
        const bool passes = f < k || (f > k && block.type == btFinalization);
        EXPECT_EQ(passes ? 0x0Cu : 0x08u, StatusOf(m_reader.Get(), m_dir, m_set.FileName(f)) & 0x0C)
            << "file " << f;
      }
    }
    m_dir.WriteBytes(m_set.FileName(k), original[k]);
  }
}

TEST_F(QuorMediaFileReaderAuthTest, QueriesReportTheFilesetTracksAndFiles) {
  m_set.m_tracks = {TestTrack{4, 0x3, u"cam A"}};
  std::vector<TestFile> files(1);
  files[0].samples = MakeSamples(4, 3, 0, 1);
  files[0].lastFile = true;
  files[0].filesetIndex = TestFile::kNone;
  Write(files);

  CQuorComPtr<IQuorFileSetMetadata> fileset;
  EXPECT_EQ(MFS_E_WRONG_STATE, m_reader->GetFileSetMetadata(fileset.AddressOf()));
  CQuorSafeArray ids;
  EXPECT_EQ(MFS_E_NO_VALUE, m_reader->GetTrackIds(ids.AddressOf()));
  ASSERT_EQ(S_OK, Open(m_reader.Get(), m_dir, m_set.FileName(0)));

  using R = IQuorMediaFileReader;
  fileset = Got(m_reader.Get(), &R::GetFileSetMetadata);
  EXPECT_EQ("{1234ABCD-1111-2222-0102-030405060708}",
            Got(fileset.Get(), &IQuorFileSetMetadata::GetFileSetGuid));
  CQuorComPtr<IQuorTrackMetadata> metadata = Got(m_reader.Get(), &R::GetTrackMetadata, 4);
  EXPECT_EQ(VARIANT_TRUE, Got(metadata.Get(), &IQuorTrackMetadata::IsAuthentic));
  EXPECT_EQ(E_INVALIDARG, m_reader->GetTrackMetadata(5, metadata.AddressOf()));

  CQuorComPtr<IQuorMediaFileStatus> status = Got(
      m_reader.Get(), &R::GetFileStatus, CQuorBstr::Copy(m_dir.WidePath(m_set.FileName(0))).Get());
  ULONG value = 0;
  EXPECT_EQ(MFS_E_NOT_SET, status->GetFileIndex(&value));  // the file declares no position
  CQuorBstr stranger = CQuorBstr::Copy(m_dir.WidePath("nope.vid"));
  EXPECT_EQ(E_INVALIDARG, m_reader->GetFileStatus(stranger.Get(), status.AddressOf()));
}

TEST_F(QuorMediaFileReaderAuthTest, FilterIdentifiersOutsideTheTablesOrTwiceInAGroupAreRefused) {
  const GUID kUnknown = {0x1, 0x2, 0x3, {4, 5, 6, 7, 8, 9, 10, 11}};
  const std::vector<std::vector<GUID>> kRefused = {
      {kQuorFormatVideoH264, kQuorFormatVideoVp9},
      {kQuorFormatAudioOpus, kQuorFormatAudioPcm},
      {kUnknown},
      {kQuorFormatVideoAv1, kQuorFormatAudioMp3, kQuorFormatAudioAac},
  };
  for (const std::vector<GUID>& filters : kRefused) {
    CQuorTempDir dir;
    TestTrack track;
    track.filters = filters;
    m_set.m_tracks = {track};
    m_set.Write(dir, ThreeFiles());
    ASSERT_EQ(S_OK, Open(m_reader.Get(), dir, m_set.FileName(0)));
    CQuorComPtr<IQuorTrackMetadata> metadata;
    EXPECT_EQ(MFS_E_BAD_FORMAT, m_reader->GetTrackMetadata(1, metadata.AddressOf()));
    EXPECT_FALSE(metadata);
  }
}

// A long walk in a second thread's view: progress rises to 100, and a cancel ends the walk.
class QuorMediaFileReaderConcurrentAuthTest : public QuorMediaFileReaderAuthTest {
 protected:
  void SetUp() override {
    std::vector<TestFile> files(3);
    for (std::size_t k = 0; k < 3; ++k) {
      files[k].samples = MakeSamples(1, 3000, k * 100000, 10, 16);
      files[k].samplesPerIndex = 100;
    }
    files[2].lastFile = true;
    Write(files);
    (void)DXL_Log::SetSink(nullptr);
    m_reader = NewReader(m_fileSystem);
  }
};

// The walk stops before each of its reads until the second thread has polled the progress.
TEST_F(QuorMediaFileReaderConcurrentAuthTest, ProgressPolledFromASecondThreadRisesTo100) {
  ASSERT_EQ(S_OK, Open(m_reader.Get(), m_dir, m_set.FileName(0)));
  std::binary_semaphore reading{0}, polled{0};
  std::atomic<bool> done{false};
  std::vector<SHORT> seen;
  std::thread poller([&] {
    for (reading.acquire(); !done; reading.acquire()) {
      SHORT progress = 0;
      EXPECT_EQ(S_OK, m_reader->GetAuthenticationProgress(&progress));
      if (seen.empty() || seen.back() != progress) seen.push_back(progress);
      polled.release();
    }
  });
  m_fileSystem.BeforeEachRead([&] {
    reading.release();
    polled.acquire();
  });
  EXPECT_EQ(VARIANT_TRUE, Authentic());
  m_fileSystem.BeforeEachRead(nullptr);
  done = true;
  reading.release();
  poller.join();
  // Values rise through the walk towards 100 (the last ones may pass after the last read).
  SHORT highest = 0;
  for (SHORT p : seen) {
    EXPECT_LE(p, 100);
    if (p != 0) {
      EXPECT_GE(p, highest);
      highest = p;
    }
  }
  EXPECT_GE(highest, 50);
}

TEST_F(QuorMediaFileReaderConcurrentAuthTest, CancelFromASecondThreadEndsTheWalk) {
  ASSERT_EQ(S_OK, Open(m_reader.Get(), m_dir, m_set.FileName(0)));
  auto status = [&](std::size_t k) { return StatusOf(m_reader.Get(), m_dir, m_set.FileName(k)); };
  const ULONG before[] = {status(0), status(1), status(2)};
  // A read of the walk waits for the cancel; a walk without one lets the canceller go (and fails
  // the test) instead of leaving it waiting.
  std::binary_semaphore reading{0}, cancelDone{0};
  std::atomic<bool> cancelled{false};
  std::thread canceller([&] {
    reading.acquire();
    cancelled = SUCCEEDED(m_reader->CancelAuthentication());
    cancelDone.release();
  });
  VARIANT_BOOL answer = 1;
  HRESULT hr = E_FAIL;
  bool firstRead = true;  // no read has waited yet
  m_fileSystem.BeforeEachRead([&] {
    // The first read of the walk under way (reads before it find the fileset's end).
    SHORT progress = 0;
    if (!firstRead || FAILED(m_reader->GetAuthenticationProgress(&progress)) || progress < 1) {
      return;
    }
    firstRead = false;
    reading.release();
    cancelDone.acquire();
  });
  hr = m_reader->IsAuthentic(&answer);
  m_fileSystem.BeforeEachRead(nullptr);
  if (firstRead) reading.release();
  canceller.join();
  ASSERT_TRUE(cancelled);
  EXPECT_EQ(MFS_E_AUTH_CANCELLED, hr);
  EXPECT_EQ(VARIANT_FALSE, answer);
  // A file walked to its end before the cancel landed (on a busy machine the first may be) has
  // its verdict; the file being walked keeps its bits, and the files after it were not reached.
  std::size_t k = 0;
  while (k < 3 && status(k) == (before[k] | 0x0C)) ++k;
  EXPECT_LT(k, 3u) << "the cancel came after the last file";
  for (; k < 3; ++k) EXPECT_EQ(before[k], status(k)) << "file " << k;
  EXPECT_EQ(0, Got(m_reader.Get(), &IQuorMediaFileReader::GetAuthenticationProgress));
}

}  // namespace
