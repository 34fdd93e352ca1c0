// CQuorTrackInfoBlock: one track of the fileset (type 0x200): id, name, media types, source,
// handler class identifiers and the last-track-info flag. Every member file repeats the track
// info blocks of all tracks. Getters of absent fields return MFS_E_NO_VALUE; setters copy and
// replace, except AddFilter, which appends.
#pragma once

#include <vector>

#include "format/QuorMediaFileBlock.h"

class CQuorTrackInfoBlock : public CQuorMediaFileBlock {
 public:
  CQuorTrackInfoBlock() noexcept : CQuorMediaFileBlock(btTrackInfo) {}

  // Logs duplicated (kDuplicatedField) and unknown (kUnknownField) fields; filter fields may
  // repeat. Fails only on a block type other than track info (E_FAIL).
  [[nodiscard]] HRESULT VerifyBlockFields() override;

  // Bits kMediaTypeVideo, kMediaTypeAudio.
  [[nodiscard]] HRESULT GetMediaTypes(DWORD* mediaTypes);
  [[nodiscard]] HRESULT SetMediaTypes(DWORD mediaTypes);
  // Every filter CLSID in field order; MFS_E_BAD_FORMAT (with all of them in the list) when
  // there are more than two. Absent: MFS_E_NO_VALUE and the list is untouched.
  [[nodiscard]] HRESULT GetFilters(std::vector<GUID>* filters);
  // Appends one filter CLSID behind the field last found or set.
  [[nodiscard]] HRESULT AddFilter(const GUID& filter);
  [[nodiscard]] HRESULT GetMediaSessionPlugin(GUID* plugin);
  [[nodiscard]] HRESULT SetMediaSessionPlugin(const GUID& plugin);
  [[nodiscard]] HRESULT GetTrackId(DWORD* trackId);
  [[nodiscard]] HRESULT SetTrackId(DWORD trackId);
  // Strings: a new BSTR the caller frees; at most 16383 characters are stored.
  [[nodiscard]] HRESULT GetTrackName(BSTR* name);
  [[nodiscard]] HRESULT SetTrackName(const OLECHAR* name);
  [[nodiscard]] HRESULT GetSourceUrl(BSTR* url);
  [[nodiscard]] HRESULT SetSourceUrl(const OLECHAR* url);
  [[nodiscard]] HRESULT GetSourceId(DWORD* sourceId);
  [[nodiscard]] HRESULT SetSourceId(DWORD sourceId);
  // Bit kTrackFlagLastTrackInfo.
  [[nodiscard]] HRESULT GetTrackFlags(DWORD* flags);
  [[nodiscard]] HRESULT SetTrackFlags(DWORD flags);
  [[nodiscard]] HRESULT GetPairId(DWORD* pairId);
  [[nodiscard]] HRESULT SetPairId(DWORD pairId);

 private:
  DWORD m_loggerContext = 0;
};
