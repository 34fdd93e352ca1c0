// Playback speed, each figure beside a baseline measured in the same run on the same files: the
// least work the format asks for, done with plain system calls and the salted MD5, with every
// buffer allocated once before timing. The reader and the baseline alternate within each
// iteration and both are timed in thread CPU time (user and system), so a busy machine slows
// neither more than the other. Counters:
//   ms, base_ms (or us, base_us): one pass of the reader and of the baseline;
//   pct_of_base: the reader's speed as a percentage of the baseline's (100 = as fast);
//   MB_s, base_MB_s, items_s, base_items_s: throughputs where the work is a whole walk.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <pthread.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <stdexcept>
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
#include "quormediafiles/quor.hpp"
#include "storage/QuorFileStorage.h"

namespace {

namespace fs = std::filesystem;

constexpr ULONGLONG kTimestampStep = 10;
constexpr std::size_t kMiB = 1u << 20;

// A fileset of one track in a fresh directory: files x samplesPerFile samples of sampleSize
// bytes at timestamps 0, 10, 20, ..., an index block after every samplesPerIndex samples.
class CBenchFileSet {
 public:
  CBenchFileSet(int files, int samplesPerFile, int samplesPerIndex, int sampleSize)
      : m_files(files) {
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
      CQuorMediaSampleBlock sample;
      Check(sample.SetPayload(payload.data(), static_cast<DWORD>(payload.size()), false));
      for (int i = 0; i < samplesPerFile; ++i) {
        ULONGLONG position = 0;
        Check(storage.GetPosition(0, &position));
        write(sample, true);
        Check(index->AddSampleIndex(1, CQuorMediaSampleIndex(1, 3, position, timestamp)));
        timestamp += kTimestampStep;
        ++m_samples;
        if ((i + 1) % samplesPerIndex == 0 || i + 1 == samplesPerFile) {
          Check(index->SetOffsetToPreviousIndex(previous));
          Check(storage.GetPosition(0, &previous));
          write(*index, true);
          index = std::make_unique<CQuorIndexBlock>();
          ++m_indexBlocks;
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
    m_blocks = blockIndex;
    m_lastTimestamp = timestamp - kTimestampStep;
  }
  ~CBenchFileSet() {
    std::error_code error;
    fs::remove_all(m_root, error);
  }
  CBenchFileSet(const CBenchFileSet&) = delete;
  CBenchFileSet& operator=(const CBenchFileSet&) = delete;

  std::string Name(int k) const {
    return m_root + "/set" + (k ? std::to_string(k) : std::string()) + ".vid";
  }
  static std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }
  CQuorBstr FirstName() const { return CQuorBstr::Copy(Wide(Name(0))); }
  int Files() const { return m_files; }
  ULONGLONG LastTimestamp() const { return m_lastTimestamp; }
  ULONGLONG Bytes() const { return m_bytes; }
  std::size_t Samples() const { return m_samples; }
  std::size_t IndexBlocks() const { return m_indexBlocks; }
  std::size_t Blocks() const { return m_blocks; }

 private:
  static void Check(HRESULT hr) {
    if (FAILED(hr)) throw std::runtime_error("bench fileset");
  }

  std::string m_root;
  int m_files;
  ULONGLONG m_lastTimestamp = 0;
  ULONGLONG m_bytes = 0;
  std::size_t m_samples = 0;
  std::size_t m_indexBlocks = 0;
  std::size_t m_blocks = 0;
};

CQuorComPtr<IQuorMediaFileReader> NewReader() {
  CQuorComPtr<IQuorMediaFileReader> reader;
  if (FAILED(CoCreateInstance(CLSID_QuorMediaFileReader, &reader))) throw std::runtime_error("new");
  return reader;
}

CQuorComPtr<IQuorMediaFileReader> OpenReader(const CBenchFileSet& set) {
  CQuorComPtr<IQuorMediaFileReader> reader = NewReader();
  CQuorBstr name = set.FirstName();
  if (FAILED(reader->OpenFileSet(name.Get(), nullptr))) throw std::runtime_error("open");
  return reader;
}

// The baselines: the same files read with pread and checked with the salted MD5, nothing else.
// Block layout: type | size S | fields, of which the last 16 bytes are the block hash. An index
// block's fields: previous index offset (16 bytes), then 56 bytes per entry whose position and
// timestamp values lie at +32 and +48, then the 48 bytes of base fields.
class CPlainReader {
 public:
  explicit CPlainReader(const CBenchFileSet& set)
      : m_set(set), m_stream(2 * kMiB + 128 * 1024), m_block(64 * 1024) {
    for (int k = 0; k < set.Files(); ++k) m_fds.push_back(Open(k));
    m_directory.reserve(set.IndexBlocks());
  }
  ~CPlainReader() {
    for (int fd : m_fds) ::close(fd);
  }
  CPlainReader(const CPlainReader&) = delete;
  CPlainReader& operator=(const CPlainReader&) = delete;

  // What an open needs: every file opened, its index chain walked from the end with one read
  // and one hash per index block, and a directory of the blocks by first timestamp.
  void OpenAndWalkIndexChains() {
    for (int fd : m_fds) ::close(fd);
    m_fds.clear();
    m_directory.clear();
    for (int k = 0; k < m_set.Files(); ++k) {
      const int fd = Open(k);
      m_fds.push_back(fd);
      struct stat status {};
      ::fstat(fd, &status);
      const ULONGLONG end = static_cast<ULONGLONG>(status.st_size);
      BYTE tail[36];
      PreadAll(fd, tail, sizeof tail, end - sizeof tail);
      const ULONGLONG finalizationStart = end - (DecodeU32(tail + 8) + 8);
      PreadAll(fd, tail, sizeof tail, finalizationStart - sizeof tail);
      ULONGLONG position = finalizationStart - (DecodeU32(tail + 8) + 8);
      const std::size_t first = m_directory.size();
      while (position != 0) {
        const BYTE* block = ReadBlock(fd, position);
        const DWORD size = DecodeU32(block + 4);
        const DWORD entries = (size - 64) / 56;
        m_directory.push_back({DecodeU64(block + 24 + 48),
                               DecodeU64(block + 24 + 56 * (entries - 1) + 48), k, position});
        position = DecodeU64(block + 16);
      }
      std::reverse(m_directory.begin() + static_cast<std::ptrdiff_t>(first), m_directory.end());
    }
  }

  // What MoveTo needs: the directory searched, one index block and one sample block read and
  // hashed.
  void ReadSampleAt(ULONGLONG timestamp) {
    auto found = std::upper_bound(
        m_directory.begin(), m_directory.end(), timestamp,
        [](ULONGLONG t, const DirectoryEntry& entry) { return t < entry.firstTimestamp; });
    const DirectoryEntry& entry = *std::prev(found);
    const int fd = m_fds[static_cast<std::size_t>(entry.file)];
    const BYTE* block = ReadBlock(fd, entry.position);
    const DWORD entries = (DecodeU32(block + 4) - 64) / 56;
    ULONGLONG position = 0;
    for (DWORD i = 0; i < entries; ++i) {
      const BYTE* e = block + 24 + 56 * i;
      if (DecodeU64(e + 48) > timestamp) break;
      position = DecodeU64(e + 32);
    }
    benchmark::DoNotOptimize(ReadBlock(fd, position));
  }

  // Every file read in 1 MiB reads through one buffer allocated once, every block hash checked,
  // and with hashFile every file hash. Returns the number of blocks.
  std::size_t ReadAndHashAll(bool hashFile) {
    std::size_t blocks = 0;
    for (int k = 0; k < m_set.Files(); ++k) {
      const int fd = m_fds[static_cast<std::size_t>(k)];
      (void)m_fileHash.ReInitialize();  // benchmark: inputs are valid
      ULONGLONG offset = 16;            // of m_stream[0] in the file
      std::size_t held = 0;
      for (;;) {
        const ssize_t n =
            ::pread(fd, m_stream.data() + held, kMiB, static_cast<off_t>(offset + held));
        if (n < 0) throw std::runtime_error("read");
        held += static_cast<std::size_t>(n);
        std::size_t at = 0;
        while (at + 8 <= held && at + 8 + DecodeU32(m_stream.data() + at + 4) <= held) {
          const BYTE* block = m_stream.data() + at;
          const DWORD blockSize = DecodeU32(block + 4);
          const BYTE* stored = block + 8 + blockSize - 16;
          (void)m_blockHash.ReInitialize();
          (void)m_blockHash.AddData(block, 8 + blockSize - 16);
          benchmark::DoNotOptimize(m_blockHash.IsSame(stored));
          if (hashFile) {
            if (DecodeU32(block) == btFinalization) {
              benchmark::DoNotOptimize(m_fileHash.IsSame(block + 8 + 12 + 8));
            } else {
              (void)m_fileHash.AddData(stored, 16);
            }
          }
          at += 8 + blockSize;
          ++blocks;
        }
        // The start of a block that the next read completes moves to the front.
        std::memmove(m_stream.data(), m_stream.data() + at, held - at);
        held -= at;
        offset += at;
        if (n == 0) break;
      }
    }
    return blocks;
  }

 private:
  struct DirectoryEntry {
    ULONGLONG firstTimestamp;
    ULONGLONG lastTimestamp;
    int file;
    ULONGLONG position;
  };

  int Open(int k) const {
    const int fd = ::open(m_set.Name(k).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("open");
    return fd;
  }
  static void PreadAll(int fd, BYTE* buffer, std::size_t n, ULONGLONG at) {
    if (::pread(fd, buffer, n, static_cast<off_t>(at)) != static_cast<ssize_t>(n)) {
      throw std::runtime_error("pread");
    }
  }
  // One block at position: one 4 KiB read, a second for the rest of a longer block; hashed.
  const BYTE* ReadBlock(int fd, ULONGLONG position) {
    const ssize_t n = ::pread(fd, m_block.data(), 4096, static_cast<off_t>(position));
    if (n < 8) throw std::runtime_error("pread");
    const std::size_t total = 8 + DecodeU32(m_block.data() + 4);
    if (total > m_block.size()) m_block.resize(total);
    if (total > static_cast<std::size_t>(n)) {
      PreadAll(fd, m_block.data() + n, total - static_cast<std::size_t>(n),
               position + static_cast<ULONGLONG>(n));
    }
    (void)m_blockHash.ReInitialize();
    (void)m_blockHash.AddData(m_block.data(), static_cast<DWORD>(total - 16));
    benchmark::DoNotOptimize(m_blockHash.IsSame(m_block.data() + total - 16));
    return m_block.data();
  }

  const CBenchFileSet& m_set;
  std::vector<int> m_fds;
  std::vector<BYTE> m_stream;  // a read and the unfinished block before it
  std::vector<BYTE> m_block;
  std::vector<DirectoryEntry> m_directory;
  CQuorMD5Hash m_blockHash;
  CQuorMD5Hash m_fileHash;
};

double ThreadCpuSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Runs subject and baseline alternately, each once per iteration, and reports the subject's
// thread CPU time as the iteration time. Returns the total times.
struct CPairedTimes {
  double subject = 0;
  double baseline = 0;
};
template <typename Subject, typename Baseline>
CPairedTimes RunPaired(benchmark::State& state, Subject&& subject, Baseline&& baseline) {
  CPairedTimes total;
  for (auto _ : state) {
    const double t0 = ThreadCpuSeconds();
    subject();
    const double t1 = ThreadCpuSeconds();
    baseline();
    const double t2 = ThreadCpuSeconds();
    state.SetIterationTime(t1 - t0);
    total.subject += t1 - t0;
    total.baseline += t2 - t1;
  }
  return total;
}

// Per-pass times (scale 1e3: ms, 1e6: us) and the speed ratio.
void ReportPassTimes(benchmark::State& state, const CPairedTimes& total, double scale,
                     const char* unit, const char* baseUnit) {
  const double n = static_cast<double>(state.iterations());
  state.counters[unit] = total.subject / n * scale;
  state.counters[baseUnit] = total.baseline / n * scale;
  state.counters["pct_of_base"] = 100.0 * total.baseline / total.subject;
}

// Throughputs of one whole walk per pass: bytes and items (samples or blocks).
void ReportThroughputs(benchmark::State& state, const CPairedTimes& total, double bytes,
                       double items) {
  const double n = static_cast<double>(state.iterations());
  state.counters["MB_s"] = bytes * n / total.subject / 1e6;
  state.counters["base_MB_s"] = bytes * n / total.baseline / 1e6;
  state.counters["items_s"] = items * n / total.subject;
  state.counters["base_items_s"] = items * n / total.baseline;
  state.counters["pct_of_base"] = 100.0 * total.baseline / total.subject;
}

// OpenFileSet and the first MoveTo (to the middle) in a fresh reader, 10,000 index blocks in
// four files. Arg 0: one 16-byte sample per index block (about 2 MB); arg 1: twelve samples of
// 2,111 bytes per index block, a 256 MiB fileset (the size stands in for 1 GiB).
void BM_OpenFileSetAndFirstMoveTo(benchmark::State& state) {
  const bool large = state.range(0) != 0;
  CBenchFileSet set(4, large ? 30000 : 2500, large ? 12 : 1, large ? 2111 : 16);
  CPlainReader plain(set);
  CQuorBstr name = set.FirstName();
  const ULONGLONG middle = set.LastTimestamp() / 2;
  const CPairedTimes total = RunPaired(
      state,
      [&] {
        CQuorComPtr<IQuorMediaFileReader> reader = NewReader();
        if (FAILED(reader->OpenFileSet(name.Get(), nullptr))) state.SkipWithError("open");
        CQuorComPtr<IQuorMediaFileSample> sample;
        if (FAILED(reader->MoveTo(1, middle, sample.AddressOf()))) state.SkipWithError("move");
      },
      [&] {
        plain.OpenAndWalkIndexChains();
        plain.ReadSampleAt(middle);
      });
  ReportPassTimes(state, total, 1e3, "ms", "base_ms");
  state.counters["index_blocks"] = static_cast<double>(set.IndexBlocks());
  state.counters["fileset_MiB"] = static_cast<double>(set.Bytes()) / kMiB;
}
BENCHMARK(BM_OpenFileSetAndFirstMoveTo)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// MoveTo at random timestamps: one index block and one sample block per call. 100,000 samples
// of 1 KiB, 100 per index block, in four files.
void BM_MoveToRandom(benchmark::State& state) {
  CBenchFileSet set(4, 25000, 100, 1024);
  CQuorComPtr<IQuorMediaFileReader> reader = OpenReader(set);
  CPlainReader plain(set);
  plain.OpenAndWalkIndexChains();
  std::mt19937_64 random(7);
  std::uniform_int_distribution<ULONGLONG> pick(0, set.LastTimestamp());
  CQuorComPtr<IQuorMediaFileSample> sample;
  ULONGLONG timestamp = 0;
  const CPairedTimes total = RunPaired(
      state,
      [&] {
        timestamp = pick(random);
        if (FAILED(reader->MoveTo(1, timestamp, sample.AddressOf()))) state.SkipWithError("move");
      },
      [&] { plain.ReadSampleAt(timestamp); });
  ReportPassTimes(state, total, 1e6, "us", "base_us");
}
BENCHMARK(BM_MoveToRandom)->UseManualTime()->Unit(benchmark::kMicrosecond);

// MoveTo the first sample and MoveNext to the end of the track, beside one read and one hash of
// every block of the same files. Arg: sample size; 50,000 samples of 1 KiB or 2,000 of 64 KiB,
// 100 per index block, in two files.
void BM_MoveNextWholeTrack(benchmark::State& state) {
  const int size = static_cast<int>(state.range(0));
  const int samples = size >= 65536 ? 2000 : 50000;
  CBenchFileSet set(2, samples / 2, 100, size);
  CQuorComPtr<IQuorMediaFileReader> reader = OpenReader(set);
  CPlainReader plain(set);
  CQuorComPtr<IQuorMediaFileSample> sample;
  const CPairedTimes total = RunPaired(
      state,
      [&] {
        HRESULT hr = reader->MoveTo(1, 0, sample.AddressOf());
        while (SUCCEEDED(hr)) hr = reader->MoveNext(1, sample.AddressOf());
      },
      [&] { benchmark::DoNotOptimize(plain.ReadAndHashAll(false)); });
  ReportPassTimes(state, total, 1e3, "ms", "base_ms");
  ReportThroughputs(state, total, static_cast<double>(samples) * size, samples);
}
BENCHMARK(BM_MoveNextWholeTrack)
    ->Arg(1024)
    ->Arg(65536)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Every sample of a track through quor::Reader's range beside the same walk through the object
// interface (MoveTo, MoveNext, the sample's payload view), both reading every payload's first
// byte. Arg: sample size, as in BM_MoveNextWholeTrack. pct_of_base is quor's speed as a
// percentage of the interface loop's.
void BM_QuorReaderWholeTrack(benchmark::State& state) {
  const int size = static_cast<int>(state.range(0));
  const int samples = size >= 65536 ? 2000 : 50000;
  CBenchFileSet set(2, samples / 2, 100, size);
  CQuorComPtr<IQuorMediaFileReader> raw = OpenReader(set);
  quor::Reader reader = quor::Reader::open(QuorBstrToUtf8(set.FirstName().Get()));
  unsigned sum = 0;
  const CPairedTimes total = RunPaired(
      state,
      [&] {
        for (const quor::Sample& s : reader.samples(1)) sum += unsigned(s.payload()[0]);
      },
      [&] {
        CQuorComPtr<IQuorMediaFileSample> sample;
        HRESULT hr = raw->MoveTo(1, 0, sample.AddressOf());
        while (SUCCEEDED(hr)) {
          CQuorComPtr<IQuorMediaFileSampleAccess> access;
          const BYTE* data = nullptr;
          ULONG length = 0;
          if (SUCCEEDED(sample.As(&access)) && SUCCEEDED(access->GetPayloadView(&data, &length))) {
            sum += data[0];
          }
          hr = raw->MoveNext(1, sample.AddressOf());
        }
      });
  benchmark::DoNotOptimize(sum);
  ReportPassTimes(state, total, 1e3, "ms", "base_ms");
  ReportThroughputs(state, total, static_cast<double>(samples) * size, samples);
}
BENCHMARK(BM_QuorReaderWholeTrack)
    ->Arg(1024)
    ->Arg(65536)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// IsAuthentic beside one read of the same files in 1 MiB reads that checks every block hash and
// every file hash. Items are blocks, bytes the whole fileset.
void BM_IsAuthentic(benchmark::State& state) {
  const int size = static_cast<int>(state.range(0));
  const int samples = size >= 65536 ? 2000 : 50000;
  CBenchFileSet set(2, samples / 2, 100, size);
  CQuorComPtr<IQuorMediaFileReader> reader = OpenReader(set);
  CPlainReader plain(set);
  const CPairedTimes total = RunPaired(
      state,
      [&] {
        VARIANT_BOOL authentic = 0;
        if (FAILED(reader->IsAuthentic(&authentic)) || !authentic) state.SkipWithError("auth");
      },
      [&] { benchmark::DoNotOptimize(plain.ReadAndHashAll(true)); });
  ReportPassTimes(state, total, 1e3, "ms", "base_ms");
  ReportThroughputs(state, total, static_cast<double>(set.Bytes()),
                    static_cast<double>(set.Blocks()));
}
BENCHMARK(BM_IsAuthentic)->Arg(1024)->Arg(65536)->UseManualTime()->Unit(benchmark::kMillisecond);

// The open of files whose finalization block was cut off, which walks each file from its first
// block (every block read and its hash checked), beside one read of the same files that checks
// every block hash. Items are blocks, bytes the whole fileset.
void BM_OpenRecovering(benchmark::State& state) {
  const int size = static_cast<int>(state.range(0));
  const int samples = size >= 65536 ? 2000 : 50000;
  CBenchFileSet set(2, samples / 2, 100, size);
  for (int k = 0; k < set.Files(); ++k) {
    fs::resize_file(set.Name(k), fs::file_size(set.Name(k)) - kFinalizationBlockSize);
  }
  CPlainReader plain(set);
  CQuorBstr name = set.FirstName();
  const CPairedTimes total = RunPaired(
      state,
      [&] {
        CQuorComPtr<IQuorMediaFileReader> reader = NewReader();
        if (FAILED(reader->OpenFileSet(name.Get(), nullptr))) state.SkipWithError("open");
      },
      [&] { benchmark::DoNotOptimize(plain.ReadAndHashAll(false)); });
  ReportPassTimes(state, total, 1e3, "ms", "base_ms");
  ReportThroughputs(state, total, static_cast<double>(set.Bytes()),
                    static_cast<double>(set.Blocks()));
}
BENCHMARK(BM_OpenRecovering)->Arg(1024)->Arg(65536)->UseManualTime()->Unit(benchmark::kMillisecond);

// From CancelAuthentication, a millisecond into the walk, to IsAuthentic's return on the walking
// thread: in wall time (the iteration time, which a busy machine stretches) and in the walking
// thread's CPU time (cpu_us: the work done after the cancel). A 64 MiB fileset of 64 KiB samples.
void BM_CancelLatency(benchmark::State& state) {
  CBenchFileSet set(1, 1000, 100, 65536);
  CQuorComPtr<IQuorMediaFileReader> reader = OpenReader(set);
  clockid_t walkerClock{};
  ::pthread_getcpuclockid(::pthread_self(), &walkerClock);
  auto cpuSeconds = [&] {
    timespec now{};
    ::clock_gettime(walkerClock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
  };
  double cpuAfterCancel = 0;
  for (auto _ : state) {
    std::chrono::steady_clock::time_point cancelledAt;
    double cpuAtCancel = 0;
    std::atomic<bool> returned{false};
    std::thread canceller([&] {
      SHORT progress = 0;
      while (!returned && SUCCEEDED(reader->GetAuthenticationProgress(&progress)) &&
             progress == 0) {
        std::this_thread::yield();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      cpuAtCancel = cpuSeconds();
      cancelledAt = std::chrono::steady_clock::now();
      if (FAILED(reader->CancelAuthentication())) cancelledAt = {};
    });
    VARIANT_BOOL authentic = 0;
    (void)reader->IsAuthentic(&authentic);
    const auto returnedAt = std::chrono::steady_clock::now();
    const double cpuAtReturn = cpuSeconds();
    returned = true;
    canceller.join();
    if (cancelledAt == std::chrono::steady_clock::time_point{}) {
      state.SkipWithError("the walk ended before the cancel");
      break;
    }
    state.SetIterationTime(std::chrono::duration<double>(returnedAt - cancelledAt).count());
    cpuAfterCancel += cpuAtReturn - cpuAtCancel;
  }
  state.counters["cpu_us"] = cpuAfterCancel / static_cast<double>(state.iterations()) * 1e6;
}
BENCHMARK(BM_CancelLatency)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(30);

// Heap held by a reader after opening 1,000,000 samples of one byte, by how many samples share
// an index block: it grows with the index blocks, not with the samples.
void BM_OpenMemoryByIndexBlocks(benchmark::State& state) {
  const int perIndex = static_cast<int>(state.range(0));
  CBenchFileSet set(1, 1000000, perIndex, 1);
  double bytes = 0;
  for (auto _ : state) {
    CQuorComPtr<IQuorMediaFileReader> reader = NewReader();
    CQuorBstr name = set.FirstName();
    const struct mallinfo2 before = ::mallinfo2();
    if (FAILED(reader->OpenFileSet(name.Get(), nullptr))) state.SkipWithError("open");
    const struct mallinfo2 after = ::mallinfo2();
    bytes = static_cast<double>(after.uordblks + after.hblkhd) -
            static_cast<double>(before.uordblks + before.hblkhd);
  }
  state.counters["index_blocks"] = static_cast<double>(set.IndexBlocks());
  state.counters["samples"] = static_cast<double>(set.Samples());
  state.counters["reader_heap_bytes"] = bytes;
  state.counters["bytes_per_index_block"] = bytes / static_cast<double>(set.IndexBlocks());
}
BENCHMARK(BM_OpenMemoryByIndexBlocks)
    ->Arg(100)
    ->Arg(1000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace
