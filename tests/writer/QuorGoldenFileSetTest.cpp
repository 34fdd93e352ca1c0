// The committed golden fileset (tests/golden: two member files, two tracks) against both sides:
// the writer, with its GUID and creation time fixed, reproduces it byte for byte, and the reader
// reads from it exactly the samples that were written. A change made to the writer and the
// reader at once still breaks this test. Set QUOR_WRITE_GOLDEN to a directory to write the
// files anew there.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "objects/QuorMediaFileSample.h"
#include "quormediafiles/QuorMediaFilesCpp.h"
#include "support/QuorTempDir.h"
#include "writer/QuorMediaFileWriter.h"
#include "writer/QuorWriterTestSupport.h"

namespace {

constexpr GUID kGoldenGuid = {0x601DE4F1, 0x5E7A, 0x4C0D, {0x9A, 1, 2, 3, 4, 5, 6, 7}};
constexpr ULONGLONG kGoldenCreationTime = 1767225600;  // 2026-01-01 00:00:00 UTC
const char* const kMembers[] = {"golden.qmf", "golden1.qmf"};

struct GoldenSample {
  ULONG track;
  ULONGLONG timestamp;
  ULONG flags;  // as the index entry stores them
  Bytes payload;
};

// Track 1 "camera" (video, a key frame every third sample) and track 2 "microphone" (audio),
// interleaved by timestamp.
std::vector<GoldenSample> GoldenSamples() {
  std::vector<GoldenSample> samples;
  for (ULONGLONG t = 0; t < 12; ++t) {
    if (t % 2 == 0)
      samples.push_back({1, t * 10, t % 6 == 0 ? 0x03u : 0x02u, PatternBytes(180, t)});
    samples.push_back({2, t * 10, 0x05, PatternBytes(40, 100 + t)});
  }
  return samples;
}

void WriteGolden(const std::string& path) {
  CQuorMediaFileWriter::SetIdentityForTesting(&kGoldenGuid, kGoldenCreationTime);
  auto writer = NewWriter();
  const HRESULT initialized = writer->Initialize(Wide(path).Get(), 3, 3, VARIANT_FALSE);
  CQuorMediaFileWriter::SetIdentityForTesting(nullptr, 0);
  ASSERT_EQ(initialized, S_OK);
  ASSERT_EQ(writer->SetDescription(Wide("golden fileset").Get()), S_OK);
  ASSERT_EQ(writer->AddTrack(NewTrack(1, "camera", true, false).Get()), S_OK);
  ASSERT_EQ(writer->AddTrack(NewTrack(2, "microphone", false, true).Get()), S_OK);
  ASSERT_EQ(writer->StartRecording(), S_OK);
  ULONGLONG bytes = BytesWrittenTotal(writer.Get());
  for (const GoldenSample& s : GoldenSamples()) {
    ASSERT_TRUE(SUCCEEDED(writer->Write(
        s.track,
        NewSample(s.payload, s.timestamp, CQuorMediaFileSample::SampleFlagsFromEntryFlags(s.flags))
            .Get())));
    bytes += s.payload.size() + 64;
    // One sample at a time, so that the blocks land in the same order on every run.
    WaitForBytes(writer.Get(), bytes);
    bytes = BytesWrittenTotal(writer.Get());
  }
  ASSERT_EQ(writer->StopRecording(), S_OK);
}

std::string GoldenDir() { return std::string(QUOR_SOURCE_DIR) + "/tests/golden"; }

Bytes Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(QuorGoldenFileSetTest, WriterReproducesTheGoldenFilesetByteForByte) {
  CQuorTempDir dir;
  const char* regenerate = std::getenv("QUOR_WRITE_GOLDEN");
  const std::string where = regenerate ? regenerate : dir.Path("");
  WriteGolden(where + "/golden.qmf");
  for (const char* member : kMembers) {
    SCOPED_TRACE(member);
    ASSERT_TRUE(std::filesystem::exists(GoldenDir() + "/" + member));
    EXPECT_TRUE(Slurp(where + "/" + member) == Slurp(GoldenDir() + "/" + member));
  }
  EXPECT_FALSE(std::filesystem::exists(where + "/golden2.qmf"));
}

TEST(QuorGoldenFileSetTest, ReaderReadsTheGoldenSamples) {
  CQuorComPtr<IQuorMediaFileReader> reader;
  ASSERT_EQ(CoCreateInstance(CLSID_QuorMediaFileReader, &reader), S_OK);
  ASSERT_EQ(reader->OpenFileSet(Wide(GoldenDir() + "/golden.qmf").Get(), nullptr), S_OK);
  VARIANT_BOOL authentic = VARIANT_FALSE;
  ASSERT_EQ(reader->IsAuthentic(&authentic), S_OK);
  EXPECT_EQ(authentic, VARIANT_TRUE);
  for (ULONG track : {1u, 2u}) {
    SCOPED_TRACE(track);
    std::vector<GoldenSample> expected;
    for (const GoldenSample& s : GoldenSamples()) {
      if (s.track == track) expected.push_back(s);
    }
    CQuorComPtr<IQuorMediaFileSample> sample;
    HRESULT hr = reader->MoveTo(track, 0, sample.AddressOf());
    for (const GoldenSample& s : expected) {
      ASSERT_EQ(hr, S_OK);
      ULONGLONG timestamp = 0;
      ASSERT_EQ(sample->GetTimestamp(&timestamp), S_OK);
      EXPECT_EQ(timestamp, s.timestamp);
      CQuorSafeArray payload;
      ASSERT_EQ(sample->GetPayloadData(payload.AddressOf()), S_OK);
      EXPECT_TRUE(QuorBytes(payload.Get()) == s.payload);
      hr = reader->MoveNext(track, sample.AddressOf());
    }
    EXPECT_EQ(hr, MFS_E_NO_VALUE);
  }
}

}  // namespace
