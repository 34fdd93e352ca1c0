// Throughput of the storage's byte writer and reader: a block's worth of small pieces (a dozen
// writes of 4 to 1024 bytes, as the block format issues them, each under the size check) against
// one large transfer per MiB. Bytes per second are reported as MB/s by the benchmark library.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "storage/QuorFileStorage.h"
#include "support/QuorTempDir.h"

namespace {

constexpr DWORD kMiB = 1u << 20;
constexpr DWORD kFileMiB = 64;
constexpr DWORD kPieces[] = {4, 4, 4, 8, 12, 16, 4, 1024, 12, 4, 24, 512};

void WriteFile(benchmark::State& state, bool smallPieces) {
  CQuorTempDir dir;
  const std::vector<BYTE> data(kMiB, 0x5A);
  for (auto _ : state) {
    CQuorFileStorage storage;
    if (storage.InitializeForWriting(dir.WidePath("bench.vid").c_str(), kFileMiB * 1024 + 1,
                                     true) != S_OK) {
      state.SkipWithError("cannot create the file");
      return;
    }
    CQuorFileStorageWriter* writer = storage.GetWriter();
    ULONGLONG written = 0;
    while (written < ULONGLONG{kFileMiB} * kMiB) {
      if (smallPieces) {
        for (DWORD piece : kPieces) {
          ULONGLONG position = 0;
          benchmark::DoNotOptimize(storage.GetPosition(0, &position));
          if (writer->Write(data.data(), piece) != S_OK) state.SkipWithError("write failed");
          written += piece;
        }
      } else {
        if (writer->Write(data.data(), kMiB) != S_OK) state.SkipWithError("write failed");
        written += kMiB;
      }
    }
    ULONGLONG size = 0;
    if (storage.Finalize(&size) != S_OK) state.SkipWithError("finalize failed");
    state.SetBytesProcessed(state.bytes_processed() + static_cast<int64_t>(written));
  }
}

void ReadFile(benchmark::State& state, bool smallPieces) {
  CQuorTempDir dir;
  {
    CQuorFileStorage storage;
    const std::vector<BYTE> data(kMiB, 0x5A);
    if (storage.InitializeForWriting(dir.WidePath("bench.vid").c_str(), kFileMiB * 1024 + 1,
                                     true) != S_OK) {
      state.SkipWithError("cannot create the file");
      return;
    }
    for (DWORD i = 0; i < kFileMiB; ++i) (void)storage.GetWriter()->Write(data.data(), kMiB);
    ULONGLONG size = 0;
    (void)storage.Finalize(&size);  // the reads below show any shortfall
  }
  std::vector<BYTE> buffer(kMiB);
  for (auto _ : state) {
    CQuorFileStorage storage;
    if (storage.OpenFileForInspection(dir.WidePath("bench.vid").c_str()) != S_OK) {
      state.SkipWithError("cannot open the file");
      return;
    }
    CQuorFileStorageReader* reader = storage.GetReader();
    ULONGLONG read = 0;
    HRESULT hr = S_OK;
    while (hr == S_OK) {
      if (smallPieces) {
        for (DWORD piece : kPieces) {
          ULONGLONG remaining = 0;
          benchmark::DoNotOptimize(reader->GetRemaining(&remaining));
          hr = reader->Read(buffer.data(), piece);
          if (hr != S_OK) break;
          read += piece;
        }
      } else {
        hr = reader->Read(buffer.data(), kMiB);
        if (hr == S_OK) read += kMiB;
      }
    }
    state.SetBytesProcessed(state.bytes_processed() + static_cast<int64_t>(read));
  }
}

void BM_WriteSmallPieces(benchmark::State& state) { WriteFile(state, true); }
void BM_WriteOneMiBAtATime(benchmark::State& state) { WriteFile(state, false); }
void BM_ReadSmallPieces(benchmark::State& state) { ReadFile(state, true); }
void BM_ReadOneMiBAtATime(benchmark::State& state) { ReadFile(state, false); }

BENCHMARK(BM_WriteSmallPieces)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WriteOneMiBAtATime)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadSmallPieces)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadOneMiBAtATime)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
