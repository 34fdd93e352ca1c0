// Salvage against damage made for real: single-bit flips of a fileset's last file, and
// recordings killed at random moments with their later members hidden behind an empty name.
// What the salvaged fileset holds is compared with what an independent parse of the damaged
// files proves intact.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <thread>

#include "format/QuorFormatLayout.h"
#include "reader/QuorTestFileSet.h"
#include "salvage/QuorFileSetSalvage.h"
#include "storage/QuorFileStorage.h"
#include "support/QuorBlockParser.h"
#include "support/QuorTempDir.h"
#include "writer/QuorMediaFileWriter.h"
#include "writer/QuorWriterTestSupport.h"

namespace {

using SampleSet = std::map<ULONGLONG, Bytes>;  // timestamp: payload, of track 1

std::vector<ULONGLONG> Timestamps(const SampleSet& samples) {
  std::vector<ULONGLONG> timestamps;
  for (const auto& [timestamp, payload] : samples) timestamps.push_back(timestamp);
  return timestamps;
}

// Compares timestamps first, so that a failure prints numbers rather than payloads.
void ExpectSame(const SampleSet& got, const SampleSet& expected) {
  ASSERT_EQ(Timestamps(got), Timestamps(expected));
  EXPECT_TRUE(got == expected) << "a payload differs";
}

// Every sample of track 1 in the fileset of path, read with the reader.
SampleSet ReadBack(const std::string& path) {
  CQuorComPtr<IQuorMediaFileReader> reader = NewReader();
  CQuorBstr name = Wide(path);
  EXPECT_EQ(reader->OpenFileSet(name.Get(), nullptr), S_OK);
  VARIANT_BOOL authentic = VARIANT_FALSE;
  EXPECT_EQ(reader->IsAuthentic(&authentic), S_OK);
  EXPECT_EQ(authentic, VARIANT_TRUE) << "the salvaged fileset verifies";
  SampleSet samples;
  CQuorComPtr<IQuorMediaFileSample> sample;
  for (HRESULT hr = reader->MoveTo(1, 0, sample.AddressOf()); SUCCEEDED(hr);
       hr = reader->MoveNext(1, sample.AddressOf())) {
    const ReadSample read = Decode(sample.Get());
    samples[read.timestamp] = read.payload;
  }
  return samples;
}

// Samples an intact index block lists whose media sample block passes its hash check.
void AddProvable(const ParsedFile& file, SampleSet* samples) {
  std::map<ULONGLONG, bool> valid;
  for (const ParsedBlock& b : file.blocks) valid[b.offset] = b.hashValid;
  for (const CQuorMediaSampleIndex& e : file.entries) {
    if (valid[e.m_position]) (*samples)[e.m_timestamp] = file.payloads.at(e.m_position);
  }
}

class QuorFileSetSalvageTest : public ::testing::Test {
 protected:
  QuorSalvageReport Salvage(const std::string& source, const std::string& target) {
    QuorSalvageReport report;
    std::filesystem::create_directories(std::filesystem::path(m_dir.Path(target)).parent_path());
    EXPECT_EQ(CQuorFileSetSalvage::Run(m_dir.Path(source), m_dir.Path(target), "", &report), S_OK);
    return report;
  }

  CQuorTempDir m_dir;
};

TEST_F(QuorFileSetSalvageTest, EverySampleWhoseBlocksAreIntactSurvivesABitFlipOfTheLastFile) {
  CQuorTestFileSet fileset;
  fileset.m_baseName = "flip";
  std::vector<TestFile> files(3);
  for (std::size_t k = 0; k < files.size(); ++k) {
    files[k].samples = MakeSamples(1, 6, k * 60, 10, 4);
    files[k].samplesPerIndex = 3;
  }
  files.back().lastFile = true;
  const std::vector<ParsedFile> parsed = fileset.Write(m_dir, files);
  const std::string last = fileset.FileName(2);
  const Bytes pristine = m_dir.ReadBytes(last);

  // Which blocks a sample of the last file needs intact: its own, the index block that lists
  // it, and the file info block that proves the file belongs to the fileset.
  const ParsedFile& tail = parsed.back();
  struct Need {
    ULONGLONG timestamp;
    std::vector<const ParsedBlock*> blocks;
  };
  std::vector<Need> needs;
  std::size_t entry = 0;
  for (const ParsedBlock& b : tail.blocks) {
    if (b.type != btIndex) continue;
    for (; entry < tail.entries.size() && tail.entries[entry].m_position < b.offset; ++entry) {
      const CQuorMediaSampleIndex& e = tail.entries[entry];
      const ParsedBlock* own = nullptr;
      for (const ParsedBlock& s : tail.blocks) {
        if (s.offset == e.m_position) own = &s;
      }
      needs.push_back({e.m_timestamp, {own, &b, &tail.First(btFileInfo)}});
    }
  }
  ASSERT_EQ(needs.size(), 6u);
  SampleSet earlier;
  AddProvable(parsed[0], &earlier);
  AddProvable(parsed[1], &earlier);

  // Every third byte, so that a run takes seconds; 3 is prime to the 4-byte words of the
  // framing, so every byte position of a word is met, each with a different bit.
  for (std::size_t offset = 0; offset < pristine.size(); offset += 3) {
    SCOPED_TRACE(offset);
    Bytes damaged = pristine;
    damaged[offset] ^= static_cast<BYTE>(1u << (offset / 3 % 8));
    m_dir.WriteBytes(last, damaged);
    std::filesystem::remove_all(m_dir.Path("out"));
    Salvage(fileset.FileName(0), "out/s.vid");

    // At least the samples whose three blocks are intact; at most those whose own block and
    // index block are (an intact file info block is only one way to prove membership).
    SampleSet atLeast = earlier;
    SampleSet atMost = earlier;
    for (const Need& n : needs) {
      auto hit = [&](const ParsedBlock* b) {
        return offset >= b->offset && offset < b->offset + b->size;
      };
      const Bytes& payload = tail.payloads.at(n.blocks[0]->offset);
      if (!hit(n.blocks[0]) && !hit(n.blocks[1])) atMost[n.timestamp] = payload;
      if (!std::any_of(n.blocks.begin(), n.blocks.end(), hit)) atLeast[n.timestamp] = payload;
    }
    const SampleSet got = ReadBack(m_dir.Path("out/s.vid"));
    for (const auto& [timestamp, payload] : atLeast) {
      ASSERT_TRUE(got.contains(timestamp)) << "lost intact sample " << timestamp;
    }
    for (const auto& [timestamp, payload] : got) {
      ASSERT_TRUE(atMost.contains(timestamp)) << "took damaged sample " << timestamp;
      ASSERT_TRUE(payload == atMost.at(timestamp)) << "payload of " << timestamp;
    }
  }
}

// Over recordings killed at random moments, with an empty file whose name sorts before the
// second member: salvage takes exactly the samples an index block lists whose block is intact.
TEST_F(QuorFileSetSalvageTest, KilledRecordingHidingMembersBehindAnEmptyNameIsSalvaged) {
  std::mt19937 random(2024);
  for (int run = 0; run < 6; ++run) {
    SCOPED_TRACE(run);
    const std::string directory = "kill" + std::to_string(run);
    std::filesystem::create_directories(m_dir.Path(directory));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      CQuorMediaFileWriter::SetIndexPeriodForTesting(std::chrono::milliseconds(1));
      auto writer = NewWriter();
      StartSimpleRecording(writer.Get(), m_dir.Path(directory + "/cam.vid"), 8, 100000);
      for (int i = 0;; ++i) (void)writer->Write(1, NewSample(PatternBytes(700, i), i).Get());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(30 + random() % 150));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);

    SampleSet expected;
    for (const auto& item : std::filesystem::directory_iterator(m_dir.Path(directory))) {
      if (item.file_size() < kQuorFileSignatureSize + kEmptyBlockSize) continue;
      AddProvable(ParseFile(m_dir, directory + "/" + item.path().filename().string(), true),
                  &expected);
    }
    m_dir.WriteBytes(directory + "/cam0.vid", {});
    if (expected.empty()) continue;
    const QuorSalvageReport report = Salvage(directory + "/cam.vid", directory + "-out/s.vid");
    EXPECT_EQ(report.samplesWritten, expected.size());
    ExpectSame(ReadBack(m_dir.Path(directory + "-out/s.vid")), expected);
  }
}

}  // namespace
