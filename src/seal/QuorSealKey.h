// CQuorSealKey: an Ed25519 key for seals, private (to sign) or public (to verify), through
// OpenSSL's EVP interface. Keys live in PEM files: the private key in PKCS#8 form in a file
// only its owner may read, the public key in SubjectPublicKeyInfo form beside it. Owns its key;
// move-only; no lock (signing and verifying do not change it, so threads may share a loaded
// key for those).
#pragma once

#include <cstddef>
#include <string>

#include "core/QuorMessageCatalogue.h"
#include "quormediafiles/platform/QuorTypes.h"
#include "seal/QuorSealLayout.h"

struct evp_pkey_st;

class CQuorSealKey {
 public:
  CQuorSealKey() noexcept = default;
  CQuorSealKey(CQuorSealKey&& other) noexcept;
  CQuorSealKey& operator=(CQuorSealKey&& other) noexcept;
  CQuorSealKey(const CQuorSealKey&) = delete;
  CQuorSealKey& operator=(const CQuorSealKey&) = delete;
  ~CQuorSealKey();

  // A new private key.
  [[nodiscard]] HRESULT Generate();
  // The private key of path; on failure *message (may be null) names it in the catalogue:
  // the Win32 code of a file that is missing or cannot be read (kSigningKeyUnreadable);
  // E_ACCESSDENIED when group or other users have any access to the file
  // (kSigningKeyReadableByOthers); E_INVALIDARG when it holds a public key (kSigningKeyIsPublic);
  // MFS_E_BAD_FORMAT when it holds no Ed25519 private key (kSigningKeyNotPrivate).
  [[nodiscard]] HRESULT LoadPrivate(const std::string& path, QuorMessage<>* message = nullptr);
  // The public key of path: kSigningKeyUnreadable as above; MFS_E_BAD_FORMAT when it holds no
  // Ed25519 public key (kKeyNotPublic).
  [[nodiscard]] HRESULT LoadPublic(const std::string& path, QuorMessage<>* message = nullptr);
  // Writes the private key to path (mode 0600) and the public key to path + ".pub"; neither
  // file may exist (HRESULT_FROM_WIN32(ERROR_FILE_EXISTS)).
  [[nodiscard]] HRESULT WritePair(const std::string& path) const;

  bool IsLoaded() const noexcept { return m_key != nullptr; }
  bool IsPrivate() const noexcept { return m_private; }
  // The first bytes of SHA-256 over the raw 32-byte public key.
  const QuorSealKeyId& GetKeyId() const noexcept { return m_keyId; }

  // signature: room for kSealSignatureSize bytes.
  [[nodiscard]] HRESULT Sign(const BYTE* bytes, std::size_t count, BYTE* signature) const;
  bool Verifies(const BYTE* bytes, std::size_t count, const BYTE* signature) const;

 private:
  [[nodiscard]] HRESULT Adopt(evp_pkey_st* key, bool isPrivate);

  evp_pkey_st* m_key = nullptr;
  bool m_private = false;
  QuorSealKeyId m_keyId{};
};
