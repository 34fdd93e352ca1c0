// The Nth file-system call fails, for N = 1, 2, ... through opening a two-file, two-track
// fileset, stepping one track across both files and authenticating it: every call answers
// either what a fault-free run answers or a named failure code, never a crash or a sample with
// other bytes.
#include <gtest/gtest.h>

#include "quormediafiles/QuorMediaFilesCpp.h"
#include "reader/QuorTestFileSet.h"
#include "support/QuorFaultyFileSystem.h"

namespace {

struct Outcome {
  HRESULT open = E_FAIL;
  std::vector<HRESULT> steps;  // MoveTo, then MoveNext until a failure
  std::vector<ReadSample> samples;
  HRESULT authenticate = E_FAIL;
  VARIANT_BOOL authentic = VARIANT_FALSE;
};

Outcome Play(const CQuorTempDir& dir, const std::string& name, CQuorFileSystem& fileSystem) {
  Outcome outcome;
  CQuorComPtr<IQuorMediaFileReader> reader = NewReader(fileSystem);
  outcome.open = Open(reader.Get(), dir, name);
  if (FAILED(outcome.open)) return outcome;
  CQuorComPtr<IQuorMediaFileSample> sample;
  HRESULT hr = reader->MoveTo(2, 5, sample.AddressOf());
  for (; SUCCEEDED(hr); hr = reader->MoveNext(2, sample.AddressOf())) {
    outcome.steps.push_back(hr);
    outcome.samples.push_back(Decode(sample.Get()));
  }
  outcome.steps.push_back(hr);
  outcome.authenticate = reader->IsAuthentic(&outcome.authentic);
  return outcome;
}

bool Named(HRESULT hr) { return !QuorResultCodeName(hr).empty(); }

TEST(QuorMediaFileReaderFaultTest, EveryFailedFileSystemCallGivesANamedCodeAndNoMisread) {
  CQuorTempDir dir;
  CQuorTestFileSet fileset;
  fileset.m_tracks = {TestTrack(1), TestTrack(2, 0x2, u"microphone")};
  std::vector<TestFile> files(2);
  for (std::size_t k = 0; k < files.size(); ++k) {
    files[k].samples = MakeSamples(1, 3, k * 100, 20, 16);
    for (TestSample& s : MakeSamples(2, 4, k * 100 + 5, 20, 8)) files[k].samples.push_back(s);
  }
  files.back().lastFile = true;
  fileset.Write(dir, files);
  const Outcome baseline = Play(dir, fileset.FileName(0), QuorPosixFileSystem());
  ASSERT_EQ(baseline.open, S_OK);
  ASSERT_EQ(baseline.samples.size(), 8u) << "track 2 crosses from the first file to the second";
  ASSERT_EQ(baseline.authentic, VARIANT_TRUE);

  for (std::uint64_t n = 1; n <= 120; ++n) {
    SCOPED_TRACE(n);
    Outcome faulted;
    {
      CQuorFaultyFileSystem faulty;
      faulty.FailCall(n);
      faulted = Play(dir, fileset.FileName(0), faulty);
    }
    if (FAILED(faulted.open)) {
      EXPECT_TRUE(Named(faulted.open)) << std::hex << faulted.open;
      continue;
    }
    ASSERT_LE(faulted.samples.size(), baseline.samples.size());
    for (std::size_t i = 0; i < faulted.samples.size(); ++i) {
      EXPECT_EQ(faulted.samples[i].timestamp, baseline.samples[i].timestamp);
      EXPECT_TRUE(faulted.samples[i].payload == baseline.samples[i].payload) << "sample " << i;
    }
    const HRESULT last = faulted.steps.back();
    EXPECT_TRUE(last == MFS_E_NO_VALUE || Named(last)) << std::hex << last;
    EXPECT_TRUE(SUCCEEDED(faulted.authenticate) || Named(faulted.authenticate))
        << std::hex << faulted.authenticate;
  }
}

}  // namespace
