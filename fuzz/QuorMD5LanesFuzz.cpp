// Every engine the processor runs against OpenSSL's MD5 of the salt and the same bytes. The
// input is cut into messages: each first byte, times 37, gives the length of the message that
// follows (cut short by the input's end), so one input makes batches of mixed lengths.
#include <openssl/evp.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/QuorLittleEndian.h"
#include "core/QuorMD5Lanes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<QuorMD5Job> jobs;
  std::vector<BYTE> digests;
  for (std::size_t at = 0; at < size;) {
    const std::size_t length = std::min<std::size_t>(data[at] * 37u, size - at - 1);
    jobs.push_back({data + at + 1, length, nullptr});
    at += 1 + length;
  }
  digests.resize(jobs.size() * kQuorMD5DigestSize);
  for (std::size_t i = 0; i < jobs.size(); ++i) jobs[i].digest = digests.data() + i * 16;

  std::vector<BYTE> expected(digests.size());
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    std::vector<BYTE> message(kGuidSize + jobs[i].length);
    EncodeGuid(message.data(), kQuorHashSalt);
    if (jobs[i].length != 0) std::memcpy(message.data() + kGuidSize, jobs[i].data, jobs[i].length);
    unsigned int length = 0;
    if (EVP_Digest(message.data(), message.size(), expected.data() + i * 16, &length, EVP_md5(),
                   nullptr) != 1) {
      std::abort();
    }
  }
  for (QuorMD5Engine engine : {QuorMD5Engine::single, QuorMD5Engine::avx2, QuorMD5Engine::avx512}) {
    if (!CQuorMD5Lanes::IsSupported(engine)) continue;
    CQuorMD5Lanes lanes(engine);
    std::fill(digests.begin(), digests.end(), 0);
    if (FAILED(lanes.Hash(jobs)) || digests != expected) std::abort();
  }
  return 0;
}
