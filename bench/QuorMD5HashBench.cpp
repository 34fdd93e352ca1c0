// The cost of one block hash: the salted MD5 of a payload, started from the salted template,
// against a bare one-shot EVP MD5 of the same bytes; and batches of messages hashed side by side
// in vector lanes against the same batch one message at a time, in the same run.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <time.h>

#include <vector>

#include "core/QuorMD5Hash.h"
#include "core/QuorMD5Lanes.h"

namespace {

std::vector<BYTE> Payload(std::size_t size) {
  std::vector<BYTE> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<BYTE>(i * 31 + 7);
  return bytes;
}

void BM_SaltedMD5PerBlock(benchmark::State& state) {
  const std::vector<BYTE> payload = Payload(static_cast<std::size_t>(state.range(0)));
  CQuorMD5Hash hash;
  BYTE digest[kQuorMD5DigestSize];
  for (auto _ : state) {
    if (FAILED(hash.ReInitialize()) ||
        FAILED(hash.AddData(payload.data(), static_cast<DWORD>(payload.size()))) ||
        FAILED(hash.GetDigest(digest))) {
      state.SkipWithError("hash failed");
      break;
    }
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_SaltedMD5PerBlock)->Arg(64)->Arg(1024)->Arg(64 * 1024);

void BM_BareEvpMD5OneShot(benchmark::State& state) {
  const std::vector<BYTE> payload = Payload(static_cast<std::size_t>(state.range(0)));
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  for (auto _ : state) {
    if (EVP_Digest(payload.data(), payload.size(), digest, &size, EVP_md5(), nullptr) != 1) {
      state.SkipWithError("EVP_Digest failed");
      break;
    }
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_BareEvpMD5OneShot)->Arg(64)->Arg(1024)->Arg(64 * 1024);

double ThreadCpuSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// 64 messages of arg 0 bytes hashed by the engine of arg 1 (1: AVX2, 2: AVX-512) and, in the same
// iteration, one at a time (base). Counters: MB_s and base_MB_s, x_base (the speed-up).
void BM_SaltedMD5Batch(benchmark::State& state) {
  const std::size_t size = static_cast<std::size_t>(state.range(0));
  const auto engine = static_cast<QuorMD5Engine>(state.range(1));
  if (!CQuorMD5Lanes::IsSupported(engine)) {
    state.SkipWithError("the processor lacks this engine");
    return;
  }
  constexpr std::size_t kMessages = 64;
  const std::vector<BYTE> payload = Payload(size * kMessages);
  std::vector<BYTE> digests(kMessages * kQuorMD5DigestSize);
  std::vector<QuorMD5Job> jobs;
  for (std::size_t i = 0; i < kMessages; ++i) {
    jobs.push_back({payload.data() + i * size, size, digests.data() + i * kQuorMD5DigestSize});
  }
  CQuorMD5Lanes lanes(engine);
  CQuorMD5Lanes single(QuorMD5Engine::single);
  double subject = 0;
  double base = 0;
  for (auto _ : state) {
    const double t0 = ThreadCpuSeconds();
    if (FAILED(lanes.Hash(jobs))) state.SkipWithError("hash failed");
    const double t1 = ThreadCpuSeconds();
    if (FAILED(single.Hash(jobs))) state.SkipWithError("hash failed");
    subject += t1 - t0;
    base += ThreadCpuSeconds() - t1;
  }
  const double bytes =
      static_cast<double>(size * kMessages) * static_cast<double>(state.iterations());
  state.counters["MB_s"] = bytes / subject / 1e6;
  state.counters["base_MB_s"] = bytes / base / 1e6;
  state.counters["x_base"] = base / subject;
}
BENCHMARK(BM_SaltedMD5Batch)->ArgsProduct({{1024, 64 * 1024}, {1, 2}});

}  // namespace
