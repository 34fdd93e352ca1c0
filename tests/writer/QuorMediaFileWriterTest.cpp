#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <numeric>
#include <random>
#include <thread>

#include "QuorWriterTestSupport.h"
#include "format/QuorBlockFixture.h"
#include "platform/automation/QuorDispatchObject.h"
#include "quormediafiles/QuorMediaFilesCpp.h"
#include "quormediafiles/QuorMediaFilesInternal.h"
#include "quormediafiles/QuorResultCodes.h"
#include "reader/QuorTestFileSet.h"
#include "support/QuorFaultyFileSystem.h"
#include "support/QuorGot.h"
#include "writer/QuorMediaFileWriter.h"

namespace {

constexpr ULONGLONG kKiB = 1024;

// A sample object implemented by a caller: it has only the public interface, so the writer
// takes its payload through GetPayloadData.
class CForeignSample final : public CQuorDispatchObject<IQuorMediaFileSample> {
 public:
  CQuorComPtr<IQuorMediaFileSample> inner;
  HRESULT GetTimestamp(ULONGLONG* t) override { return inner->GetTimestamp(t); }
  HRESULT SetTimestamp(ULONGLONG t) override { return inner->SetTimestamp(t); }
  HRESULT GetFlags(VARIANT_BOOL* k, VARIANT_BOOL* v, VARIANT_BOOL* a) override {
    return inner->GetFlags(k, v, a);
  }
  HRESULT SetFlags(VARIANT_BOOL k, VARIANT_BOOL v, VARIANT_BOOL a) override {
    return inner->SetFlags(k, v, a);
  }
  HRESULT GetPayloadData(SAFEARRAY** data) override { return inner->GetPayloadData(data); }
  HRESULT SetPayloadData(SAFEARRAY** data) override { return inner->SetPayloadData(data); }
  HRESULT GetSampleFlags(ULONG* f) override { return inner->GetSampleFlags(f); }
  HRESULT SetSampleFlags(ULONG f) override { return inner->SetSampleFlags(f); }
};

// The file's samples are the ones written from number `first` on, in order: a prefix of them
// when the recording was cut short.
void ExpectPayloadPrefix(const ParsedFile& file, std::size_t size, std::size_t first = 0) {
  for (std::size_t i = 0; i < file.entries.size(); ++i) {
    EXPECT_EQ(file.payloads.at(file.entries[i].m_position), PatternBytes(size, first + i)) << i;
  }
}

class QuorMediaFileWriterTest : public ::testing::Test {
 protected:
  void TearDown() override { CQuorMediaFileWriter::SetIndexPeriodForTesting({}); }

  // Writes samples of the given size with payloads that name their sequence number; waits until
  // the worker has written them (or the recording ended) and returns the Write results. The
  // samples written before are on disk already: each call waits for its own.
  std::vector<HRESULT> WriteSamples(IQuorMediaFileWriter* writer, int count, std::size_t size,
                                    int first = 0) {
    std::vector<HRESULT> results;
    ULONGLONG expected = BytesWrittenTotal(writer);
    for (int i = first; i < first + count; ++i) {
      results.push_back(writer->Write(1, NewSample(PatternBytes(size, i), 1000 + i).Get()));
      expected += size + kMediaSampleOverhead;
    }
    WaitForBytes(writer, expected);
    return results;
  }

  // Writes samples until the recording has ended by itself (the fileset or the disk is full).
  std::vector<HRESULT> WriteUntilFinished(IQuorMediaFileWriter* writer, std::size_t size) {
    std::vector<HRESULT> results;
    for (int i = 0; StateOf(writer) != wseFinished && i < 10000; ++i) {
      results.push_back(WriteSamples(writer, 1, size, i)[0]);
    }
    EXPECT_EQ(StateOf(writer), wseFinished) << "the recording never ended";
    return results;
  }

  CQuorTempDir m_dir;
};

TEST_F(QuorMediaFileWriterTest, InitializeRefusesBadLimitsAndNamesWithTheirMessages) {
  // Name, the file, the size and file limits, the result, a part of its message.
  const std::tuple<const char*, const char*, ULONG, ULONG, HRESULT, const char*> kCases[] = {
      {"SizeZero", "cam.vid", 0, 2, E_INVALIDARG, "dwMaxSize"},
      {"SizeAboveFiveGiB", "cam.vid", 5242881, 2, E_INVALIDARG, "dwMaxSize"},
      {"BothOutOfRangeReportsSize", "cam.vid", 0, 0, E_INVALIDARG, "dwMaxSize"},
      {"FilesZero", "cam.vid", 1, 0, E_INVALIDARG, "dwMaxFiles"},
      {"FilesAllOnes", "cam.vid", 1, 0xFFFFFFFF, E_INVALIDARG, "dwMaxFiles"},
      {"NoDot", "cam", 1, 1, E_INVALIDARG, "File Extension is missing"},
      {"DotLast", "cam.", 1, 1, E_INVALIDARG, "File Extension is missing"},
      {"DotInDirectoryOnly", "my.dir/cam", 1, 1, E_INVALIDARG, "File Extension is missing"},
      {"SmallestLimits", "a.vid", 1, 1, S_OK, ""},
      {"LargestLimits", "b.vid", 5242880, 0xFFFFFFFE, S_OK, ""},
  };
  m_dir.MakeDirectory("my.dir");
  auto writer = NewWriter();
  for (const auto& [name, file, maxSize, maxFiles, hr, message] : kCases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(writer->Initialize(Wide(m_dir.Path(file)).Get(), maxSize, maxFiles, VARIANT_TRUE),
              hr);
    EXPECT_NE(LastErrorText().find(message), std::string::npos);  // "" for success
  }
  EXPECT_EQ(writer->Initialize(nullptr, 1, 1, VARIANT_TRUE), E_POINTER);
  EXPECT_EQ(LastErrorText(), "Error - NULL bstrFileName passed");
}

TEST_F(QuorMediaFileWriterTest, SetUpCallsAreRefusedBeforeInitializeAndWhileRecording) {
  auto writer = NewWriter();
  EXPECT_EQ(writer->SetDescription(Wide("d").Get()), MFS_E_WRONG_STATE);
  EXPECT_EQ(LastErrorText(), "Error- Requested operation is not possible at this time");
  EXPECT_EQ(writer->AddTrack(NewTrack(1, "v").Get()), MFS_E_WRONG_STATE);
  EXPECT_EQ(writer->StopRecording(), S_OK);  // nothing started: nothing to do
  StartSimpleRecording(writer.Get(), m_dir.Path("cam.vid"), 64, 1);
  EXPECT_EQ(writer->Initialize(Wide(m_dir.Path("x.vid")).Get(), 64, 1, VARIANT_TRUE),
            MFS_E_WRONG_STATE);
  EXPECT_EQ(LastErrorText(), "Error- Cannot perfom this operation- Writing is in progress");
  EXPECT_EQ(writer->SetPassword(Wide("pw").Get()), MFS_E_WRONG_STATE);
  EXPECT_EQ(writer->StopRecording(), S_OK);
  EXPECT_EQ(writer->Write(1, NewSample({1}, 1).Get()), MFS_E_WRONG_STATE);
  EXPECT_EQ(LastErrorText(), "Error- the StartWriting method must be called prior to this method");
}

TEST_F(QuorMediaFileWriterTest, AddTrackChecksTheMetadataInOrder) {
  auto withPlugin = [](const char* plugin) {
    auto track = NewTrack(7, "t");
    EXPECT_NE(track->SetMediaSessionPlugin(Wide(plugin).Get()), E_POINTER);
    return track;
  };
  const auto noAudioFlag = CreateObject<IQuorTrackMetadata>(CLSID_QuorTrackMetadata);
  ASSERT_EQ(noAudioFlag->SetTrackId(3), S_OK);
  ASSERT_EQ(noAudioFlag->SetVideoFlag(VARIANT_TRUE), S_OK);
  // Name, the track, the result, a part of its message.
  const std::tuple<const char*, CQuorComPtr<IQuorTrackMetadata>, HRESULT, const char*> kCases[] = {
      {"NoFlags", NewTrack(7, "t", false, false), E_INVALIDARG, "No Media Types are set"},
      {"BadPluginText", withPlugin("x"), E_INVALIDARG, "SetMediaSessionPlugin"},
      {"NullPlugin", withPlugin("{00000000-0000-0000-0000-000000000000}"), E_INVALIDARG,
       "SetMediaSessionPlugin"},
      {"EmptyName", NewTrack(7, ""), E_INVALIDARG, "No Track Name is set"},
      {"NoAudioFlag", noAudioFlag, MFS_E_NO_VALUE, "GetAudioFlag"},
      {"First", NewTrack(7, "first"), S_OK, ""},
      {"SameIdAgain", NewTrack(7, "again"), E_INVALIDARG, "Track with this ID has already been"},
  };
  auto writer = NewWriter();
  ASSERT_EQ(writer->Initialize(Wide(m_dir.Path("cam.vid")).Get(), 64, 1, VARIANT_TRUE), S_OK);
  for (const auto& [name, track, hr, message] : kCases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(writer->AddTrack(track.Get()), hr);
    EXPECT_NE(LastErrorText().find(message), std::string::npos);  // "" for success
  }
  EXPECT_EQ(StateOf(writer.Get()), wseReadyToStart);
}

// The head and the end reserve must fit under the size limit, or no file could keep to it.
TEST_F(QuorMediaFileWriterTest, LimitTooSmallForTheHeadIsRefusedWithTheSizeMessage) {
  auto writer = NewWriter();
  ASSERT_EQ(writer->Initialize(Wide(m_dir.Path("h.vid")).Get(), 1, 1, VARIANT_TRUE), S_OK);
  EXPECT_EQ(writer->AddTrack(NewTrack(1, std::string(400, 'n').c_str()).Get()), E_INVALIDARG);
  EXPECT_NE(LastErrorText().find("dwMaxSize, specified is under/over"), std::string::npos);
  ASSERT_EQ(writer->AddTrack(NewTrack(1, "v").Get()), S_OK);
  // A description set after the tracks is caught when recording starts.
  ASSERT_EQ(writer->SetDescription(Wide(std::string(400, 'd')).Get()), S_OK);
  EXPECT_EQ(writer->StartRecording(), E_INVALIDARG);
  ASSERT_EQ(writer->SetDescription(Wide("short").Get()), S_OK);
  ASSERT_EQ(writer->StartRecording(), S_OK);
  WriteUntilFinished(writer.Get(), 100);
  EXPECT_LE(m_dir.FileSize("h.vid"), kKiB);
}

// One writer records two filesets in turn: a single file without samples (no index block, no
// fileset GUID) and then one of a two-file fileset with samples, its block indexes from 0 again.
TEST_F(QuorMediaFileWriterTest, HeadCarriesPasswordHashGuidAndTracksAndAFinishedWriterStartsAgain) {
  // The file, the file limit, the samples written.
  const std::tuple<const char*, ULONG, int> kRuns[] = {{"one.vid", 1, 0}, {"two.vid", 2, 3}};
  auto writer = NewWriter();
  for (const auto& [name, maxFiles, samples] : kRuns) {
    SCOPED_TRACE(name);
    ASSERT_EQ(writer->Initialize(Wide(m_dir.Path(name)).Get(), 64, maxFiles, VARIANT_TRUE), S_OK);
    ASSERT_EQ(writer->SetPassword(Wide("").Get()), E_INVALIDARG);
    ASSERT_EQ(writer->SetPassword(Wide("abc").Get()), S_OK);
    ASSERT_EQ(writer->AddTrack(NewTrack(1, "one").Get()), S_OK);
    ASSERT_EQ(writer->AddTrack(NewTrack(2, "two", false, true).Get()), S_OK);
    ASSERT_EQ(writer->StartRecording(), S_OK);
    WriteSamples(writer.Get(), samples, 50);
    ASSERT_EQ(writer->StopRecording(), S_OK);

    const ParsedFile file = ParseFile(m_dir, name);
    ExpectWellFormed(file, true, 64 * kKiB);
    // info, two tracks, the samples, an index block when there are samples, finalization
    EXPECT_EQ(file.blocks.size(), 4u + samples + (samples ? 1 : 0));
    EXPECT_EQ(file.entries.size(), std::size_t(samples));
    EXPECT_EQ(file.blocks.front().blockIndex, 0u);
    EXPECT_EQ(file.fileSetGuid == GUID_NULL, maxFiles == 1);
    const BYTE abc[] = {0x61, 0, 0x62, 0, 0x63, 0};  // the password as UTF-16
    EXPECT_EQ(file.passwordHash, Digest(abc, sizeof abc));
  }
}

TEST_F(QuorMediaFileWriterTest, RecordingHoldsEveryPayloadPeriodicIndexBlocksAndValidHashes) {
  CQuorMediaFileWriter::SetIndexPeriodForTesting(std::chrono::milliseconds(2));
  const std::size_t kSizes[] = {5000, 10, 70000, 300, 1};
  auto writer = NewWriter();
  StartSimpleRecording(writer.Get(), m_dir.Path("rec.vid"), 4096, 1);
  ULONGLONG bytes = BytesWrittenTotal(writer.Get());
  for (int i = 0; i < 50; ++i) {
    CQuorComPtr<IQuorMediaFileSample> sample = NewSample(PatternBytes(kSizes[i % 5], i), 1000 + i);
    if (i % 3 == 0) {
      CQuorComPtr<CForeignSample> foreign;
      ASSERT_EQ(QuorCreateObject(&foreign), S_OK);
      foreign->inner = sample;
      sample = CQuorComPtr<IQuorMediaFileSample>(foreign.Get());
    }
    ASSERT_EQ(writer->Write(1, sample.Get()), S_OK);
    bytes += kSizes[i % 5] + kMediaSampleOverhead;
    if (i % 5 == 4) {
      WaitForBytes(writer.Get(), bytes);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));  // lets the index timer fire
    }
  }
  ASSERT_EQ(writer->StopRecording(), S_OK);

  const ParsedFile file = ParseFile(m_dir, "rec.vid");
  ExpectWellFormed(file, true, 4096 * kKiB);
  ASSERT_EQ(file.entries.size(), 50u);
  EXPECT_GT(file.previousIndexOffsets.size(), 1u);  // periodic ones and the last one
  for (std::size_t i = 0; i < file.entries.size(); ++i) {
    EXPECT_EQ(file.entries[i].m_timestamp, 1000 + i);
    EXPECT_EQ(file.entries[i].m_flags, 0x03u);
    EXPECT_EQ(file.payloads.at(file.entries[i].m_position), PatternBytes(kSizes[i % 5], i));
  }
}

TEST_F(QuorMediaFileWriterTest, RolloverNamesFlagsBlockIndexesAndNextFileOnce) {
  auto writer = NewWriter();
  StartSimpleRecording(writer.Get(), m_dir.Path("cam.vid"), 4, 3);
  // Dropped once full; a rollover is reported once, possibly one Write late.
  std::vector<HRESULT> all = WriteUntilFinished(writer.Get(), 500);
  for (int i = 0; i < 3; ++i) all.push_back(writer->Write(1, NewSample({1}, 1).Get()));
  EXPECT_EQ(std::count(all.begin(), all.end(), MFS_S_NEXT_FILE), 2);
  EXPECT_EQ(all.back(), S_OK);
  EXPECT_EQ(writer->StopRecording(), S_OK);

  DWORD nextIndex = 0;
  std::size_t samples = 0;
  const char* kNames[] = {"cam.vid", "cam1.vid", "cam2.vid"};
  for (DWORD k = 0; k < 3; ++k) {
    SCOPED_TRACE(kNames[k]);
    const ParsedFile file = ParseFile(m_dir, kNames[k]);
    ExpectWellFormed(file, k == 2, 4 * kKiB);
    EXPECT_EQ(file.fileSetIndex, k);
    EXPECT_EQ(file.blocks.front().blockIndex, nextIndex);
    nextIndex = file.blocks.back().blockIndex + 1;
    ExpectPayloadPrefix(file, 500, samples);
    samples += file.entries.size();
  }
  EXPECT_FALSE(m_dir.Exists("cam3.vid"));
}

// A next member file whose name is taken ends the recording: the full file is closed as the
// last one, the status names it, and one Write reports the name that could not be had. Samples
// the writer could not keep are counted.
TEST_F(QuorMediaFileWriterTest, FailedRolloverEndsTheFilesetWithTheFullFileAsItsLast) {
  m_dir.WriteBytes("r1.vid", {1, 2, 3});
  auto writer = NewWriter();
  const auto options = QueryAs<IQuorMediaFileWriterOptions>(writer);
  ASSERT_EQ(writer->Initialize(Wide(m_dir.Path("r.vid")).Get(), 4, 3, VARIANT_FALSE), S_OK);
  ASSERT_EQ(writer->AddTrack(NewTrack(1, "v").Get()), S_OK);
  ASSERT_EQ(writer->StartRecording(), S_OK);
  // Larger than an empty file: dropped, and the recording goes on.
  ASSERT_EQ(writer->Write(1, NewSample(Bytes(5000, 1), 0).Get()), S_OK);
  while (Got(options.Get(), &IQuorMediaFileWriterOptions::GetDroppedSampleCount) == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(StateOf(writer.Get()), wseStarted);
  WriteUntilFinished(writer.Get(), 500);
  EXPECT_EQ(writer->Write(1, NewSample({1}, 1).Get()), HRESULT_FROM_WIN32(ERROR_FILE_EXISTS));
  EXPECT_NE(LastErrorText().find("r1.vid"), std::string::npos) << LastErrorText();
  EXPECT_EQ(writer->Write(1, NewSample({1}, 1).Get()), S_OK);  // reported once
  // The oversized sample, the one that met the full file and the last Write.
  EXPECT_EQ(Got(options.Get(), &IQuorMediaFileWriterOptions::GetDroppedSampleCount), 3u);
  using S = IQuorMediaFileRecordingStatus;
  const auto status = StatusOf(writer.Get());
  EXPECT_EQ(std::make_tuple(Got(status.Get(), &S::GetWriterState),
                            Got(status.Get(), &S::GetCurrentFileIndex),
                            Got(status.Get(), &S::GetCurrentFileName)),
            std::make_tuple(wseFinished, 0u, m_dir.Path("r.vid")));
  EXPECT_EQ(writer->StopRecording(), S_OK);
  ExpectWellFormed(ParseFile(m_dir, "r.vid"), true, 4 * kKiB);
  EXPECT_EQ(m_dir.ReadBytes("r1.vid"), (Bytes{1, 2, 3}));
}

// The options a recording starts with: durability syncs each head, index and closing block to
// the device; the index period is checked.
TEST_F(QuorMediaFileWriterTest, OptionsSetDurabilityAndIndexPeriod) {
  CQuorFaultyFileSystem faulty;
  auto writer = NewWriter(faulty);
  const auto options = QueryAs<IQuorMediaFileWriterOptions>(writer);
  using O = IQuorMediaFileWriterOptions;
  EXPECT_EQ(Got(options.Get(), &O::GetDurable), VARIANT_FALSE);
  EXPECT_EQ(Got(options.Get(), &O::GetIndexPeriod), 60u);
  for (ULONG bad : {0u, 86401u}) EXPECT_EQ(options->SetIndexPeriod(bad), E_INVALIDARG);
  ASSERT_EQ(options->SetIndexPeriod(3600), S_OK);  // no timer-driven index block below
  EXPECT_EQ(Got(options.Get(), &O::GetIndexPeriod), 3600u);
  for (const bool durable : {false, true}) {
    SCOPED_TRACE(durable);
    const std::uint64_t syncsBefore = faulty.SyncCalls();
    ASSERT_EQ(options->SetDurable(durable ? VARIANT_TRUE : VARIANT_FALSE), S_OK);
    StartSimpleRecording(writer.Get(), m_dir.Path("d.vid"), 64, 1);
    WriteSamples(writer.Get(), 3, 10);
    ASSERT_EQ(writer->StopRecording(), S_OK);
    // The head, the last index block, the finalization block.
    EXPECT_EQ(faulty.SyncCalls() - syncsBefore, durable ? 3u : 0u);
  }
}

TEST_F(QuorMediaFileWriterTest, WorkerStoppedWithSamplesQueuedClosesTheFileCleanly) {
  auto writer = NewWriter();
  StartSimpleRecording(writer.Get(), m_dir.Path("q.vid"), 65536, 1);
  for (int i = 0; i < 200; ++i) {
    ASSERT_EQ(writer->Write(1, NewSample(PatternBytes(4096, i), i).Get()), S_OK);
  }
  ASSERT_EQ(writer->StopRecording(), S_OK);
  const ParsedFile file = ParseFile(m_dir, "q.vid");
  ExpectWellFormed(file, true, 65536 * kKiB);
  EXPECT_LE(file.entries.size(), 200u);
  ExpectPayloadPrefix(file, 4096);
}

// The mode a recording starts with holds for all of it; a change made meanwhile applies to the
// next recording of the same writer.
TEST_F(QuorMediaFileWriterTest, PayloadOnlyFilesHoldSignatureAndPayloadFieldsOnly) {
  auto writer = NewWriter();
  const auto writer2 = QueryAs<IQuorMediaFileWriter2>(writer);
  ASSERT_EQ(writer2->SetPayloadOnly(VARIANT_TRUE), S_OK);
  StartSimpleRecording(writer.Get(), m_dir.Path("p.vid"), 64, 1);
  ASSERT_EQ(writer2->SetPayloadOnly(VARIANT_FALSE), S_OK);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(writer->Write(1, NewSample({BYTE(i), 7}, i).Get()), S_OK);
  WaitForBytes(writer.Get(), 16 + 3 * 10);
  ASSERT_EQ(writer->StopRecording(), S_OK);
  // The signature and three payload fields of 10 bytes (the block test checks their bytes).
  const Bytes bytes = m_dir.ReadBytes("p.vid");
  ASSERT_EQ(bytes.size(), 16u + 3 * 10);
  EXPECT_EQ(Bytes(bytes.end() - 10, bytes.end()), (Bytes{0x01, 0x04, 0, 0, 2, 0, 0, 0, 2, 7}));

  StartSimpleRecording(writer.Get(), m_dir.Path("n.vid"), 64, 1);
  ASSERT_EQ(writer2->SetPayloadOnly(VARIANT_TRUE), S_OK);
  WriteSamples(writer.Get(), 3, 10);
  ASSERT_EQ(writer->StopRecording(), S_OK);
  const ParsedFile file = ParseFile(m_dir, "n.vid");
  ExpectWellFormed(file, true, 64 * kKiB);
  EXPECT_EQ(file.entries.size(), 3u);
}

TEST_F(QuorMediaFileWriterTest, StatusSnapshotsBeforeDuringAndAfterRecording) {
  constexpr ULONGLONG kAnyCurrent = ~0ull;
  auto writer = NewWriter();
  // One status object is one consistent snapshot: the finished files plus the current one.
  auto snapshot = [&](WriterStateEnum state, ULONG index, ULONGLONG current, ULONGLONG total) {
    using S = IQuorMediaFileRecordingStatus;
    const CQuorComPtr<S> status = StatusOf(writer.Get());
    const ULONGLONG c = Got(status.Get(), &S::GetBytesWrittenCurrentFile);
    EXPECT_EQ(Got(status.Get(), &S::GetWriterState), state);
    EXPECT_EQ(Got(status.Get(), &S::GetCurrentFileIndex), index);
    EXPECT_TRUE(current == kAnyCurrent || c == current) << c;
    EXPECT_EQ(Got(status.Get(), &S::GetBytesWrittenTotal),
              current == kAnyCurrent ? total + c : total);
    const auto metadata = Got(status.Get(), &S::GetFileSetMetadata);
    EXPECT_EQ(Got(metadata.Get(), &IQuorFileSetMetadata::IsFileSetComplete),
              state == wseFinished ? VARIANT_TRUE : VARIANT_FALSE);
  };
  snapshot(wseCreated, 0, 0, 0);
  ASSERT_EQ(writer->Initialize(Wide(m_dir.Path("s.vid")).Get(), 4, 2, VARIANT_TRUE), S_OK);
  snapshot(wseInitialized, 0, 16, 16);
  ASSERT_EQ(writer->AddTrack(NewTrack(1, "v").Get()), S_OK);
  ASSERT_EQ(writer->StartRecording(), S_OK);
  for (int i = 0; !m_dir.Exists("s1.vid"); ++i) WriteSamples(writer.Get(), 1, 600, i);
  const ULONGLONG file0 = m_dir.FileSize("s.vid");
  snapshot(wseStarted, 1, kAnyCurrent, file0);
  ASSERT_EQ(writer->StopRecording(), S_OK);
  snapshot(wseFinished, 1, 0, file0 + m_dir.FileSize("s1.vid"));
}

TEST_F(QuorMediaFileWriterTest, ConcurrentWritersKeepEverySampleInEachThreadsOrder) {
  constexpr int kThreads = 4;
  constexpr int kEach = 300;
  auto writer = NewWriter();
  StartSimpleRecording(writer.Get(), m_dir.Path("c.vid"), 65536, 1);
  const ULONGLONG head = BytesWrittenTotal(writer.Get());
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        // The timestamp names the thread and the sample's place in it.
        EXPECT_EQ(writer->Write(1, NewSample(PatternBytes(64, t), t * 100000 + i).Get()), S_OK);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  WaitForBytes(writer.Get(), head + ULONGLONG(kThreads) * kEach * (64 + kMediaSampleOverhead));
  ASSERT_EQ(writer->StopRecording(), S_OK);
  const ParsedFile file = ParseFile(m_dir, "c.vid");
  ExpectWellFormed(file, true, 65536 * kKiB);
  ASSERT_EQ(file.entries.size(), std::size_t(kThreads * kEach));
  std::vector<ULONGLONG> next(kThreads, 0);
  for (const CQuorMediaSampleIndex& e : file.entries) {
    const int t = int(e.m_timestamp / 100000);
    EXPECT_EQ(e.m_timestamp % 100000, next[t]++);
    EXPECT_EQ(file.payloads.at(e.m_position), PatternBytes(64, t));
  }
}

TEST_F(QuorMediaFileWriterTest, DiskFullAtEveryBoundaryEndsTheRecordingWithAClosedFile) {
  // Room for the signature, the head and a few samples; every byte count in that range.
  for (std::uint64_t room = 400; room < 2600; room += 37) {
    SCOPED_TRACE(room);
    // Overwriting the last round's files would give their bytes back to the disk and so add
    // to the room: each round starts without them.
    for (const char* name : {"full.vid", "full1.vid"}) m_dir.Remove(name);
    CQuorFaultyFileSystem faulty;
    faulty.SetDiskRoom(room);
    auto writer = NewWriter(faulty);
    ASSERT_EQ(writer->Initialize(Wide(m_dir.Path("full.vid")).Get(), 64, 5, VARIANT_TRUE), S_OK);
    ASSERT_EQ(writer->AddTrack(NewTrack(1, "v").Get()), S_OK);
    if (FAILED(writer->StartRecording())) continue;  // not even the head fits
    const int written = int(WriteUntilFinished(writer.Get(), 300).size());
    EXPECT_EQ(writer->Write(1, NewSample({1}, 1).Get()), S_OK);  // dropped
    EXPECT_EQ(writer->StopRecording(), S_OK);
    EXPECT_FALSE(m_dir.Exists("full1.vid"));  // a full disk never rolls over
    // Every sample the recording took before the disk filled is readable, and the file is
    // closed with the last-file flag within its limit.
    const ParsedFile file = ParseFile(m_dir, "full.vid");
    ExpectWellFormed(file, true, 64 * kKiB);
    ASSERT_LE(file.entries.size(), std::size_t(written));
    ExpectPayloadPrefix(file, 300);
  }
}

// A process killed at any moment leaves blocks that are whole and hashed up to the cut; only
// the last block may be torn. The reader opens what is left, and every sample up to the last
// complete index block is reachable, in order, with its payload.
TEST_F(QuorMediaFileWriterTest, WorkerKilledAtRandomMomentsLeavesValidBlocksTheReaderRecovers) {
  std::mt19937 random(12345);
  for (int run = 0; run < 5; ++run) {
    SCOPED_TRACE(run);
    const std::string name = "kill" + std::to_string(run) + ".vid";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      CQuorMediaFileWriter::SetIndexPeriodForTesting(std::chrono::milliseconds(1));
      auto writer = NewWriter();
      StartSimpleRecording(writer.Get(), m_dir.Path(name), 65536, 1);
      for (int i = 0;; ++i) (void)writer->Write(1, NewSample(PatternBytes(700, i), i).Get());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20 + random() % 200));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!m_dir.Exists(name)) continue;
    const ParsedFile file = ParseFile(m_dir, name, true);
    for (const ParsedBlock& block : file.blocks) EXPECT_TRUE(block.hashValid);
    for (const auto& [offset, payload] : file.payloads) EXPECT_EQ(payload.size(), 700u);
    if (file.entries.empty()) continue;  // killed before its first index block
    CQuorComPtr<IQuorMediaFileReader> reader = NewReader();
    ASSERT_EQ(Open(reader.Get(), m_dir, name), S_OK);
    CQuorComPtr<IQuorMediaFileSample> sample;
    HRESULT hr = reader->MoveTo(1, 0, sample.AddressOf());
    for (std::size_t i = 0; i < file.entries.size(); ++i) {
      ASSERT_EQ(hr, S_OK) << "sample " << i;
      EXPECT_EQ(Got(sample.Get(), &IQuorMediaFileSample::GetTimestamp), i);
      EXPECT_EQ(QuorBytes(Got(sample.Get(), &IQuorMediaFileSample::GetPayloadData).Get()),
                PatternBytes(700, i));
      hr = reader->MoveNext(1, sample.AddressOf());
    }
    EXPECT_TRUE(FAILED(hr)) << "a sample after the last complete index block";
  }
}

// Blocks the writer reported written survive the process: a timer-driven index block written
// while no samples arrive makes every sample reachable, and a member file just begun by a
// rollover opens.
TEST_F(QuorMediaFileWriterTest, KilledWriterLeavesEveryReportedBlockOnDisk) {
  constexpr int kSamples = 20;
  const pid_t idle = ::fork();
  ASSERT_GE(idle, 0);
  if (idle == 0) {
    CQuorMediaFileWriter::SetIndexPeriodForTesting(std::chrono::milliseconds(20));
    auto writer = NewWriter();
    // A child that fails exits, which the parent sees as not killed.
    if (writer->Initialize(Wide(m_dir.Path("idle.vid")).Get(), 65536, 1, VARIANT_TRUE) != S_OK ||
        writer->AddTrack(NewTrack(1, "video").Get()) != S_OK) {
      ::_exit(1);
    }
    // Queued before the start, the samples are all written before the worker first looks at its
    // timer, so the first index block lists every one of them.
    for (int i = 0; i < kSamples; ++i) {
      (void)writer->Write(1, NewSample(PatternBytes(300, i), i).Get());
    }
    if (writer->StartRecording() != S_OK) ::_exit(1);
    // Without an index block the file holds less than this (its head is smaller than the
    // index block's entries); with it, more.
    const ULONGLONG indexed = kSamples * (300 + kMediaSampleOverhead + kIndexEntrySize) + 16;
    while (BytesWrittenTotal(writer.Get()) < indexed) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ::raise(SIGKILL);
  }
  const pid_t rollover = ::fork();
  ASSERT_GE(rollover, 0);
  if (rollover == 0) {
    auto writer = NewWriter();
    StartSimpleRecording(writer.Get(), m_dir.Path("roll.vid"), 64, 2);
    for (int i = 0;; ++i) {
      if (writer->Write(1, NewSample(PatternBytes(500, i), i).Get()) == MFS_S_NEXT_FILE) {
        ::raise(SIGKILL);
      }
    }
  }
  for (const pid_t child : {idle, rollover}) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
  }

  CQuorComPtr<IQuorMediaFileReader> reader = NewReader();
  ASSERT_EQ(Open(reader.Get(), m_dir, "idle.vid"), S_OK);
  std::vector<ULONGLONG> every(kSamples);
  std::iota(every.begin(), every.end(), 0);
  EXPECT_EQ(WalkForward(reader.Get(), 1, 0), every);

  ASSERT_EQ(Open(reader.Get(), m_dir, "roll.vid"), S_OK);
  EXPECT_EQ(Got(reader.Get(), &IQuorMediaFileReader::GetFileNames).Count(), 2u);
}

}  // namespace
