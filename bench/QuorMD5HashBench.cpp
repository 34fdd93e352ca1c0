// The cost of one block hash: the salted MD5 of a payload, started from the salted template,
// against a bare one-shot EVP MD5 of the same bytes.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <vector>

#include "core/QuorMD5Hash.h"

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

}  // namespace
