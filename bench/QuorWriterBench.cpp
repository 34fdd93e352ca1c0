// Recording speed: the cost of Write on the caller's thread, and end-to-end throughput through
// the public interfaces beside a baseline that hashes and writes the same blocks with no library
// around it (one write per MiB).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "core/QuorMD5Hash.h"
#include "quormediafiles/QuorMediaFiles.h"
#include "quormediafiles/platform/QuorDispatch.h"
#include "quormediafiles/platform/QuorOleAuto.h"
#include "support/QuorTempDir.h"

namespace {

constexpr std::size_t kRecordingBytes = 256u << 20;

CQuorComPtr<IQuorMediaFileSample> MakeSample(std::size_t size, ULONGLONG timestamp) {
  CQuorComPtr<IQuorMediaFileSample> sample;
  (void)CoCreateInstance(CLSID_QuorMediaFileSample, &sample);
  CQuorSafeArray array = CQuorSafeArray::CreateVector(VT_UI1, 0, ULONG(size));
  std::memset(array.Get()->pvData, int(timestamp & 0xFF), size);
  SAFEARRAY* psa = array.Get();
  (void)sample->SetPayloadData(&psa);
  (void)sample->SetTimestamp(timestamp);
  (void)sample->SetSampleFlags(0x03);
  return sample;
}

// The writer's options: durability off and a 60 s index period are the defaults.
struct WriterOptions {
  bool durable = false;
  ULONG indexPeriodSeconds = 60;
};

CQuorComPtr<IQuorMediaFileWriter> StartWriter(const std::string& path, ULONG fileSizeKiB,
                                              WriterOptions options = {}) {
  CQuorComPtr<IQuorMediaFileWriter> writer;
  (void)CoCreateInstance(CLSID_QuorMediaFileWriter, &writer);
  CQuorComPtr<IQuorMediaFileWriterOptions> settings;
  if (SUCCEEDED(writer.As(&settings))) {
    (void)settings->SetDurable(options.durable ? VARIANT_TRUE : VARIANT_FALSE);
    (void)settings->SetIndexPeriod(options.indexPeriodSeconds);
  }
  const CQuorBstr name = CQuorBstr::FromUtf8(path);
  (void)writer->Initialize(name.Get(), fileSizeKiB, 1000, VARIANT_TRUE);
  CQuorComPtr<IQuorTrackMetadata> track;
  (void)CoCreateInstance(CLSID_QuorTrackMetadata, &track);
  (void)track->SetTrackId(1);
  const CQuorBstr trackName = CQuorBstr::FromUtf8("video");
  (void)track->SetTrackName(trackName.Get());
  (void)track->SetVideoFlag(VARIANT_TRUE);
  (void)track->SetAudioFlag(VARIANT_FALSE);
  (void)writer->AddTrack(track.Get());
  (void)writer->StartRecording();
  return writer;
}

ULONGLONG BytesWritten(IQuorMediaFileWriter* writer) {
  CQuorComPtr<IQuorMediaFileRecordingStatus> status;
  ULONGLONG total = 0;
  if (SUCCEEDED(writer->GetRecordingStatus(status.AddressOf()))) {
    (void)status->GetBytesWrittenTotal(&total);
  }
  return total;
}

// Waits until the status reports at least bytesTotal bytes.
void WaitForBytes(IQuorMediaFileWriter* writer, ULONGLONG bytesTotal) {
  while (BytesWritten(writer) < bytesTotal) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

// The caller's side of Write as a recorder in steady state sees it: a ready sample object
// handed in again and again, its payload copied into a queue record that the worker has
// written and given back, into a short queue. Every batch of calls (4 MiB of payload, at most
// 1024 calls) the clock stops until the worker has written them all, so that no backlog grows
// and every record comes back; one batch before the clock starts fills the free list. What is
// left per call is Write's own cost: the copy of the payload, the queue, and the worker's
// wake-up by the first call of each batch. One file, no rollover.
void BM_WriteCall(benchmark::State& state) {
  const std::size_t size = std::size_t(state.range(0));
  const std::size_t batch = std::clamp<std::size_t>((4u << 20) / size, 1, 1024);
  CQuorTempDir dir;
  auto writer = StartWriter(dir.Path("call.vid"), 4u << 20);  // 4 GiB
  auto sample = MakeSample(size, 1);
  ULONGLONG expected = BytesWritten(writer.Get());
  for (std::size_t i = 0; i < batch; ++i) (void)writer->Write(1, sample.Get());
  expected += batch * (size + 64);
  WaitForBytes(writer.Get(), expected);
  std::size_t queued = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(writer->Write(1, sample.Get()));
    if (++queued == batch) {
      state.PauseTiming();
      expected += queued * (size + 64);
      WaitForBytes(writer.Get(), expected);
      queued = 0;
      state.ResumeTiming();
    }
  }
  state.SetItemsProcessed(state.iterations());
  (void)writer->StopRecording();
}
BENCHMARK(BM_WriteCall)->Arg(1024)->Arg(64 << 10)->Iterations(4096);

// From StartRecording to StopRecording with every sample on disk; samples made as an
// application makes them, rollover at 64 MiB included.
void RecordSamples(std::size_t size, std::size_t count, WriterOptions options = {}) {
  CQuorTempDir dir;
  auto writer = StartWriter(dir.Path("rec.vid"), 64u << 10, options);  // 64 MiB files
  for (std::size_t i = 0; i < count; ++i) {
    (void)writer->Write(1, MakeSample(size, i).Get());
  }
  // The sample blocks alone are a lower bound; the heads and index blocks of the files add to
  // it, so the worker is done once the count stops moving.
  WaitForBytes(writer.Get(), ULONGLONG(count) * (size + 64));
  for (ULONGLONG seen = 0, now = BytesWritten(writer.Get()); now != seen;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    seen = now;
    now = BytesWritten(writer.Get());
  }
  (void)writer->StopRecording();
}

void BM_Record(benchmark::State& state) {
  const std::size_t size = std::size_t(state.range(0));
  const std::size_t count = kRecordingBytes / size;
  for (auto _ : state) RecordSamples(size, count);
  state.SetBytesProcessed(std::int64_t(state.iterations() * count * size));
  state.SetItemsProcessed(std::int64_t(state.iterations() * count));
}
BENCHMARK(BM_Record)->Arg(1024)->Arg(64 << 10)->Unit(benchmark::kMillisecond)->UseRealTime();

// BM_Record of 64 KiB samples with the writer's options: durability (a device sync at each
// head, index and closing block) and the index period (1 s against the default 60 s). Compare
// with BM_Record/65536 of the same run; the recording lasts about as long as BM_Record/65536
// takes, so a 1 s period adds about that many index blocks (and syncs, when durable).
void BM_RecordWithOptions(benchmark::State& state) {
  constexpr std::size_t kSize = 64 << 10;
  const WriterOptions options{state.range(0) != 0, ULONG(state.range(1))};
  const std::size_t count = kRecordingBytes / kSize;
  for (auto _ : state) RecordSamples(kSize, count, options);
  state.SetBytesProcessed(std::int64_t(state.iterations() * count * kSize));
}
BENCHMARK(BM_RecordWithOptions)
    ->ArgNames({"durable", "period_s"})
    ->Args({0, 60})
    ->Args({0, 1})
    ->Args({1, 60})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The process's peak resident set (VmHWM) in MiB; 0 when it cannot be read.
double PeakRssMiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtod(line.c_str() + 6, nullptr) / 1024;
  }
  return 0;
}

// The peak resident memory of a 1 GiB recording of 64 KiB samples handed in as fast as the
// caller makes them, so that the queue holds whatever the disk has not taken yet. The peak mark
// is reset to the current size before the recording (clear_refs), so the figure is this
// recording's peak, the process's own few MiB included. Run it on its own.
void BM_PeakRss(benchmark::State& state) {
  const std::size_t size = std::size_t(state.range(0));
  for (auto _ : state) {
    std::ofstream("/proc/self/clear_refs") << "5";
    RecordSamples(size, (std::size_t(1) << 30) / size);
    state.counters["peak_rss_MiB"] = PeakRssMiB();
  }
}
BENCHMARK(BM_PeakRss)->Arg(64 << 10)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same blocks hashed (salted MD5 per block, the block hashes into a file hash) and written
// with one write per MiB.
void BM_Baseline(benchmark::State& state) {
  const std::size_t size = std::size_t(state.range(0));
  const std::size_t count = kRecordingBytes / size;
  std::vector<BYTE> block(size + 64, 0x5A);
  std::vector<BYTE> buffer(1u << 20);
  for (auto _ : state) {
    CQuorTempDir dir;
    const int fd = ::open(dir.Path("base.vid").c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    CQuorMD5Hash fileHash;
    CQuorMD5Hash blockHash;
    std::size_t used = 0;
    for (std::size_t i = 0; i < count; ++i) {
      BYTE digest[kQuorMD5DigestSize];
      (void)blockHash.ReInitialize();
      (void)blockHash.AddData(block.data(), DWORD(block.size() - 16));
      (void)blockHash.GetDigest(digest);
      (void)fileHash.AddData(digest, sizeof digest);
      std::memcpy(block.data() + block.size() - 16, digest, 16);
      for (std::size_t done = 0; done < block.size();) {
        const std::size_t n = std::min(block.size() - done, buffer.size() - used);
        std::memcpy(buffer.data() + used, block.data() + done, n);
        used += n;
        done += n;
        if (used == buffer.size()) {
          benchmark::DoNotOptimize(::write(fd, buffer.data(), used));
          used = 0;
        }
      }
    }
    benchmark::DoNotOptimize(::write(fd, buffer.data(), used));
    ::close(fd);
  }
  state.SetBytesProcessed(std::int64_t(state.iterations() * count * size));
  state.SetItemsProcessed(std::int64_t(state.iterations() * count));
}
BENCHMARK(BM_Baseline)->Arg(1024)->Arg(64 << 10)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
