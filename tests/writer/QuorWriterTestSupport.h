// Verbs shared by the writer tests: make value objects, record samples, wait for the worker,
// and parse a member file back into its blocks with the format's own block classes.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <string>
#include <vector>

#include "format/QuorMediaSampleIndex.h"
#include "quormediafiles/QuorMediaFiles.h"
#include "quormediafiles/platform/QuorComPtr.h"
#include "quormediafiles/platform/QuorOleAuto.h"
#include "support/QuorTempDir.h"

using Hash = std::array<BYTE, 16>;

struct ParsedBlock {
  DWORD type = 0;
  ULONGLONG offset = 0;
  DWORD blockIndex = 0;
  bool hashValid = false;
  Hash hash{};
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
  DWORD fileSetIndex = 0;
  GUID fileSetGuid = GUID_NULL;
  ULONGLONG size = 0;
};

CQuorComPtr<IQuorMediaFileWriter> NewWriter();
CQuorComPtr<IQuorTrackMetadata> NewTrack(ULONG trackId, const char* name, bool video = true,
                                         bool audio = false);
CQuorComPtr<IQuorMediaFileSample> NewSample(const Bytes& payload, ULONGLONG timestamp,
                                            ULONG flags = 0x03);
CQuorBstr Wide(const std::string& text);

// Initialize + one video track (id 1) + StartRecording; asserts on the way.
void StartSimpleRecording(IQuorMediaFileWriter* writer, const std::string& path, ULONG maxSizeKiB,
                          ULONG maxFiles);
// Waits until the status reports at least this many bytes or a finished writer.
void WaitForBytes(IQuorMediaFileWriter* writer, ULONGLONG bytesTotal);
WriterStateEnum StateOf(IQuorMediaFileWriter* writer);

// Parses a member file; blocks that do not read fail the test unless allowTorn.
ParsedFile ParseFile(const CQuorTempDir& dir, const std::string& name, bool allowTorn = false);
// The checks every finalized member file passes: layout, hashes, index entries, size limit.
void ExpectWellFormed(const ParsedFile& file, bool lastFile, ULONGLONG maxSize);
