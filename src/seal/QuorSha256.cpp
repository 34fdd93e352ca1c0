#include "seal/QuorSha256.h"

#include <openssl/evp.h>

#include "quormediafiles/QuorResultCodes.h"

namespace {
// Fetched once: an implicit fetch per initialization costs more than hashing a small block.
// Freed when the library is unloaded or the process ends, so a library that is loaded, used
// and unloaded again leaves nothing behind.
const EVP_MD* Sha256() noexcept {
  struct Fetched {
    EVP_MD* md = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    ~Fetched() { EVP_MD_free(md); }
  };
  static const Fetched fetched;
  return fetched.md;
}
}  // namespace

CQuorSha256::CQuorSha256() noexcept : m_context(EVP_MD_CTX_new()), m_copy(EVP_MD_CTX_new()) {
  (void)Reset();  // a failure here is met again by the first Add
}

CQuorSha256::~CQuorSha256() {
  EVP_MD_CTX_free(m_context);
  EVP_MD_CTX_free(m_copy);
}

HRESULT CQuorSha256::Reset() noexcept {
  if (m_context == nullptr || m_copy == nullptr || Sha256() == nullptr) return E_OUTOFMEMORY;
  return EVP_DigestInit_ex(m_context, Sha256(), nullptr) == 1 ? S_OK : E_FAIL;
}

HRESULT CQuorSha256::Add(const BYTE* bytes, std::size_t count) noexcept {
  if (m_context == nullptr) return E_OUTOFMEMORY;
  return EVP_DigestUpdate(m_context, bytes, count) == 1 ? S_OK : E_FAIL;
}

HRESULT CQuorSha256::Peek(QuorSealDigest* digest) noexcept {
  if (digest == nullptr) return E_POINTER;
  if (m_context == nullptr || m_copy == nullptr) return E_OUTOFMEMORY;
  unsigned int length = 0;
  if (EVP_MD_CTX_copy_ex(m_copy, m_context) != 1 ||
      EVP_DigestFinal_ex(m_copy, digest->data(), &length) != 1 || length != digest->size()) {
    return E_FAIL;
  }
  return S_OK;
}
