// CQuorTrackMetadata: the description of one track (coclass QuorTrackMetadata). A record of
// fields with set bits; getters hand out copies that the caller owns. No lock: one thread at a
// time uses an object.
#pragma once

#include <cstdint>

#include "objects/QuorStringField.h"
#include "platform/automation/QuorDispatchObject.h"
#include "quormediafiles/QuorMediaFiles.h"

class CQuorTrackMetadata final : public CQuorDispatchObject<IQuorTrackMetadata> {
 public:
  CQuorTrackMetadata() noexcept = default;

  HRESULT GetTrackId(ULONG* pdwTrackId) override;
  HRESULT SetTrackId(ULONG dwTrackId) override;
  HRESULT GetSourceId(ULONG* pdwSourceId) override;
  HRESULT SetSourceId(ULONG dwSourceId) override;
  HRESULT GetTrackName(BSTR* pbstrName) override;
  HRESULT SetTrackName(BSTR bstrName) override;
  HRESULT GetSourceUrl(BSTR* pbstrSourceUrl) override;
  HRESULT SetSourceUrl(BSTR bstrSourceUrl) override;
  HRESULT GetVideoFlag(VARIANT_BOOL* pvbHasVideo) override;
  HRESULT SetVideoFlag(VARIANT_BOOL vbHasVideo) override;
  HRESULT GetAudioFlag(VARIANT_BOOL* pvbHasAudio) override;
  HRESULT SetAudioFlag(VARIANT_BOOL vbHasAudio) override;
  HRESULT GetMediaSessionPlugin(BSTR* pbstrClsid) override;
  HRESULT SetMediaSessionPlugin(BSTR bstrClsid) override;
  HRESULT GetFilters(SAFEARRAY** ppsaFilters) override;
  HRESULT AddFilter(BSTR bstrFilterClsid) override;
  HRESULT IsAuthentic(VARIANT_BOOL* pvbValue) override;
  HRESULT SetAuthentic(VARIANT_BOOL vbValue) override;
  HRESULT GetVideoFormatIdentifier(BSTR* pbstrIdentifier) override;
  HRESULT SetVideoFormatIdentifier(BSTR bstrIdentifier) override;
  HRESULT GetAudioFormatIdentifier(BSTR* pbstrIdentifier) override;
  HRESULT SetAudioFormatIdentifier(BSTR bstrIdentifier) override;
  HRESULT GetPairId(ULONG* pdwId) override;
  HRESULT SetPairId(ULONG dwId) override;

  // Set bits.
  static constexpr std::uint8_t kTrackIdSet = 0x01;
  static constexpr std::uint8_t kSourceIdSet = 0x02;
  static constexpr std::uint8_t kVideoFlagSet = 0x04;
  static constexpr std::uint8_t kAudioFlagSet = 0x08;
  static constexpr std::uint8_t kAuthenticSet = 0x10;
  static constexpr std::uint8_t kPairIdSet = 0x20;

 private:
  template <class T>
  HRESULT GetIfSet(std::uint8_t bit, const T& value, T* pValue) const noexcept;
  template <class T>
  HRESULT Store(std::uint8_t bit, T value, T* pField) noexcept;

  std::uint8_t m_setBits = 0;
  ULONG m_trackId = 0;
  ULONG m_sourceId = 0;
  ULONG m_pairId = 0;
  CQuorStringField m_trackName;
  CQuorStringField m_sourceUrl;
  CQuorStringField m_mediaSessionPlugin;
  CQuorStringField m_videoFormatIdentifier;
  CQuorStringField m_audioFormatIdentifier;
  VARIANT_BOOL m_videoFlag = VARIANT_FALSE;
  VARIANT_BOOL m_audioFlag = VARIANT_FALSE;
  VARIANT_BOOL m_authentic = VARIANT_FALSE;
  CQuorSafeArray m_filters;  // VT_BSTR, lower bound 0, in the order added
};
