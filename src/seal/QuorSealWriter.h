// CQuorSealWriter: the signing side of seals for one recording. It watches the bytes written to
// the member file being recorded (as the storage's write tap) and keeps a running SHA-256 of
// them, so that a seal costs one digest copy and one signature, never a read of the file; Seal
// appends a signed record to the file's sidecar.
//
// The sidecar is written append-only: each record goes to the OS in one write and is flushed
// before Seal returns, so a crash loses at most the record being written and never an earlier
// one; a record that could not be written whole is cut off again.
//
// Owns its key, hash and sidecar file. Used under its writer's lock, on whichever thread holds
// it; no lock of its own.
#pragma once

#include <string>

#include "core/QuorMessageCatalogue.h"
#include "platform/QuorFile.h"
#include "quormediafiles/platform/QuorTypes.h"
#include "seal/QuorSealKey.h"
#include "seal/QuorSha256.h"
#include "storage/QuorFileStorage.h"

class CQuorSealWriter final : public CQuorWriteTap {
 public:
  // The private key of path; failures as CQuorSealKey::LoadPrivate.
  [[nodiscard]] HRESULT SetKey(const std::string& path, QuorMessageId* message);

  // A member file was just created with its signature and nothing else: its sidecar is created
  // (or emptied: records beside a new file belong to a file that is gone) and the hash starts
  // over from the signature.
  [[nodiscard]] HRESULT BeginFile(const std::string& memberPath);
  // Appends a record for the bytes [0, end) of the member file, which must all have reached
  // the OS and the tap. E_UNEXPECTED when the tap did not see exactly those bytes (a write went
  // back over bytes already hashed): the file gets no further seals.
  [[nodiscard]] HRESULT Seal(const GUID& fileSetGuid, DWORD fileSetIndex, DWORD blockIndex,
                             ULONGLONG end, bool finalized);

  void OnWritten(ULONGLONG offset, const BYTE* bytes, DWORD count) noexcept override;

 private:
  CQuorSealKey m_key;
  CQuorSha256 m_hash;
  ULONGLONG m_hashedEnd = 0;
  bool m_hashValid = false;
  CQuorFile m_sidecar;
  ULONGLONG m_sidecarSize = 0;
};

// The sidecar of a member file.
std::string QuorSealSidecarName(const std::string& memberPath);
