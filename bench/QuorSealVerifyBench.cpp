// The seal check that authenticates in the same read (quor::Reader::verifySeals with an
// Authentication, one read of each byte, two member files at a time) beside authenticate() alone,
// and beside what a seal check with authentication took before: authenticate(), then each file's
// seals in turn (QuorVerifySeal). A sealed fileset of QUOR_BENCH_SEAL_MIB MiB (512 by default) in
// 64 MiB member files of 64 KiB samples, in the page cache. Wall-clock times per pass (the
// combined check runs on two threads); pct_of_alone is authenticate()'s time as a percentage of
// the subject's (100: as fast as authenticating alone). Also the forward block walk of every
// member file against authenticate() alone.
#include <benchmark/benchmark.h>
#include <time.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "format/QuorForwardBlockWalker.h"
#include "quormediafiles/platform/QuorOleAuto.h"
#include "quormediafiles/quor.hpp"
#include "seal/QuorSealKey.h"
#include "seal/QuorSealVerifier.h"
#include "storage/QuorFileStorage.h"
#include "support/QuorTempDir.h"

namespace {

double Seconds(const std::chrono::steady_clock::time_point& start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// CPU seconds of every thread of the process so far.
double ProcessCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

class CSealedFileSet {
 public:
  CSealedFileSet() {
    const char* mib = std::getenv("QUOR_BENCH_SEAL_MIB");
    const int samples = (mib ? std::atoi(mib) : 512) * 16;  // 64 KiB each
    CQuorSealKey key;
    if (FAILED(key.Generate()) || FAILED(key.WritePair(m_dir.Path("key")))) std::abort();
    m_path = m_dir.Path("big.qmf");
    quor::TrackSpec track;
    track.id = 1;
    track.name = "cam";
    track.video = true;
    quor::WriterOptions options;
    options.signingKey = m_dir.Path("key");
    quor::Limits limits;
    limits.maxFileSizeKiB = 64 * 1024;
    limits.maxFiles = 1000;
    auto writer = quor::Writer::create(m_path, limits, {track}, options);
    std::vector<std::uint8_t> payload(64 * 1024);
    for (int i = 0; i < samples; ++i) {
      for (std::size_t b = 0; b < payload.size(); b += 4096) payload[b] = std::uint8_t(i + b);
      writer.write(1, 1000 * (i + 1), quor::SampleFlags::KeyFrame | quor::SampleFlags::Video,
                   std::span<const std::uint8_t>(payload));
    }
    writer.stop();
    for (const quor::MemberFile& f : quor::Reader::open(m_path).info().files) {
      m_bytes += static_cast<double>(std::filesystem::file_size(f.name));
      ++m_files;
    }
  }
  const std::string& Path() const { return m_path; }
  std::string PublicKey() const { return m_dir.Path("key.pub"); }
  double Bytes() const { return m_bytes; }
  int Files() const { return m_files; }

 private:
  CQuorTempDir m_dir;
  std::string m_path;
  double m_bytes = 0;
  int m_files = 0;
};

// One fileset for every benchmark here, made on first use.
const CSealedFileSet& SealedSet() {
  static const CSealedFileSet set;
  return set;
}

// Each iteration: authenticate() alone, then subject(), both on the fileset; subject's time is
// the iteration's. Counters: both wall-clock times, both throughputs, pct_of_alone, and the CPU
// time of both (every thread), which tells what two free cores would give when other work on
// the machine holds one of them: pct_on_two_cores is authenticate()'s CPU time against half the
// subject's (capped by the subject's wall-clock time).
template <class Subject>
void RunAgainstAuthenticate(benchmark::State& state, const CSealedFileSet& set,
                            const quor::Reader& reader, Subject&& subject) {
  double subjectTotal = 0;
  double aloneTotal = 0;
  double subjectCpu = 0;
  double aloneCpu = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    double cpu = ProcessCpuSeconds();
    if (!reader.authenticate().authentic) state.SkipWithError("not authentic");
    aloneTotal += Seconds(start);
    aloneCpu += ProcessCpuSeconds() - cpu;
    start = std::chrono::steady_clock::now();
    cpu = ProcessCpuSeconds();
    if (!subject()) state.SkipWithError("the subject failed");
    subjectCpu += ProcessCpuSeconds() - cpu;
    const double subjectTime = Seconds(start);
    state.SetIterationTime(subjectTime);
    subjectTotal += subjectTime;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["ms"] = subjectTotal / n * 1e3;
  state.counters["alone_ms"] = aloneTotal / n * 1e3;
  state.counters["MB_s"] = set.Bytes() * n / subjectTotal / 1e6;
  state.counters["alone_MB_s"] = set.Bytes() * n / aloneTotal / 1e6;
  state.counters["pct_of_alone"] = 100.0 * aloneTotal / subjectTotal;
  state.counters["cpu_ms"] = subjectCpu / n * 1e3;
  state.counters["alone_cpu_ms"] = aloneCpu / n * 1e3;
  state.counters["pct_on_two_cores"] = 100.0 * aloneCpu / (subjectCpu / 2);
  state.counters["files"] = set.Files();
}

// Arg 0: verifySeals with authentication; 1: verifySeals alone; 2: authenticate() then every
// file's QuorVerifySeal in turn (the check before the combined pass).
void BM_SealCheckWithAuthentication(benchmark::State& state) {
  const CSealedFileSet& set = SealedSet();
  const quor::Reader reader = quor::Reader::open(set.Path());
  CQuorSealKey key;
  QuorMessage<> message = kQuorNoMessage;
  if (FAILED(key.LoadPublic(set.PublicKey(), &message))) std::abort();
  RunAgainstAuthenticate(state, set, reader, [&] {
    bool good = true;
    if (state.range(0) == 2) {
      good = reader.authenticate().authentic;
      for (const quor::MemberFile& f : reader.info().files) {
        QuorSealReport report;
        good = good && SUCCEEDED(QuorVerifySeal(f.name, key, &report)) && report.SealedToEnd();
      }
      return good;
    }
    quor::Authentication authentication;
    for (const quor::SealCheck& c :
         reader.verifySeals(set.PublicKey(), state.range(0) == 0 ? &authentication : nullptr)) {
      good = good && c.sealedToEnd();
    }
    return good && (state.range(0) == 1 || authentication.authentic);
  });
}
BENCHMARK(BM_SealCheckWithAuthentication)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

// The forward block walk (as salvage, dump and verify's damage report make it) of every member
// file beside authenticate() alone on the same fileset.
void BM_ForwardWalk(benchmark::State& state) {
  const CSealedFileSet& set = SealedSet();
  const quor::Reader reader = quor::Reader::open(set.Path());
  std::vector<std::string> files;
  for (const quor::MemberFile& f : reader.info().files) files.push_back(f.name);
  RunAgainstAuthenticate(state, set, reader, [&] {
    ULONGLONG valid = 0;
    bool good = true;
    for (const std::string& file : files) {
      CQuorFileStorage storage;
      QuorForwardWalk walk;
      good = good && SUCCEEDED(storage.OpenFileForInspection(CQuorBstr::FromUtf8(file).Get())) &&
             SUCCEEDED(CQuorForwardBlockWalker::Walk(
                 *storage.GetReader(),
                 [&](const QuorWalkedBlock& b) {
                   valid += b.hashValid;
                   return S_OK;
                 },
                 &walk)) &&
             walk.cleanEnd;
    }
    benchmark::DoNotOptimize(valid);
    return good;
  });
}
BENCHMARK(BM_ForwardWalk)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
