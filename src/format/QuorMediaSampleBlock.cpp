#include "format/QuorMediaSampleBlock.h"

HRESULT CQuorMediaSampleBlock::VerifyBlockFields() {
  if (GetBlockType() != btMediaSample) return E_FAIL;
  const DWORD count = GetFieldCount();
  if (count == 0) return S_OK;
  return count == 1 && GetFieldTagAt(0) == kTagPayload ? S_OK : E_FAIL;
}

HRESULT CQuorMediaSampleBlock::GetPayload(const BYTE** payload, DWORD* length) {
  if (payload == nullptr || length == nullptr) return E_POINTER;
  return GetField(kTagPayload, length, payload, false);
}

HRESULT CQuorMediaSampleBlock::SetPayload(const BYTE* payload, DWORD length, bool copy) {
  if (payload == nullptr) return E_POINTER;
  return SetField(kTagPayload, length, payload, copy, false);
}
