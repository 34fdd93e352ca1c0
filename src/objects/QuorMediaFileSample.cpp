#include "objects/QuorMediaFileSample.h"

#include <cstring>

#include "core/LoggedException.h"

namespace {

[[nodiscard]] HRESULT CheckByteArray(SAFEARRAY* psa) noexcept {
  VARTYPE vt = VT_EMPTY;
  if (!psa || FAILED(SafeArrayGetVartype(psa, &vt)) || vt != VT_UI1) return E_INVALIDARG;
  return S_OK;
}

VARIANT_BOOL AsVariantBool(bool value) noexcept { return value ? VARIANT_TRUE : VARIANT_FALSE; }

}  // namespace

HRESULT CQuorMediaFileSample::GetTimestamp(ULONGLONG* pnTime) {
  if (!pnTime) return E_POINTER;
  if ((m_setBits & kTimestampSet) == 0) return MFS_E_NO_VALUE;
  *pnTime = m_timestamp;
  return S_OK;
}

HRESULT CQuorMediaFileSample::SetTimestamp(ULONGLONG nTime) {
  m_timestamp = nTime;
  m_setBits |= kTimestampSet;
  return S_OK;
}

HRESULT CQuorMediaFileSample::GetFlags(VARIANT_BOOL* pvbIsKeyFrame, VARIANT_BOOL* pvbHasVideo,
                                       VARIANT_BOOL* pvbHasAudio) {
  if (!pvbIsKeyFrame || !pvbHasVideo || !pvbHasAudio) return E_POINTER;
  if ((m_setBits & kSampleFlagsSet) == 0) return MFS_E_NO_VALUE;
  *pvbIsKeyFrame = AsVariantBool(m_sampleFlags & kKeyFrame);
  *pvbHasVideo = AsVariantBool(m_sampleFlags & kVideo);
  *pvbHasAudio = AsVariantBool(m_sampleFlags & kAudio);
  return S_OK;
}

HRESULT CQuorMediaFileSample::SetFlags(VARIANT_BOOL vbIsKeyFrame, VARIANT_BOOL vbHasVideo,
                                       VARIANT_BOOL vbHasAudio) {
  // Replaces every earlier flag, the frame mark included.
  m_sampleFlags = vbIsKeyFrame ? kKeyFrame : kNotKeyFrame;
  if (vbHasVideo) m_sampleFlags |= kVideo;
  if (vbHasAudio) m_sampleFlags |= kAudio;
  m_setBits |= kSampleFlagsSet;
  return S_OK;
}

HRESULT CQuorMediaFileSample::GetSampleFlags(ULONG* pnFlags) {
  if (!pnFlags) return E_POINTER;
  if ((m_setBits & kSampleFlagsSet) == 0) return MFS_E_NO_VALUE;
  *pnFlags = m_sampleFlags;
  return S_OK;
}

HRESULT CQuorMediaFileSample::SetSampleFlags(ULONG nFlags) {
  if ((nFlags & kMediaGroup) == 0 || (nFlags & kFrameGroup) == 0) return E_INVALIDARG;
  m_sampleFlags = nFlags;
  m_setBits |= kSampleFlagsSet;
  return S_OK;
}

HRESULT CQuorMediaFileSample::GetPayloadData(SAFEARRAY** ppsaData) {
  if (!ppsaData) return E_POINTER;
  *ppsaData = nullptr;
  if ((m_setBits & kPayloadSet) == 0) return MFS_E_NO_VALUE;
  if (m_payload) return SafeArrayCopy(m_payload.Get(), ppsaData);
  CQuorSafeArray copy = CQuorSafeArray::CreateVector(VT_UI1, 0, m_length);
  if (!copy) return E_OUTOFMEMORY;
  if (m_length != 0) std::memcpy(copy.Get()->pvData, m_data, m_length);
  *ppsaData = copy.Detach();
  return S_OK;
}

HRESULT CQuorMediaFileSample::SetPayloadData(SAFEARRAY** ppsaData) {
  if (!ppsaData) return E_POINTER;
  QUOR_RETURN_IF_FAILED(CheckByteArray(*ppsaData));
  SAFEARRAY* copy = nullptr;
  const HRESULT hr = SafeArrayCopy(*ppsaData, &copy);
  if (FAILED(hr)) return hr;
  return TakePayload(copy);
}

HRESULT CQuorMediaFileSample::GetPayloadView(const BYTE** ppData, ULONG* pcbData) {
  if (!ppData || !pcbData) return E_POINTER;
  *ppData = nullptr;
  *pcbData = 0;
  if ((m_setBits & kPayloadSet) == 0) return MFS_E_NO_VALUE;
  *ppData = m_data;
  *pcbData = m_length;
  return S_OK;
}

HRESULT CQuorMediaFileSample::TakePayload(SAFEARRAY* psaData) {
  if (!psaData) return E_POINTER;
  QUOR_RETURN_IF_FAILED(CheckByteArray(psaData));
  m_payload.Attach(psaData);
  m_data = static_cast<const BYTE*>(psaData->pvData);
  m_length = m_payload.Count();
  m_setBits |= kPayloadSet;
  return S_OK;
}

void CQuorMediaFileSample::LendPayload(const BYTE* data, ULONG length) noexcept {
  m_payload = CQuorSafeArray();
  m_data = data;
  m_length = length;
  m_setBits |= kPayloadSet;
}
