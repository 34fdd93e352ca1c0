// Reads a member file back block by block with the library's forward block walker: where each
// block lies, its index and whether its hash holds, the index entries and payloads, and the
// file info and finalization values. The recording tests check what the writer left; the
// reading tests find the block they damage.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "format/QuorMediaSampleIndex.h"
#include "support/QuorTempDir.h"

struct ParsedBlock {
  DWORD type = 0;
  ULONGLONG offset = 0;
  ULONGLONG size = 0;  // header and field area
  DWORD blockIndex = 0;
  bool hashValid = false;
};

struct ParsedFile {
  std::vector<ParsedBlock> blocks;             // complete blocks, in file order
  std::vector<CQuorMediaSampleIndex> entries;  // of every index block, in file order
  std::vector<ULONGLONG> previousIndexOffsets;
  std::map<ULONGLONG, Bytes> payloads;  // media sample blocks by offset
  bool finalized = false;
  bool lastFile = false;
  bool fileHashValid = false;  // the finalization block's file hash matches the blocks
  bool torn = false;           // bytes after the last complete block
  DWORD fileSetIndex = 0xFFFFFFFF;
  GUID fileSetGuid = GUID_NULL;
  Bytes passwordHash;  // empty without a password
  ULONGLONG size = 0;

  // The first block of a type after the first `skip` of them (throws when there is none).
  const ParsedBlock& First(DWORD type, std::size_t skip = 0) const;
  const ParsedBlock& Last(DWORD type) const;
};

// Blocks that do not read (and a damaged signature) fail the test unless allowTorn.
ParsedFile ParseFile(const CQuorTempDir& dir, const std::string& name, bool allowTorn = false);

// Changes the byte at offset of a finalized member file and recomputes the hash of its block,
// and with fileHash the file hash and the finalization block's own hash too: a change that only
// the blocks' sequence (without fileHash) or a seal (with it) can tell.
void ForgeByte(const CQuorTempDir& dir, const std::string& name, std::size_t offset, bool fileHash);
