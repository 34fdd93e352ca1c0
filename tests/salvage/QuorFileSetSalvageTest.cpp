// Salvage against damage made for real: single-bit flips of a fileset's last file, and
// recordings killed at random moments with their later members hidden from the reader's scan.
// What the salvaged fileset holds is compared with what an independent parse of the damaged
// files proves intact, and with what was written. The committed runs are a deterministic sample;
// tests/salvage/salvage_properties.sh runs every bit flip and a hundred kills.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <thread>

#include "format/QuorFormatLayout.h"
#include "reader/QuorTestFileSet.h"
#include "salvage/QuorFileSetDiagnosis.h"
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
  ULONGLONG first = 0;  // MoveTo before the first sample fails
  HRESULT hr = reader->GetFirstTimeStamp(1, &first);
  for (hr = SUCCEEDED(hr) ? reader->MoveTo(1, first, sample.AddressOf()) : hr; SUCCEEDED(hr);
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

// A count from the environment, for the long runs, or the committed one.
std::size_t EnvCount(const char* name, std::size_t committed) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 10) : committed;
}

// Failures the running test has recorded so far, so that a loop can count its failing rounds.
int FailuresSoFar() {
  return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class QuorFileSetSalvageTest : public ::testing::Test {
 protected:
  // Expects S_OK, or gives the result in *result.
  QuorSalvageReport Salvage(const std::string& source, const std::string& target,
                            HRESULT* result = nullptr) {
    QuorSalvageReport report;
    std::filesystem::create_directories(std::filesystem::path(m_dir.Path(target)).parent_path());
    const HRESULT hr =
        CQuorFileSetSalvage::Run(m_dir.Path(source), m_dir.Path(target), "", &report);
    if (result != nullptr) {
      *result = hr;
    } else {
      EXPECT_EQ(hr, S_OK);
    }
    return report;
  }

  CQuorTempDir m_dir;
};

// Single-bit flips of the last file: every 97th bit of it (97 is prime to the 8 bits of a byte
// and the 4-byte words of the framing) and the bits that once failed, or every bit with
// QUOR_SALVAGE_EVERY_BIT=1.
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

  std::vector<std::size_t> bits;
  const std::size_t stride = EnvCount("QUOR_SALVAGE_EVERY_BIT", 0) != 0 ? 1 : 97;
  for (std::size_t bit = 0; bit < pristine.size() * 8; bit += stride) bits.push_back(bit);
  // The top bit but one of the file info block's fileset index: the member claimed a billion
  // missing ones, and listing them ran out of memory.
  bits.push_back(8 * (kQuorFileSignatureSize + kBlockHeaderSize + kFieldHeaderSize +
                      kGuidValueSize + kFieldHeaderSize + 3) +
                 6);
  const auto start = std::chrono::steady_clock::now();
  std::size_t failed = 0;
  for (const std::size_t bit : bits) {
    const std::size_t offset = bit / 8;
    SCOPED_TRACE("byte " + std::to_string(offset) + " bit " + std::to_string(bit % 8));
    const int failuresBefore = FailuresSoFar();
    Bytes damaged = pristine;
    damaged[offset] ^= static_cast<BYTE>(1u << (bit % 8));
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
      EXPECT_TRUE(got.contains(timestamp)) << "lost intact sample " << timestamp;
    }
    for (const auto& [timestamp, payload] : got) {
      EXPECT_TRUE(atMost.contains(timestamp)) << "took damaged sample " << timestamp;
      EXPECT_TRUE(!atMost.contains(timestamp) || payload == atMost.at(timestamp))
          << "payload of " << timestamp;
    }
    if (FailuresSoFar() != failuresBefore) ++failed;
  }
  std::printf("bit flips of a %zu-byte last file: %zu, failed: %zu, %.1f s\n", pristine.size(),
              bits.size(), failed, SecondsSince(start));
}

// Recordings killed at random moments (QUOR_KILL_RUNS, 6 unless set; seed QUOR_KILL_SEED), their
// later members hidden from the reader's scan by a name that sorts before the second member: in
// turn an empty file, a directory, and a file whose name is no UTF-8; and in every other run one
// payload bit of a random listed sample block flipped. Expected: every sample that an index
// block lists and whose block passes its hash check, as the block parser reads the damaged files,
// which must also be exactly what the recording wrote up to its last index block (sample i has
// timestamp i and payload PatternBytes(700, i)) but the flipped one.
TEST_F(QuorFileSetSalvageTest, KilledRecordingWithHiddenMembersIsSalvagedExactly) {
  const std::size_t runs = EnvCount("QUOR_KILL_RUNS", 6);
  const std::size_t seed = EnvCount("QUOR_KILL_SEED", 2024);
  std::mt19937 random(static_cast<std::mt19937::result_type>(seed));
  std::size_t expectedTotal = 0;
  std::size_t recoveredTotal = 0;
  std::size_t flipped = 0;
  std::size_t hidden = 0;
  std::size_t headless = 0;
  std::size_t failed = 0;
  for (std::size_t run = 0; run < runs; ++run) {
    SCOPED_TRACE(run);
    const int failuresBefore = FailuresSoFar();
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

    std::vector<std::string> members;
    for (const auto& item : std::filesystem::directory_iterator(m_dir.Path(directory))) {
      if (item.file_size() >= kQuorFileSignatureSize + kEmptyBlockSize) {
        members.push_back(directory + "/" + item.path().filename().string());
      }
    }
    std::optional<ULONGLONG> damaged;
    if (run % 2 == 1 && !members.empty()) {
      const std::string& name = members[random() % members.size()];
      const ParsedFile file = ParseFile(m_dir, name, true);
      if (!file.entries.empty()) {
        const CQuorMediaSampleIndex& e = file.entries[random() % file.entries.size()];
        Bytes bytes = m_dir.ReadBytes(name);
        bytes.at(e.m_position + kBlockHeaderSize + kFieldHeaderSize + random() % 700) ^=
            static_cast<BYTE>(1u << (random() % 8));
        m_dir.WriteBytes(name, bytes);
        damaged = e.m_timestamp;
        ++flipped;
      }
    }
    SampleSet expected;
    for (const std::string& name : members) AddProvable(ParseFile(m_dir, name, true), &expected);
    SampleSet written;
    const ULONGLONG listed = expected.empty() ? 0 : expected.rbegin()->first + 1;
    for (ULONGLONG t = 0; t < listed; ++t) {
      if (t != damaged) written[t] = PatternBytes(700, t);
    }
    ExpectSame(expected, written);

    const std::string hider = directory + (run % 3 == 2 ? "/cam0\xff.vid" : "/cam0.vid");
    if (run % 3 == 0) m_dir.WriteBytes(hider, {});
    if (run % 3 == 1) m_dir.MakeDirectory(hider);
    if (run % 3 == 2) m_dir.WriteBytes(hider, m_dir.ReadBytes(directory + "/cam.vid"));
    if (members.size() > 1) {
      CQuorFileSetDiagnosis diagnosis;
      ASSERT_EQ(diagnosis.Diagnose(m_dir.Path(directory + "/cam.vid")), S_OK);
      EXPECT_EQ(diagnosis.m_scanStoppedAt, m_dir.Path(hider)) << "the later members are hidden";
      hidden += members.size() - 1;
    }
    HRESULT result = E_FAIL;
    const QuorSalvageReport report =
        Salvage(directory + "/cam.vid", directory + "-out/s.vid", &result);
    if (expected.empty() && result == MFS_E_BAD_FORMAT) {
      ++headless;  // killed before a whole head: no member to read
      continue;
    }
    EXPECT_EQ(result, S_OK);
    EXPECT_EQ(report.samplesWritten, expected.size());
    const SampleSet got = ReadBack(m_dir.Path(directory + "-out/s.vid"));
    ExpectSame(got, expected);
    expectedTotal += expected.size();
    recoveredTotal += got.size();
    if (FailuresSoFar() != failuresBefore) ++failed;
  }
  std::printf(
      "kill -9 runs: %zu (seed %zu; %zu killed before a whole head), samples expected: %zu, "
      "recovered: %zu, members hidden from the reader: %zu, payload bits flipped: %zu, runs "
      "failed: %zu\n",
      runs, seed, headless, expectedTotal, recoveredTotal, hidden, flipped, failed);
}

// Members are written out as they are walked while their samples follow on in time; a member
// whose samples go back in time has what was written discarded, and the new fileset is written
// again, whole and in timestamp order, with none of the discarded files left beside it.
TEST_F(QuorFileSetSalvageTest, SamplesThatGoBackInTimeAcrossMembersComeOutInTimestampOrder) {
  constexpr int kSamples = 40;
  const auto stamp = [](int i) { return ULONGLONG(i < kSamples / 2 ? 1000 + i : i); };
  {
    auto writer = NewWriter();
    StartSimpleRecording(writer.Get(), m_dir.Path("cam.vid"), 8, 100);
    for (int i = 0; i < kSamples; ++i) {
      const ULONGLONG bytes = BytesWrittenTotal(writer.Get()) + 700 + kMediaSampleOverhead;
      ASSERT_TRUE(SUCCEEDED(writer->Write(1, NewSample(PatternBytes(700, i), stamp(i)).Get())));
      WaitForBytes(writer.Get(), bytes);  // written before the recording stops
    }
    ASSERT_EQ(writer->StopRecording(), S_OK);
  }
  const QuorSalvageReport report = Salvage("cam.vid", "out/s.vid");
  EXPECT_EQ(report.samplesWritten, ULONGLONG(kSamples));
  SampleSet expected;
  for (int i = 0; i < kSamples; ++i) expected[stamp(i)] = PatternBytes(700, i);
  ExpectSame(ReadBack(m_dir.Path("out/s.vid")), expected);

  CQuorFileSetDiagnosis diagnosis;
  ASSERT_EQ(diagnosis.Diagnose(m_dir.Path("out/s.vid")), S_OK);
  ASSERT_GT(diagnosis.Members().size(), 2u);
  EXPECT_EQ(diagnosis.Members().size(), diagnosis.m_files.size()) << "only the new fileset's";
  std::vector<ULONGLONG> order;
  for (const QuorCandidateFile* member : diagnosis.Members()) {
    const std::string name = "out/" + std::filesystem::path(member->path).filename().string();
    for (const auto& e : ParseFile(m_dir, name, true).entries) order.push_back(e.m_timestamp);
  }
  EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
  EXPECT_EQ(order.size(), std::size_t(kSamples));
}

}  // namespace
