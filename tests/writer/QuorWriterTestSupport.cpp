#include "QuorWriterTestSupport.h"

#include <chrono>
#include <thread>

#include "format/QuorFormatLayout.h"
#include "quormediafiles/QuorMediaFilesCpp.h"
#include "support/QuorFaultyFileSystem.h"
#include "support/QuorGot.h"
#include "writer/QuorMediaFileWriter.h"

CQuorBstr Wide(const std::string& text) { return CQuorBstr::FromUtf8(text); }

CQuorComPtr<IQuorMediaFileWriter> NewWriter() {
  return CreateObject<IQuorMediaFileWriter>(CLSID_QuorMediaFileWriter);
}

CQuorComPtr<IQuorMediaFileWriter> NewWriter(CQuorFileSystem& fileSystem) {
  return QuorNewObjectOver<IQuorMediaFileWriter, CQuorMediaFileWriter>(fileSystem);
}

CQuorComPtr<IQuorTrackMetadata> NewTrack(ULONG trackId, const char* name, bool video, bool audio) {
  auto track = CreateObject<IQuorTrackMetadata>(CLSID_QuorTrackMetadata);
  EXPECT_EQ(track->SetTrackId(trackId), S_OK);
  EXPECT_EQ(track->SetTrackName(Wide(name).Get()), S_OK);
  EXPECT_EQ(track->SetVideoFlag(video ? VARIANT_TRUE : VARIANT_FALSE), S_OK);
  EXPECT_EQ(track->SetAudioFlag(audio ? VARIANT_TRUE : VARIANT_FALSE), S_OK);
  return track;
}

CQuorComPtr<IQuorMediaFileSample> NewSample(const Bytes& payload, ULONGLONG timestamp,
                                            ULONG flags) {
  auto sample = CreateObject<IQuorMediaFileSample>(CLSID_QuorMediaFileSample);
  CQuorSafeArray array = QuorByteArray(payload);
  SAFEARRAY* psa = array.Get();
  EXPECT_EQ(sample->SetPayloadData(&psa), S_OK);
  EXPECT_EQ(sample->SetTimestamp(timestamp), S_OK);
  EXPECT_EQ(sample->SetSampleFlags(flags), S_OK);
  return sample;
}

void StartSimpleRecording(IQuorMediaFileWriter* writer, const std::string& path, ULONG maxSizeKiB,
                          ULONG maxFiles) {
  ASSERT_EQ(writer->Initialize(Wide(path).Get(), maxSizeKiB, maxFiles, VARIANT_TRUE), S_OK);
  ASSERT_EQ(writer->AddTrack(NewTrack(1, "video").Get()), S_OK);
  ASSERT_EQ(writer->StartRecording(), S_OK);
}

CQuorComPtr<IQuorMediaFileRecordingStatus> StatusOf(IQuorMediaFileWriter* writer) {
  return Got(writer, &IQuorMediaFileWriter::GetRecordingStatus);
}

WriterStateEnum StateOf(IQuorMediaFileWriter* writer) {
  return Got(StatusOf(writer).Get(), &IQuorMediaFileRecordingStatus::GetWriterState);
}

ULONGLONG BytesWrittenTotal(IQuorMediaFileWriter* writer) {
  return Got(StatusOf(writer).Get(), &IQuorMediaFileRecordingStatus::GetBytesWrittenTotal);
}

void WaitForBytes(IQuorMediaFileWriter* writer, ULONGLONG bytesTotal) {
  while (StateOf(writer) != wseFinished && BytesWrittenTotal(writer) < bytesTotal) {
    ASSERT_FALSE(::testing::Test::HasFailure());
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void ExpectWellFormed(const ParsedFile& file, bool lastFile, ULONGLONG maxSize) {
  ASSERT_FALSE(file.torn);
  ASSERT_GE(file.blocks.size(), 3u);
  EXPECT_LE(file.size, maxSize);
  EXPECT_EQ(file.blocks.front().type, btFileInfo);
  EXPECT_EQ(file.blocks[1].type, btTrackInfo);
  EXPECT_EQ(file.blocks.back().type, btFinalization);
  EXPECT_TRUE(file.finalized);
  EXPECT_TRUE(file.fileHashValid);
  EXPECT_EQ(file.lastFile, lastFile);
  for (std::size_t i = 0; i < file.blocks.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(file.blocks[i].hashValid);
    EXPECT_EQ(file.blocks[i].blockIndex, file.blocks[0].blockIndex + i);
  }
  // Every sample has exactly one entry, and every entry points at a sample block.
  EXPECT_EQ(file.entries.size(), file.payloads.size());
  for (const CQuorMediaSampleIndex& entry : file.entries) {
    EXPECT_TRUE(file.payloads.contains(entry.m_position)) << "entry at " << entry.m_position;
  }
  // The index chain runs back from each index block to the one before it.
  ULONGLONG previous = 0;
  std::size_t chain = 0;
  for (const ParsedBlock& block : file.blocks) {
    if (block.type != btIndex) continue;
    ASSERT_LT(chain, file.previousIndexOffsets.size());
    EXPECT_EQ(file.previousIndexOffsets[chain++], previous);
    previous = block.offset;
  }
  // A file with samples closes with an index block right before its finalization block.
  if (!file.payloads.empty()) {
    EXPECT_EQ(file.blocks[file.blocks.size() - 2].type, btIndex);
  }
}
