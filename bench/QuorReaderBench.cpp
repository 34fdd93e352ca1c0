// Playback speed: opening a fileset with many index blocks, MoveTo at random timestamps,
// MoveNext through a whole track beside a plain "read + salted MD5" of the same blocks, and
// IsAuthentic beside a plain read that checks every block hash and file hash.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/QuorLittleEndian.h"
#include "core/QuorMD5Hash.h"
#include "format/QuorFileFinalizationBlock.h"
#include "format/QuorFileInfoBlock.h"
#include "format/QuorIndexBlock.h"
#include "format/QuorMediaSampleBlock.h"
#include "format/QuorTrackInfoBlock.h"
#include "quormediafiles/QuorMediaFiles.h"
#include "storage/QuorFileStorage.h"

namespace {

namespace fs = std::filesystem;

// A fileset of one track in a fresh directory: files x samplesPerFile samples of sampleSize
// bytes at timestamps 0, 10, 20, ..., an index block after every samplesPerIndex samples.
class CBenchFileSet {
 public:
  CBenchFileSet(int files, int samplesPerFile, int samplesPerIndex, int sampleSize) {
    std::string pattern = (fs::temp_directory_path() / "quor_bench_XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
    m_root = pattern;
    std::vector<BYTE> payload(static_cast<std::size_t>(sampleSize), 0x5A);
    DWORD blockIndex = 0;
    ULONGLONG timestamp = 0;
    for (int k = 0; k < files; ++k) {
      CQuorFileStorage storage;
      const std::u16string name = Wide(Name(k));
      Check(storage.InitializeForWriting(name.c_str(), kQuorMaxFileSizeKiB, true));
      CQuorMD5Hash fileHash;
      auto write = [&](CQuorMediaFileBlock& block, bool hashed) {
        Check(block.SetBlockIndex(blockIndex++));
        Check(block.Write(storage.GetWriter()));
        if (hashed) {
          const BYTE* hash = nullptr;
          DWORD length = 0;
          Check(block.GetBlockHash(&hash, &length));
          Check(fileHash.AddData(hash, length));
        }
      };
      CQuorFileInfoBlock info;
      Check(info.SetFileSetGuid({0xBE4C0000, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}}));
      Check(info.SetFileSetIndex(static_cast<DWORD>(k)));
      write(info, true);
      CQuorTrackInfoBlock track;
      Check(track.SetTrackId(1));
      Check(track.SetMediaTypes(1));
      Check(track.SetTrackName(u"bench"));
      Check(track.SetTrackFlags(1));
      write(track, true);
      ULONGLONG previous = 0;
      auto index = std::make_unique<CQuorIndexBlock>();
      for (int i = 0; i < samplesPerFile; ++i) {
        CQuorMediaSampleBlock sample;
        Check(sample.SetPayload(payload.data(), static_cast<DWORD>(payload.size()), false));
        ULONGLONG position = 0;
        Check(storage.GetPosition(0, &position));
        write(sample, true);
        Check(index->AddSampleIndex(1, CQuorMediaSampleIndex(1, 3, position, timestamp)));
        timestamp += 10;
        if ((i + 1) % samplesPerIndex == 0 || i + 1 == samplesPerFile) {
          Check(index->SetOffsetToPreviousIndex(previous));
          Check(storage.GetPosition(0, &previous));
          write(*index, true);
          index = std::make_unique<CQuorIndexBlock>();
        }
      }
      BYTE digest[kQuorMD5DigestSize];
      CQuorFileFinalizationBlock finalization;
      Check(fileHash.GetDigest(digest));
      Check(finalization.SetLastFileFlag(k + 1 == files));
      Check(finalization.SetFileHash(digest, kQuorMD5DigestSize));
      write(finalization, false);
      ULONGLONG size = 0;
      Check(storage.Finalize(&size));
      m_bytes += size;
    }
    m_lastTimestamp = timestamp - 10;
  }
  ~CBenchFileSet() {
    std::error_code error;
    fs::remove_all(m_root, error);
  }

  std::string Name(int k) const {
    return m_root + "/set" + (k ? std::to_string(k) : std::string()) + ".vid";
  }
  static std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }
  CQuorBstr FirstName() const { return CQuorBstr::Copy(Wide(Name(0))); }
  ULONGLONG LastTimestamp() const { return m_lastTimestamp; }
  ULONGLONG Bytes() const { return m_bytes; }

 private:
  static void Check(HRESULT hr) {
    if (FAILED(hr)) throw std::runtime_error("bench fileset");
  }

  std::string m_root;
  ULONGLONG m_lastTimestamp = 0;
  ULONGLONG m_bytes = 0;
};

CQuorComPtr<IQuorMediaFileReader> OpenReader(const CBenchFileSet& set) {
  CQuorComPtr<IQuorMediaFileReader> reader;
  if (FAILED(CoCreateInstance(CLSID_QuorMediaFileReader, &reader))) throw std::runtime_error("new");
  CQuorBstr name = set.FirstName();
  if (FAILED(reader->OpenFileSet(name.Get(), nullptr))) throw std::runtime_error("open");
  return reader;
}

// Reads every block of the files in 1 MiB reads and checks each block hash and each file hash.
// Returns the number of blocks.
std::size_t PlainAuthenticate(const CBenchFileSet& set, int files, bool hashFile) {
  std::vector<BYTE> buffer;
  std::size_t blocks = 0;
  for (int k = 0; k < files; ++k) {
    const int fd = ::open(set.Name(k).c_str(), O_RDONLY);
    buffer.resize(static_cast<std::size_t>(fs::file_size(set.Name(k))));
    std::size_t done = 0;
    while (done < buffer.size()) {
      const ssize_t n =
          ::read(fd, buffer.data() + done, std::min<std::size_t>(1 << 20, buffer.size() - done));
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    CQuorMD5Hash fileHash;
    std::size_t at = 16;
    while (at + 8 <= buffer.size()) {
      const DWORD type = DecodeU32(&buffer[at]);
      const DWORD size = DecodeU32(&buffer[at + 4]);
      CQuorMD5Hash blockHash;
      (void)blockHash.AddData(&buffer[at], 8 + size - 16);  // benchmark: inputs are valid
      const BYTE* stored = &buffer[at + 8 + size - 16];
      benchmark::DoNotOptimize(blockHash.IsSame(stored));
      if (type == 0x500) {
        if (hashFile) benchmark::DoNotOptimize(fileHash.IsSame(&buffer[at + 8 + 12 + 8]));
      } else if (hashFile) {
        (void)fileHash.AddData(stored, 16);
      }
      at += 8 + size;
      ++blocks;
    }
  }
  return blocks;
}

void BM_OpenFileSetWithManyIndexBlocks(benchmark::State& state) {
  const int indexBlocks = static_cast<int>(state.range(0));
  const int files = 4;
  CBenchFileSet set(files, indexBlocks / files, 1, 16);
  CQuorBstr name = set.FirstName();
  for (auto _ : state) {
    CQuorComPtr<IQuorMediaFileReader> reader;
    (void)CoCreateInstance(CLSID_QuorMediaFileReader, &reader);
    benchmark::DoNotOptimize(reader->OpenFileSet(name.Get(), nullptr));
    CQuorComPtr<IQuorMediaFileSample> sample;
    benchmark::DoNotOptimize(reader->MoveTo(1, set.LastTimestamp() / 2, sample.AddressOf()));
  }
  state.counters["index_blocks"] = indexBlocks;
}
BENCHMARK(BM_OpenFileSetWithManyIndexBlocks)->Arg(10000)->Unit(benchmark::kMillisecond);

// Memory after opening a million samples, by how many samples share an index block: the
// reader holds one directory entry per index block, not per sample.
void BM_OpenMemoryByIndexBlocks(benchmark::State& state) {
  const int perIndex = static_cast<int>(state.range(0));
  CBenchFileSet set(1, 1000000, perIndex, 1);
  for (auto _ : state) {
    CQuorComPtr<IQuorMediaFileReader> reader = OpenReader(set);
    benchmark::DoNotOptimize(reader.Get());
  }
  const double blocks = 1000000.0 / perIndex;
  // A directory entry: a map node holding the key and a 32-byte identifier.
  state.counters["index_blocks"] = blocks;
  state.counters["directory_bytes"] = blocks * (32 + sizeof(ULONGLONG) + 4 * sizeof(void*));
}
BENCHMARK(BM_OpenMemoryByIndexBlocks)
    ->Arg(100)
    ->Arg(1000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

void BM_MoveToRandom(benchmark::State& state) {
  CBenchFileSet set(4, 25000, 100, 1024);
  CQuorComPtr<IQuorMediaFileReader> reader = OpenReader(set);
  std::mt19937_64 random(7);
  std::uniform_int_distribution<ULONGLONG> pick(0, set.LastTimestamp());
  CQuorComPtr<IQuorMediaFileSample> sample;
  for (auto _ : state) {
    benchmark::DoNotOptimize(reader->MoveTo(1, pick(random), sample.AddressOf()));
  }
}
BENCHMARK(BM_MoveToRandom)->Unit(benchmark::kMicrosecond);

void BM_MoveNextWholeTrack(benchmark::State& state) {
  const int size = static_cast<int>(state.range(0));
  const int samples = size >= 65536 ? 2000 : 50000;
  CBenchFileSet set(2, samples / 2, 100, size);
  CQuorComPtr<IQuorMediaFileReader> reader = OpenReader(set);
  CQuorComPtr<IQuorMediaFileSample> sample;
  for (auto _ : state) {
    HRESULT hr = reader->MoveTo(1, 0, sample.AddressOf());
    while (SUCCEEDED(hr)) hr = reader->MoveNext(1, sample.AddressOf());
  }
  state.SetItemsProcessed(state.iterations() * samples);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(samples) * size);
}
BENCHMARK(BM_MoveNextWholeTrack)->Arg(1024)->Arg(65536)->Unit(benchmark::kMillisecond);

// Baseline: read the same sample blocks and take their salted MD5, nothing else.
void BM_BaselineReadAndHashSamples(benchmark::State& state) {
  const int size = static_cast<int>(state.range(0));
  const int samples = size >= 65536 ? 2000 : 50000;
  CBenchFileSet set(2, samples / 2, 100, size);
  for (auto _ : state) benchmark::DoNotOptimize(PlainAuthenticate(set, 2, false));
  state.SetItemsProcessed(state.iterations() * samples);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(samples) * size);
}
BENCHMARK(BM_BaselineReadAndHashSamples)->Arg(1024)->Arg(65536)->Unit(benchmark::kMillisecond);

void BM_IsAuthentic(benchmark::State& state) {
  const int size = static_cast<int>(state.range(0));
  const int samples = size >= 65536 ? 2000 : 50000;
  CBenchFileSet set(2, samples / 2, 100, size);
  CQuorComPtr<IQuorMediaFileReader> reader = OpenReader(set);
  const std::size_t blocks = PlainAuthenticate(set, 2, true);
  for (auto _ : state) {
    VARIANT_BOOL authentic = 0;
    benchmark::DoNotOptimize(reader->IsAuthentic(&authentic));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(blocks));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(set.Bytes()));
}
BENCHMARK(BM_IsAuthentic)->Arg(1024)->Arg(65536)->Unit(benchmark::kMillisecond);

void BM_BaselineAuthenticate(benchmark::State& state) {
  const int size = static_cast<int>(state.range(0));
  const int samples = size >= 65536 ? 2000 : 50000;
  CBenchFileSet set(2, samples / 2, 100, size);
  std::size_t blocks = 0;
  for (auto _ : state) benchmark::DoNotOptimize(blocks = PlainAuthenticate(set, 2, true));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(blocks));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(set.Bytes()));
}
BENCHMARK(BM_BaselineAuthenticate)->Arg(1024)->Arg(65536)->Unit(benchmark::kMillisecond);

// From CancelAuthentication to IsAuthentic's return on the walking thread.
void BM_CancelLatency(benchmark::State& state) {
  CBenchFileSet set(1, 20000, 100, 65536);
  CQuorComPtr<IQuorMediaFileReader> reader = OpenReader(set);
  for (auto _ : state) {
    std::chrono::steady_clock::time_point cancelledAt;
    std::thread canceller([&] {
      while (FAILED(reader->CancelAuthentication())) std::this_thread::yield();
      cancelledAt = std::chrono::steady_clock::now();
    });
    VARIANT_BOOL authentic = 0;
    (void)reader->IsAuthentic(&authentic);
    const auto returnedAt = std::chrono::steady_clock::now();
    canceller.join();
    state.SetIterationTime(
        std::chrono::duration<double>(
            std::max(returnedAt - cancelledAt, std::chrono::steady_clock::duration::zero()))
            .count());
  }
}
BENCHMARK(BM_CancelLatency)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(50);

}  // namespace
