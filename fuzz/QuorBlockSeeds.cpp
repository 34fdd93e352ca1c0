// Writes the seed corpus of quor_block_fuzz into the directory named by its argument: one valid
// block of each kind, and the blocks of a short unfinalized file one after another, as their
// Write puts them out (without the file signature, which the fuzz target puts in front of every
// input).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "format/QuorFileFinalizationBlock.h"
#include "format/QuorFileInfoBlock.h"
#include "format/QuorFormatLayout.h"
#include "format/QuorIndexBlock.h"
#include "format/QuorMediaSampleBlock.h"
#include "format/QuorMemoryBytes.h"
#include "format/QuorTrackInfoBlock.h"

namespace {

using Bytes = std::vector<BYTE>;

bool Check(HRESULT hr, const char* what) {
  if (FAILED(hr)) std::fprintf(stderr, "%s failed: 0x%08X\n", what, static_cast<unsigned>(hr));
  return SUCCEEDED(hr);
}

// The bytes of block as written.
bool WriteBlock(CQuorMediaFileBlock& block, DWORD blockIndex, Bytes* bytes) {
  CQuorMemorySink sink;
  if (!Check(block.SetBlockIndex(blockIndex), "index") || !Check(block.Write(&sink), "write")) {
    return false;
  }
  *bytes = sink.GetBytes();
  return true;
}

bool Save(const std::filesystem::path& directory, const char* name, const Bytes& bytes) {
  std::ofstream out(directory / name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_DIRECTORY\n", argv[0]);
    return 2;
  }
  const std::filesystem::path directory = argv[1];
  std::filesystem::create_directories(directory);

  CQuorFileInfoBlock info;
  const BYTE password[16] = {0x70, 0x61, 0x73, 0x73};
  bool ok = Check(info.SetFileSetGuid({0x1234, 5, 6, {7, 8, 9, 10, 11, 12, 13, 14}}), "guid") &&
            Check(info.SetFileSetIndex(0), "file index") &&
            Check(info.SetFileSetCreationTime(1700000000), "time") &&
            Check(info.SetDescription(u"seed"), "description") &&
            Check(info.SetPassword(password, 16), "password");
  CQuorTrackInfoBlock track;
  ok = ok && Check(track.SetPairId(2), "pair") && Check(track.SetTrackId(1), "track") &&
       Check(track.SetMediaTypes(kMediaTypeVideo), "types") &&
       Check(track.SetTrackName(u"cam"), "name") &&
       Check(track.SetMediaSessionPlugin({1, 2, 3, {4}}), "plugin") &&
       Check(track.AddFilter({5, 6, 7, {8}}), "filter") &&
       Check(track.AddFilter({9, 10, 11, {12}}), "filter") &&
       Check(track.SetSourceId(3), "source id") && Check(track.SetSourceUrl(u"rtsp:x"), "url") &&
       Check(track.SetTrackFlags(kTrackFlagLastTrackInfo), "flags");
  const BYTE payload[24] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  CQuorMediaSampleBlock sample;
  ok = ok && Check(sample.SetPayload(payload, sizeof payload, false), "payload");

  Bytes infoBytes, trackBytes, sampleBytes, sample2Bytes, indexBytes, finalBytes;
  ok = ok && WriteBlock(info, 0, &infoBytes) && WriteBlock(track, 1, &trackBytes) &&
       WriteBlock(sample, 2, &sampleBytes) && WriteBlock(sample, 3, &sample2Bytes);
  // Positions as in a member file: signature, file info, track info, then the samples.
  const ULONGLONG first = kQuorFileSignatureSize + infoBytes.size() + trackBytes.size();
  CQuorIndexBlock index;
  ok = ok && Check(index.SetOffsetToPreviousIndex(0), "previous") &&
       Check(index.AddSampleIndex(1, CQuorMediaSampleIndex(1, 0x03, first, 100)), "entry") &&
       Check(
           index.AddSampleIndex(1, CQuorMediaSampleIndex(1, 0x02, first + sampleBytes.size(), 133)),
           "entry") &&
       WriteBlock(index, 4, &indexBytes);
  CQuorFileFinalizationBlock closing;
  ok = ok && Check(closing.SetLastFileFlag(true), "last") &&
       Check(closing.SetFileHash(password, 16), "file hash") && WriteBlock(closing, 5, &finalBytes);
  if (!ok) return 1;

  Bytes walk;
  for (const Bytes* part : {&infoBytes, &trackBytes, &sampleBytes, &sample2Bytes, &indexBytes}) {
    walk.insert(walk.end(), part->begin(), part->end());
  }
  return Save(directory, "file_info", infoBytes) && Save(directory, "track_info", trackBytes) &&
                 Save(directory, "media_sample", sampleBytes) &&
                 Save(directory, "index", indexBytes) &&
                 Save(directory, "finalization", finalBytes) &&
                 Save(directory, "unfinalized_file", walk)
             ? 0
             : 1;
}
