#include "storage/QuorFileStorageWriter.h"

#include "quormediafiles/QuorResultCodes.h"
#include "storage/QuorFileStorage.h"

CQuorFileStorageWriter::CQuorFileStorageWriter(CQuorFileStorage* storage) : m_storage(storage) {}

CQuorFileStorageWriter::~CQuorFileStorageWriter() { m_storage = nullptr; }

HRESULT CQuorFileStorageWriter::Write(const BYTE* buffer, DWORD count) {
  if (buffer == nullptr) return E_POINTER;
  if (m_storage == nullptr) return MFS_E_NOT_SET;
  if (count == 0) return S_OK;
  return m_storage->Write(buffer, count);
}
