// libFuzzer target: arbitrary bytes behind a member file signature, read as a block of every
// kind, then walked with the forward block walker, which skips over broken framing to the next
// block that reads. Every block read is also re-hashed in memory and asked for its values, so
// the accessors see whatever a damaged or hostile file can put in a block. The bytes reach the
// block classes from memory, through the byte source a storage also gives.
#include <stdlib.h>

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "format/QuorBlockFactory.h"
#include "format/QuorFileFinalizationBlock.h"
#include "format/QuorFileInfoBlock.h"
#include "format/QuorForwardBlockWalker.h"
#include "format/QuorIndexBlock.h"
#include "format/QuorMediaSampleBlock.h"
#include "format/QuorMemoryBytes.h"
#include "format/QuorTrackInfoBlock.h"
#include "platform/log/QuorLog.h"
#include "quormediafiles/platform/QuorOleAuto.h"

namespace {

// Formats every log entry and drops it, so the message paths run without filling memory.
class CQuorDiscardSink final : public DXL_Sink {
 public:
  bool Wants(DXL_EntryKind) const noexcept override { return true; }
  void Write(const DXL_Entry&) noexcept override {}
};

void FreeString(BSTR text) { SysFreeString(text); }

// Reads every byte a block hands out, so that ASan sees any value that points past its bytes.
volatile BYTE g_touched = 0;
void Touch(const BYTE* bytes, DWORD length) {
  BYTE sum = 0;
  for (DWORD i = 0; i < length; ++i) sum = static_cast<BYTE>(sum + bytes[i]);
  g_touched = sum;
}

// Asks a block that was read for everything it holds.
void Inspect(CQuorMediaFileBlock& block) {
  DWORD u32 = 0;
  ULONGLONG u64 = 0;
  GUID guid{};
  BSTR text = nullptr;
  const BYTE* bytes = nullptr;
  DWORD length = 0;
  bool flag = false;
  BYTE hash[16];
  (void)block.GetBlockIndex(&u32);
  if (SUCCEEDED(block.GetBlockHash(&bytes, &length))) Touch(bytes, length);
  for (DWORD n = 0; block.GetFieldTagAt(n) != 0; ++n) {
    if (SUCCEEDED(block.GetField(block.GetFieldTagAt(n), &length, &bytes, n != 0))) {
      Touch(bytes, length);
    }
  }
  if (auto* info = dynamic_cast<CQuorFileInfoBlock*>(&block)) {
    (void)info->GetFileSetGuid(&guid);
    (void)info->GetFileSetIndex(&u32);
    (void)info->GetFileSetCreationTime(&u64);
    (void)info->GetPasswordHash(hash, sizeof hash);
    if (SUCCEEDED(info->GetDescription(&text))) FreeString(text);
  } else if (auto* track = dynamic_cast<CQuorTrackInfoBlock*>(&block)) {
    std::vector<GUID> filters;
    (void)track->GetFilters(&filters);
    (void)track->GetMediaTypes(&u32);
    (void)track->GetMediaSessionPlugin(&guid);
    (void)track->GetTrackId(&u32);
    (void)track->GetSourceId(&u32);
    (void)track->GetTrackFlags(&u32);
    (void)track->GetPairId(&u32);
    if (SUCCEEDED(track->GetTrackName(&text))) FreeString(text);
    if (SUCCEEDED(track->GetSourceUrl(&text))) FreeString(text);
  } else if (auto* index = dynamic_cast<CQuorIndexBlock*>(&block)) {
    std::vector<DWORD> tracks;
    std::vector<CQuorMediaSampleIndex> entries;
    (void)index->GetOffsetToPreviousIndex(&u64);
    if (SUCCEEDED(index->GetTrackIds(&tracks))) {
      for (DWORD id : tracks) (void)index->GetIndexes(id, &entries);
    }
  } else if (auto* sample = dynamic_cast<CQuorMediaSampleBlock*>(&block)) {
    if (SUCCEEDED(sample->GetPayload(&bytes, &length))) Touch(bytes, length);
  } else if (auto* closing = dynamic_cast<CQuorFileFinalizationBlock*>(&block)) {
    (void)closing->GetLastFileFlag(&flag);
    if (SUCCEEDED(closing->GetFileHash(&bytes, &length))) Touch(bytes, length);
  }
  // What was read can be written again: size and hash are recomputed in memory.
  if (SUCCEEDED(block.PrepareForWrite()) && SUCCEEDED(block.ComputeSize())) {
    (void)block.ComputeHash();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  (void)DXL_Log::SetSink(std::make_shared<CQuorDiscardSink>());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The signature in front, as in every member file; the buffer is reused from input to input.
  static std::vector<BYTE> file;
  const auto signature = QuorFileSignatureBytes();
  file.assign(signature.begin(), signature.end());
  file.insert(file.end(), data, data + size);
  CQuorMemorySource source(file);

  // Every kind reads the bytes after the signature, the first block's place.
  for (const DWORD type : {btFileInfo, btTrackInfo, btIndex, btMediaSample, btFinalization}) {
    std::unique_ptr<CQuorMediaFileBlock> block = QuorNewBlockOfType(type);
    if (FAILED(source.Seek(kQuorFileSignatureSize))) abort();
    if (SUCCEEDED(block->Read(&source))) Inspect(*block);
  }

  // Damage ends no walk; only a failing storage or memory does.
  QuorForwardWalk walk;
  const HRESULT hr = CQuorForwardBlockWalker::Walk(
      source,
      [](const QuorWalkedBlock& b) {
        if (b.block != nullptr) Inspect(*b.block);
        return S_OK;
      },
      &walk);
  if (FAILED(hr) && hr != E_OUTOFMEMORY) abort();
  return 0;
}
