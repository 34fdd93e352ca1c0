// quor.hpp as an application uses it, with the engine linked in: a recording read back sample by
// sample with its metadata, ranges and moves, authentication of an intact and a damaged copy,
// and the bad inputs that must come back as named errors.
#include <gtest/gtest.h>

#include <stop_token>

#include "quormediafiles/quor.hpp"
#include "seal/QuorSealKey.h"
#include "support/QuorTempDir.h"

namespace {

using quor::SampleFlags;
constexpr SampleFlags kKeyVideo = SampleFlags::KeyFrame | SampleFlags::Video;
constexpr SampleFlags kDeltaVideo = SampleFlags::NotKeyFrame | SampleFlags::Video;

class QuorApiTest : public ::testing::Test {
 protected:
  // Track 1 (video, H.264): `count` samples at timestamps 10, 20, ...; every fourth a key frame;
  // payload i is PatternBytes(100 + i, i). Track 2 (audio) has none.
  std::string Record(int count, std::uint32_t maxFileSizeKiB = 1024, std::uint32_t maxFiles = 1,
                     const quor::WriterOptions& options = {}) {
    const std::string path = m_dir.Path("cam.qmf");
    auto writer = quor::Writer::create(
        path, {.maxFileSizeKiB = maxFileSizeKiB, .maxFiles = maxFiles},
        {{.id = 1, .name = "front door", .sourceId = 7, .video = true, .videoFormat = "H.264"},
         {.id = 2, .name = "mic", .audio = true, .audioFormat = "AAC"}},
        options);
    for (int i = 0; i < count; ++i) {
      const Bytes payload = PatternBytes(100 + i, i);
      writer.write(1, 10 * (i + 1), i % 4 == 0 ? kKeyVideo : kDeltaVideo,
                   std::span<const std::uint8_t>(payload));
    }
    writer.stop();
    return path;
  }

  template <class F>
  static void ExpectError(const char* codeName, F&& f) {
    try {
      f();
      ADD_FAILURE() << "no error, expected " << codeName;
    } catch (const quor::Error& e) {
      EXPECT_EQ(e.codeName(), codeName) << e.what();
      EXPECT_NE(std::string(e.what()).find(codeName), std::string::npos);
    }
  }

  CQuorTempDir m_dir;
};

TEST_F(QuorApiTest, RecordingReadsBackWithMetadataAndEveryPayload) {
  auto reader = quor::Reader::open(Record(40, 1024, 1, {.description = "lobby"}));
  const quor::FileSetInfo info = reader.info();
  EXPECT_EQ(std::tie(info.description, info.complete, info.passwordProtected),
            std::make_tuple("lobby", true, false));
  ASSERT_TRUE(info.creationTime.has_value());
  ASSERT_EQ(info.files.size(), 1u);
  EXPECT_EQ(quor::words(info.files[0].status), (std::vector<std::string>{"last", "finalized"}));

  const std::vector<quor::TrackInfo> tracks = reader.tracks();
  ASSERT_EQ(tracks.size(), 2u);
  const quor::TrackInfo& door = tracks[0];
  EXPECT_EQ(std::tie(door.name, door.sourceId, door.videoFormatName, door.firstTimestamp,
                     door.lastTimestamp),
            std::make_tuple("front door", 7u, "H.264", 10u, 400u));
  EXPECT_EQ(tracks[1].audioFormatName, "AAC");
  EXPECT_FALSE(tracks[1].firstTimestamp.has_value());

  int i = 0;
  for (const quor::Sample& s : reader.samples(1)) {
    SCOPED_TRACE(i);
    EXPECT_EQ(s.timestamp(), 10u * (i + 1));
    EXPECT_EQ(s.flags(), i % 4 == 0 ? kKeyVideo : kDeltaVideo);
    const auto* payload = reinterpret_cast<const BYTE*>(s.payload().data());
    EXPECT_EQ(Bytes(payload, payload + s.payload().size()), PatternBytes(100 + i, i));
    ++i;
  }
  EXPECT_EQ(i, 40);
  EXPECT_EQ(reader.samples(2).begin(), quor::SampleSentinel{}) << "a track without samples";
}

TEST_F(QuorApiTest, RangesAndMovesStopAtTheirEnds) {
  auto reader = quor::Reader::open(Record(10));
  const std::tuple<std::uint64_t, std::uint64_t, std::vector<std::uint64_t>> kCases[] = {
      {0, 25, {10, 20}}, {15, 30, {20, 30}}, {95, 1000, {100}}, {101, 1000, {}}, {31, 39, {}}};
  for (const auto& [from, to, timestamps] : kCases) {
    SCOPED_TRACE(from);
    std::vector<std::uint64_t> seen;
    for (const quor::Sample& s : reader.samples(1, from, to)) seen.push_back(s.timestamp());
    EXPECT_EQ(seen, timestamps);
  }
  EXPECT_EQ(reader.moveTo(1, 0)->timestamp(), 10u) << "before the first sample";
  EXPECT_EQ(reader.moveTo(1, 55)->timestamp(), 50u) << "at or just before";
  EXPECT_EQ(reader.previous(1)->timestamp(), 40u);
  EXPECT_EQ(reader.moveTo(1, 1000)->timestamp(), 100u);
  EXPECT_FALSE(reader.next(1).has_value()) << "the end of the track is a value";
  EXPECT_FALSE(reader.moveTo(2, 5).has_value());
}

// Frames stored by presentation time: ranges skip what lies below from wherever it comes, and the
// counts count what samples() lists.
TEST_F(QuorApiTest, TimestampsThatGoBackAreListedWholeAndCounted) {
  const std::vector<std::uint64_t> stored = {10, 40, 20, 30, 70, 50, 60};
  const std::string path = m_dir.Path("reordered.qmf");
  {
    auto writer = quor::Writer::create(path, {.maxFileSizeKiB = 64},
                                       {{.id = 1, .name = "door", .video = true}});
    for (std::uint64_t t : stored) {
      const Bytes payload = PatternBytes(t, 0);
      writer.write(1, t, t == 10 ? kKeyVideo : kDeltaVideo, std::span<const std::uint8_t>(payload));
    }
  }
  auto reader = quor::Reader::open(path);
  const auto listed = [&](std::uint64_t from) {
    std::vector<std::uint64_t> seen;
    for (const quor::Sample& s : reader.samples(1, from)) seen.push_back(s.timestamp());
    std::vector<std::uint64_t> walked;
    reader.forEachSample(1, from, UINT64_MAX,
                         [&](const quor::Sample* s) { walked.push_back(s->timestamp()); });
    EXPECT_EQ(walked, seen);
    return seen;
  };
  EXPECT_EQ(listed(0), stored);
  EXPECT_EQ(listed(25), (std::vector<std::uint64_t>{40, 30, 70, 50, 60}));
  EXPECT_FALSE(reader.tracks()[0].counts.has_value());
  const std::vector<quor::TrackInfo> counted = reader.tracks(quor::TrackDetail::Counts);
  ASSERT_TRUE(counted[0].counts.has_value());
  const quor::SampleCounts& counts = *counted[0].counts;
  EXPECT_EQ(std::tie(counts.samples, counts.keyFrames, counts.payloadBytes, counts.unreadable),
            std::make_tuple(stored.size(), 1u, 10u + 40 + 20 + 30 + 70 + 50 + 60, 0u));
}

TEST_F(QuorApiTest, AuthenticationGivesVerdictsAndProgressAndCanBeStopped) {
  const std::string path = Record(200, 8, 16);  // several member files
  {
    auto reader = quor::Reader::open(path);
    unsigned last = 0;
    const quor::Authentication a = reader.authenticate([&](unsigned p) { last = p; });
    EXPECT_EQ(std::tie(a.authentic, a.cancelled), std::make_tuple(true, false));
    ASSERT_GT(a.files.size(), 1u);
    for (const quor::FileVerdict& f : a.files) EXPECT_TRUE(f.authentic) << f.name;
    EXPECT_EQ(last, 100u);

    std::stop_source stop;
    stop.request_stop();
    EXPECT_TRUE(reader.authenticate({}, stop.get_token()).cancelled);
  }
  // One payload byte of the first file changed: the damage is named in that file only.
  m_dir.FlipByte("cam.qmf", 600);
  auto reader = quor::Reader::open(path);
  const quor::Authentication a = reader.authenticate();
  EXPECT_EQ(std::tie(a.authentic, a.complete, a.files[0].authentic),
            std::make_tuple(false, true, false));
  EXPECT_TRUE(quor::has(a.files[0].status, quor::FileStatus::Tested));
  ASSERT_TRUE(a.files[0].damage.has_value());
  EXPECT_TRUE(a.files[0].damage->blockIndex.has_value());
  EXPECT_LE(a.files[0].damage->offset, 600u);
  EXPECT_EQ(a.files[0].damage->problem, "fails its block hash check");
  EXPECT_FALSE(a.files[1].damage.has_value()) << "its own blocks are intact";
}

TEST_F(QuorApiTest, BadInputsAreNamedErrors) {
  // A code without a name shows in hex; without a description the operation stands in.
  EXPECT_STREQ(quor::Error(std::int32_t(0x8004F0FFu), "Write", "").what(),
               "0x8004F0FF: Write failed");
  const std::string path = Record(3, 1024, 1, {.password = "secret"});
  ExpectError("MFS_E_BAD_PASSWORD", [&] { quor::Reader::open(path, "wrong"); });
  ExpectError("HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)",
              [&] { quor::Reader::open(m_dir.Path("missing.qmf")); });
  ExpectError("E_INVALIDARG", [&] { quor::Reader::open(m_dir.Path("bad\xff.qmf")); });

  auto reader = quor::Reader::open(path, "secret");
  EXPECT_TRUE(reader.info().passwordProtected);
  auto range = reader.samples(1);
  auto it = range.begin();
  reader.moveTo(1, 20);
  ExpectError("MFS_E_WRONG_STATE", [&] { ++it; });  // stale: the track moved
  ExpectError("E_INVALIDARG", [&] { reader.samples(9).begin(); });
  reader.close();
  ExpectError("MFS_E_WRONG_STATE", [&] { reader.info(); });
  ExpectError("MFS_E_WRONG_STATE", [&] { reader.samples(1); });

  auto writer = quor::Writer::create(m_dir.Path("w.qmf"), {.maxFileSizeKiB = 64},
                                     {{.id = 1, .name = "v", .video = true}});
  const std::vector<std::uint8_t> big(65 * 1024);
  ExpectError("MFS_E_FILE_FULL", [&] { writer.write(1, 1, kKeyVideo, std::span(big)); });
  ExpectError("E_INVALIDARG",
              [&] { writer.write(1, 1, SampleFlags::KeyFrame, std::span(big).first(1)); });
  ExpectError("E_INVALIDARG", [&] { writer.write(3, 1, kKeyVideo, std::span(big).first(1)); });
  writer.stop();
  ExpectError("MFS_E_WRONG_STATE", [&] { writer.write(1, 2, kKeyVideo, std::span(big).first(1)); });
  ExpectError("HRESULT_FROM_WIN32(ERROR_FILE_EXISTS)", [&] {
    quor::Writer::create(m_dir.Path("w.qmf"), {}, {{.id = 1, .name = "v", .video = true}});
  });
}

TEST_F(QuorApiTest, DrainPutsEveryQueuedSampleOnDiskAndStopKeepsThem) {
  const std::string path = m_dir.Path("d.qmf");
  auto writer = quor::Writer::create(path, {}, {{.id = 1, .name = "v", .video = true}},
                                     {.durable = true, .indexPeriodSeconds = 1});
  const Bytes payload = PatternBytes(4096);
  for (int i = 0; i < 500; ++i)
    writer.write(1, i, kKeyVideo, std::span<const std::uint8_t>(payload));
  writer.drain();
  EXPECT_GE(writer.status().bytesWrittenTotal, 500u * 4096u);
  EXPECT_EQ(writer.status().state, quor::WriterState::Started);
  for (int i = 500; i < 1000; ++i)
    writer.write(1, i, kKeyVideo, std::span<const std::uint8_t>(payload));
  writer.stop();
  writer.stop();
  EXPECT_EQ(writer.status().state, quor::WriterState::Finished);
  int count = 0;
  for (const quor::Sample& s : quor::Reader::open(path).samples(1))
    count += s.payload().size() == 4096;
  EXPECT_EQ(count, 1000) << "stop() drains before it closes the file";
  EXPECT_EQ(writer.status().droppedSamples, 0u);
}

TEST_F(QuorApiTest, SigningKeySealsEveryFileAndVerifySealsNamesAChangedOne) {
  CQuorSealKey key;
  ASSERT_EQ(key.Generate(), S_OK);
  ASSERT_EQ(key.WritePair(m_dir.Path("key")), S_OK);
  ExpectError("E_INVALIDARG", [&] { Record(5, 1024, 1, {.signingKey = m_dir.Path("key.pub")}); });
  const std::string path = Record(200, 8, 8, {.overwrite = true, .signingKey = m_dir.Path("key")});
  const quor::Reader reader = quor::Reader::open(path);
  const std::vector<quor::SealCheck> checks = reader.verifySeals(m_dir.Path("key.pub"));
  ASSERT_GT(checks.size(), 1u);
  for (const quor::SealCheck& check : checks) EXPECT_TRUE(check.sealedToEnd()) << check.file;

  m_dir.FlipByte("cam1.qmf", m_dir.FileSize("cam1.qmf") / 2);
  // The seal check that authenticates in the same read gives authenticate()'s verdicts.
  quor::Authentication together;
  unsigned last = 0;
  for (const quor::SealCheck& check :
       reader.verifySeals(m_dir.Path("key.pub"), &together, [&](unsigned p) { last = p; })) {
    const bool changed = check.file == m_dir.Path("cam1.qmf");
    EXPECT_EQ(check.state, changed ? quor::SealState::BytesDiffer : quor::SealState::SealedToEnd);
  }
  EXPECT_EQ(last, 100u);
  const quor::Authentication alone = reader.authenticate();
  EXPECT_FALSE(together.authentic);
  EXPECT_EQ(together.complete, alone.complete);
  ASSERT_EQ(together.files.size(), alone.files.size());
  for (std::size_t i = 0; i < alone.files.size(); ++i) {
    SCOPED_TRACE(alone.files[i].name);
    EXPECT_EQ(together.files[i].authentic, alone.files[i].authentic);
    EXPECT_EQ(together.files[i].status, alone.files[i].status);
    EXPECT_EQ(together.files[i].damage.has_value(), alone.files[i].damage.has_value());
  }
  std::stop_source stop;
  stop.request_stop();
  EXPECT_TRUE(reader.verifySeals(m_dir.Path("key.pub"), &together, {}, stop.get_token()).empty());
  EXPECT_TRUE(together.cancelled);
  ExpectError("MFS_E_BAD_FORMAT", [&] { (void)reader.verifySeals(m_dir.Path("cam.qmf")); });
}

}  // namespace
