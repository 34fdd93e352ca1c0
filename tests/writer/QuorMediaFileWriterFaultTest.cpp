// Whole recordings under one injected fault at a time: the Nth file-system call fails, or the
// disk holds only N * step more bytes, for N = 1, 2, ... until a run meets no fault. Two
// recordings: two files of a few samples each (initialize, start, samples, a rollover with its
// closing index block, stop), and one whose index blocks are long enough to be written in
// pieces. Every writer call answers success or a named failure code (a failed StopRecording is
// tried once more, as a caller would); what reached the disk opens (or is refused with a named
// code) and reads back only samples that were written, byte for byte, in their order; a sample
// that Write accepted is either read back or counted as dropped; every file the writer
// finalized authenticates; and a recording that reported nothing wrong and dropped nothing
// authenticates as a whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>

#include "QuorWriterTestSupport.h"
#include "platform/log/QuorLog.h"
#include "quormediafiles/QuorMediaFilesCpp.h"
#include "quormediafiles/QuorMediaFilesInternal.h"
#include "reader/QuorTestFileSet.h"
#include "support/QuorFaultyFileSystem.h"
#include "support/QuorGot.h"

namespace {

constexpr std::uint64_t kRoomStep = 61;  // bytes of disk room per N: prime to the block layout

struct Scenario {
  ULONG maxSizeKiB;
  int samples;
  std::size_t payloadBase;  // sample i has payloadBase + (97 * i) % payloadSpread bytes
  std::size_t payloadSpread;
  // Each sample handed to the system before the next is written, so that the file-system calls
  // come in the same order in every run; else one drain before the stop.
  bool drainEach;
};
// About a file and a half of 4 KiB.
constexpr Scenario kTwoFiles{4, 16, 100, 300, true};
// About 80 samples in the first file: its index block, over 4 KiB, is written in pieces.
constexpr Scenario kLongIndex{12, 110, 1, 50, false};

Bytes PayloadOf(const Scenario& s, int i) {
  return PatternBytes(s.payloadBase + (97 * std::size_t(i)) % s.payloadSpread, i);
}
ULONGLONG TimestampOf(int i) { return 1000 + 40 * ULONGLONG(i); }

constexpr ULONG kFinalized = 0x02;  // file status bits
constexpr ULONG kAuthentic = 0x04;

bool Named(HRESULT hr) { return !QuorResultCodeName(hr).empty(); }

struct Recording {
  std::vector<std::pair<const char*, HRESULT>> calls;  // every writer call and its answer
  int accepted = 0;                                    // samples Write took
  ULONGLONG dropped = 0;
  bool Clean() const {
    return std::all_of(calls.begin(), calls.end(), [](const auto& c) { return c.second == S_OK; });
  }
};

Recording Record(const Scenario& s, const std::string& path, bool durable,
                 CQuorFileSystem& fileSystem) {
  Recording r;
  auto call = [&](const char* what, HRESULT hr) {
    r.calls.emplace_back(what, hr == MFS_S_NEXT_FILE ? S_OK : hr);
    return SUCCEEDED(hr);
  };
  CQuorComPtr<IQuorMediaFileWriter> writer = NewWriter(fileSystem);
  CQuorComPtr<IQuorMediaFileWriter2> writer2;
  CQuorComPtr<IQuorMediaFileWriterOptions> options;
  EXPECT_EQ(writer.As(&writer2), S_OK);
  EXPECT_EQ(writer.As(&options), S_OK);
  EXPECT_EQ(options->SetDurable(durable ? VARIANT_TRUE : VARIANT_FALSE), S_OK);
  if (!call("Initialize", writer->Initialize(Wide(path).Get(), s.maxSizeKiB, 2, VARIANT_FALSE)) ||
      !call("AddTrack", writer->AddTrack(NewTrack(1, "v").Get())) ||
      !call("StartRecording", writer->StartRecording())) {
    return r;
  }
  for (int i = 0; i < s.samples; ++i) {
    if (call("Write", writer->Write(1, NewSample(PayloadOf(s, i), TimestampOf(i)).Get()))) {
      ++r.accepted;
    }
    if (s.drainEach) {
      EXPECT_EQ(writer2->Drain(), S_OK);
    }
  }
  EXPECT_EQ(writer2->Drain(), S_OK);
  // A caller whose StopRecording failed tries once more.
  const HRESULT stop = writer->StopRecording();
  EXPECT_TRUE(SUCCEEDED(stop) || Named(stop)) << std::hex << stop;
  call("StopRecording", SUCCEEDED(stop) ? stop : writer->StopRecording());
  r.dropped = Got(options.Get(), &IQuorMediaFileWriterOptions::GetDroppedSampleCount);
  return r;
}

struct Fault {
  const char* name;
  void (*arm)(CQuorFaultyFileSystem& fs, std::uint64_t n);
  const Scenario& scenario = kTwoFiles;
  bool durable = false;
  // Near a full disk the file layer asks for room in large steps first and is refused as a
  // matter of course: these rows end with the first run that recorded every sample.
  bool room = false;
};

const Fault kFaults[] = {
    {"NthCallFailsWithEIO", [](CQuorFaultyFileSystem& fs, std::uint64_t n) { fs.FailCall(n); }},
    {"NthCallFailsWithENOSPC",
     [](CQuorFaultyFileSystem& fs, std::uint64_t n) { fs.FailCall(n, ENOSPC); }},
    {"NthCallOfADurableRecordingFails",
     [](CQuorFaultyFileSystem& fs, std::uint64_t n) { fs.FailCall(n); }, kTwoFiles, true},
    // Without preallocation every piece of a long block is a write of its own.
    {"NthCallOfLongIndexBlocksFailsWithoutPreallocation",
     [](CQuorFaultyFileSystem& fs, std::uint64_t n) {
       fs.RefuseFallocate();
       fs.FailCall(n);
     },
     kLongIndex},
    {"DiskFullAfterNSteps",
     [](CQuorFaultyFileSystem& fs, std::uint64_t n) { fs.SetDiskRoom(n * kRoomStep); }, kTwoFiles,
     false, true},
    // Without preallocation a write is cut short at the exact byte where the disk fills, and
    // the closing blocks find no room held for them.
    {"ShortWriteAfterNStepsWithoutPreallocation",
     [](CQuorFaultyFileSystem& fs, std::uint64_t n) {
       fs.RefuseFallocate();
       fs.SetDiskRoom(n * kRoomStep);
     },
     kTwoFiles, false, true},
};

TEST(QuorMediaFileWriterFaultTest, EveryFaultGivesANamedCodeAndAFilesetThatReadsBackTrue) {
  CQuorTempDir dir;
  for (const Fault& fault : kFaults) {
    SCOPED_TRACE(fault.name);
    const Scenario& scenario = fault.scenario;
    std::map<ULONGLONG, Bytes> written;
    for (int i = 0; i < scenario.samples; ++i) written[TimestampOf(i)] = PayloadOf(scenario, i);
    bool more = true;
    for (std::uint64_t n = 1; more; ++n) {
      SCOPED_TRACE(n);
      ASSERT_LT(n, 1000u) << "the recording never ran without a fault";
      const std::string sub = std::string(fault.name) + std::to_string(n);
      dir.MakeDirectory(sub);
      const std::string path = dir.Path(sub + "/f.vid");
      Recording r;
      const auto capture = std::make_shared<DXL_CaptureSink>();
      {
        const DXL_ScopedSink scope(capture);
        CQuorFaultyFileSystem faulty;
        fault.arm(faulty, n);
        r = Record(scenario, path, fault.durable, faulty);
        more = faulty.Faulted();
      }
      // Every sample the worker failed to write is dropped; a failed flush drops none.
      const auto failedWrite = [](const DXL_Entry& e) {
        return e.text == "Failed to write media sample";
      };
      const std::vector<DXL_Entry> entries = capture->Entries();
      EXPECT_LE(std::count_if(entries.begin(), entries.end(), failedWrite),
                std::ptrdiff_t(r.dropped));
      for (const auto& [what, hr] : r.calls) {
        EXPECT_TRUE(SUCCEEDED(hr) || Named(hr)) << what << " " << std::hex << hr;
      }

      CQuorComPtr<IQuorMediaFileReader> reader = NewReader();
      const HRESULT open = reader->OpenFileSet(Wide(path).Get(), nullptr);
      if (FAILED(open)) {
        EXPECT_TRUE(Named(open)) << std::hex << open;
        EXPECT_FALSE(r.Clean() && r.accepted > int(r.dropped)) << "recorded samples are lost";
        continue;
      }
      std::size_t read = 0;
      ULONGLONG first = 0;
      ULONGLONG last = 0;
      CQuorComPtr<IQuorMediaFileSample> sample;
      HRESULT hr = reader->GetFirstTimeStamp(1, &first);
      if (SUCCEEDED(hr)) hr = reader->MoveTo(1, first, sample.AddressOf());
      for (; SUCCEEDED(hr); hr = reader->MoveNext(1, sample.AddressOf()), ++read) {
        const ReadSample s = Decode(sample.Get());
        ASSERT_TRUE(written.contains(s.timestamp)) << "a sample never written: " << s.timestamp;
        EXPECT_TRUE(s.payload == written.at(s.timestamp)) << "payload of " << s.timestamp;
        EXPECT_TRUE(read == 0 || s.timestamp > last) << "out of order: " << s.timestamp;
        last = s.timestamp;
      }
      EXPECT_TRUE(hr == MFS_E_NO_VALUE || Named(hr)) << std::hex << hr;
      VARIANT_BOOL authentic = VARIANT_FALSE;
      const HRESULT authenticate = reader->IsAuthentic(&authentic);
      EXPECT_TRUE(SUCCEEDED(authenticate) || Named(authenticate)) << std::hex << authenticate;
      // A file the writer finalized holds nothing but the blocks its file hash covers.
      for (const std::string& file :
           QuorStringVector(Got(reader.Get(), &IQuorMediaFileReader::GetFileNames).Get())) {
        const ULONG flags = StatusOf(reader.Get(), dir, file.substr(dir.Path("").size()));
        EXPECT_TRUE((flags & kFinalized) == 0 || (flags & kAuthentic) != 0)
            << file << " is finalized and not authentic";
      }
      if (r.Clean()) {
        EXPECT_EQ(read + r.dropped, std::size_t(r.accepted)) << "a sample lost unreported";
        EXPECT_TRUE(r.dropped != 0 || authentic == VARIANT_TRUE);
      }
      if (fault.room && r.Clean() && read == written.size()) more = false;
    }
  }
}

}  // namespace
