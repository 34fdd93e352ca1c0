#include "storage/QuorFileStorageWriter.h"

#include "storage/QuorFileStorage.h"

HRESULT CQuorFileStorageWriter::Write(const BYTE* buffer, DWORD count) {
  if (buffer == nullptr) return E_POINTER;
  if (count == 0) return S_OK;
  return m_storage->Write(buffer, count);
}
