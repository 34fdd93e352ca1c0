// Recording speed: the cost of Write on the caller's thread, and end-to-end throughput through
// the public interfaces beside a baseline that hashes and writes the same blocks with no library
// around it (one write per MiB); and what seals cost on recording and on verifying.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <time.h>
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
#include "seal/QuorSealKey.h"
#include "seal/QuorSealVerifier.h"
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
  std::string signingKey;  // a private key file to seal the member files with; "" for none
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
  if (!options.signingKey.empty()) {
    CQuorComPtr<IQuorMediaFileWriterSeal> seal;
    if (FAILED(writer.As(&seal)) ||
        FAILED(seal->SetSigningKey(CQuorBstr::FromUtf8(options.signingKey).Get()))) {
      return {};
    }
  }
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
  const WriterOptions options{state.range(0) != 0, ULONG(state.range(1)), ""};
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

// Seals, each as a ratio against a baseline measured in the same run: recording with a signing
// key against recording without one (64 KiB and 1 KiB samples), and checking a fileset's seals
// plus IsAuthentic against IsAuthentic alone.
constexpr std::size_t kSealRecordingBytes = 128u << 20;
constexpr ULONG kSealFileSizeKiB = 32u << 10;  // 32 MiB member files: a few rollovers per run

// CPU seconds of the whole process (the writer's worker included): on a shared machine a steadier
// measure of the work than the wall time, which other programs stretch.
double ProcessCpuSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

struct Times {
  double wall = 0;
  double cpu = 0;
};

// Records count samples of size bytes into dir/rec.vid, sealed with keyPath unless it is empty,
// until every sample is on disk: wall and CPU seconds from StartRecording to StopRecording's
// return (negative wall seconds on a failure).
Times Record(const CQuorTempDir& dir, const std::string& keyPath, std::size_t size,
             std::size_t count, const std::vector<CQuorComPtr<IQuorMediaFileSample>>& samples) {
  const auto start = std::chrono::steady_clock::now();
  const double cpuStart = ProcessCpuSeconds();
  WriterOptions options;
  options.signingKey = keyPath;
  auto writer = StartWriter(dir.Path("rec.vid"), kSealFileSizeKiB, options);
  if (!writer) return {-1, 0};
  // Write copies the sample, so one object per slot serves every timestamp.
  for (std::size_t i = 0; i < count; ++i) {
    IQuorMediaFileSample* sample = samples[i % samples.size()].Get();
    (void)sample->SetTimestamp(i);
    (void)writer->Write(1, sample);
  }
  WaitForBytes(writer.Get(), ULONGLONG(count) * (size + 64));
  (void)writer->StopRecording();
  return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
          ProcessCpuSeconds() - cpuStart};
}

// Pairs of recordings, plain and sealed in turn, each pair in fresh files.
void BM_RecordSealedVsPlain(benchmark::State& state) {
  const std::size_t size = std::size_t(state.range(0));
  const std::size_t count = kSealRecordingBytes / size;
  CQuorTempDir keys;
  CQuorSealKey key;
  if (FAILED(key.Generate()) || FAILED(key.WritePair(keys.Path("key")))) {
    state.SkipWithError("keygen");
    return;
  }
  std::vector<CQuorComPtr<IQuorMediaFileSample>> samples;
  for (int i = 0; i < 16; ++i) samples.push_back(MakeSample(size, ULONGLONG(i)));
  Times plain;
  Times sealed;
  bool sealedFirst = false;
  for (auto _ : state) {
    // Each pair runs in the other order than the last, so that neither side always meets a
    // warmer or a colder machine.
    double pair = 0;
    for (int side = 0; side < 2; ++side) {
      const bool sealing = (side == 0) == sealedFirst;
      CQuorTempDir dir;
      const Times t = Record(dir, sealing ? keys.Path("key") : "", size, count, samples);
      if (t.wall < 0) state.SkipWithError("recording");
      Times& sum = sealing ? sealed : plain;
      sum.wall += t.wall;
      sum.cpu += t.cpu;
      pair += t.wall;
    }
    sealedFirst = !sealedFirst;
    state.SetIterationTime(pair);
  }
  const double n = double(state.iterations());
  state.counters["plain_ms"] = plain.wall * 1e3 / n;
  state.counters["sealed_ms"] = sealed.wall * 1e3 / n;
  state.counters["plain_cpu_ms"] = plain.cpu * 1e3 / n;
  state.counters["sealed_cpu_ms"] = sealed.cpu * 1e3 / n;
  // Goal: at most 1.15 at 64 KiB, 1.05 at 1 KiB.
  state.counters["sealed_over_plain"] = sealed.wall / plain.wall;
  state.counters["sealed_over_plain_cpu"] = sealed.cpu / plain.cpu;
}
BENCHMARK(BM_RecordSealedVsPlain)
    ->Arg(64 << 10)
    ->Arg(1024)
    ->Iterations(6)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// One sealed fileset of 64 KiB samples; IsAuthentic alone, then IsAuthentic and the seals of
// every member file, in turn.
void BM_VerifySealsAndAuthenticate(benchmark::State& state) {
  const std::size_t size = 64u << 10;
  CQuorTempDir dir;
  CQuorSealKey key;
  CQuorSealKey publicKey;
  std::vector<CQuorComPtr<IQuorMediaFileSample>> samples{MakeSample(size, 1), MakeSample(size, 2)};
  if (FAILED(key.Generate()) || FAILED(key.WritePair(dir.Path("key"))) ||
      FAILED(publicKey.LoadPublic(dir.Path("key.pub"))) ||
      Record(dir, dir.Path("key"), size, kSealRecordingBytes / size, samples).wall < 0) {
    state.SkipWithError("setup");
    return;
  }
  CQuorComPtr<IQuorMediaFileReader> reader;
  (void)CoCreateInstance(CLSID_QuorMediaFileReader, &reader);
  if (const HRESULT hr =
          reader->OpenFileSet(CQuorBstr::FromUtf8(dir.Path("rec.vid")).Get(), nullptr);
      FAILED(hr)) {
    state.SkipWithError(("open " + std::to_string(hr)).c_str());
    return;
  }
  std::vector<std::string> names;
  {
    CQuorSafeArray array;
    SAFEARRAY* psa = nullptr;
    (void)reader->GetFileNames(&psa);
    array = CQuorSafeArray(psa);
    for (LONG i = 0; psa && i < LONG(psa->rgsabound[0].cElements); ++i) {
      names.push_back(QuorBstrToUtf8(static_cast<BSTR*>(psa->pvData)[i]));
    }
  }
  auto authenticate = [&] {
    VARIANT_BOOL authentic = VARIANT_FALSE;
    if (FAILED(reader->IsAuthentic(&authentic)) || !authentic) state.SkipWithError("auth");
  };
  double alone = 0;
  double both = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    authenticate();
    const double a =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    start = std::chrono::steady_clock::now();
    authenticate();
    for (const std::string& name : names) {
      QuorSealReport report;
      if (FAILED(QuorVerifySeal(name, publicKey, &report)) || !report.SealedToEnd()) {
        state.SkipWithError("seal");
      }
    }
    const double b =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    alone += a;
    both += b;
    state.SetIterationTime(a + b);
  }
  state.counters["auth_ms"] = alone * 1e3 / double(state.iterations());
  state.counters["auth_seal_ms"] = both * 1e3 / double(state.iterations());
  // Speed of authenticating with seals as a share of authenticating alone; goal: at least 0.70.
  state.counters["speed_ratio"] = alone / both;
}
BENCHMARK(BM_VerifySealsAndAuthenticate)
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
