// libFuzzer target: arbitrary bytes behind a member file signature, read as a block of every
// kind, then walked with the forward block walker, which skips over broken framing to the next
// block that reads. Every block read is also re-hashed in memory and asked for its values, so
// the accessors see whatever a damaged or hostile file can put in a block. The bytes reach the
// block classes through a real file and the storage's byte reader.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "format/QuorBlockFactory.h"
#include "format/QuorFileFinalizationBlock.h"
#include "format/QuorFileInfoBlock.h"
#include "format/QuorForwardBlockWalker.h"
#include "format/QuorIndexBlock.h"
#include "format/QuorMediaSampleBlock.h"
#include "format/QuorTrackInfoBlock.h"
#include "platform/log/QuorLog.h"
#include "quormediafiles/platform/QuorOleAuto.h"
#include "storage/QuorFileStorage.h"

namespace {

// Formats every log entry and drops it, so the message paths run without filling memory.
class CQuorDiscardSink final : public DXL_Sink {
 public:
  bool Wants(DXL_EntryKind) const noexcept override { return true; }
  void Write(const DXL_Entry&) noexcept override {}
};

std::string g_directory;
std::string g_path;
std::u16string g_widePath;

void RemoveDirectory() {
  std::error_code error;
  std::filesystem::remove_all(g_directory, error);
}

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
  const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  std::string pattern = std::string(base) + "/quor_block_fuzz_XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) abort();
  g_directory = pattern;
  g_path = g_directory + "/input.vid";
  g_widePath = QuorUtf8ToUtf16(g_path);
  atexit(RemoveDirectory);
  (void)DXL_Log::SetSink(std::make_shared<CQuorDiscardSink>());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(g_path.c_str(), "wb");
  if (file == nullptr) abort();
  const auto signature = QuorFileSignatureBytes();
  if (std::fwrite(signature.data(), 1, signature.size(), file) != signature.size()) abort();
  if (size != 0 && std::fwrite(data, 1, size, file) != size) abort();
  std::fclose(file);

  CQuorFileStorage storage;
  if (FAILED(storage.OpenFileForInspection(g_widePath.c_str()))) abort();

  // Every kind reads the bytes after the signature, the first block's place.
  for (const DWORD type : {btFileInfo, btTrackInfo, btIndex, btMediaSample, btFinalization}) {
    std::unique_ptr<CQuorMediaFileBlock> block = QuorNewBlockOfType(type);
    if (FAILED(storage.Seek(0, kQuorFileSignatureSize, soBegin))) abort();
    if (SUCCEEDED(block->Read(storage.GetReader()))) Inspect(*block);
  }

  // Damage ends no walk; only a failing storage or memory does.
  QuorForwardWalk walk;
  const HRESULT hr = CQuorForwardBlockWalker::Walk(
      storage, 0,
      [](const QuorWalkedBlock& b) {
        if (b.block != nullptr) Inspect(*b.block);
        return S_OK;
      },
      &walk);
  if (FAILED(hr) && hr != E_OUTOFMEMORY) abort();
  return 0;
}
