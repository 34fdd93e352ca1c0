#include "format/QuorTrackInfoBlock.h"

#include <array>
#include <new>

#include "core/QuorClassLoggers.h"
#include "platform/log/QuorLog.h"
#include "quormediafiles/QuorResultCodes.h"

namespace {
constexpr std::array<DWORD, 8> kSingleTrackTags = {
    kTagMediaTypes, kTagMediaSessionPlugin, kTagTrackId,    kTagTrackName,
    kTagSourceUrl,  kTagSourceId,           kTagTrackFlags, kTagPairId};
constexpr std::size_t kMaxFilters = 2;
}  // namespace

HRESULT CQuorTrackInfoBlock::VerifyBlockFields() {
  DXL_FunctionLogger logger(QuorTrackInfoBlockLogger(), "CQuorTrackInfoBlock::VerifyBlockFields",
                            this, 0, nullptr, kQuorDefaultLogLevel, m_loggerContext);
  if (GetBlockType() != btTrackInfo) return E_FAIL;
  (void)ReportFields(logger, kSingleTrackTags, kTagFilterClsid);  // missing fields do not fail
  return S_OK;
}

HRESULT CQuorTrackInfoBlock::GetMediaTypes(DWORD* mediaTypes) {
  return GetU32(kTagMediaTypes, mediaTypes);
}

HRESULT CQuorTrackInfoBlock::SetMediaTypes(DWORD mediaTypes) {
  return SetU32(kTagMediaTypes, mediaTypes);
}

HRESULT CQuorTrackInfoBlock::GetFilters(std::vector<GUID>* filters) {
  if (filters == nullptr) return E_POINTER;
  GUID filter{};
  HRESULT hr = GetGuid(kTagFilterClsid, &filter, false);
  if (FAILED(hr)) return hr;
  try {
    filters->clear();
    do {
      filters->push_back(filter);
    } while (SUCCEEDED(GetGuid(kTagFilterClsid, &filter, true)));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return filters->size() > kMaxFilters ? MFS_E_BAD_FORMAT : S_OK;
}

HRESULT CQuorTrackInfoBlock::AddFilter(const GUID& filter) {
  return SetGuid(kTagFilterClsid, filter, true);
}

HRESULT CQuorTrackInfoBlock::GetMediaSessionPlugin(GUID* plugin) {
  return GetGuid(kTagMediaSessionPlugin, plugin);
}

HRESULT CQuorTrackInfoBlock::SetMediaSessionPlugin(const GUID& plugin) {
  return SetGuid(kTagMediaSessionPlugin, plugin);
}

HRESULT CQuorTrackInfoBlock::GetTrackId(DWORD* trackId) { return GetU32(kTagTrackId, trackId); }

HRESULT CQuorTrackInfoBlock::SetTrackId(DWORD trackId) { return SetU32(kTagTrackId, trackId); }

HRESULT CQuorTrackInfoBlock::GetTrackName(BSTR* name) { return GetString(kTagTrackName, name); }

HRESULT CQuorTrackInfoBlock::SetTrackName(const OLECHAR* name) {
  return SetString(kTagTrackName, name);
}

HRESULT CQuorTrackInfoBlock::GetSourceUrl(BSTR* url) { return GetString(kTagSourceUrl, url); }

HRESULT CQuorTrackInfoBlock::SetSourceUrl(const OLECHAR* url) {
  return SetString(kTagSourceUrl, url);
}

HRESULT CQuorTrackInfoBlock::GetSourceId(DWORD* sourceId) { return GetU32(kTagSourceId, sourceId); }

HRESULT CQuorTrackInfoBlock::SetSourceId(DWORD sourceId) { return SetU32(kTagSourceId, sourceId); }

HRESULT CQuorTrackInfoBlock::GetTrackFlags(DWORD* flags) { return GetU32(kTagTrackFlags, flags); }

HRESULT CQuorTrackInfoBlock::SetTrackFlags(DWORD flags) { return SetU32(kTagTrackFlags, flags); }

HRESULT CQuorTrackInfoBlock::GetPairId(DWORD* pairId) { return GetU32(kTagPairId, pairId); }

HRESULT CQuorTrackInfoBlock::SetPairId(DWORD pairId) { return SetU32(kTagPairId, pairId); }
