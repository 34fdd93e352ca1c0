#include "format/QuorFileInfoBlock.h"

#include <array>
#include <cstring>

#include "core/QuorClassLoggers.h"
#include "platform/log/QuorLog.h"

namespace {
constexpr std::array<DWORD, 6> kFileInfoTags = {kTagOpaque,       kTagFileSetGuid,
                                                kTagFileSetIndex, kTagCreationTime,
                                                kTagDescription,  kTagPasswordHash};
}  // namespace

HRESULT CQuorFileInfoBlock::VerifyBlockFields() {
  DXL_FunctionLogger logger(QuorFileInfoBlockLogger(), "CQuorFileInfoBlock::VerifyBlockFields",
                            this, 0, nullptr, kQuorDefaultLogLevel, m_loggerContext);
  if (GetBlockType() != btFileInfo) return E_FAIL;
  (void)ReportFields(logger, kFileInfoTags);  // what is missing or repeated does not fail
  return S_OK;
}

HRESULT CQuorFileInfoBlock::GetFileSetGuid(GUID* guid) { return GetGuid(kTagFileSetGuid, guid); }

HRESULT CQuorFileInfoBlock::SetFileSetGuid(const GUID& guid) {
  return SetGuid(kTagFileSetGuid, guid);
}

HRESULT CQuorFileInfoBlock::GetFileSetIndex(DWORD* index) {
  return GetU32(kTagFileSetIndex, index);
}

HRESULT CQuorFileInfoBlock::SetFileSetIndex(DWORD index) { return SetU32(kTagFileSetIndex, index); }

HRESULT CQuorFileInfoBlock::GetFileSetCreationTime(ULONGLONG* seconds) {
  return GetU64(kTagCreationTime, seconds);
}

HRESULT CQuorFileInfoBlock::SetFileSetCreationTime(ULONGLONG seconds) {
  return SetU64(kTagCreationTime, seconds);
}

HRESULT CQuorFileInfoBlock::GetDescription(BSTR* description) {
  return GetString(kTagDescription, description);
}

HRESULT CQuorFileInfoBlock::SetDescription(const OLECHAR* description) {
  return SetString(kTagDescription, description);
}

HRESULT CQuorFileInfoBlock::GetPasswordHash(BYTE* hash, DWORD size) {
  if (hash == nullptr) return E_POINTER;
  if (size != kHashSize) return E_INVALIDARG;
  DWORD length = 0;
  const BYTE* value = nullptr;
  const HRESULT hr = GetField(kTagPasswordHash, &length, &value, false);
  if (FAILED(hr)) return hr;
  std::memcpy(hash, value, kHashSize);
  return S_OK;
}

HRESULT CQuorFileInfoBlock::SetPassword(const BYTE* hash, DWORD size) {
  if (hash == nullptr) return E_POINTER;
  if (size != kHashSize) return E_INVALIDARG;
  return SetField(kTagPasswordHash, kHashSize, hash, true, false);
}
