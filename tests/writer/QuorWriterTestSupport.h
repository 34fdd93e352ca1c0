// Verbs shared by the writer tests: make value objects, record samples, wait for the worker,
// and check a finalized member file as the shared block parser reads it.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "quormediafiles/QuorMediaFiles.h"
#include "quormediafiles/platform/QuorComPtr.h"
#include "quormediafiles/platform/QuorOleAuto.h"
#include "support/QuorBlockParser.h"

class CQuorFileSystem;

CQuorComPtr<IQuorMediaFileWriter> NewWriter();
// A writer whose files go through fileSystem.
CQuorComPtr<IQuorMediaFileWriter> NewWriter(CQuorFileSystem& fileSystem);
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
CQuorComPtr<IQuorMediaFileRecordingStatus> StatusOf(IQuorMediaFileWriter* writer);
WriterStateEnum StateOf(IQuorMediaFileWriter* writer);
ULONGLONG BytesWrittenTotal(IQuorMediaFileWriter* writer);

// The checks every finalized member file passes: layout, hashes, index entries, size limit.
void ExpectWellFormed(const ParsedFile& file, bool lastFile, ULONGLONG maxSize);
