// CQuorSha256: a running SHA-256 through OpenSSL's EVP interface. Add feeds bytes; Peek gives
// the digest of everything fed so far and goes on hashing. Owns its two digest contexts; no
// lock, one thread at a time.
#pragma once

#include <cstddef>

#include "quormediafiles/platform/QuorTypes.h"
#include "seal/QuorSealLayout.h"

struct evp_md_ctx_st;

class CQuorSha256 {
 public:
  CQuorSha256() noexcept;
  ~CQuorSha256();
  CQuorSha256(const CQuorSha256&) = delete;
  CQuorSha256& operator=(const CQuorSha256&) = delete;

  // Starts again from no bytes; E_OUTOFMEMORY or E_FAIL when OpenSSL refuses.
  [[nodiscard]] HRESULT Reset() noexcept;
  [[nodiscard]] HRESULT Add(const BYTE* bytes, std::size_t count) noexcept;
  [[nodiscard]] HRESULT Peek(QuorSealDigest* digest) noexcept;

 private:
  evp_md_ctx_st* m_context = nullptr;
  evp_md_ctx_st* m_copy = nullptr;
};
