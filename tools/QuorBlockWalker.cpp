#include "QuorBlockWalker.h"

#include <cstdio>

#include "QuorToolText.h"
#include "format/QuorFileFinalizationBlock.h"
#include "format/QuorFileInfoBlock.h"
#include "format/QuorForwardBlockWalker.h"
#include "format/QuorIndexBlock.h"
#include "format/QuorMediaSampleBlock.h"
#include "format/QuorTrackInfoBlock.h"
#include "quormediafiles/QuorMediaFilesCpp.h"
#include "quormediafiles/platform/QuorGuid.h"
#include "storage/QuorFileStorage.h"

namespace {

// Takes ownership of value.
std::string TakeString(BSTR value) {
  CQuorBstr owner;
  owner.Attach(value);
  return owner.ToUtf8();
}

void FileInfoFields(CQuorFileInfoBlock& block, nlohmann::ordered_json* fields) {
  GUID guid = GUID_NULL;
  if (SUCCEEDED(block.GetFileSetGuid(&guid))) (*fields)["fileset_guid"] = QuorGuidToString(guid);
  DWORD index = 0;
  if (SUCCEEDED(block.GetFileSetIndex(&index))) (*fields)["fileset_index"] = index;
  ULONGLONG created = 0;
  if (SUCCEEDED(block.GetFileSetCreationTime(&created))) (*fields)["creation_time"] = created;
  BSTR description = nullptr;
  const HRESULT hr = block.GetDescription(&description);
  if (SUCCEEDED(hr)) (*fields)["description"] = TakeString(description);
  BYTE hash[kHashSize];
  (*fields)["password"] = SUCCEEDED(block.GetPasswordHash(hash, kHashSize));
}

void TrackInfoFields(CQuorTrackInfoBlock& block, nlohmann::ordered_json* fields) {
  DWORD value = 0;
  if (SUCCEEDED(block.GetTrackId(&value))) (*fields)["track_id"] = value;
  BSTR text = nullptr;
  HRESULT hr = block.GetTrackName(&text);
  if (SUCCEEDED(hr)) (*fields)["name"] = TakeString(text);
  if (SUCCEEDED(block.GetMediaTypes(&value))) {
    std::vector<std::string> kinds;
    if (value & kMediaTypeVideo) kinds.emplace_back("video");
    if (value & kMediaTypeAudio) kinds.emplace_back("audio");
    (*fields)["media"] = kinds;
  }
  std::vector<GUID> filters;
  if (SUCCEEDED(block.GetFilters(&filters))) {
    nlohmann::ordered_json formats = nlohmann::ordered_json::array();
    for (const GUID& filter : filters) {
      const std::string braced = QuorGuidToString(filter);
      const std::string name = QuorFormatName(braced);
      formats.push_back(name.empty() ? braced : name);
    }
    (*fields)["formats"] = formats;
  }
  if (SUCCEEDED(block.GetSourceId(&value))) (*fields)["source_id"] = value;
  hr = block.GetSourceUrl(&text);
  if (SUCCEEDED(hr)) (*fields)["source_url"] = TakeString(text);
  if (SUCCEEDED(block.GetPairId(&value))) (*fields)["pair_id"] = value;
  if (SUCCEEDED(block.GetTrackFlags(&value))) (*fields)["track_flags"] = value;
}

void IndexFields(CQuorIndexBlock& block, nlohmann::ordered_json* fields) {
  ULONGLONG previous = 0;
  if (SUCCEEDED(block.GetOffsetToPreviousIndex(&previous))) (*fields)["previous_index"] = previous;
  (*fields)["entries"] = block.GetEntryCount();
  std::vector<DWORD> trackIds;
  if (FAILED(block.GetTrackIds(&trackIds))) return;
  nlohmann::ordered_json tracks = nlohmann::ordered_json::array();
  for (DWORD id : trackIds) {
    std::vector<CQuorMediaSampleIndex> entries;
    if (FAILED(block.GetIndexes(id, &entries)) || entries.empty()) continue;
    nlohmann::ordered_json track;
    track["track_id"] = id;
    track["entries"] = entries.size();
    track["first_timestamp"] = entries.front().m_timestamp;
    track["last_timestamp"] = entries.back().m_timestamp;
    tracks.push_back(track);
  }
  (*fields)["tracks"] = tracks;
}

void MediaSampleFields(CQuorMediaSampleBlock& block, nlohmann::ordered_json* fields) {
  const BYTE* payload = nullptr;
  DWORD length = 0;
  if (FAILED(block.GetPayload(&payload, &length))) return;
  (*fields)["payload_size"] = length;
  (*fields)["payload_md5"] = QuorPayloadMd5({payload, length});
}

void FinalizationFields(CQuorFileFinalizationBlock& block, nlohmann::ordered_json* fields) {
  bool last = false;
  if (SUCCEEDED(block.GetLastFileFlag(&last))) (*fields)["last_file"] = last;
  const BYTE* hash = nullptr;
  DWORD length = 0;
  if (SUCCEEDED(block.GetFileHash(&hash, &length)))
    (*fields)["file_hash"] = QuorHex({hash, length});
}

void KindFields(CQuorMediaFileBlock& block, nlohmann::ordered_json* fields) {
  switch (block.GetBlockType()) {
    case btFileInfo:
      FileInfoFields(static_cast<CQuorFileInfoBlock&>(block), fields);
      break;
    case btTrackInfo:
      TrackInfoFields(static_cast<CQuorTrackInfoBlock&>(block), fields);
      break;
    case btIndex:
      IndexFields(static_cast<CQuorIndexBlock&>(block), fields);
      break;
    case btMediaSample:
      MediaSampleFields(static_cast<CQuorMediaSampleBlock&>(block), fields);
      break;
    case btFinalization:
      FinalizationFields(static_cast<CQuorFileFinalizationBlock&>(block), fields);
      break;
    default:
      break;
  }
}

}  // namespace

const QuorBlockRecord* QuorBlockWalk::FirstDamaged() const noexcept {
  for (const QuorBlockRecord& b : blocks) {
    if (b.Damaged()) return &b;
  }
  return nullptr;
}

QuorBlockWalk QuorWalkBlocks(const std::string& path) {
  CQuorFileStorage storage;
  QuorCheck(storage.OpenFileForInspection(QuorUtf8ToUtf16(path).c_str()), "OpenFileForInspection");
  QuorBlockWalk walk;
  QuorCheck(CQuorForwardBlockWalker::Walk(
                *storage.GetReader(),
                [&](const QuorWalkedBlock& b) {
                  QuorBlockRecord record;
                  static_cast<QuorWalkedBlock&>(record) = b;
                  record.block = nullptr;
                  if (b.block) KindFields(*b.block, &record.fields);
                  walk.blocks.push_back(std::move(record));
                  return S_OK;
                },
                &walk.forward),
            "walking " + path);
  return walk;
}

nlohmann::ordered_json QuorToJson(const QuorBlockWalk& walk) {
  nlohmann::ordered_json j;
  j["file_size"] = walk.forward.fileSize;
  j["signature_valid"] = walk.forward.signatureValid;
  j["blocks"] = nlohmann::ordered_json::array();
  for (const QuorBlockRecord& b : walk.blocks) {
    nlohmann::ordered_json block;
    block["offset"] = b.offset;
    block["type"] = QuorBlockTypeName(b.type);
    block["size"] = b.size;
    block["block_index"] = b.blockIndex ? nlohmann::ordered_json(*b.blockIndex) : nullptr;
    block["hash_valid"] = b.hashValid;
    block["index_in_sequence"] = b.indexInSequence;
    if (b.fileHashValid) block["file_hash_valid"] = *b.fileHashValid;
    block["fields"] = b.fields.is_null() ? nlohmann::ordered_json::object() : b.fields;
    j["blocks"].push_back(block);
  }
  j["skipped"] = nlohmann::ordered_json::array();
  for (const QuorSkippedBytes& skip : walk.forward.skipped) {
    j["skipped"].push_back(
        {{"offset", skip.offset}, {"length", skip.length}, {"reason", skip.reason}});
  }
  j["end"] = walk.forward.end;
  j["end_offset"] = walk.forward.endOffset;
  j["clean_end"] = walk.forward.cleanEnd;
  return j;
}

void QuorPrintWalk(const std::string& path, const QuorBlockWalk& walk) {
  std::printf("%s: %llu bytes, signature %s\n", path.c_str(),
              static_cast<unsigned long long>(walk.forward.fileSize),
              walk.forward.signatureValid ? "ok" : "BAD");
  std::printf("%10s  %-12s %8s %7s  %-5s  %s\n", "offset", "type", "size", "index", "hash",
              "fields");
  auto skip = walk.forward.skipped.begin();
  auto printSkipsBefore = [&](ULONGLONG offset) {
    for (; skip != walk.forward.skipped.end() && skip->offset < offset; ++skip) {
      std::printf("%10llu  DAMAGED: %s; %llu bytes skipped\n",
                  static_cast<unsigned long long>(skip->offset), skip->reason.c_str(),
                  static_cast<unsigned long long>(skip->length));
    }
  };
  for (const QuorBlockRecord& b : walk.blocks) {
    printSkipsBefore(b.offset);
    std::string fields;
    for (const auto& [key, value] : b.fields.items()) {
      if (!fields.empty()) fields += ' ';
      fields += key + "=" + (value.is_string() ? value.get<std::string>() : value.dump());
    }
    if (!b.indexInSequence) fields += " INDEX-OUT-OF-SEQUENCE";
    if (b.fileHashValid) fields += *b.fileHashValid ? " file-hash=ok" : " FILE-HASH-MISMATCH";
    const std::string index = b.blockIndex ? std::to_string(*b.blockIndex) : "-";
    std::printf("%10llu  %-12s %8u %7s  %-5s  %s\n", static_cast<unsigned long long>(b.offset),
                QuorBlockTypeName(b.type), static_cast<unsigned>(b.size), index.c_str(),
                b.hashValid ? "ok" : "BAD", fields.c_str());
  }
  printSkipsBefore(walk.forward.fileSize + 1);
  std::printf("%10llu  %s\n", static_cast<unsigned long long>(walk.forward.endOffset),
              walk.forward.end.c_str());
}
