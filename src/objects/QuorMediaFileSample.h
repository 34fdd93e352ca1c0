// CQuorMediaFileSample: one timestamped media sample with its payload (coclass
// QuorMediaFileSample). It owns a copy of the payload array. Besides IQuorMediaFileSample it
// answers the library's IQuorMediaFileSampleAccess: a borrowed view of the payload bytes for
// the writer, and taking a payload array over without a copy for the reader. An in-process
// caller that hands the writer one sample after another may instead lend it bytes it keeps
// itself (LendPayload), so that nothing is allocated per sample. No lock.
#pragma once

#include <cstdint>

#include "format/QuorFormatLayout.h"
#include "platform/automation/QuorDispatchObject.h"
#include "quormediafiles/QuorMediaFiles.h"

class CQuorMediaFileSample final
    : public CQuorDispatchObject<IQuorMediaFileSample, IQuorMediaFileSampleAccess> {
 public:
  CQuorMediaFileSample() noexcept = default;

  HRESULT GetTimestamp(ULONGLONG* pnTime) override;
  HRESULT SetTimestamp(ULONGLONG nTime) override;
  HRESULT GetFlags(VARIANT_BOOL* pvbIsKeyFrame, VARIANT_BOOL* pvbHasVideo,
                   VARIANT_BOOL* pvbHasAudio) override;
  HRESULT SetFlags(VARIANT_BOOL vbIsKeyFrame, VARIANT_BOOL vbHasVideo,
                   VARIANT_BOOL vbHasAudio) override;
  HRESULT GetPayloadData(SAFEARRAY** ppsaData) override;
  HRESULT SetPayloadData(SAFEARRAY** ppsaData) override;
  HRESULT GetSampleFlags(ULONG* pnFlags) override;
  HRESULT SetSampleFlags(ULONG nFlags) override;

  HRESULT GetPayloadView(const BYTE** ppData, ULONG* pcbData) override;
  HRESULT TakePayload(SAFEARRAY* psaData) override;
  // The payload becomes length bytes at data, which the caller keeps unchanged and alive until
  // the sample is given another payload or released; the array held before is freed. length 0
  // is an empty payload.
  void LendPayload(const BYTE* data, ULONG length) noexcept;

  // Sample flags.
  static constexpr ULONG kKeyFrame = 0x01;
  static constexpr ULONG kVideo = 0x02;
  static constexpr ULONG kAudio = 0x04;
  static constexpr ULONG kNotKeyFrame = 0x08;
  static constexpr ULONG kFrameMark = 0x10;
  static constexpr ULONG kMediaGroup = kVideo | kAudio;
  static constexpr ULONG kFrameGroup = kKeyFrame | kNotKeyFrame | kFrameMark;

  // An index entry keeps key frame, video and audio as they are and the frame mark 0x10 as its
  // bit 0x08; "not a key frame" is not stored and comes back whenever neither key frame nor the
  // mark is there.
  static constexpr DWORD EntryFlagsFromSampleFlags(ULONG sampleFlags) noexcept {
    DWORD entry = sampleFlags & (kKeyFrame | kVideo | kAudio);
    if (sampleFlags & kFrameMark) entry |= kEntryFlagSample10;
    return entry;
  }
  static constexpr ULONG SampleFlagsFromEntryFlags(DWORD entryFlags) noexcept {
    ULONG flags = entryFlags & (kEntryFlagKeyFrame | kEntryFlagVideo | kEntryFlagAudio);
    if (entryFlags & kEntryFlagSample10) flags |= kFrameMark;
    if (!(entryFlags & (kEntryFlagKeyFrame | kEntryFlagSample10))) flags |= kNotKeyFrame;
    return flags;
  }

  // Set bits.
  static constexpr std::uint8_t kTimestampSet = 0x01;
  static constexpr std::uint8_t kSampleFlagsSet = 0x02;
  static constexpr std::uint8_t kPayloadSet = 0x04;

 private:
  std::uint8_t m_setBits = 0;
  ULONGLONG m_timestamp = 0;
  ULONG m_sampleFlags = 0;
  CQuorSafeArray m_payload;  // VT_UI1, one dimension
  // The payload's bytes: the array's, or lent ones when there is no array.
  const BYTE* m_data = nullptr;
  ULONG m_length = 0;
};
