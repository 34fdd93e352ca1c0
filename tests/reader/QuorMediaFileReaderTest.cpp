// Opening filesets and walking their samples through the reader's public interface.
#include <gtest/gtest.h>

#include "quormediafiles/QuorMediaFilesCpp.h"
#include "reader/QuorTestFileSet.h"
#include "support/QuorGot.h"

namespace {

// Stored index entry flags and the sample flags they read back as (key frame 0x01, video 0x02,
// audio 0x04, discontinuity 0x10; 0x08 for a sample that is not a key frame of its medium).
struct FlagCase {
  DWORD stored;
  HRESULT hr;
  ULONG flags;
};
constexpr FlagCase kFlags[] = {{0x03, S_OK, 0x03}, {0x02, S_OK, 0x0A}, {0x0A, S_OK, 0x12},
                               {0x04, S_OK, 0x0C}, {0x05, S_OK, 0x05}, {0x01, E_INVALIDARG, 0}};

ULONG SampleFlagsOf(DWORD stored) {
  for (const FlagCase& c : kFlags) {
    if (c.stored == stored) return c.flags;
  }
  ADD_FAILURE() << "no case for entry flags " << stored;
  return 0;
}

class QuorMediaFileReaderTest : public ::testing::Test {
 protected:
  // Track 1 (video) and track 2 (audio) interleaved over three files, an index block every
  // 3 samples, so that both tracks cross index blocks and files.
  void WriteTwoTracks() {
    m_set.m_tracks = {TestTrack{1, 0x1}, TestTrack{2, 0x2}};
    m_files.resize(3);
    for (std::size_t k = 0; k < 3; ++k) {
      for (std::size_t i = 0; i < 8; ++i) {
        const ULONGLONG t = k * 1000 + i * 100;
        m_files[k].samples.push_back({1, t, i % 2 ? 0x02u : 0x03u, PatternBytes(40 + i, t)});
        m_files[k].samples.push_back({2, t + 50, 0x05, PatternBytes(10 + i, t + 1)});
      }
      m_files[k].samplesPerIndex = 3;
    }
    m_files[2].lastFile = true;
    m_set.Write(m_dir, m_files);
  }

  std::vector<TestSample> SamplesOf(DWORD trackId) const {
    std::vector<TestSample> samples;
    for (const TestFile& file : m_files) {
      for (const TestSample& s : file.samples) {
        if (s.trackId == trackId) samples.push_back(s);
      }
    }
    return samples;
  }

  CQuorTempDir m_dir;
  CQuorTestFileSet m_set;
  std::vector<TestFile> m_files;
  CQuorComPtr<IQuorMediaFileReader> m_reader = NewReader();
  CQuorComPtr<IQuorMediaFileSample> m_sample;
};

TEST_F(QuorMediaFileReaderTest, EverySampleComesBackForwardAndBackwardAcrossBlocksAndFiles) {
  WriteTwoTracks();
  ASSERT_EQ(S_OK, Open(m_reader.Get(), m_dir, m_set.FileName(1)));
  for (DWORD trackId : {1u, 2u}) {
    SCOPED_TRACE(trackId);
    const std::vector<TestSample> expected = SamplesOf(trackId);
    auto check = [&](const TestSample& want) {
      const ReadSample got = Decode(m_sample.Get());
      EXPECT_EQ(want.timestamp, got.timestamp);
      EXPECT_EQ(SampleFlagsOf(want.entryFlags), got.flags);
      EXPECT_EQ(want.payload, got.payload);
    };
    ASSERT_EQ(S_OK, m_reader->MoveTo(trackId, expected.front().timestamp, m_sample.AddressOf()));
    check(expected.front());
    for (std::size_t i = 1; i < expected.size(); ++i) {
      ASSERT_EQ(S_OK, m_reader->MoveNext(trackId, m_sample.AddressOf()));
      check(expected[i]);
    }
    EXPECT_EQ(MFS_E_NO_VALUE, m_reader->MoveNext(trackId, m_sample.AddressOf()));
    EXPECT_FALSE(m_sample);
    for (std::size_t i = expected.size() - 1; i-- > 0;) {
      ASSERT_EQ(S_OK, m_reader->MovePrevious(trackId, m_sample.AddressOf()));
      check(expected[i]);
    }
    EXPECT_EQ(MFS_E_NO_VALUE, m_reader->MovePrevious(trackId, m_sample.AddressOf()));
    ASSERT_EQ(S_OK, m_reader->MoveNext(trackId, m_sample.AddressOf()));
    check(expected[1]);

    EXPECT_EQ(expected.front().timestamp,
              Got(m_reader.Get(), &IQuorMediaFileReader::GetFirstTimeStamp, trackId));
    EXPECT_EQ(expected.back().timestamp,
              Got(m_reader.Get(), &IQuorMediaFileReader::GetLastTimeStamp, trackId));
  }
}

TEST_F(QuorMediaFileReaderTest, MoveToPicksTheSampleAtOrJustBeforeTheTimestamp) {
  WriteTwoTracks();  // track 1: 0, 100, ..., 700 | 1000, ..., 1700 | ...; track 2: 50 after
  ASSERT_EQ(S_OK, Open(m_reader.Get(), m_dir, m_set.FileName(0)));
  EXPECT_EQ(MFS_E_NOT_SET, m_reader->MoveNext(1, m_sample.AddressOf()));
  EXPECT_EQ(MFS_E_NOT_SET, m_reader->MovePrevious(1, m_sample.AddressOf()));
  // Name, the track, the timestamp asked for, the result, the timestamp of the sample chosen.
  const std::tuple<const char*, DWORD, ULONGLONG, HRESULT, ULONGLONG> kCases[] = {
      {"exact first", 1, 0, S_OK, 0},
      {"exact inside a block", 1, 400, S_OK, 400},
      {"between two samples", 1, 457, S_OK, 400},
      {"between the files' blocks", 1, 950, S_OK, 700},
      {"exact first of a later file", 1, 2000, S_OK, 2000},
      {"after the last sample", 1, 1000000, S_OK, 2700},
      {"between two samples of the other track", 2, 1049, S_OK, 750},
      {"before the first sample", 2, 49, E_INVALIDARG, 0},
      {"unknown track", 9, 0, E_INVALIDARG, 0},
  };
  for (const auto& [name, trackId, timestamp, hr, chosen] : kCases) {
    SCOPED_TRACE(name);
    ASSERT_EQ(hr, m_reader->MoveTo(trackId, timestamp, m_sample.AddressOf()));
    if (hr == S_OK) {
      EXPECT_EQ(chosen, Decode(m_sample.Get()).timestamp);
    } else {
      EXPECT_FALSE(m_sample);
    }
  }
  ULONGLONG time = 0;
  EXPECT_EQ(E_INVALIDARG, m_reader->GetFirstTimeStamp(9, &time));
  EXPECT_EQ(E_POINTER, m_reader->GetLastTimeStamp(1, nullptr));
  EXPECT_EQ(E_POINTER, m_reader->MoveTo(1, 0, nullptr));
}

TEST_F(QuorMediaFileReaderTest, StoredEntryFlagsBecomeSampleFlags) {
  std::vector<TestFile> files(1);
  for (std::size_t i = 0; i < std::size(kFlags); ++i) {
    files[0].samples.push_back({1, i * 10, kFlags[i].stored, PatternBytes(8)});
  }
  files[0].lastFile = true;
  m_set.Write(m_dir, files);
  ASSERT_EQ(S_OK, Open(m_reader.Get(), m_dir, m_set.FileName(0)));
  for (std::size_t i = 0; i < std::size(kFlags); ++i) {
    SCOPED_TRACE(kFlags[i].stored);
    ASSERT_EQ(kFlags[i].hr, m_reader->MoveTo(1, i * 10, m_sample.AddressOf()));
    if (kFlags[i].hr == S_OK) {
      EXPECT_EQ(kFlags[i].flags, Decode(m_sample.Get()).flags);
    }
  }
}

TEST_F(QuorMediaFileReaderTest, PasswordIsCheckedOnlyWhenTheFilesetHasOne) {
  // Name, the password stored (null: none), the one given, the result.
  const std::tuple<const char*, const char16_t*, const char16_t*, HRESULT> kCases[] = {
      {"none, null given", nullptr, nullptr, S_OK},
      {"none, empty given", nullptr, u"", S_OK},
      {"none, any given", nullptr, u"whatever", S_OK},
      {"set, null given", u"s3cret", nullptr, MFS_E_BAD_PASSWORD},
      {"set, empty given", u"s3cret", u"", MFS_E_BAD_PASSWORD},
      {"set, wrong given", u"s3cret", u"S3cret", MFS_E_BAD_PASSWORD},
      {"set, right given", u"s3cret", u"s3cret", S_OK},
  };
  for (const auto& [name, stored, given, hr] : kCases) {
    SCOPED_TRACE(name);
    CQuorTempDir dir;
    CQuorTestFileSet set;
    if (stored) set.m_password = stored;
    set.Write(dir, ThreeFiles());
    EXPECT_EQ(hr, Open(m_reader.Get(), dir, set.FileName(2), given));
  }
}

// The second fileset's track 2 is first described in its second file: its first timestamp
// comes from there, not from the index blocks of the first file.
TEST_F(QuorMediaFileReaderTest, OpeningASecondFilesetDropsEverythingOfTheFirst) {
  m_set.Write(m_dir, ThreeFiles());
  ASSERT_EQ(S_OK, Open(m_reader.Get(), m_dir, m_set.FileName(0)));
  ASSERT_EQ(S_OK, m_reader->MoveTo(1, 0, m_sample.AddressOf()));

  CQuorTempDir other;
  CQuorTestFileSet second;
  second.m_guid.Data1 ^= 1;
  second.m_tracks = {TestTrack{7}, TestTrack{2, 0x2}};
  std::vector<TestFile> files(2);
  for (std::size_t k = 0; k < 2; ++k) {
    files[k].samples = MakeSamples(7, 5, 1000 + k * 100, 1);
    for (const TestSample& s : MakeSamples(2, 4, k * 100, 1)) files[k].samples.push_back(s);
  }
  files[0].trackIds = {7};
  files[1].lastFile = true;
  second.Write(other, files);
  ASSERT_EQ(S_OK, Open(m_reader.Get(), other, second.FileName(0)));

  EXPECT_EQ((std::vector<ULONG>{2, 7}),
            QuorU32Vector(Got(m_reader.Get(), &IQuorMediaFileReader::GetTrackIds).Get()));
  EXPECT_EQ(E_INVALIDARG, m_reader->MoveNext(1, m_sample.AddressOf()));
  EXPECT_EQ(0xDEADu, StatusOf(m_reader.Get(), m_dir, m_set.FileName(0)));
  EXPECT_EQ(0x02u, StatusOf(m_reader.Get(), other, second.FileName(0)));
  EXPECT_EQ((std::vector<ULONGLONG>{1000, 1001, 1002, 1003, 1004, 1100, 1101, 1102, 1103, 1104}),
            WalkForward(m_reader.Get(), 7, 1000));
  EXPECT_EQ(100u, Got(m_reader.Get(), &IQuorMediaFileReader::GetFirstTimeStamp, 2));
}

// The open follows an index chain a run of blocks at a time: a chain of 150 blocks in one file
// crosses two run boundaries, and every sample must still be found, forward and by timestamp.
TEST_F(QuorMediaFileReaderTest, IndexChainsLongerThanOneReadRunAreLoadedWhole) {
  m_files.resize(1);
  for (std::size_t i = 0; i < 150; ++i) {
    m_files[0].samples.push_back({1, i * 10, 0x03, PatternBytes(1 + i % 7, i)});
  }
  m_files[0].samplesPerIndex = 1;
  m_files[0].lastFile = true;
  m_set.Write(m_dir, m_files);
  ASSERT_EQ(S_OK, Open(m_reader.Get(), m_dir, m_set.FileName(0)));
  ASSERT_EQ(S_OK, m_reader->MoveTo(1, 0, m_sample.AddressOf()));
  for (std::size_t i = 1; i < 150; ++i) {
    ASSERT_EQ(S_OK, m_reader->MoveNext(1, m_sample.AddressOf()));
    EXPECT_EQ(Decode(m_sample.Get()).timestamp, i * 10);
  }
  for (const std::size_t i : {63u, 64u, 128u, 149u}) {
    ASSERT_EQ(S_OK, m_reader->MoveTo(1, i * 10 + 5, m_sample.AddressOf()));
    EXPECT_EQ(Decode(m_sample.Get()).payload, PatternBytes(1 + i % 7, i));
  }
}

}  // namespace
