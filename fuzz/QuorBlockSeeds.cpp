// Writes the seed corpus of quor_block_fuzz into the directory named by its argument: one valid
// block of each kind, and the blocks of a short unfinalized file one after another. Each block
// goes through a real storage writer; the file signature in front of it is left out, because
// the fuzz target writes one in front of every input.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "format/QuorFileFinalizationBlock.h"
#include "format/QuorFileInfoBlock.h"
#include "format/QuorIndexBlock.h"
#include "format/QuorMediaSampleBlock.h"
#include "format/QuorTrackInfoBlock.h"
#include "quormediafiles/platform/QuorOleAuto.h"
#include "storage/QuorFileStorage.h"

namespace {

using Bytes = std::vector<BYTE>;

bool Check(HRESULT hr, const char* what) {
  if (FAILED(hr)) std::fprintf(stderr, "%s failed: 0x%08X\n", what, static_cast<unsigned>(hr));
  return SUCCEEDED(hr);
}

// The bytes of block as written, without the signature of the scratch file.
bool WriteBlock(CQuorMediaFileBlock& block, DWORD blockIndex, const std::string& scratch,
                Bytes* bytes) {
  CQuorFileStorage storage;
  ULONGLONG size = 0;
  if (!Check(storage.InitializeForWriting(QuorUtf8ToUtf16(scratch).c_str(), 64, true), "open") ||
      !Check(block.SetBlockIndex(blockIndex), "index") ||
      !Check(block.Write(storage.GetWriter()), "write") ||
      !Check(storage.Finalize(&size), "finalize")) {
    return false;
  }
  std::ifstream in(scratch, std::ios::binary);
  Bytes all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  bytes->assign(all.begin() + kQuorFileSignatureSize, all.end());
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
  const std::string scratch = (directory / "scratch.tmp").string();

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
  ok = ok && WriteBlock(info, 0, scratch, &infoBytes) &&
       WriteBlock(track, 1, scratch, &trackBytes) && WriteBlock(sample, 2, scratch, &sampleBytes) &&
       WriteBlock(sample, 3, scratch, &sample2Bytes);
  // Positions as in a member file: signature, file info, track info, then the samples.
  const ULONGLONG first = kQuorFileSignatureSize + infoBytes.size() + trackBytes.size();
  CQuorIndexBlock index;
  ok = ok && Check(index.SetOffsetToPreviousIndex(0), "previous") &&
       Check(index.AddSampleIndex(1, CQuorMediaSampleIndex(1, 0x03, first, 100)), "entry") &&
       Check(
           index.AddSampleIndex(1, CQuorMediaSampleIndex(1, 0x02, first + sampleBytes.size(), 133)),
           "entry") &&
       WriteBlock(index, 4, scratch, &indexBytes);
  CQuorFileFinalizationBlock closing;
  ok = ok && Check(closing.SetLastFileFlag(true), "last") &&
       Check(closing.SetFileHash(password, 16), "file hash") &&
       WriteBlock(closing, 5, scratch, &finalBytes);
  if (!ok) return 1;
  std::filesystem::remove(scratch);

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
