// Throughput of media sample blocks through a real file, beside the bare salted MD5 of the same
// payload size in the same run: writing builds one block per sample (payload borrowed, as the
// recorder does) and writes it through the storage's byte writer; reading reads the blocks back
// one after another through the byte reader into one block object, hash checked. A block costs
// one salted MD5 over its bytes plus the I/O, so both should come close to the bare MD5 rate.
// Payload bytes per second are reported as MB/s by the benchmark library.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "core/QuorMD5Hash.h"
#include "format/QuorMediaSampleBlock.h"
#include "storage/QuorFileStorage.h"
#include "support/QuorTempDir.h"

namespace {

constexpr ULONGLONG kFileBytes = 128ull << 20;  // a file is started afresh past this size
constexpr DWORD kMaxFileKiB = 0x500000;

void BM_BareSaltedMD5(benchmark::State& state) {
  const std::vector<BYTE> payload(static_cast<std::size_t>(state.range(0)), 0x5A);
  CQuorMD5Hash hash;
  BYTE digest[kQuorMD5DigestSize];
  for (auto _ : state) {
    if (hash.ReInitialize() != S_OK ||
        hash.AddData(payload.data(), static_cast<DWORD>(payload.size())) != S_OK ||
        hash.GetDigest(digest) != S_OK) {
      state.SkipWithError("hash failed");
      return;
    }
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_SampleBlockWrite(benchmark::State& state) {
  CQuorTempDir dir;
  const DWORD size = static_cast<DWORD>(state.range(0));
  const std::vector<BYTE> payload(size, 0x5A);
  CQuorFileStorage storage;
  ULONGLONG written = kFileBytes;
  DWORD blockIndex = 0;
  for (auto _ : state) {
    if (written >= kFileBytes) {
      state.PauseTiming();
      ULONGLONG finalSize = 0;
      if (storage.GetMode() == smWriting) (void)storage.Finalize(&finalSize);  // a fresh file
      if (storage.InitializeForWriting(dir.WidePath("bench.vid").c_str(), kMaxFileKiB, true) !=
          S_OK) {
        state.SkipWithError("cannot create the file");
        return;
      }
      written = 0;
      state.ResumeTiming();
    }
    CQuorMediaSampleBlock block;
    if (block.SetPayload(payload.data(), size, false) != S_OK ||
        block.SetBlockIndex(blockIndex++) != S_OK || block.Write(storage.GetWriter()) != S_OK) {
      state.SkipWithError("write failed");
      return;
    }
    written += size + kMediaSampleOverhead;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_SampleBlockRead(benchmark::State& state) {
  CQuorTempDir dir;
  const DWORD size = static_cast<DWORD>(state.range(0));
  const std::vector<BYTE> payload(size, 0x5A);
  const DWORD count = static_cast<DWORD>((32ull << 20) / (size + kMediaSampleOverhead));
  {
    CQuorFileStorage storage;
    ULONGLONG finalSize = 0;
    if (storage.InitializeForWriting(dir.WidePath("bench.vid").c_str(), kMaxFileKiB, true) !=
        S_OK) {
      state.SkipWithError("cannot create the file");
      return;
    }
    CQuorMediaSampleBlock block;
    for (DWORD i = 0; i < count; ++i) {
      if (block.SetPayload(payload.data(), size, false) != S_OK || block.SetBlockIndex(i) != S_OK ||
          block.Write(storage.GetWriter()) != S_OK) {
        state.SkipWithError("write failed");
        return;
      }
    }
    (void)storage.Finalize(&finalSize);  // closes the file; its size is known
  }
  CQuorFileStorage storage;
  if (storage.OpenFileForInspection(dir.WidePath("bench.vid").c_str()) != S_OK ||
      storage.Seek(0, kQuorFileSignatureSize, soBegin) != S_OK) {
    state.SkipWithError("cannot open the file");
    return;
  }
  CQuorMediaSampleBlock block;
  DWORD read = 0;
  for (auto _ : state) {
    if (read == count) {
      if (storage.Seek(0, kQuorFileSignatureSize, soBegin) != S_OK) state.SkipWithError("seek");
      read = 0;
    }
    if (block.Read(storage.GetReader()) != S_OK || !block.IsHashValid()) {
      state.SkipWithError("read failed");
      return;
    }
    ++read;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

BENCHMARK(BM_BareSaltedMD5)->Arg(1024)->Arg(64 * 1024);
BENCHMARK(BM_SampleBlockWrite)->Arg(1024)->Arg(64 * 1024);
BENCHMARK(BM_SampleBlockRead)->Arg(1024)->Arg(64 * 1024);

}  // namespace
