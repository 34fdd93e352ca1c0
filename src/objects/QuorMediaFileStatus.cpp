#include "objects/QuorMediaFileStatus.h"

HRESULT CQuorMediaFileStatus::GetFileIndex(ULONG* pdwFileIndex) {
  if (!pdwFileIndex) return E_POINTER;
  if (m_fileIndex == kFileIndexUnset) return MFS_E_NOT_SET;
  *pdwFileIndex = m_fileIndex;
  return S_OK;
}

HRESULT CQuorMediaFileStatus::SetFileIndex(ULONG dwFileIndex) {
  m_fileIndex = dwFileIndex;
  return S_OK;
}

HRESULT CQuorMediaFileStatus::GetStatusFlags(ULONG* pdwFlags) {
  if (!pdwFlags) return E_POINTER;
  if (!m_flagsSet) return MFS_E_NOT_SET;
  *pdwFlags = m_statusFlags;
  return S_OK;
}

HRESULT CQuorMediaFileStatus::SetStatusFlags(ULONG dwFlags) {
  m_statusFlags = dwFlags;
  m_flagsSet = true;
  return S_OK;
}
