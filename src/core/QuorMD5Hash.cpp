// Salted MD5 over OpenSSL's EVP interface. MD5 is fetched once per process and one template
// context holds the salt already fed; every digest starts as a copy of that template into the
// object's own context, so a digest costs no algorithm lookup and no salt feeding.
#include "core/QuorMD5Hash.h"

#include <openssl/evp.h>

#include <cstring>
#include <new>

#include "core/QuorClassLoggers.h"
#include "core/QuorLittleEndian.h"
#include "platform/log/QuorLog.h"
#include "quormediafiles/QuorResultCodes.h"
#include "quormediafiles/platform/QuorOleAuto.h"

namespace {

// The process-wide MD5 algorithm and the salted starting context. Built on first use (thread-
// safe static initialization) and kept for the life of the process; only ever read after that.
class SaltedTemplate {
 public:
  SaltedTemplate() noexcept {
    m_md = EVP_MD_fetch(nullptr, "MD5", nullptr);
    m_context = EVP_MD_CTX_new();
    BYTE salt[kGuidSize];
    EncodeGuid(salt, kQuorHashSalt);
    if (m_md && m_context && EVP_DigestInit_ex(m_context, m_md, nullptr) == 1 &&
        EVP_DigestUpdate(m_context, salt, sizeof salt) == 1 &&
        static_cast<DWORD>(EVP_MD_get_size(m_md)) == kQuorMD5DigestSize) {
      m_ready = true;
    }
  }
  ~SaltedTemplate() {
    EVP_MD_CTX_free(m_context);
    EVP_MD_free(m_md);
  }
  SaltedTemplate(const SaltedTemplate&) = delete;
  SaltedTemplate& operator=(const SaltedTemplate&) = delete;

  // Starts context as a copy of the salted template.
  bool StartDigest(EVP_MD_CTX* context) const noexcept {
    return m_ready && EVP_MD_CTX_copy_ex(context, m_context) == 1;
  }

 private:
  EVP_MD* m_md = nullptr;
  EVP_MD_CTX* m_context = nullptr;
  bool m_ready = false;
};

const SaltedTemplate& Template() noexcept {
  static const SaltedTemplate instance;
  return instance;
}

// The crypto library keeps no last-error code of the platform's kind; its failures are
// reported as this.
constexpr HRESULT kCryptoFailure = E_FAIL;

}  // namespace

CQuorMD5Hash::CQuorMD5Hash() noexcept {
  DXL_FunctionLogger log(QuorMD5HashLogger(), "CQuorMD5Hash::CQuorMD5Hash", this, 0, nullptr,
                         kQuorDefaultLogLevel, m_loggerContext);
  m_context = EVP_MD_CTX_new();
  if (!m_context) {
    m_setupResult = E_OUTOFMEMORY;
  } else if (!Template().StartDigest(m_context)) {
    m_setupResult = kCryptoFailure;
  }
  if (FAILED(m_setupResult)) log.LogErrorMessage(m_setupResult);
}

CQuorMD5Hash::~CQuorMD5Hash() { EVP_MD_CTX_free(m_context); }

HRESULT CQuorMD5Hash::ReInitialize() noexcept {
  DXL_FunctionLogger log(QuorMD5HashLogger(), "CQuorMD5Hash::ReInitialize", this, 0, nullptr,
                         kQuorDefaultLogLevel, m_loggerContext);
  if (!m_context) {
    log.LogErrorMessage(E_OUTOFMEMORY);
    return E_OUTOFMEMORY;
  }
  m_finished = false;
  m_setupResult = Template().StartDigest(m_context) ? S_OK : kCryptoFailure;
  if (FAILED(m_setupResult)) log.LogErrorMessage(m_setupResult);
  return m_setupResult;
}

HRESULT CQuorMD5Hash::Feed(const void* data, std::size_t length) noexcept {
  if (FAILED(m_setupResult)) return m_setupResult;
  if (m_finished) return MFS_E_WRONG_STATE;  // the digest is final until ReInitialize
  return EVP_DigestUpdate(m_context, data, length) == 1 ? S_OK : kCryptoFailure;
}

HRESULT CQuorMD5Hash::AddString(BSTR value) noexcept {
  DXL_FunctionLogger log(QuorMD5HashLogger(), "CQuorMD5Hash::AddString", this, 0, nullptr,
                         kQuorDefaultLogLevel, m_loggerContext);
  HRESULT hr = E_POINTER;
  if (value) {
    // UTF-16LE code units as bytes, independent of the host's byte order.
    const UINT length = SysStringLen(value);
    hr = S_OK;
    BYTE chunk[256];
    for (UINT i = 0; i < length && SUCCEEDED(hr);) {
      std::size_t n = 0;
      for (; n + 2 <= sizeof chunk && i < length; ++i, n += 2) EncodeU16(chunk + n, value[i]);
      hr = Feed(chunk, n);
    }
    if (length == 0) hr = Feed(chunk, 0);
  }
  if (FAILED(hr)) log.LogErrorMessage(hr);
  return hr;
}

HRESULT CQuorMD5Hash::AddData(const BYTE* data, DWORD length) noexcept {
  DXL_FunctionLogger log(QuorMD5HashLogger(), "CQuorMD5Hash::AddData", this, 0, nullptr,
                         kQuorDefaultLogLevel, m_loggerContext);
  const HRESULT hr = data ? Feed(data, length) : E_POINTER;
  if (FAILED(hr)) log.LogErrorMessage(hr);
  return hr;
}

HRESULT CQuorMD5Hash::Finish(BYTE (&digest)[kQuorMD5DigestSize]) noexcept {
  if (FAILED(m_setupResult)) return m_setupResult;
  if (m_finished) return MFS_E_WRONG_STATE;
  unsigned int size = 0;
  m_finished = true;
  if (EVP_DigestFinal_ex(m_context, digest, &size) != 1 || size != kQuorMD5DigestSize)
    return kCryptoFailure;
  return S_OK;
}

HRESULT CQuorMD5Hash::GetHash(BYTE** buffer, DWORD* length) noexcept {
  DXL_FunctionLogger log(QuorMD5HashLogger(), "CQuorMD5Hash::GetHash", this, 0, nullptr,
                         kQuorDefaultLogLevel, m_loggerContext);
  HRESULT hr = E_POINTER;
  if (buffer && length) {
    BYTE* result = new (std::nothrow) BYTE[kQuorMD5DigestSize];
    BYTE digest[kQuorMD5DigestSize];
    hr = result ? Finish(digest) : E_OUTOFMEMORY;
    if (SUCCEEDED(hr)) {
      std::memcpy(result, digest, sizeof digest);
      *buffer = result;
      *length = kQuorMD5DigestSize;
    } else {
      delete[] result;
    }
  }
  if (FAILED(hr)) log.LogErrorMessage(hr);
  return hr;
}

HRESULT CQuorMD5Hash::GetDigest(BYTE (&digest)[kQuorMD5DigestSize]) noexcept {
  DXL_FunctionLogger log(QuorMD5HashLogger(), "CQuorMD5Hash::GetDigest", this, 0, nullptr,
                         kQuorDefaultLogLevel, m_loggerContext);
  const HRESULT hr = Finish(digest);
  if (FAILED(hr)) log.LogErrorMessage(hr);
  return hr;
}

bool CQuorMD5Hash::IsSame(const BYTE* expected) noexcept {
  DXL_FunctionLogger log(QuorMD5HashLogger(), "CQuorMD5Hash::IsSame", this, 0, nullptr,
                         kQuorDefaultLogLevel, m_loggerContext);
  if (!expected) {
    log.LogErrorMessage(E_POINTER);
    return false;
  }
  BYTE digest[kQuorMD5DigestSize];
  const HRESULT hr = Finish(digest);
  if (FAILED(hr)) {
    log.LogErrorMessage(hr);
    return false;
  }
  return std::memcmp(digest, expected, kQuorMD5DigestSize) == 0;
}
