#include "support/QuorBlockParser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

#include "core/QuorLittleEndian.h"
#include "core/QuorMD5Hash.h"
#include "format/QuorBlockFactory.h"
#include "format/QuorFileFinalizationBlock.h"
#include "format/QuorFileInfoBlock.h"
#include "format/QuorFormatLayout.h"
#include "format/QuorIndexBlock.h"
#include "format/QuorMediaSampleBlock.h"
#include "format/QuorTrackInfoBlock.h"
#include "storage/QuorFileStorage.h"

namespace {

// Takes what the file keeps in a block that has been read; false when a value is missing.
bool Collect(CQuorMediaFileBlock& block, ULONGLONG offset, CQuorMD5Hash& fileHash,
             ParsedFile& file) {
  if (auto* info = dynamic_cast<CQuorFileInfoBlock*>(&block)) {
    (void)info->GetFileSetIndex(&file.fileSetIndex);  // a single file may leave it out
    file.passwordHash.resize(kQuorMD5DigestSize);
    if (FAILED(info->GetPasswordHash(file.passwordHash.data(), kQuorMD5DigestSize))) {
      file.passwordHash.clear();
    }
    return SUCCEEDED(info->GetFileSetGuid(&file.fileSetGuid));
  }
  if (auto* sample = dynamic_cast<CQuorMediaSampleBlock*>(&block)) {
    const BYTE* payload = nullptr;
    DWORD length = 0;
    if (FAILED(sample->GetPayload(&payload, &length))) return false;
    file.payloads[offset] = Bytes(payload, payload + length);
  }
  if (auto* index = dynamic_cast<CQuorIndexBlock*>(&block)) {
    std::vector<DWORD> tracks;
    ULONGLONG previous = 0;
    if (FAILED(index->GetTrackIds(&tracks)) || FAILED(index->GetOffsetToPreviousIndex(&previous))) {
      return false;
    }
    file.previousIndexOffsets.push_back(previous);
    for (DWORD track : tracks) {
      std::vector<CQuorMediaSampleIndex> entries;
      if (FAILED(index->GetIndexes(track, &entries))) return false;
      file.entries.insert(file.entries.end(), entries.begin(), entries.end());
    }
  }
  if (auto* finalization = dynamic_cast<CQuorFileFinalizationBlock*>(&block)) {
    const BYTE* hash = nullptr;
    DWORD length = 0;
    if (FAILED(finalization->GetLastFileFlag(&file.lastFile)) ||
        FAILED(finalization->GetFileHash(&hash, &length)) || length != kQuorMD5DigestSize) {
      return false;
    }
    file.finalized = true;
    file.fileHashValid = fileHash.IsSame(hash);
  }
  return true;
}

}  // namespace

const ParsedBlock& ParsedFile::First(DWORD type, std::size_t from) const {
  for (std::size_t i = from; i < blocks.size(); ++i) {
    if (blocks[i].type == type) return blocks[i];
  }
  throw std::out_of_range("no such block");
}

const ParsedBlock& ParsedFile::Last(DWORD type) const {
  for (auto it = blocks.rbegin(); it != blocks.rend(); ++it) {
    if (it->type == type) return *it;
  }
  throw std::out_of_range("no such block");
}

ParsedFile ParseFile(const CQuorTempDir& dir, const std::string& name, bool allowTorn) {
  ParsedFile file;
  const Bytes bytes = dir.ReadBytes(name);
  file.size = bytes.size();
  const auto signature = QuorFileSignatureBytes();
  CQuorFileStorage storage;
  CQuorMD5Hash fileHash;
  ULONGLONG pos = signature.size();
  bool ok = bytes.size() >= pos && std::equal(signature.begin(), signature.end(), bytes.begin()) &&
            SUCCEEDED(storage.OpenFileForInspection(dir.WidePath(name).c_str()));
  while (ok && pos < bytes.size()) {
    ParsedBlock parsed{pos + 8 <= bytes.size() ? DecodeU32(&bytes[pos]) : 0, pos};
    parsed.size = kBlockHeaderSize + (pos + 8 <= bytes.size() ? DecodeU32(&bytes[pos + 4]) : 0);
    std::unique_ptr<CQuorMediaFileBlock> block = QuorNewBlockOfType(parsed.type);
    const BYTE* hash = nullptr;
    DWORD length = 0;
    ok = block && parsed.size >= kEmptyBlockSize && pos + parsed.size <= bytes.size() &&
         SUCCEEDED(storage.Seek(0, LONGLONG(pos), soBegin)) &&
         SUCCEEDED(block->Read(storage.GetReader())) &&
         SUCCEEDED(block->GetBlockIndex(&parsed.blockIndex)) &&
         SUCCEEDED(block->GetBlockHash(&hash, &length)) && length == kQuorMD5DigestSize &&
         Collect(*block, pos, fileHash, file);
    if (!ok) break;
    parsed.hashValid = block->IsHashValid();
    EXPECT_TRUE(parsed.type == btFinalization || SUCCEEDED(fileHash.AddData(hash, length)));
    file.blocks.push_back(parsed);
    pos += parsed.size;
  }
  if (!ok) {
    if (!allowTorn) ADD_FAILURE() << name << ": no readable block at offset " << pos;
    file.torn = true;
  }
  return file;
}
