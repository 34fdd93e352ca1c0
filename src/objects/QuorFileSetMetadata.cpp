#include "objects/QuorFileSetMetadata.h"

HRESULT CQuorFileSetMetadata::GetFileSetGuid(BSTR* pbstrGuid) {
  return m_filesetGuid.Get(pbstrGuid);
}

HRESULT CQuorFileSetMetadata::GetFileSetCreationTime(ULONGLONG* pnCreationTime) {
  if (!pnCreationTime) return E_POINTER;
  if ((m_setBits & kCreationTimeSet) == 0) return MFS_E_NO_VALUE;
  *pnCreationTime = m_creationTime;
  return S_OK;
}

HRESULT CQuorFileSetMetadata::GetFileSetDescription(BSTR* pbstrDescription) {
  return m_description.Get(pbstrDescription);
}

HRESULT CQuorFileSetMetadata::IsPasswordProtected(VARIANT_BOOL* pvbProtected) {
  if (!pvbProtected) return E_POINTER;
  if ((m_setBits & kPasswordProtectedSet) == 0) return MFS_E_NO_VALUE;
  *pvbProtected = m_passwordProtected;
  return S_OK;
}

HRESULT CQuorFileSetMetadata::IsFileSetComplete(VARIANT_BOOL* pvbComplete) {
  if (!pvbComplete) return E_POINTER;
  *pvbComplete = m_complete;  // false until set; never "no value"
  return S_OK;
}

HRESULT CQuorFileSetMetadata::SetFilesetGuid(BSTR bstrGuid) { return m_filesetGuid.Set(bstrGuid); }

HRESULT CQuorFileSetMetadata::SetFilesetCreationTime(ULONGLONG nCreationTime) {
  m_creationTime = nCreationTime;
  m_setBits |= kCreationTimeSet;
  return S_OK;
}

HRESULT CQuorFileSetMetadata::SetFilesetDescription(BSTR bstrDescription) {
  return m_description.Set(bstrDescription);
}

HRESULT CQuorFileSetMetadata::SetFilesetPassword(VARIANT_BOOL vbProtected) {
  m_passwordProtected = vbProtected;
  m_setBits |= kPasswordProtectedSet;
  return S_OK;
}

HRESULT CQuorFileSetMetadata::SetFileSetComplete(VARIANT_BOOL vbComplete) {
  m_complete = vbComplete;
  return S_OK;
}
