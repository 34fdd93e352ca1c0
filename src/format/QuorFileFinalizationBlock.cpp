#include "format/QuorFileFinalizationBlock.h"

#include <array>

#include "core/QuorClassLoggers.h"
#include "platform/log/QuorLog.h"

namespace {
constexpr std::array<DWORD, 2> kFinalizationTags = {kTagLastFileFlag, kTagFileHash};
}  // namespace

HRESULT CQuorFileFinalizationBlock::VerifyBlockFields() {
  DXL_FunctionLogger logger(QuorFileFinalizationBlockLogger(),
                            "CQuorFileFinalizationBlock::VerifyBlockFields", this, 0, nullptr,
                            kQuorDefaultLogLevel, m_loggerContext);
  if (GetBlockType() != btFinalization) return E_FAIL;
  (void)ReportFields(logger, kFinalizationTags);  // the reader reports what is missing
  return S_OK;
}

HRESULT CQuorFileFinalizationBlock::GetLastFileFlag(bool* lastFile) {
  if (lastFile == nullptr) return E_POINTER;
  DWORD length = 0;
  const BYTE* value = nullptr;
  const HRESULT hr = GetField(kTagLastFileFlag, &length, &value, false);
  if (FAILED(hr)) return hr;
  *lastFile = (value[0] & 0x01) != 0;
  return S_OK;
}

HRESULT CQuorFileFinalizationBlock::SetLastFileFlag(bool lastFile) {
  return SetU32(kTagLastFileFlag, lastFile ? 1 : 0);
}

HRESULT CQuorFileFinalizationBlock::GetFileHash(const BYTE** hash, DWORD* length) {
  if (hash == nullptr || length == nullptr) return E_POINTER;
  return GetField(kTagFileHash, length, hash, false);
}

HRESULT CQuorFileFinalizationBlock::SetFileHash(const BYTE* hash, DWORD length) {
  if (hash == nullptr) return E_POINTER;
  return SetField(kTagFileHash, length, hash, true, false);
}
