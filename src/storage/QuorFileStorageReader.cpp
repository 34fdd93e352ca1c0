#include "storage/QuorFileStorageReader.h"

#include "platform/io/QuorLastError.h"
#include "quormediafiles/QuorResultCodes.h"
#include "storage/QuorFileStorage.h"

HRESULT CQuorFileStorageReader::Read(BYTE* buffer, DWORD count) {
  if (buffer == nullptr) return E_POINTER;
  if (count == 0) return S_OK;
  return m_storage->Read(buffer, count);
}

HRESULT CQuorFileStorageReader::Seek(ULONGLONG offset) {
  CQuorFile* file = m_storage->CurrentFile();
  if (file == nullptr) return MFS_E_NO_VALUE;
  if (!file->SetPointer(static_cast<LONGLONG>(offset), nullptr, FILE_BEGIN)) {
    return HResultFromLastError();
  }
  return S_OK;
}

HRESULT CQuorFileStorageReader::GetPosition(ULONGLONG* position) {
  if (position == nullptr) return E_POINTER;
  CQuorFile* file = m_storage->CurrentFile();
  if (file == nullptr) return MFS_E_NO_VALUE;
  if (!file->GetPosition(position)) return HResultFromLastError();
  return S_OK;
}

HRESULT CQuorFileStorageReader::GetRemaining(ULONGLONG* remaining) {
  return m_storage->GetRemaining(remaining);
}
