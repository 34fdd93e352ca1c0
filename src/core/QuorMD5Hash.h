// CQuorMD5Hash: the salted MD5 of the file format, the RFC 1321 digest of the 16 salt bytes
// followed by the data fed. Used for block hashes, file hashes and password hashes.
//
// Calling order: construct (or ReInitialize), any number of AddString/AddData, then one of
// GetHash, GetDigest or IsSame, which finish the digest; more data is refused with
// MFS_E_WRONG_STATE until ReInitialize. Owns one digest context, allocated once; no per-digest
// allocation or algorithm lookup. No lock: one owner (one thread at a time) per object.
#pragma once

#include <cstddef>
#include <cstdint>

#include "quormediafiles/platform/QuorTypes.h"

struct evp_md_ctx_st;  // OpenSSL's EVP_MD_CTX

inline constexpr DWORD kQuorMD5DigestSize = 16;

// The hash salt, fed as its 16 bytes in GUID memory layout:
// 5a 17 c3 e8 20 9b 4d 61 a6 0f 3e 72 d4 88 b1 2c.
inline constexpr GUID kQuorHashSalt = {
    0xE8C3175A, 0x9B20, 0x614D, {0xA6, 0x0F, 0x3E, 0x72, 0xD4, 0x88, 0xB1, 0x2C}};

class CQuorMD5Hash {
 public:
  // Never fails; a failure to set up is logged and returned by every later call.
  CQuorMD5Hash() noexcept;
  ~CQuorMD5Hash();
  CQuorMD5Hash(const CQuorMD5Hash&) = delete;
  CQuorMD5Hash& operator=(const CQuorMD5Hash&) = delete;

  // Starts a new digest (salt already fed).
  [[nodiscard]] HRESULT ReInitialize() noexcept;
  // Feeds the string's UTF-16LE code units without terminator; E_POINTER for null.
  [[nodiscard]] HRESULT AddString(BSTR value) noexcept;
  // E_POINTER for null data, even when length is 0.
  [[nodiscard]] HRESULT AddData(const BYTE* data, DWORD length) noexcept;
  // Finishes the digest into a new[] buffer of kQuorMD5DigestSize bytes that the caller
  // delete[]s. E_POINTER for a null out-pointer, E_OUTOFMEMORY.
  [[nodiscard]] HRESULT GetHash(BYTE** buffer, DWORD* length) noexcept;
  // Finishes the digest into digest, without allocation.
  [[nodiscard]] HRESULT GetDigest(BYTE (&digest)[kQuorMD5DigestSize]) noexcept;
  // Finishes the digest and compares it with the 16 bytes at expected; false on any failure.
  [[nodiscard]] bool IsSame(const BYTE* expected) noexcept;

 private:
  [[nodiscard]] HRESULT Feed(const void* data, std::size_t length) noexcept;
  [[nodiscard]] HRESULT Finish(BYTE (&digest)[kQuorMD5DigestSize]) noexcept;

  evp_md_ctx_st* m_context = nullptr;
  HRESULT m_setupResult = S_OK;  // failure of the context's allocation or of the last restart
  bool m_finished = false;
  std::uint32_t m_loggerContext = 0;
};
