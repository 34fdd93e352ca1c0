#include "storage/QuorFileStorageReader.h"

#include "quormediafiles/QuorResultCodes.h"
#include "storage/QuorFileStorage.h"

CQuorFileStorageReader::CQuorFileStorageReader(CQuorFileStorage* storage) : m_storage(storage) {}

CQuorFileStorageReader::~CQuorFileStorageReader() { m_storage = nullptr; }

HRESULT CQuorFileStorageReader::Read(BYTE* buffer, DWORD count) {
  if (buffer == nullptr) return E_POINTER;
  if (m_storage == nullptr) return MFS_E_NOT_SET;
  if (count == 0) return S_OK;
  return m_storage->Read(buffer, count);
}

HRESULT CQuorFileStorageReader::GetRemaining(ULONGLONG* remaining) {
  if (remaining == nullptr) return E_POINTER;
  if (m_storage == nullptr) return MFS_E_NOT_SET;
  return m_storage->GetRemaining(remaining);
}
