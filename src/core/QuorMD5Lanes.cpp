// Multi-message MD5 in vector lanes. Every lane runs RFC 1321's compression on its own message:
// the 16 words of each lane's next 64-byte block are turned so that one register holds word j
// of every lane, and each of the 64 steps is then a handful of vector instructions for all lanes
// at once. The vector code is compiled for its instruction set function by function (target
// attributes) and only called after the processor has been asked whether it runs it.
#include "core/QuorMD5Lanes.h"

#include <immintrin.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "core/QuorLittleEndian.h"

// Loops in the vector code are unrolled whole (#pragma GCC unroll, which Clang reads too), so
// that every register index and message word is a constant.
#define QUOR_TARGET_AVX2 __attribute__((target("avx2")))
#define QUOR_TARGET_AVX512 __attribute__((target("avx2,avx512f")))

namespace {

constexpr std::uint64_t kBlockSize = 64;
constexpr std::uint64_t kSaltSize = kGuidSize;
constexpr std::uint64_t kBitCountSize = 8;  // the message's length in bits ends its last block
constexpr std::size_t kMaxLanes = 16;

constexpr std::uint32_t kInitialState[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};

// The additive constant of each step: floor(|sin(i + 1)| * 2^32).
constexpr std::uint32_t kStepConstant[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

// The message word that step i adds.
constexpr int MessageWord(int i) noexcept {
  return i < 16 ? i : i < 32 ? (1 + 5 * i) % 16 : i < 48 ? (5 + 3 * i) % 16 : (7 * i) % 16;
}

// ---- AVX2: 8 lanes

// Words [offset / 4, offset / 4 + 8) of eight blocks, turned: out[j] holds that word j of block
// i in lane i (an 8 x 8 transposition of 32-bit words).
QUOR_TARGET_AVX2 inline void Transpose8(const BYTE* const* blocks, std::size_t offset,
                                        __m256i* out) noexcept {
  __m256i row[8];
#pragma GCC unroll 16
  for (int i = 0; i < 8; ++i) {
    row[i] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(blocks[i] + offset));
  }
  // Pairs of rows interleaved by word, then by pairs of words; each 128-bit half then holds
  // four lanes of one word, and the halves are put together last.
  __m256i pair[8];
#pragma GCC unroll 16
  for (int i = 0; i < 8; i += 2) {
    pair[i] = _mm256_unpacklo_epi32(row[i], row[i + 1]);
    pair[i + 1] = _mm256_unpackhi_epi32(row[i], row[i + 1]);
  }
  __m256i quad[8];
#pragma GCC unroll 16
  for (int i = 0; i < 8; i += 4) {
    quad[i] = _mm256_unpacklo_epi64(pair[i], pair[i + 2]);
    quad[i + 1] = _mm256_unpackhi_epi64(pair[i], pair[i + 2]);
    quad[i + 2] = _mm256_unpacklo_epi64(pair[i + 1], pair[i + 3]);
    quad[i + 3] = _mm256_unpackhi_epi64(pair[i + 1], pair[i + 3]);
  }
#pragma GCC unroll 16
  for (int j = 0; j < 4; ++j) {
    out[j] = _mm256_permute2x128_si256(quad[j], quad[j + 4], 0x20);
    out[j + 4] = _mm256_permute2x128_si256(quad[j], quad[j + 4], 0x31);
  }
}

// One step for every lane: a := b + ((a + f + K[i] + w) <<< R).
template <int R>
QUOR_TARGET_AVX2 inline __m256i Step8(__m256i a, __m256i b, __m256i f, int i, __m256i w) noexcept {
  const __m256i k = _mm256_set1_epi32(static_cast<int>(kStepConstant[i]));
  // a + K + w does not wait for f, which depends on the step before.
  const __m256i sum = _mm256_add_epi32(_mm256_add_epi32(a, _mm256_add_epi32(k, w)), f);
  return _mm256_add_epi32(
      b, _mm256_or_si256(_mm256_slli_epi32(sum, R), _mm256_srli_epi32(sum, 32 - R)));
}

// The round function of round Round (0 to 3: F, G, H, I), with as few operations as each allows.
template <int Round>
QUOR_TARGET_AVX2 inline __m256i Mix8(__m256i b, __m256i c, __m256i d) noexcept {
  if constexpr (Round == 0) return _mm256_xor_si256(d, _mm256_and_si256(b, _mm256_xor_si256(c, d)));
  if constexpr (Round == 1) return _mm256_xor_si256(c, _mm256_and_si256(d, _mm256_xor_si256(b, c)));
  if constexpr (Round == 2) return _mm256_xor_si256(b, _mm256_xor_si256(c, d));
  return _mm256_xor_si256(c, _mm256_or_si256(b, _mm256_xor_si256(d, _mm256_set1_epi32(-1))));
}

// The 16 steps of a round, rotating by R0 to R3 in turn.
template <int Round, int R0, int R1, int R2, int R3>
QUOR_TARGET_AVX2 inline void Round8(__m256i& a, __m256i& b, __m256i& c, __m256i& d,
                                    const __m256i* w) noexcept {
#pragma GCC unroll 16
  for (int i = 16 * Round; i < 16 * Round + 16; i += 4) {
    a = Step8<R0>(a, b, Mix8<Round>(b, c, d), i, w[MessageWord(i)]);
    d = Step8<R1>(d, a, Mix8<Round>(a, b, c), i + 1, w[MessageWord(i + 1)]);
    c = Step8<R2>(c, d, Mix8<Round>(d, a, b), i + 2, w[MessageWord(i + 2)]);
    b = Step8<R3>(b, c, Mix8<Round>(c, d, a), i + 3, w[MessageWord(i + 3)]);
  }
}

// state: 4 rows of 8 lanes (word r of lane i at r * 8 + i), 32-byte aligned.
QUOR_TARGET_AVX2 void CompressAvx2(std::uint32_t* state, const BYTE* const* blocks) noexcept {
  __m256i w[16];
  Transpose8(blocks, 0, w);
  Transpose8(blocks, 32, w + 8);
  __m256i* rows = reinterpret_cast<__m256i*>(state);
  __m256i a = _mm256_load_si256(rows);
  __m256i b = _mm256_load_si256(rows + 1);
  __m256i c = _mm256_load_si256(rows + 2);
  __m256i d = _mm256_load_si256(rows + 3);
  Round8<0, 7, 12, 17, 22>(a, b, c, d, w);
  Round8<1, 5, 9, 14, 20>(a, b, c, d, w);
  Round8<2, 4, 11, 16, 23>(a, b, c, d, w);
  Round8<3, 6, 10, 15, 21>(a, b, c, d, w);
  _mm256_store_si256(rows, _mm256_add_epi32(_mm256_load_si256(rows), a));
  _mm256_store_si256(rows + 1, _mm256_add_epi32(_mm256_load_si256(rows + 1), b));
  _mm256_store_si256(rows + 2, _mm256_add_epi32(_mm256_load_si256(rows + 2), c));
  _mm256_store_si256(rows + 3, _mm256_add_epi32(_mm256_load_si256(rows + 3), d));
}

// ---- AVX-512: 16 lanes, with one-instruction rotates and round functions (vprold, vpternlogd)

// The unmasked forms of vprold and vinserti64x4 start from an undefined register, which GCC 12
// reports as uninitialized; the zero-masked forms with every lane selected are the same
// instructions without that.
constexpr __mmask16 kAllLanes = 0xFFFF;
constexpr __mmask8 kAllQuadWords = 0xFF;

// Truth tables of the round functions for vpternlogd over (b, c, d).
constexpr int kTernaryF = 0xCA;  // (b & c) | (~b & d)
constexpr int kTernaryG = 0xE4;  // (b & d) | (c & ~d)
constexpr int kTernaryH = 0x96;  // b ^ c ^ d
constexpr int kTernaryI = 0x39;  // c ^ (b | ~d)

template <int R, int Function>
QUOR_TARGET_AVX512 inline __m512i Step16(__m512i a, __m512i b, __m512i c, __m512i d, int i,
                                         __m512i w) noexcept {
  const __m512i k = _mm512_set1_epi32(static_cast<int>(kStepConstant[i]));
  const __m512i f = _mm512_ternarylogic_epi32(b, c, d, Function);
  const __m512i sum = _mm512_add_epi32(_mm512_add_epi32(a, _mm512_add_epi32(k, w)), f);
  return _mm512_add_epi32(b, _mm512_maskz_rol_epi32(kAllLanes, sum, R));
}

template <int Function, int R0, int R1, int R2, int R3>
QUOR_TARGET_AVX512 inline void Round16(__m512i& a, __m512i& b, __m512i& c, __m512i& d, int first,
                                       const __m512i* w) noexcept {
#pragma GCC unroll 16
  for (int i = first; i < first + 16; i += 4) {
    a = Step16<R0, Function>(a, b, c, d, i, w[MessageWord(i)]);
    d = Step16<R1, Function>(d, a, b, c, i + 1, w[MessageWord(i + 1)]);
    c = Step16<R2, Function>(c, d, a, b, i + 2, w[MessageWord(i + 2)]);
    b = Step16<R3, Function>(b, c, d, a, i + 3, w[MessageWord(i + 3)]);
  }
}

// state: 4 rows of 16 lanes, 64-byte aligned.
QUOR_TARGET_AVX512 void CompressAvx512(std::uint32_t* state, const BYTE* const* blocks) noexcept {
  // Lanes 0-7 and 8-15 are turned as two AVX2 halves and joined.
  __m256i low[16];
  __m256i high[16];
  Transpose8(blocks, 0, low);
  Transpose8(blocks, 32, low + 8);
  Transpose8(blocks + 8, 0, high);
  Transpose8(blocks + 8, 32, high + 8);
  __m512i w[16];
#pragma GCC unroll 16
  for (int j = 0; j < 16; ++j) {
    w[j] = _mm512_maskz_inserti64x4(kAllQuadWords, _mm512_castsi256_si512(low[j]), high[j], 1);
  }
  __m512i* rows = reinterpret_cast<__m512i*>(state);
  __m512i a = _mm512_load_si512(rows);
  __m512i b = _mm512_load_si512(rows + 1);
  __m512i c = _mm512_load_si512(rows + 2);
  __m512i d = _mm512_load_si512(rows + 3);
  Round16<kTernaryF, 7, 12, 17, 22>(a, b, c, d, 0, w);
  Round16<kTernaryG, 5, 9, 14, 20>(a, b, c, d, 16, w);
  Round16<kTernaryH, 4, 11, 16, 23>(a, b, c, d, 32, w);
  Round16<kTernaryI, 6, 10, 15, 21>(a, b, c, d, 48, w);
  _mm512_store_si512(rows, _mm512_add_epi32(_mm512_load_si512(rows), a));
  _mm512_store_si512(rows + 1, _mm512_add_epi32(_mm512_load_si512(rows + 1), b));
  _mm512_store_si512(rows + 2, _mm512_add_epi32(_mm512_load_si512(rows + 2), c));
  _mm512_store_si512(rows + 3, _mm512_add_epi32(_mm512_load_si512(rows + 3), d));
}

// ---- Lane scheduling, common to both

using CompressFunction = void (*)(std::uint32_t* state, const BYTE* const* blocks) noexcept;

// The padded message of a job: salt, data, 0x80, zeros, and the bit count of salt and data as a
// u64 in the last 8 bytes of the last block.
std::uint64_t BlockCount(std::size_t length) noexcept {
  return (kSaltSize + length + kBitCountSize) / kBlockSize + 1;
}

struct Lane {
  const QuorMD5Job* job = nullptr;  // null: idle
  std::uint64_t block = 0;          // the next block of the padded message
  std::uint64_t blocks = 0;
  BYTE scratch[kBlockSize];  // a block that does not lie whole in the data
};

// Block k of the lane's padded message: in place where it lies whole in the data, otherwise put
// together in the lane's scratch block (the first, with the salt, and the last one or two).
const BYTE* NextBlock(Lane& lane, const BYTE* salt) noexcept {
  const QuorMD5Job& job = *lane.job;
  const std::uint64_t begin = lane.block * kBlockSize;  // in salt + data
  const std::uint64_t total = kSaltSize + job.length;
  if (lane.block != 0 && begin + kBlockSize <= total) return job.data + (begin - kSaltSize);
  BYTE* out = lane.scratch;
  std::memset(out, 0, kBlockSize);
  if (lane.block == 0) std::memcpy(out, salt, kSaltSize);
  const std::uint64_t from = std::max(begin, kSaltSize);
  const std::uint64_t to = std::min(begin + kBlockSize, total);
  if (from < to) std::memcpy(out + (from - begin), job.data + (from - kSaltSize), to - from);
  if (total >= begin && total < begin + kBlockSize) out[total - begin] = 0x80;
  if (lane.block + 1 == lane.blocks) EncodeU64(out + kBlockSize - kBitCountSize, total * 8);
  return out;
}

void HashInLanes(std::span<const QuorMD5Job> jobs, std::size_t lanes,
                 CompressFunction compress) noexcept {
  static const BYTE kIdleBlock[kBlockSize] = {};
  BYTE salt[kSaltSize];
  EncodeGuid(salt, kQuorHashSalt);
  alignas(64) std::uint32_t state[4 * kMaxLanes] = {};  // word r of lane i at r * lanes + i
  Lane lane[kMaxLanes];
  const BYTE* blocks[kMaxLanes];
  // The jobs are taken a window at a time, longest first: the lanes then run out of work
  // together, rather than a long message taken last hashing on while the other lanes idle.
  constexpr std::size_t kWindow = 256;
  const QuorMD5Job* order[kWindow];
  std::size_t windowEnd = 0;  // of jobs, taken into order
  std::size_t next = 0;       // in order
  std::size_t count = 0;      // in order
  std::size_t busy = 0;
  for (;;) {
    for (std::size_t i = 0; i < lanes; ++i) {
      if (lane[i].job) continue;
      if (next == count) {
        if (windowEnd == jobs.size()) break;
        count = std::min(kWindow, jobs.size() - windowEnd);
        for (std::size_t k = 0; k < count; ++k) order[k] = &jobs[windowEnd + k];
        windowEnd += count;
        next = 0;
        std::sort(order, order + count,
                  [](const QuorMD5Job* a, const QuorMD5Job* b) { return a->length > b->length; });
      }
      lane[i].job = order[next++];
      lane[i].block = 0;
      lane[i].blocks = BlockCount(lane[i].job->length);
      for (std::size_t r = 0; r < 4; ++r) state[r * lanes + i] = kInitialState[r];
      ++busy;
    }
    if (busy == 0) return;
    for (std::size_t i = 0; i < lanes; ++i) {
      blocks[i] = lane[i].job ? NextBlock(lane[i], salt) : kIdleBlock;
    }
    compress(state, blocks);
    for (std::size_t i = 0; i < lanes; ++i) {
      if (!lane[i].job || ++lane[i].block != lane[i].blocks) continue;
      for (std::size_t r = 0; r < 4; ++r)
        EncodeU32(lane[i].job->digest + 4 * r, state[r * lanes + i]);
      lane[i].job = nullptr;
      --busy;
    }
  }
}

QuorMD5Engine WidestEngine() noexcept {
  if (CQuorMD5Lanes::IsSupported(QuorMD5Engine::avx512)) return QuorMD5Engine::avx512;
  if (CQuorMD5Lanes::IsSupported(QuorMD5Engine::avx2)) return QuorMD5Engine::avx2;
  return QuorMD5Engine::single;
}

// The widest engine, capped once per process by QUORMF_MD5_ENGINE.
QuorMD5Engine DefaultEngine() noexcept {
  static const QuorMD5Engine engine = [] {
    const QuorMD5Engine widest = WidestEngine();
    const char* cap = std::getenv("QUORMF_MD5_ENGINE");
    if (cap == nullptr) return widest;
    const std::string_view name(cap);
    if (name == "single") return QuorMD5Engine::single;
    if (name == "avx2") return std::min(widest, QuorMD5Engine::avx2);
    return widest;
  }();
  return engine;
}

}  // namespace

CQuorMD5Lanes::CQuorMD5Lanes() noexcept : m_engine(DefaultEngine()) {}

CQuorMD5Lanes::CQuorMD5Lanes(QuorMD5Engine engine) noexcept
    : m_engine(IsSupported(engine) ? engine : QuorMD5Engine::single) {}

// The runtime reads the processor's features before any constructor runs, so the answers need
// no initialization call here (which, made from several threads, would write shared state).
bool CQuorMD5Lanes::IsSupported(QuorMD5Engine engine) noexcept {
  switch (engine) {
    case QuorMD5Engine::avx2:
      return __builtin_cpu_supports("avx2");
    case QuorMD5Engine::avx512:
      return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("avx512f");
    case QuorMD5Engine::single:
      break;
  }
  return true;
}

std::size_t CQuorMD5Lanes::GetLaneCount() const noexcept {
  switch (m_engine) {
    case QuorMD5Engine::avx2:
      return 8;
    case QuorMD5Engine::avx512:
      return 16;
    case QuorMD5Engine::single:
      break;
  }
  return 1;
}

HRESULT CQuorMD5Lanes::Hash(std::span<const QuorMD5Job> jobs) noexcept {
  for (const QuorMD5Job& job : jobs) {
    if (!job.digest || (!job.data && job.length != 0)) return E_POINTER;
  }
  switch (jobs.size() < 2 ? QuorMD5Engine::single : m_engine) {
    case QuorMD5Engine::avx2:
      HashInLanes(jobs, 8, CompressAvx2);
      return S_OK;
    case QuorMD5Engine::avx512:
      HashInLanes(jobs, 16, CompressAvx512);
      return S_OK;
    case QuorMD5Engine::single:
      break;
  }
  // One stream at a time: a lone message gains nothing from lanes.
  for (const QuorMD5Job& job : jobs) {
    static const BYTE kNothing = 0;
    HRESULT hr = m_single.ReInitialize();
    const BYTE* data = job.data ? job.data : &kNothing;
    std::size_t left = job.length;
    do {
      const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(left, 0x80000000u));
      if (SUCCEEDED(hr)) hr = m_single.AddData(data, piece);
      data += piece;
      left -= piece;
    } while (left != 0);
    BYTE digest[kQuorMD5DigestSize];
    if (SUCCEEDED(hr)) hr = m_single.GetDigest(digest);
    if (FAILED(hr)) return hr;
    std::memcpy(job.digest, digest, sizeof digest);
  }
  return S_OK;
}
