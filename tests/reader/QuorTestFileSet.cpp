#include "reader/QuorTestFileSet.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "core/QuorMD5Hash.h"
#include "format/QuorFileFinalizationBlock.h"
#include "format/QuorFileInfoBlock.h"
#include "format/QuorIndexBlock.h"
#include "format/QuorMediaSampleBlock.h"
#include "format/QuorTrackInfoBlock.h"
#include "storage/QuorFileStorage.h"

namespace {

// Writes blocks into one storage file, numbering them and feeding the file hash.
class CFileWriter {
 public:
  CFileWriter(const CQuorTempDir& dir, const std::string& name, DWORD& blockIndex,
              WrittenFile& file)
      : m_blockIndex(blockIndex), m_file(file) {
    const std::u16string path = dir.WidePath(name);
    if (FAILED(m_storage.InitializeForWriting(path.c_str(), kQuorMaxFileSizeKiB, true))) {
      throw std::runtime_error("cannot create " + name);
    }
    m_file.name = name;
  }

  std::uint64_t Position() {
    ULONGLONG position = 0;
    if (FAILED(m_storage.GetPosition(0, &position))) throw std::runtime_error("position");
    return position;
  }

  void Write(CQuorMediaFileBlock& block, bool hashed = true) {
    WrittenBlock written{block.GetBlockType(), Position(), 0, m_blockIndex};
    if (FAILED(block.SetBlockIndex(m_blockIndex++)) || FAILED(block.Write(m_storage.GetWriter()))) {
      throw std::runtime_error("block write");
    }
    written.size = 8 + block.GetBlockSize();
    m_file.blocks.push_back(written);
    if (hashed) {
      const BYTE* hash = nullptr;
      DWORD length = 0;
      if (FAILED(block.GetBlockHash(&hash, &length)) || FAILED(m_fileHash.AddData(hash, length))) {
        throw std::runtime_error("file hash");
      }
    }
  }

  void Finish(bool finalize, bool lastFile) {
    if (finalize) {
      BYTE digest[kQuorMD5DigestSize];
      CQuorFileFinalizationBlock finalization;
      if (FAILED(m_fileHash.GetDigest(digest)) || FAILED(finalization.SetLastFileFlag(lastFile)) ||
          FAILED(finalization.SetFileHash(digest, kQuorMD5DigestSize))) {
        throw std::runtime_error("finalization");
      }
      Write(finalization, false);
    }
    ULONGLONG size = 0;
    if (FAILED(m_storage.Finalize(&size))) throw std::runtime_error("finalize");
    m_file.size = size;
  }

 private:
  CQuorFileStorage m_storage;
  CQuorMD5Hash m_fileHash;
  DWORD& m_blockIndex;
  WrittenFile& m_file;
};

void Check(HRESULT hr, const char* what) {
  if (FAILED(hr)) throw std::runtime_error(what);
}

}  // namespace

const WrittenBlock& WrittenFile::First(DWORD type, std::size_t from) const {
  for (std::size_t i = from; i < blocks.size(); ++i) {
    if (blocks[i].type == type) return blocks[i];
  }
  throw std::out_of_range("no such block");
}

const WrittenBlock& WrittenFile::Last(DWORD type) const {
  for (auto it = blocks.rbegin(); it != blocks.rend(); ++it) {
    if (it->type == type) return *it;
  }
  throw std::out_of_range("no such block");
}

std::string CQuorTestFileSet::FileName(std::size_t k) const {
  return m_baseName + (k ? std::to_string(k) : "") + m_extension;
}

std::vector<WrittenFile> CQuorTestFileSet::Write(const CQuorTempDir& dir,
                                                 const std::vector<TestFile>& files) const {
  std::vector<WrittenFile> written(files.size());
  DWORD blockIndex = 0;
  for (std::size_t k = 0; k < files.size(); ++k) {
    const TestFile& spec = files[k];
    CFileWriter out(dir, FileName(k), blockIndex, written[k]);

    CQuorFileInfoBlock info;
    Check(info.SetFileSetGuid(m_guid), "guid");
    const DWORD filesetIndex = spec.filesetIndex.value_or(static_cast<DWORD>(k));
    if (filesetIndex != TestFile::kNone) Check(info.SetFileSetIndex(filesetIndex), "index");
    Check(info.SetFileSetCreationTime(m_creationTime), "time");
    if (m_description) Check(info.SetDescription(m_description->c_str()), "description");
    if (m_password) {
      CQuorMD5Hash hash;
      BYTE digest[kQuorMD5DigestSize];
      CQuorBstr password = CQuorBstr::Copy(*m_password);
      Check(hash.AddString(password.Get()), "password");
      Check(hash.GetDigest(digest), "password digest");
      Check(info.SetPassword(digest, kQuorMD5DigestSize), "password hash");
    }
    out.Write(info);

    std::vector<const TestTrack*> tracks;
    for (const TestTrack& track : m_tracks) {
      if (spec.trackIds.empty() ||
          std::find(spec.trackIds.begin(), spec.trackIds.end(), track.id) != spec.trackIds.end()) {
        tracks.push_back(&track);
      }
    }
    for (std::size_t t = 0; t < tracks.size(); ++t) {
      const TestTrack& track = *tracks[t];
      CQuorTrackInfoBlock block;
      if (track.pairId) Check(block.SetPairId(*track.pairId), "pair");
      Check(block.SetTrackId(track.id), "id");
      Check(block.SetMediaTypes(track.mediaTypes), "types");
      Check(block.SetTrackName(track.name.c_str()), "name");
      if (track.plugin) Check(block.SetMediaSessionPlugin(*track.plugin), "plugin");
      for (const GUID& filter : track.filters) Check(block.AddFilter(filter), "filter");
      if (track.sourceId) Check(block.SetSourceId(*track.sourceId), "source");
      if (track.sourceUrl) Check(block.SetSourceUrl(track.sourceUrl->c_str()), "url");
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
    std::size_t inBlock = 0;
    for (const TestSample& sample : spec.samples) {
      CQuorMediaSampleBlock block;
      Check(
          block.SetPayload(sample.payload.data(), static_cast<DWORD>(sample.payload.size()), false),
          "payload");
      const std::uint64_t position = out.Position();
      out.Write(block);
      Check(index->AddSampleIndex(sample.trackId,
                                  CQuorMediaSampleIndex(sample.trackId, sample.entryFlags, position,
                                                        sample.timestamp)),
            "entry");
      if (++inBlock == spec.samplesPerIndex) {
        flushIndex();
        inBlock = 0;
      }
    }
    flushIndex();
    out.Finish(spec.finalize, spec.lastFile);
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
  for (std::size_t k = 0; k < files.size(); ++k) {
    files[k].samples = MakeSamples(1, 10, k * 100, 10);
  }
  files[2].lastFile = true;
  return files;
}

CQuorComPtr<IQuorMediaFileReader> NewReader() {
  CQuorComPtr<IQuorMediaFileReader> reader;
  EXPECT_EQ(S_OK, CoCreateInstance(CLSID_QuorMediaFileReader, &reader));
  return reader;
}

HRESULT Open(IQuorMediaFileReader* reader, const CQuorTempDir& dir, const std::string& name,
             const char16_t* password) {
  CQuorBstr path = CQuorBstr::Copy(dir.WidePath(name));
  CQuorBstr secret = password ? CQuorBstr::Copy(password) : CQuorBstr();
  return reader->OpenFileSet(path.Get(), secret.Get());
}

ReadSample Decode(IQuorMediaFileSample* sample) {
  ReadSample out;
  if (!sample) {
    ADD_FAILURE() << "no sample";
    return out;
  }
  EXPECT_EQ(S_OK, sample->GetTimestamp(&out.timestamp));
  EXPECT_EQ(S_OK, sample->GetSampleFlags(&out.flags));
  CQuorSafeArray data;
  EXPECT_EQ(S_OK, sample->GetPayloadData(data.AddressOf()));
  if (data) {
    const BYTE* bytes = static_cast<const BYTE*>(data.Get()->pvData);
    out.payload.assign(bytes, bytes + data.Count());
  }
  return out;
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

std::vector<ULONGLONG> WalkForward(IQuorMediaFileReader* reader, ULONG trackId, ULONGLONG from,
                                   HRESULT* end) {
  std::vector<ULONGLONG> seen;
  CQuorComPtr<IQuorMediaFileSample> sample;
  HRESULT hr = reader->MoveTo(trackId, from, sample.AddressOf());
  while (SUCCEEDED(hr)) {
    seen.push_back(Decode(sample.Get()).timestamp);
    hr = reader->MoveNext(trackId, sample.AddressOf());
  }
  if (end) *end = hr;
  return seen;
}
