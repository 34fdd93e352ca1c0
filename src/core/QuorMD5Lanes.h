// CQuorMD5Lanes: the salted MD5 of CQuorMD5Hash (the digest of the 16 salt bytes followed by the
// data) for many independent messages at once. Where the processor has AVX2 or AVX-512 the
// messages are hashed side by side, one per 32-bit lane of a vector register (8 or 16 lanes); a
// lane whose message ends takes the next one waiting, and idle lanes hash a dummy block whose
// result is dropped. Elsewhere, for a single message, or when asked, every message goes through
// CQuorMD5Hash in turn. The digests are the same bytes whatever the engine.
//
// The engine is chosen once per object from the processor's features; the environment variable
// QUORMF_MD5_ENGINE set to "single" or "avx2" caps it (to compare engines on one machine).
// Owns a CQuorMD5Hash for the single-stream path; borrows the jobs, their bytes and their digest
// buffers for one Hash call. No lock: one thread at a time per object.
#pragma once

#include <cstddef>
#include <span>

#include "core/QuorMD5Hash.h"

// One message: length bytes at data (null only when length is 0); its 16-byte digest goes to
// digest.
struct QuorMD5Job {
  const BYTE* data = nullptr;
  std::size_t length = 0;
  BYTE* digest = nullptr;
};

enum class QuorMD5Engine { single, avx2, avx512 };

class CQuorMD5Lanes {
 public:
  // The widest engine the processor runs, capped by QUORMF_MD5_ENGINE.
  CQuorMD5Lanes() noexcept;
  // The engine given, or the single-stream one when the processor lacks it (tests, benchmarks).
  explicit CQuorMD5Lanes(QuorMD5Engine engine) noexcept;
  CQuorMD5Lanes(const CQuorMD5Lanes&) = delete;
  CQuorMD5Lanes& operator=(const CQuorMD5Lanes&) = delete;

  static bool IsSupported(QuorMD5Engine engine) noexcept;
  QuorMD5Engine GetEngine() const noexcept { return m_engine; }
  // Messages hashed side by side: 1, 8 or 16.
  std::size_t GetLaneCount() const noexcept;

  // Writes the digest of every job. E_POINTER for a job without a digest buffer or with a null
  // data pointer and a length (before anything is hashed); the single-stream hash's failure.
  [[nodiscard]] HRESULT Hash(std::span<const QuorMD5Job> jobs) noexcept;

 private:
  QuorMD5Engine m_engine;
  CQuorMD5Hash m_single;
};
