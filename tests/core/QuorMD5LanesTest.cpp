#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <array>
#include <numeric>
#include <random>
#include <vector>

#include "core/QuorLittleEndian.h"
#include "core/QuorMD5Lanes.h"

namespace {

using Digest = std::array<BYTE, kQuorMD5DigestSize>;

// The reference: OpenSSL's one-shot MD5 of the salt bytes followed by the data.
Digest Reference(const BYTE* data, std::size_t length) {
  std::vector<BYTE> message(kGuidSize + length);
  EncodeGuid(message.data(), kQuorHashSalt);
  if (length != 0) std::copy(data, data + length, message.begin() + kGuidSize);
  Digest digest{};
  unsigned int size = 0;
  EXPECT_EQ(EVP_Digest(message.data(), message.size(), digest.data(), &size, EVP_md5(), nullptr),
            1);
  return digest;
}

const std::pair<const char*, QuorMD5Engine> kEngines[] = {{"single", QuorMD5Engine::single},
                                                          {"avx2", QuorMD5Engine::avx2},
                                                          {"avx512", QuorMD5Engine::avx512}};

// Every engine this processor runs, over batches of 1 to twice its lanes plus one, so that lanes
// sit idle, finish at different blocks and take new messages, and one batch of 300, more than
// the engine orders longest first at a time. Lengths are mostly short and
// around the padding's edges (55, 56, 64 bytes with the salt), some up to 256 KiB; the data
// starts at odd addresses. One message of each batch is empty and has no data at all.
TEST(QuorMD5LanesTest, DigestsEqualOpenSslForEveryEngineAndLaneCount) {
  std::mt19937_64 random(19);
  std::vector<BYTE> pool(300 * 1024);
  for (BYTE& b : pool) b = static_cast<BYTE>(random());
  for (const auto& [name, engine] : kEngines) {
    SCOPED_TRACE(name);
    if (!CQuorMD5Lanes::IsSupported(engine)) {
      std::printf("engine %s not run: the processor lacks it\n", name);
      continue;
    }
    CQuorMD5Lanes lanes(engine);
    ASSERT_EQ(lanes.GetEngine(), engine);
    std::vector<std::size_t> counts(2 * lanes.GetLaneCount() + 1);
    std::iota(counts.begin(), counts.end(), 1);
    counts.push_back(300);
    for (const std::size_t count : counts) {
      SCOPED_TRACE(count);
      std::vector<QuorMD5Job> jobs(count);
      std::vector<Digest> digests(count);
      for (std::size_t i = 0; i < count; ++i) {
        const std::size_t length = random() % 4 == 0 ? random() % (256 * 1024 + 1) : random() % 130;
        jobs[i] = {pool.data() + random() % (pool.size() - length), length, digests[i].data()};
      }
      jobs[count / 2] = {nullptr, 0, digests[count / 2].data()};  // the salt alone
      ASSERT_EQ(lanes.Hash(jobs), S_OK);
      for (std::size_t i = 0; i < count; ++i) {
        SCOPED_TRACE(jobs[i].length);
        EXPECT_EQ(digests[i], Reference(jobs[i].data, jobs[i].length));
      }
    }
  }
}

TEST(QuorMD5LanesTest, MissingBuffersAreRefusedBeforeAnythingIsHashed) {
  CQuorMD5Lanes lanes;
  Digest first{};
  const BYTE data[4] = {1, 2, 3, 4};
  using Jobs = std::vector<QuorMD5Job>;
  EXPECT_EQ(lanes.Hash(Jobs{{data, 4, first.data()}, {data, 4, nullptr}}), E_POINTER);
  EXPECT_EQ(lanes.Hash(Jobs{{data, 4, first.data()}, {nullptr, 1, first.data()}}), E_POINTER);
  EXPECT_EQ(first, Digest{});
  EXPECT_EQ(lanes.Hash({}), S_OK);
}

}  // namespace
