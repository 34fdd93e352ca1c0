#include "reader/QuorTestFileSet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "core/QuorMD5Hash.h"
#include "format/QuorFileFinalizationBlock.h"
#include "format/QuorFileInfoBlock.h"
#include "format/QuorFormatLayout.h"
#include "format/QuorIndexBlock.h"
#include "format/QuorMediaSampleBlock.h"
#include "format/QuorTrackInfoBlock.h"
#include "quormediafiles/QuorMediaFilesCpp.h"
#include "reader/QuorMediaFileReader.h"
#include "storage/QuorFileStorage.h"
#include "support/QuorFaultyFileSystem.h"
#include "support/QuorGot.h"

namespace {

void Check(HRESULT hr, const char* what) {
  if (FAILED(hr)) throw std::runtime_error(what);
}

// Writes blocks into one storage file, numbering them across the fileset and feeding the file
// hash.
class CFileWriter {
 public:
  CFileWriter(const CQuorTempDir& dir, const std::string& name, DWORD& blockIndex)
      : m_blockIndex(blockIndex) {
    Check(m_storage.InitializeForWriting(dir.WidePath(name).c_str(), kQuorMaxFileSizeKiB, true),
          "create");
  }

  std::uint64_t Position() {
    ULONGLONG position = 0;
    Check(m_storage.GetPosition(0, &position), "position");
    return position;
  }

  void Write(CQuorMediaFileBlock& block) {
    const BYTE* hash = nullptr;
    DWORD length = 0;
    Check(block.SetBlockIndex(m_blockIndex++), "index");
    Check(block.Write(m_storage.GetWriter()), "block write");
    Check(block.GetBlockHash(&hash, &length), "block hash");
    if (block.GetBlockType() != btFinalization) Check(m_fileHash.AddData(hash, length), "hash");
  }

  void Finish(bool finalize, bool lastFile) {
    if (finalize) {
      BYTE digest[kQuorMD5DigestSize];
      CQuorFileFinalizationBlock finalization;
      Check(m_fileHash.GetDigest(digest), "digest");
      Check(finalization.SetLastFileFlag(lastFile), "last");
      Check(finalization.SetFileHash(digest, kQuorMD5DigestSize), "file hash");
      Write(finalization);
    }
    ULONGLONG size = 0;
    Check(m_storage.Finalize(&size), "finalize");
  }

 private:
  CQuorFileStorage m_storage;
  CQuorMD5Hash m_fileHash;
  DWORD& m_blockIndex;
};

}  // namespace

std::string CQuorTestFileSet::FileName(std::size_t k) const {
  return m_baseName + (k ? std::to_string(k) : "") + ".vid";
}

std::vector<ParsedFile> CQuorTestFileSet::Write(const CQuorTempDir& dir,
                                                const std::vector<TestFile>& files) const {
  std::vector<ParsedFile> written;
  DWORD blockIndex = 0;
  for (std::size_t k = 0; k < files.size(); ++k) {
    const TestFile& plan = files[k];
    CFileWriter out(dir, FileName(k), blockIndex);

    CQuorFileInfoBlock info;
    Check(info.SetFileSetGuid(m_guid), "guid");
    const DWORD filesetIndex = plan.filesetIndex.value_or(static_cast<DWORD>(k));
    if (filesetIndex != TestFile::kNone) Check(info.SetFileSetIndex(filesetIndex), "index");
    Check(info.SetFileSetCreationTime(1700000000), "time");
    if (m_password) {
      CQuorMD5Hash hash;
      BYTE digest[kQuorMD5DigestSize];
      Check(hash.AddString(CQuorBstr::Copy(*m_password).Get()), "password");
      Check(hash.GetDigest(digest), "password digest");
      Check(info.SetPassword(digest, kQuorMD5DigestSize), "password hash");
    }
    out.Write(info);

    std::vector<const TestTrack*> tracks;
    for (const TestTrack& track : m_tracks) {
      if (plan.trackIds.empty() || std::ranges::count(plan.trackIds, track.id)) {
        tracks.push_back(&track);
      }
    }
    for (std::size_t t = 0; t < tracks.size(); ++t) {
      const TestTrack& track = *tracks[t];
      CQuorTrackInfoBlock block;
      Check(block.SetTrackId(track.id), "id");
      Check(block.SetMediaTypes(track.mediaTypes), "types");
      Check(block.SetTrackName(track.name.c_str()), "name");
      for (const GUID& filter : track.filters) Check(block.AddFilter(filter), "filter");
      Check(block.SetTrackFlags(t + 1 == tracks.size() ? 1 : 0), "flags");
      out.Write(block);
    }

    std::uint64_t previousIndex = 0;
    auto index = std::make_unique<CQuorIndexBlock>();
    auto flushIndex = [&] {
      if (index->IsEmpty()) return;
      Check(index->SetOffsetToPreviousIndex(previousIndex), "previous");
      previousIndex = out.Position();
      out.Write(*index);
      index = std::make_unique<CQuorIndexBlock>();
    };
    for (std::size_t i = 0; i < plan.samples.size(); ++i) {
      const TestSample& sample = plan.samples[i];
      CQuorMediaSampleBlock block;
      Check(
          block.SetPayload(sample.payload.data(), static_cast<DWORD>(sample.payload.size()), false),
          "payload");
      const CQuorMediaSampleIndex entry(sample.trackId, sample.entryFlags, out.Position(),
                                        sample.timestamp);
      out.Write(block);
      Check(index->AddSampleIndex(sample.trackId, entry), "entry");
      if ((i + 1) % plan.samplesPerIndex == 0) flushIndex();
    }
    flushIndex();
    out.Finish(plan.finalize, plan.lastFile);
    written.push_back(ParseFile(dir, FileName(k)));
  }
  return written;
}

std::vector<TestSample> MakeSamples(DWORD trackId, std::size_t n, ULONGLONG start, ULONGLONG step,
                                    std::size_t size) {
  std::vector<TestSample> samples;
  for (std::size_t i = 0; i < n; ++i) {
    const ULONGLONG timestamp = start + i * step;
    samples.push_back(TestSample{trackId, timestamp, (i % 3 == 0) ? 0x03u : 0x02u,
                                 PatternBytes(size + i % 7, static_cast<std::size_t>(timestamp))});
  }
  return samples;
}

std::vector<TestFile> ThreeFiles() {
  std::vector<TestFile> files(3);
  for (std::size_t k = 0; k < files.size(); ++k) files[k].samples = MakeSamples(1, 10, k * 100, 10);
  files[2].lastFile = true;
  return files;
}

CQuorComPtr<IQuorMediaFileReader> NewReader() {
  return CreateObject<IQuorMediaFileReader>(CLSID_QuorMediaFileReader);
}

CQuorComPtr<IQuorMediaFileReader> NewReader(CQuorFileSystem& fileSystem) {
  return QuorNewObjectOver<IQuorMediaFileReader, CQuorMediaFileReader>(fileSystem);
}

HRESULT Open(IQuorMediaFileReader* reader, const CQuorTempDir& dir, const std::string& name,
             const char16_t* password) {
  CQuorBstr path = CQuorBstr::Copy(dir.WidePath(name));
  CQuorBstr secret = password ? CQuorBstr::Copy(password) : CQuorBstr();
  return reader->OpenFileSet(path.Get(), secret.Get());
}

ReadSample Decode(IQuorMediaFileSample* sample) {
  if (!sample) {
    ADD_FAILURE() << "no sample";
    return {};
  }
  using S = IQuorMediaFileSample;
  return {Got(sample, &S::GetTimestamp), Got(sample, &S::GetSampleFlags),
          QuorBytes(Got(sample, &S::GetPayloadData).Get())};
}

ULONG StatusOf(IQuorMediaFileReader* reader, const CQuorTempDir& dir, const std::string& name) {
  CQuorBstr path = CQuorBstr::Copy(dir.WidePath(name));
  CQuorComPtr<IQuorMediaFileStatus> status;
  ULONG flags = 0;
  if (FAILED(reader->GetFileStatus(path.Get(), status.AddressOf())) ||
      FAILED(status->GetStatusFlags(&flags))) {
    return 0xDEAD;
  }
  return flags;
}

std::vector<ULONGLONG> WalkForward(IQuorMediaFileReader* reader, ULONG trackId, ULONGLONG from) {
  std::vector<ULONGLONG> seen;
  CQuorComPtr<IQuorMediaFileSample> sample;
  HRESULT hr = reader->MoveTo(trackId, from, sample.AddressOf());
  while (SUCCEEDED(hr)) {
    seen.push_back(Decode(sample.Get()).timestamp);
    hr = reader->MoveNext(trackId, sample.AddressOf());
  }
  return seen;
}
