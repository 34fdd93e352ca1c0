// Builds filesets for the reader's tests block by block, through the storage and the block
// classes, the way a recording lays them out: file info block, one track info block per track,
// media sample blocks with an index block after every few samples, the last index block and the
// finalization block. Block indexes run across the files; each file's hash covers its blocks.
// The files are returned parsed, so that tests can damage exactly one block.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "quormediafiles/platform/QuorTypes.h"
#include "support/QuorBlockParser.h"

struct TestTrack {
  explicit TestTrack(DWORD trackId = 1, DWORD types = 0x1, std::u16string trackName = u"track")
      : id(trackId), mediaTypes(types), name(std::move(trackName)) {}
  DWORD id;
  DWORD mediaTypes;  // 0x1 video, 0x2 audio
  std::u16string name;
  std::vector<GUID> filters;
};

struct TestSample {
  DWORD trackId = 1;
  ULONGLONG timestamp = 0;
  DWORD entryFlags = 0x03;  // as stored in the index entry: key frame, video
  Bytes payload;
};

struct TestFile {
  std::vector<TestSample> samples;
  std::size_t samplesPerIndex = 4;    // an index block follows every this many samples
  bool finalize = true;               // false: the file ends after its last index block
  bool lastFile = false;              // the last-file flag of the finalization block
  std::optional<DWORD> filesetIndex;  // default: the file's position; kNone leaves it out
  std::vector<DWORD> trackIds;        // the tracks whose info blocks the file holds; empty: all
  static constexpr DWORD kNone = 0xFFFFFFFF;
};

class CQuorTestFileSet {
 public:
  std::vector<TestTrack> m_tracks{TestTrack{}};
  GUID m_guid = {0x1234ABCD, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
  std::optional<std::u16string> m_password;
  std::string m_baseName = "cam";

  // Member file k is base + (k ? k : "") + extension. Throws on any write failure; returns the
  // files as the block parser reads them back.
  std::vector<ParsedFile> Write(const CQuorTempDir& dir, const std::vector<TestFile>& files) const;
  std::string FileName(std::size_t k) const;
};

// n samples of one track at timestamps start, start + step, ..., payload i of size bytes
// (varying content), entry flags cycling key frame / not key frame.
std::vector<TestSample> MakeSamples(DWORD trackId, std::size_t n, ULONGLONG start, ULONGLONG step,
                                    std::size_t size = 32);
// A three-file fileset of track 1 with 10 samples per file (timestamps 0, 10, 20, ... across the
// files), an index block every 4 samples, the third file marked last.
std::vector<TestFile> ThreeFiles();

// Reader helpers shared by the reader's tests.
#include "quormediafiles/QuorMediaFiles.h"

struct ReadSample {
  ULONGLONG timestamp = 0;
  ULONG flags = 0;
  Bytes payload;
};

class CQuorFileSystem;

CQuorComPtr<IQuorMediaFileReader> NewReader();
// A reader whose files go through fileSystem.
CQuorComPtr<IQuorMediaFileReader> NewReader(CQuorFileSystem& fileSystem);
HRESULT Open(IQuorMediaFileReader* reader, const CQuorTempDir& dir, const std::string& name,
             const char16_t* password = nullptr);
ReadSample Decode(IQuorMediaFileSample* sample);
// The status flags GetFileStatus reports for a file of the directory; 0xDEAD when it fails.
ULONG StatusOf(IQuorMediaFileReader* reader, const CQuorTempDir& dir, const std::string& name);
// MoveTo(from), then MoveNext until it fails; the timestamps met.
std::vector<ULONGLONG> WalkForward(IQuorMediaFileReader* reader, ULONG trackId, ULONGLONG from);
