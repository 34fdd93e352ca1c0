#include "seal/QuorSealKey.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <system_error>

#include "quormediafiles/QuorResultCodes.h"
#include "seal/QuorSha256.h"

namespace {

struct BioDeleter {
  void operator()(BIO* bio) const noexcept { BIO_free(bio); }
};
using BioPtr = std::unique_ptr<BIO, BioDeleter>;
struct CtxDeleter {
  void operator()(EVP_MD_CTX* ctx) const noexcept { EVP_MD_CTX_free(ctx); }
};

HRESULT ReadWholeFile(const std::string& path, std::string* text) {
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (error || !std::filesystem::exists(status)) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  if (!std::filesystem::is_regular_file(status)) return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
  std::ifstream in(path, std::ios::binary);
  if (!in) return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
  text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return in.bad() ? HRESULT_FROM_WIN32(ERROR_READ_FAULT) : S_OK;
}

// Creates path for writing with mode 0600 before any byte goes in; refuses an existing file.
HRESULT WriteNewFile(const std::string& path, const std::string& text, bool ownerOnly) {
  std::error_code error;
  if (std::filesystem::exists(path, error)) return HRESULT_FROM_WIN32(ERROR_FILE_EXISTS);
  {
    std::ofstream create(path, std::ios::binary);
    if (!create) return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
  }
  using std::filesystem::perms;
  const perms mode =
      ownerOnly ? perms::owner_read | perms::owner_write
                : perms::owner_read | perms::owner_write | perms::group_read | perms::others_read;
  std::filesystem::permissions(path, mode, error);
  if (error) return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  return out ? S_OK : HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
}

std::string PemOf(EVP_PKEY* key, bool isPrivate) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio) return {};
  const int ok =
      isPrivate ? PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr)
                : PEM_write_bio_PUBKEY(bio.get(), key);
  if (ok != 1) return {};
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  return length > 0 ? std::string(data, static_cast<std::size_t>(length)) : std::string();
}

}  // namespace

CQuorSealKey::CQuorSealKey(CQuorSealKey&& other) noexcept
    : m_key(other.m_key), m_private(other.m_private), m_keyId(other.m_keyId) {
  other.m_key = nullptr;
}

CQuorSealKey& CQuorSealKey::operator=(CQuorSealKey&& other) noexcept {
  if (this != &other) {
    EVP_PKEY_free(m_key);
    m_key = other.m_key;
    m_private = other.m_private;
    m_keyId = other.m_keyId;
    other.m_key = nullptr;
  }
  return *this;
}

CQuorSealKey::~CQuorSealKey() { EVP_PKEY_free(m_key); }

HRESULT CQuorSealKey::Adopt(EVP_PKEY* key, bool isPrivate) {
  if (key == nullptr) return MFS_E_BAD_FORMAT;
  if (EVP_PKEY_get_base_id(key) != EVP_PKEY_ED25519) {
    EVP_PKEY_free(key);
    return MFS_E_BAD_FORMAT;
  }
  BYTE raw[kSealRawPublicKeySize];
  std::size_t rawLength = sizeof raw;
  QuorSealDigest digest{};
  CQuorSha256 hash;
  if (EVP_PKEY_get_raw_public_key(key, raw, &rawLength) != 1 || rawLength != sizeof raw ||
      FAILED(hash.Add(raw, rawLength)) || FAILED(hash.Peek(&digest))) {
    EVP_PKEY_free(key);
    return E_FAIL;
  }
  EVP_PKEY_free(m_key);
  m_key = key;
  m_private = isPrivate;
  for (std::size_t i = 0; i < kSealKeyIdSize; ++i) m_keyId[i] = digest[i];
  return S_OK;
}

HRESULT CQuorSealKey::Generate() {
  return Adopt(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"), true);
}

HRESULT CQuorSealKey::LoadPrivate(const std::string& path, QuorMessage<>* message) {
  QuorMessage<> unused = kQuorNoMessage;
  QuorMessage<>& why = message ? *message : unused;
  why = kSigningKeyUnreadable;
  std::string text;
  if (const HRESULT hr = ReadWholeFile(path, &text); FAILED(hr)) return hr;
  if (text.find("PRIVATE KEY-----") == std::string::npos &&
      text.find("-----BEGIN PUBLIC KEY-----") != std::string::npos) {
    why = kSigningKeyIsPublic;
    return E_INVALIDARG;
  }
  using std::filesystem::perms;
  std::error_code error;
  const perms mode = std::filesystem::status(path, error).permissions();
  if (error || (mode & (perms::group_all | perms::others_all)) != perms::none) {
    why = kSigningKeyReadableByOthers;
    return E_ACCESSDENIED;
  }
  BioPtr bio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
  if (!bio) return E_OUTOFMEMORY;
  const HRESULT hr = Adopt(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr), true);
  if (hr == MFS_E_BAD_FORMAT) why = kSigningKeyNotPrivate;
  return hr;
}

HRESULT CQuorSealKey::LoadPublic(const std::string& path, QuorMessage<>* message) {
  QuorMessage<> unused = kQuorNoMessage;
  QuorMessage<>& why = message ? *message : unused;
  why = kSigningKeyUnreadable;
  std::string text;
  if (const HRESULT hr = ReadWholeFile(path, &text); FAILED(hr)) return hr;
  BioPtr bio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
  if (!bio) return E_OUTOFMEMORY;
  const HRESULT hr = Adopt(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr), false);
  if (hr == MFS_E_BAD_FORMAT) why = kKeyNotPublic;
  return hr;
}

HRESULT CQuorSealKey::WritePair(const std::string& path) const {
  if (!m_key || !m_private) return MFS_E_NOT_SET;
  const std::string privatePem = PemOf(m_key, true);
  const std::string publicPem = PemOf(m_key, false);
  if (privatePem.empty() || publicPem.empty()) return E_FAIL;
  std::error_code error;
  if (std::filesystem::exists(path + ".pub", error)) return HRESULT_FROM_WIN32(ERROR_FILE_EXISTS);
  if (const HRESULT hr = WriteNewFile(path, privatePem, true); FAILED(hr)) return hr;
  return WriteNewFile(path + ".pub", publicPem, false);
}

HRESULT CQuorSealKey::Sign(const BYTE* bytes, std::size_t count, BYTE* signature) const {
  if (!m_key || !m_private) return MFS_E_NOT_SET;
  std::unique_ptr<EVP_MD_CTX, CtxDeleter> ctx(EVP_MD_CTX_new());
  std::size_t length = kSealSignatureSize;
  if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, m_key) != 1 ||
      EVP_DigestSign(ctx.get(), signature, &length, bytes, count) != 1 ||
      length != kSealSignatureSize) {
    return E_FAIL;
  }
  return S_OK;
}

bool CQuorSealKey::Verifies(const BYTE* bytes, std::size_t count, const BYTE* signature) const {
  if (!m_key) return false;
  std::unique_ptr<EVP_MD_CTX, CtxDeleter> ctx(EVP_MD_CTX_new());
  return ctx && EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, m_key) == 1 &&
         EVP_DigestVerify(ctx.get(), signature, kSealSignatureSize, bytes, count) == 1;
}
