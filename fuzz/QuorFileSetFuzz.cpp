// libFuzzer target: arbitrary bytes behind the file signature form a one-file fileset that the
// reader opens, navigates over every track from its first timestamp to its end and back, queries
// and authenticates. Whatever the bytes, every call must return, and none may crash or leak.
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "quormediafiles/QuorMediaFiles.h"
#include "storage/QuorFileStorage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string directory = [] {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "quor_fileset_fuzz_XXXXXX").string();
    return ::mkdtemp(pattern.data()) ? pattern : std::string(".");
  }();
  const std::string path = directory + "/fuzz.vid";
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const auto signature = QuorFileSignatureBytes();
    out.write(reinterpret_cast<const char*>(signature.data()), signature.size());
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  CQuorComPtr<IQuorMediaFileReader> reader;
  if (FAILED(CoCreateInstance(CLSID_QuorMediaFileReader, &reader))) return 0;
  CQuorBstr name = CQuorBstr::Copy(std::u16string(path.begin(), path.end()));
  (void)reader->OpenFileSet(name.Get(), nullptr);  // any result: what loaded is still queried

  CQuorSafeArray ids;
  if (SUCCEEDED(reader->GetTrackIds(ids.AddressOf()))) {
    for (ULONG i = 0; i < ids.Count(); ++i) {
      const ULONG trackId = static_cast<ULONG*>(ids.Get()->pvData)[i];
      CQuorComPtr<IQuorTrackMetadata> metadata;
      (void)reader->GetTrackMetadata(trackId, metadata.AddressOf());
      ULONGLONG first = 0;
      if (FAILED(reader->GetFirstTimeStamp(trackId, &first))) continue;
      CQuorComPtr<IQuorMediaFileSample> sample;
      HRESULT hr = reader->MoveTo(trackId, first, sample.AddressOf());
      // Bounded: a hostile index may list many entries, but each step moves on.
      for (int steps = 0; steps < 4096 && SUCCEEDED(hr); ++steps) {
        hr = reader->MoveNext(trackId, sample.AddressOf());
      }
      for (int steps = 0;
           steps < 4096 && SUCCEEDED(hr = reader->MovePrevious(trackId, sample.AddressOf()));
           ++steps) {
      }
    }
  }
  CQuorComPtr<IQuorFileSetMetadata> fileset;
  (void)reader->GetFileSetMetadata(fileset.AddressOf());
  CQuorComPtr<IQuorMediaFileStatus> status;
  (void)reader->GetFileStatus(name.Get(), status.AddressOf());
  VARIANT_BOOL answer = 0;
  (void)reader->IsAuthentic(&answer);
  return 0;
}
