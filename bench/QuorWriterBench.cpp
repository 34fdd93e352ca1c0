// Recording speed: the cost of Write on the caller's thread, and end-to-end throughput through
// the public interfaces beside a baseline that hashes and writes the same blocks with no library
// around it (one write per MiB).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
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

CQuorComPtr<IQuorMediaFileWriter> StartWriter(const std::string& path) {
  CQuorComPtr<IQuorMediaFileWriter> writer;
  (void)CoCreateInstance(CLSID_QuorMediaFileWriter, &writer);
  const CQuorBstr name = CQuorBstr::FromUtf8(path);
  (void)writer->Initialize(name.Get(), 64u << 10, 1000, VARIANT_TRUE);  // 64 MiB files
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

// The caller's side of Write alone: a ready sample object handed in again and again.
void BM_WriteCall(benchmark::State& state) {
  const std::size_t size = std::size_t(state.range(0));
  CQuorTempDir dir;
  auto writer = StartWriter(dir.Path("call.vid"));
  auto sample = MakeSample(size, 1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(writer->Write(1, sample.Get()));
  }
  state.SetItemsProcessed(state.iterations());
  (void)writer->StopRecording();
}
BENCHMARK(BM_WriteCall)->Arg(1024)->Arg(64 << 10)->Iterations(4000);

// From StartRecording to StopRecording with every sample on disk; samples made as an
// application makes them, rollover at 64 MiB included.
void BM_Record(benchmark::State& state) {
  const std::size_t size = std::size_t(state.range(0));
  const std::size_t count = kRecordingBytes / size;
  for (auto _ : state) {
    CQuorTempDir dir;
    auto writer = StartWriter(dir.Path("rec.vid"));
    for (std::size_t i = 0; i < count; ++i) {
      (void)writer->Write(1, MakeSample(size, i).Get());
    }
    const ULONGLONG expected = ULONGLONG(count) * (size + 64);
    while (BytesWritten(writer.Get()) < expected) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    (void)writer->StopRecording();
  }
  state.SetBytesProcessed(std::int64_t(state.iterations() * count * size));
  state.SetItemsProcessed(std::int64_t(state.iterations() * count));
}
BENCHMARK(BM_Record)->Arg(1024)->Arg(64 << 10)->Unit(benchmark::kMillisecond)->UseRealTime();

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
