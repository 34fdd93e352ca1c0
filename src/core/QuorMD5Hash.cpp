// Salted MD5 over OpenSSL's MD5 state functions. The salted starting state is built once per
// process; every digest starts as a plain copy of it into the object's own state, so a digest
// costs no allocation, no algorithm lookup and no salt feeding. (The EVP interface of OpenSSL 3.0
// frees and allocates its state memory at every restart, copy or init alike, which costs as much
// as hashing a small block; its MD5 is these same functions underneath.)
#include "core/QuorMD5Hash.h"

// The state functions are marked deprecated from OpenSSL 3.0 on; they stay in every 3.x release.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/crypto.h>
#include <openssl/md5.h>

#include <cstring>
#include <new>

#include "core/QuorClassLoggers.h"
#include "core/QuorLittleEndian.h"
#include "platform/Dxl2.h"
#include "quormediafiles/QuorResultCodes.h"
#include "quormediafiles/platform/QuorOleAuto.h"

static_assert(MD5_DIGEST_LENGTH == kQuorMD5DigestSize);

namespace {

// The MD5 state with the salt already fed. Built on first use (thread-safe static
// initialization) and kept for the life of the process; only ever read after that.
class SaltedStart {
 public:
  SaltedStart() noexcept {
    BYTE salt[kGuidSize];
    EncodeGuid(salt, kQuorHashSalt);
    m_ready = MD5_Init(&m_state) == 1 && MD5_Update(&m_state, salt, sizeof salt) == 1;
  }

  // Starts state as a copy of the salted start.
  bool StartDigest(MD5_CTX* state) const noexcept {
    if (!m_ready) return false;
    *state = m_state;
    return true;
  }

 private:
  MD5_CTX m_state{};
  bool m_ready = false;
};

const SaltedStart& Salted() noexcept {
  static const SaltedStart instance;
  return instance;
}

// The crypto library keeps no last-error code of the platform's kind; its failures are
// reported as this.
constexpr HRESULT kCryptoFailure = E_FAIL;

}  // namespace

CQuorMD5Hash::CQuorMD5Hash() noexcept {
  DXL_FunctionLogger log(QuorMD5HashLogger(), "CQuorMD5Hash::CQuorMD5Hash", this, 0, nullptr,
                         kQuorDefaultLogLevel, m_loggerContext);
  m_context = new (std::nothrow) MD5state_st;
  if (!m_context) {
    m_setupResult = E_OUTOFMEMORY;
  } else if (!Salted().StartDigest(m_context)) {
    m_setupResult = kCryptoFailure;
  }
  if (FAILED(m_setupResult)) log.LogErrorMessage(m_setupResult);
}

CQuorMD5Hash::~CQuorMD5Hash() {
  if (m_context) OPENSSL_cleanse(m_context, sizeof *m_context);
  delete m_context;
}

HRESULT CQuorMD5Hash::ReInitialize() noexcept {
  DXL_FunctionLogger log(QuorMD5HashLogger(), "CQuorMD5Hash::ReInitialize", this, 0, nullptr,
                         kQuorDefaultLogLevel, m_loggerContext);
  if (!m_context) {
    log.LogErrorMessage(E_OUTOFMEMORY);
    return E_OUTOFMEMORY;
  }
  m_finished = false;
  m_setupResult = Salted().StartDigest(m_context) ? S_OK : kCryptoFailure;
  if (FAILED(m_setupResult)) log.LogErrorMessage(m_setupResult);
  return m_setupResult;
}

HRESULT CQuorMD5Hash::Feed(const void* data, std::size_t length) noexcept {
  if (FAILED(m_setupResult)) return m_setupResult;
  if (m_finished) return MFS_E_WRONG_STATE;  // the digest is final until ReInitialize
  return MD5_Update(m_context, data, length) == 1 ? S_OK : kCryptoFailure;
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
  m_finished = true;
  return MD5_Final(digest, m_context) == 1 ? S_OK : kCryptoFailure;
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
  DXL_FunctionLogger log(QuorMD5HashLogger(), "CQuorMD5Hash::GetHash", this, 0, nullptr,
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
