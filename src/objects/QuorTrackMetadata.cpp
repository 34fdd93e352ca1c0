#include "objects/QuorTrackMetadata.h"

#include <string_view>

template <class T>
HRESULT CQuorTrackMetadata::GetIfSet(std::uint8_t bit, const T& value, T* pValue) const noexcept {
  if (!pValue) return E_POINTER;
  if ((m_setBits & bit) == 0) return MFS_E_NO_VALUE;
  *pValue = value;
  return S_OK;
}

template <class T>
HRESULT CQuorTrackMetadata::Store(std::uint8_t bit, T value, T* pField) noexcept {
  *pField = value;
  m_setBits |= bit;
  return S_OK;
}

HRESULT CQuorTrackMetadata::GetTrackId(ULONG* p) { return GetIfSet(kTrackIdSet, m_trackId, p); }
HRESULT CQuorTrackMetadata::SetTrackId(ULONG v) { return Store(kTrackIdSet, v, &m_trackId); }
HRESULT CQuorTrackMetadata::GetSourceId(ULONG* p) { return GetIfSet(kSourceIdSet, m_sourceId, p); }
HRESULT CQuorTrackMetadata::SetSourceId(ULONG v) { return Store(kSourceIdSet, v, &m_sourceId); }
HRESULT CQuorTrackMetadata::GetPairId(ULONG* p) { return GetIfSet(kPairIdSet, m_pairId, p); }
HRESULT CQuorTrackMetadata::SetPairId(ULONG v) { return Store(kPairIdSet, v, &m_pairId); }

HRESULT CQuorTrackMetadata::GetVideoFlag(VARIANT_BOOL* p) {
  return GetIfSet(kVideoFlagSet, m_videoFlag, p);
}
HRESULT CQuorTrackMetadata::SetVideoFlag(VARIANT_BOOL v) {
  return Store(kVideoFlagSet, v, &m_videoFlag);
}
HRESULT CQuorTrackMetadata::GetAudioFlag(VARIANT_BOOL* p) {
  return GetIfSet(kAudioFlagSet, m_audioFlag, p);
}
HRESULT CQuorTrackMetadata::SetAudioFlag(VARIANT_BOOL v) {
  return Store(kAudioFlagSet, v, &m_audioFlag);
}
HRESULT CQuorTrackMetadata::IsAuthentic(VARIANT_BOOL* p) {
  return GetIfSet(kAuthenticSet, m_authentic, p);
}
HRESULT CQuorTrackMetadata::SetAuthentic(VARIANT_BOOL v) {
  return Store(kAuthenticSet, v, &m_authentic);
}

HRESULT CQuorTrackMetadata::GetTrackName(BSTR* p) { return m_trackName.Get(p); }
HRESULT CQuorTrackMetadata::SetTrackName(BSTR v) { return m_trackName.Set(v); }
HRESULT CQuorTrackMetadata::GetSourceUrl(BSTR* p) { return m_sourceUrl.Get(p); }
HRESULT CQuorTrackMetadata::SetSourceUrl(BSTR v) { return m_sourceUrl.Set(v); }
HRESULT CQuorTrackMetadata::GetMediaSessionPlugin(BSTR* p) { return m_mediaSessionPlugin.Get(p); }
HRESULT CQuorTrackMetadata::SetMediaSessionPlugin(BSTR v) { return m_mediaSessionPlugin.Set(v); }
HRESULT CQuorTrackMetadata::GetVideoFormatIdentifier(BSTR* p) {
  return m_videoFormatIdentifier.Get(p);
}
HRESULT CQuorTrackMetadata::SetVideoFormatIdentifier(BSTR v) {
  return m_videoFormatIdentifier.Set(v);
}
HRESULT CQuorTrackMetadata::GetAudioFormatIdentifier(BSTR* p) {
  return m_audioFormatIdentifier.Get(p);
}
HRESULT CQuorTrackMetadata::SetAudioFormatIdentifier(BSTR v) {
  return m_audioFormatIdentifier.Set(v);
}

HRESULT CQuorTrackMetadata::GetFilters(SAFEARRAY** ppsaFilters) {
  if (!ppsaFilters) return E_POINTER;
  *ppsaFilters = nullptr;
  if (m_filters.Count() == 0) return MFS_E_NO_VALUE;
  return SafeArrayCopy(m_filters.Get(), ppsaFilters);
}

HRESULT CQuorTrackMetadata::AddFilter(BSTR bstrFilterClsid) {
  if (!bstrFilterClsid) return E_POINTER;
  std::u16string_view text(bstrFilterClsid, SysStringLen(bstrFilterClsid));
  CQuorBstr filter = CQuorBstr::Copy(text.substr(0, text.find(u'\0')));
  if (!filter) return E_OUTOFMEMORY;
  LONG index = 0;
  if (!m_filters) {
    m_filters = CQuorSafeArray::CreateVector(VT_BSTR, 0, 1);
    if (!m_filters) return E_OUTOFMEMORY;
  } else {
    index = static_cast<LONG>(m_filters.Count());
    SAFEARRAYBOUND bound{m_filters.Count() + 1, 0};
    const HRESULT hr = SafeArrayRedim(m_filters.Get(), &bound);
    if (FAILED(hr)) return hr;
  }
  // PutElement stores its own copy of the string.
  return SafeArrayPutElement(m_filters.Get(), &index, filter.Get());
}
