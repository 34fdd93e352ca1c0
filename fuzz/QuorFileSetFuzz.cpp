// libFuzzer target: arbitrary bytes behind the file signature form a one-file fileset that the
// reader opens, navigates over every track from its first timestamp to its end and back, queries
// and authenticates. Whatever the bytes, every call must return, and none may crash or leak.
// The file lives in memory: the reader's storage finds, opens and reads it through a file system
// that holds that one file.
#include <errno.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "quormediafiles/QuorMediaFiles.h"
#include "reader/QuorMediaFileReader.h"

namespace {

// One read-only regular file, kPath, alone in its directory. Every open of it gets the same
// descriptor: the calls on it do not depend on an open's state.
class CQuorOneFileSystem final : public CQuorFileSystem {
 public:
  static constexpr const char* kDirectory = "/fuzz/";
  static constexpr const char* kName = "fuzz.vid";
  static constexpr const char* kPath = "/fuzz/fuzz.vid";
  static constexpr int kFd = 3;

  std::vector<BYTE> m_bytes;

  int Open(const char* path, int flags, mode_t) override {
    if (std::strcmp(path, kPath) != 0) return Fail(ENOENT);
    return (flags & O_ACCMODE) == O_RDONLY ? kFd : Fail(EROFS);
  }
  int Close(int) override { return 0; }
  ssize_t Pread(int, void* buffer, size_t count, off_t offset) override {
    const std::size_t at = std::min(static_cast<std::size_t>(offset), m_bytes.size());
    const std::size_t n = std::min(count, m_bytes.size() - at);
    if (n != 0) std::memcpy(buffer, m_bytes.data() + at, n);
    return static_cast<ssize_t>(n);
  }
  ssize_t Pwrite(int, const void*, size_t, off_t) override { return Fail(EBADF); }
  int Ftruncate(int, off_t) override { return Fail(EBADF); }
  int Fallocate(int, int, off_t, off_t) override { return Fail(EBADF); }
  int Flock(int, int) override { return 0; }
  int Fstat(int, struct stat* status) override {
    *status = {};
    status->st_mode = S_IFREG | 0444;
    status->st_size = static_cast<off_t>(m_bytes.size());
    return 0;
  }
  int Fdatasync(int) override { return Fail(EBADF); }
  int Unlink(const char*) override { return Fail(EACCES); }
  int ListDirectory(const char* path, std::vector<std::string>* names) override {
    if (std::strcmp(path, kDirectory) != 0) return ENOENT;
    *names = {kName};
    return 0;
  }

 private:
  static int Fail(int error) {
    errno = error;
    return -1;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static CQuorOneFileSystem fileSystem;
  const auto signature = QuorFileSignatureBytes();
  fileSystem.m_bytes.assign(signature.begin(), signature.end());
  fileSystem.m_bytes.insert(fileSystem.m_bytes.end(), data, data + size);

  CQuorComPtr<CQuorMediaFileReader> object;
  CQuorComPtr<IQuorMediaFileReader> reader;
  if (FAILED(QuorCreateObject(&object, fileSystem)) || FAILED(object.As(&reader))) return 0;
  const std::string path = CQuorOneFileSystem::kPath;
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
