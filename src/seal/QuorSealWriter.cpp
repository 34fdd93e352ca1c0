#include "seal/QuorSealWriter.h"

#include <chrono>

#include "core/LoggedException.h"
#include "platform/QuorLastError.h"
#include "quormediafiles/QuorResultCodes.h"

std::string QuorSealSidecarName(const std::string& memberPath) {
  return memberPath + kSealSidecarSuffix;
}

HRESULT CQuorSealWriter::SetKey(const std::string& path, QuorMessageId* message) {
  CQuorSealKey key;
  if (const HRESULT hr = key.LoadPrivate(path, message); FAILED(hr)) return hr;
  m_key = std::move(key);
  return S_OK;
}

HRESULT CQuorSealWriter::BeginFile(const std::string& memberPath) {
  m_hashValid = false;
  if (!m_sidecar.Close()) return HResultFromLastError();
  m_sidecarSize = 0;
  if (!m_sidecar.Create(QuorSealSidecarName(memberPath), GENERIC_WRITE, 0, CREATE_ALWAYS)) {
    return HResultFromLastError();
  }
  const std::array<BYTE, kQuorFileSignatureSize> signature = QuorFileSignatureBytes();
  QUOR_RETURN_IF_FAILED(m_hash.Reset());
  QUOR_RETURN_IF_FAILED(m_hash.Add(signature.data(), signature.size()));
  m_hashedEnd = signature.size();
  m_hashValid = true;
  return S_OK;
}

void CQuorSealWriter::OnWritten(ULONGLONG offset, const BYTE* bytes, DWORD count) noexcept {
  if (!m_hashValid) return;
  if (offset != m_hashedEnd || FAILED(m_hash.Add(bytes, count))) {
    m_hashValid = false;  // the hash no longer follows the file
    return;
  }
  m_hashedEnd += count;
}

HRESULT CQuorSealWriter::Seal(const GUID& fileSetGuid, DWORD fileSetIndex, DWORD blockIndex,
                              ULONGLONG end, bool finalized) {
  if (!m_key.IsLoaded() || !m_sidecar.IsOpen()) return MFS_E_NOT_SET;
  if (!m_hashValid || end != m_hashedEnd) return E_UNEXPECTED;
  QuorSealRecord record;
  record.fileSetGuid = fileSetGuid;
  record.fileSetIndex = fileSetIndex;
  record.blockIndex = blockIndex;
  record.offset = end;
  record.finalized = finalized;
  record.keyId = m_key.GetKeyId();
  record.timeMs =
      static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count());
  QUOR_RETURN_IF_FAILED(m_hash.Peek(&record.digest));

  BYTE bytes[kSealRecordSize];
  EncodeSealSignedPart(record, bytes);
  QUOR_RETURN_IF_FAILED(m_key.Sign(bytes, kSealSignedSize, bytes + kSealSignedSize));

  if (m_sidecar.Write(bytes, kSealRecordSize, nullptr) && m_sidecar.Flush()) {
    m_sidecarSize += kSealRecordSize;
    // A finalized file gets no more seals; its sidecar is left for readers.
    if (finalized && !m_sidecar.Close()) return HResultFromLastError();
    return S_OK;
  }
  const HRESULT hr = HResultFromLastError();
  // What reached the file of this record goes again, so the next record follows the last whole
  // one.
  (void)(m_sidecar.SetPointer(static_cast<LONGLONG>(m_sidecarSize), nullptr, FILE_BEGIN) &&
         m_sidecar.SetEndOfFile());
  return FAILED(hr) ? hr : E_FAIL;
}
