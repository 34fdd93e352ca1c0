#include "support/QuorBlockParser.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "core/QuorMD5Hash.h"
#include "format/QuorFileFinalizationBlock.h"
#include "format/QuorFileInfoBlock.h"
#include "format/QuorFormatLayout.h"
#include "format/QuorForwardBlockWalker.h"
#include "format/QuorIndexBlock.h"
#include "format/QuorMediaSampleBlock.h"
#include "format/QuorTrackInfoBlock.h"
#include "storage/QuorFileStorage.h"

namespace {

// Takes what the file keeps in a block that has been read; false when a value is missing.
bool Collect(CQuorMediaFileBlock& block, ULONGLONG offset, ParsedFile& file) {
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
  }
  return true;
}

}  // namespace

const ParsedBlock& ParsedFile::First(DWORD type, std::size_t skip) const {
  for (const ParsedBlock& block : blocks) {
    if (block.type == type && skip-- == 0) return block;
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
  CQuorFileStorage storage;
  EXPECT_EQ(storage.OpenFileForInspection(dir.WidePath(name).c_str()), S_OK) << name;
  // The walk stops at the first block that does not read whole or lacks a value the file keeps.
  constexpr HRESULT kTorn = E_ABORT;
  QuorForwardWalk walk;
  const HRESULT hr = CQuorForwardBlockWalker::Walk(
      *storage.GetReader(),
      [&](const QuorWalkedBlock& b) {
        if (!walk.skipped.empty() || !b.blockIndex || !Collect(*b.block, b.offset, file)) {
          return kTorn;
        }
        if (b.fileHashValid) file.fileHashValid = *b.fileHashValid;
        file.blocks.push_back({b.type, b.offset, b.size, *b.blockIndex, b.hashValid});
        return S_OK;
      },
      &walk);
  file.size = walk.fileSize;
  file.torn = hr == kTorn || !walk.signatureValid || walk.endOffset < walk.fileSize;
  EXPECT_TRUE(hr == S_OK || hr == kTorn) << name << ": walk failed with " << std::hex << hr;
  if (file.torn && !allowTorn) {
    ADD_FAILURE() << name << ": no readable block after offset "
                  << (file.blocks.empty() ? 0 : file.blocks.back().offset);
  }
  return file;
}

void ForgeByte(const CQuorTempDir& dir, const std::string& name, std::size_t offset,
               bool fileHash) {
  const ParsedFile parsed = ParseFile(dir, name);
  Bytes bytes = dir.ReadBytes(name);
  bytes.at(offset) ^= 0x5A;
  const auto store = [&](CQuorMD5Hash& hash, std::size_t at) {
    BYTE digest[kQuorMD5DigestSize];
    EXPECT_EQ(hash.GetDigest(digest), S_OK);
    std::copy_n(digest, kHashSize, &bytes[at]);
  };
  const auto rehash = [&](const ParsedBlock& block) {
    CQuorMD5Hash hash;
    EXPECT_EQ(hash.AddData(&bytes[block.offset], static_cast<DWORD>(block.size - kHashSize)), S_OK);
    store(hash, block.offset + block.size - kHashSize);
  };
  for (const ParsedBlock& block : parsed.blocks) {
    if (offset >= block.offset && offset < block.offset + block.size) rehash(block);
  }
  if (fileHash) {
    CQuorMD5Hash hash;
    for (std::size_t i = 0; i + 1 < parsed.blocks.size(); ++i) {
      const ParsedBlock& block = parsed.blocks[i];
      EXPECT_EQ(hash.AddData(&bytes[block.offset + block.size - kHashSize], kHashSize), S_OK);
    }
    // Finalization block: header | last-file flag field | file hash field | base fields.
    const ParsedBlock& last = parsed.blocks.back();
    store(hash, last.offset + kBlockHeaderSize + kU32FieldSize + kFieldHeaderSize);
    rehash(last);
  }
  dir.WriteBytes(name, bytes);
}
