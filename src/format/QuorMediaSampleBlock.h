// CQuorMediaSampleBlock: the payload of one media sample (type 0x400) and nothing else; the
// sample's track, timestamp and flags are in its index entry. The writer builds one per sample
// and sets the payload without copy, so building one costs no copy of the payload; the sample's
// buffer must then outlive the block's Write.
#pragma once

#include "format/QuorMediaFileBlock.h"

class CQuorMediaSampleBlock : public CQuorMediaFileBlock {
 public:
  CQuorMediaSampleBlock() noexcept : CQuorMediaFileBlock(btMediaSample) {}

  // No own field, or exactly one payload field: S_OK; anything else or another block type:
  // E_FAIL. Logs nothing.
  [[nodiscard]] HRESULT VerifyBlockFields() override;

  // The payload stays the block's (after a Read it lives in the read buffer).
  [[nodiscard]] HRESULT GetPayload(const BYTE** payload, DWORD* length);
  // Replaces the payload; length 0: E_INVALIDARG.
  [[nodiscard]] HRESULT SetPayload(const BYTE* payload, DWORD length, bool copy);
};
