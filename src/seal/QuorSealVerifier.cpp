#include "seal/QuorSealVerifier.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "core/LoggedException.h"
#include "format/QuorBlockBatch.h"
#include "format/QuorFileAuthentication.h"
#include "format/QuorFileInfoBlock.h"
#include "platform/io/QuorFile.h"
#include "platform/io/QuorLastError.h"
#include "quormediafiles/QuorResultCodes.h"
#include "quormediafiles/platform/QuorGuid.h"
#include "quormediafiles/platform/QuorOleAuto.h"
#include "seal/QuorSealWriter.h"
#include "seal/QuorSha256.h"
#include "storage/QuorFileStorage.h"

namespace {

constexpr DWORD kReadChunk = 1u << 20;

// The whole sidecar; an empty vector when there is none.
HRESULT ReadSidecar(const std::string& memberPath, std::vector<BYTE>* bytes) {
  bytes->clear();
  CQuorFile file;
  if (!file.Create(QuorSealSidecarName(memberPath), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING)) {
    const HRESULT hr = HResultFromLastError();
    return hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ? S_OK : hr;
  }
  ULONGLONG size = 0;
  if (!file.GetSize(&size)) return HResultFromLastError();
  bytes->resize(static_cast<std::size_t>(size));
  DWORD read = 0;
  if (size != 0 && (!file.Read(bytes->data(), static_cast<DWORD>(size), &read) || read != size)) {
    return HRESULT_FROM_WIN32(ERROR_READ_FAULT);
  }
  return S_OK;
}

// The fileset GUID and index of the member file's file info block; false when it cannot be read
// (the records' binding is then left to the hash, which covers that block).
bool ReadBinding(const std::string& memberPath, GUID* guid, DWORD* index) {
  CQuorFileStorage storage;
  CQuorBstr name = CQuorBstr::FromUtf8(memberPath);
  CQuorFileInfoBlock info;
  if (!name || FAILED(storage.OpenFileForInspection(name.Get())) ||
      FAILED(storage.Seek(0, static_cast<LONGLONG>(kQuorFileSignatureSize), soBegin)) ||
      FAILED(info.Read(storage.GetReader())) || FAILED(info.GetFileSetIndex(index))) {
    return false;
  }
  *guid = GUID_NULL;
  const HRESULT hr = info.GetFileSetGuid(guid);
  return SUCCEEDED(hr) || hr == MFS_E_NO_VALUE;
}

std::string Hex(const BYTE* bytes, std::size_t count) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0xF];
  }
  return text;
}

}  // namespace

std::string QuorSealReport::Describe() const {
  const std::string last = "block " + std::to_string(lastBlock);
  switch (state) {
    case sstSealedToEnd:
      return "sealed to the end (" + last + ", " + std::to_string(goodRecords) + " seals)";
    case sstSealedPartly:
      return "sealed up to " + last + ", " + std::to_string(fileSize - sealedEnd) +
             " bytes after the last seal" + (finalized ? "" : " (not finalized)");
    case sstNoSeal:
      return "no seal";
    case sstOtherKey:
    case sstBrokenRecord:
    case sstOtherFile: {
      std::string text =
          problem + " (seal record at byte " + std::to_string(recordOffset) + " of the seal file)";
      text += goodRecords == 0
                  ? "; no valid seal before it"
                  : "; valid seals up to " + last + " (byte " + std::to_string(sealedEnd) + ")";
      return text;
    }
    case sstBytesDiffer:
      return "bytes differ from what was sealed in bytes " + std::to_string(rangeStart) + ".." +
             std::to_string(rangeEnd) + " (blocks " + std::to_string(rangeFirstBlock) + ".." +
             std::to_string(rangeLastBlock) + ")" + problem;
  }
  return {};
}

std::uint32_t QuorCountSealRecords(const std::string& memberPath) {
  std::vector<BYTE> bytes;
  if (FAILED(ReadSidecar(memberPath, &bytes))) return 0;
  std::uint32_t count = 0;
  for (std::size_t at = 0; bytes.size() - at >= kSealRecordSize; at += kSealRecordSize) {
    if (DecodeU32(&bytes[at]) != kSealMagic || DecodeU32(&bytes[at + 4]) != kSealRecordSize) {
      break;
    }
    ++count;
  }
  return count;
}

namespace {

// The seal records of a member file that check out, up to the first that does not, and the
// running SHA-256 of the file's bytes fed in order, compared with each record's digest as the
// bytes reach its offset; the report takes the findings.
class CSealRanges {
 public:
  // Reads the sidecar and judges its records; report->fileSize must be set.
  HRESULT Start(const std::string& memberPath, const CQuorSealKey& key, QuorSealReport* report) {
    m_report = report;
    std::vector<BYTE> sidecar;
    QUOR_RETURN_IF_FAILED(ReadSidecar(memberPath, &sidecar));
    GUID guid = GUID_NULL;
    DWORD index = 0;
    const bool bound = ReadBinding(memberPath, &guid, &index);
    for (std::size_t at = 0; at < sidecar.size() && m_problem == sstSealedPartly;
         at += kSealRecordSize) {
      report->recordOffset = at;
      const std::size_t left = sidecar.size() - at;
      if (left < kSealFrameSize || DecodeU32(&sidecar[at]) != kSealMagic ||
          DecodeU32(&sidecar[at + 4]) != kSealRecordSize) {
        m_problem = sstBrokenRecord;
        report->problem = "not a seal record";
      } else if (left < kSealRecordSize) {
        m_problem = sstBrokenRecord;
        report->problem = "the seal file ends inside a record";
      } else {
        const QuorSealRecord record = DecodeSealRecord(&sidecar[at]);
        if (record.keyId != key.GetKeyId()) {
          m_problem = sstOtherKey;
          report->problem = "sealed by another key (key id " +
                            Hex(record.keyId.data(), record.keyId.size()) + ")";
        } else if (!key.Verifies(&sidecar[at], kSealSignedSize, &sidecar[at + kSealSignedSize])) {
          m_problem = sstBrokenRecord;
          report->problem = "the seal's signature does not verify";
        } else if (bound && (record.fileSetGuid != guid || record.fileSetIndex != index)) {
          m_problem = sstOtherFile;
          report->problem = "the seal is for another member file (fileset " +
                            QuorGuidToString(record.fileSetGuid) + ", file " +
                            std::to_string(record.fileSetIndex) + ")";
        } else if (!m_good.empty() && record.offset < m_good.back().offset) {
          m_problem = sstBrokenRecord;
          report->problem = "the seal goes back before the one ahead of it";
        } else {
          m_good.push_back(record);
        }
      }
    }
    report->goodRecords = static_cast<std::uint32_t>(m_good.size());
    if (!m_good.empty()) {
      report->lastBlock = m_good.back().blockIndex;
      report->sealedEnd = m_good.back().offset;
      report->finalized = m_good.back().finalized;
      report->timeMs = m_good.back().timeMs;
    }
    QUOR_RETURN_IF_FAILED(m_hash.Reset());
    return Settle();
  }

  // How many more bytes, from Hashed() on, the records want.
  ULONGLONG Wanted() const noexcept {
    if (m_differ || m_next == m_good.size()) return 0;
    return std::min<ULONGLONG>(m_good.back().offset, m_report->fileSize) - m_hashed;
  }
  ULONGLONG Hashed() const noexcept { return m_hashed; }

  // The next count bytes of the file (beyond what Wanted() asks for are ignored).
  HRESULT Add(const BYTE* bytes, ULONGLONG count) {
    while (count != 0 && Wanted() != 0) {
      const ULONGLONG target = std::min<ULONGLONG>(m_good[m_next].offset, m_report->fileSize);
      const ULONGLONG take = std::min(count, target - m_hashed);
      QUOR_RETURN_IF_FAILED(m_hash.Add(bytes, static_cast<std::size_t>(take)));
      m_hashed += take;
      bytes += take;
      count -= take;
      QUOR_RETURN_IF_FAILED(Settle());
    }
    return S_OK;
  }

  // Once the file has been fed as far as Wanted() asked: the state.
  void Finish() {
    QuorSealReport& report = *m_report;
    if (m_differ) return;
    if (m_problem != sstSealedPartly) {
      report.state = m_problem;
    } else if (m_good.empty()) {
      report.state = sstNoSeal;
    } else {
      report.state = report.finalized && report.sealedEnd == report.fileSize ? sstSealedToEnd
                                                                             : sstSealedPartly;
    }
  }

 private:
  // Compares the digest at every record whose offset the bytes fed have reached (or that lies
  // past the end of the file), up to the first that differs.
  HRESULT Settle() {
    QuorSealReport& report = *m_report;
    while (!m_differ && m_next < m_good.size()) {
      const QuorSealRecord& record = m_good[m_next];
      if (m_hashed < std::min<ULONGLONG>(record.offset, report.fileSize)) return S_OK;
      QuorSealDigest digest{};
      QUOR_RETURN_IF_FAILED(m_hash.Peek(&digest));
      if (m_hashed < record.offset || digest != record.digest) {
        m_differ = true;
        report.state = sstBytesDiffer;
        report.rangeStart = m_next == 0 ? 0 : m_good[m_next - 1].offset;
        report.rangeEnd = record.offset;
        report.rangeFirstBlock = m_next == 0 ? 0 : m_good[m_next - 1].blockIndex + 1;
        report.rangeLastBlock = record.blockIndex;
        if (m_hashed < record.offset) {
          report.problem = ": the file ends at byte " + std::to_string(report.fileSize);
        }
        return S_OK;
      }
      ++m_next;
    }
    return S_OK;
  }

  QuorSealReport* m_report = nullptr;
  std::vector<QuorSealRecord> m_good;
  QuorSealState m_problem = sstSealedPartly;  // none yet
  CQuorSha256 m_hash;
  ULONGLONG m_hashed = 0;
  std::size_t m_next = 0;  // the first record not yet compared
  bool m_differ = false;
};

}  // namespace

HRESULT QuorVerifySeal(const std::string& memberPath, const CQuorSealKey& key,
                       QuorSealReport* report) {
  if (report == nullptr) return E_POINTER;
  *report = QuorSealReport{};
  report->memberFile = memberPath;
  if (!key.IsLoaded()) return MFS_E_NOT_SET;

  CQuorFile member;
  if (!member.Create(memberPath, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING)) {
    return HResultFromLastError();
  }
  if (!member.GetSize(&report->fileSize)) return HResultFromLastError();
  CSealRanges ranges;
  QUOR_RETURN_IF_FAILED(ranges.Start(memberPath, key, report));
  // One pass over the member file, as far as the last good record reaches.
  std::unique_ptr<BYTE[]> buffer(new BYTE[kReadChunk]);
  while (ranges.Wanted() != 0) {
    const DWORD want = static_cast<DWORD>(std::min<ULONGLONG>(kReadChunk, ranges.Wanted()));
    DWORD read = 0;
    if (!member.Read(buffer.get(), want, &read) || read != want) {
      return HRESULT_FROM_WIN32(ERROR_READ_FAULT);
    }
    QUOR_RETURN_IF_FAILED(ranges.Add(buffer.get(), read));
  }
  ranges.Finish();
  return S_OK;
}

namespace {

// What one file's own walk found; the chain is joined afterwards.
struct FileWalk {
  std::optional<DWORD> firstIndex;
  std::optional<DWORD> lastIndex;
  bool authentic = false;  // its own blocks and file hash, whatever came before it
};

// One thread's tools, reused from file to file.
class CMemberReader {
 public:
  CMemberReader(const CQuorSealKey* key, bool authenticate, const std::atomic<bool>* cancel,
                std::atomic<ULONGLONG>* bytesDone)
      : m_key(key), m_authenticate(authenticate), m_cancel(cancel), m_bytesDone(bytesDone) {}

  HRESULT Check(QuorMemberCheck& file, FileWalk* walk) {
    file.seal = QuorSealReport{};
    file.seal.memberFile = file.path;
    const bool authenticate = m_authenticate && file.chainPosition.has_value();
    CQuorBstr name = CQuorBstr::FromUtf8(file.path);
    if (!name) return E_OUTOFMEMORY;
    CQuorFileStorage storage;
    QUOR_RETURN_IF_FAILED(storage.OpenFileForInspection(name.Get()));
    QUOR_RETURN_IF_FAILED(storage.Seek(0, 0, soBegin));
    QUOR_RETURN_IF_FAILED(storage.GetRemaining(&file.seal.fileSize));
    CSealRanges ranges;
    if (m_key) QUOR_RETURN_IF_FAILED(ranges.Start(file.path, *m_key, &file.seal));

    // The signature, then the blocks: every batch feeds the seal ranges whole and the checks
    // block by block, until the file's verdict is reached.
    BYTE signature[kQuorFileSignatureSize];
    const DWORD head =
        static_cast<DWORD>(std::min<ULONGLONG>(kQuorFileSignatureSize, file.seal.fileSize));
    QUOR_RETURN_IF_FAILED(storage.Read(signature, head));
    QUOR_RETURN_IF_FAILED(ranges.Add(signature, head));
    ULONGLONG position = head;
    if (authenticate && head == kQuorFileSignatureSize) {
      QUOR_RETURN_IF_FAILED(m_check.Start(std::nullopt));
      bool done = false;
      while (!done) {
        if (Cancelled()) return MFS_E_AUTH_CANCELLED;
        QUOR_RETURN_IF_FAILED(m_batch.Fill(storage.GetReader()));
        if (m_batch.GetCount() == 0) break;  // the file ends, or its next block does not read
        for (std::size_t i = 0; i < m_batch.GetCount(); ++i) {
          const BYTE* block = m_batch.GetBlock(i);
          const ULONGLONG size = kBlockHeaderSize + DecodeU32(block + kBlockSizeWordOffset);
          QUOR_RETURN_IF_FAILED(ranges.Add(block, size));
          position += size;
        }
        Count(position);
        bool broken = FAILED(m_batch.GetEnd());
        for (std::size_t i = 0; i < m_batch.GetCount() && !done; ++i) {
          // A block that does not parse fails the file, as in IsAuthentic.
          if (FAILED(m_check.Check(m_batch.GetBlock(i), m_batch.GetDigest(i), &done))) {
            broken = true;
            break;
          }
        }
        if (!done && broken) break;
      }
      walk->firstIndex = m_check.GetFirstBlockIndex();
      walk->lastIndex = m_check.GetLastBlockIndex();
      walk->authentic = done && m_check.IsAuthentic();
    }

    // The rest of what the seals cover.
    if (ranges.Wanted() != 0) {
      QUOR_RETURN_IF_FAILED(storage.Seek(0, static_cast<LONGLONG>(ranges.Hashed()), soBegin));
      if (!m_buffer) m_buffer.reset(new BYTE[kReadChunk]);
      while (ranges.Wanted() != 0) {
        if (Cancelled()) return MFS_E_AUTH_CANCELLED;
        const DWORD want = static_cast<DWORD>(std::min<ULONGLONG>(kReadChunk, ranges.Wanted()));
        QUOR_RETURN_IF_FAILED(storage.Read(m_buffer.get(), want));
        QUOR_RETURN_IF_FAILED(ranges.Add(m_buffer.get(), want));
        position = std::max(position, ranges.Hashed());
        Count(position);
      }
    }
    m_counted = 0;
    if (m_key) ranges.Finish();
    file.tested = authenticate;
    return S_OK;
  }

 private:
  bool Cancelled() const noexcept { return m_cancel && m_cancel->load(); }
  void Count(ULONGLONG position) noexcept {
    if (m_bytesDone && position > m_counted) m_bytesDone->fetch_add(position - m_counted);
    m_counted = std::max(m_counted, position);
  }

  const CQuorSealKey* m_key;
  bool m_authenticate;
  const std::atomic<bool>* m_cancel;
  std::atomic<ULONGLONG>* m_bytesDone;
  ULONGLONG m_counted = 0;  // bytes of this file added to *m_bytesDone
  CQuorBlockBatch m_batch;
  CQuorFileAuthentication m_check;
  std::unique_ptr<BYTE[]> m_buffer;
};

constexpr unsigned kCheckThreads = 2;

}  // namespace

HRESULT QuorCheckMemberFiles(std::vector<QuorMemberCheck>* files, const CQuorSealKey* key,
                             bool authenticate, const std::atomic<bool>* cancel,
                             std::atomic<ULONGLONG>* bytesDone) {
  if (files == nullptr) return E_POINTER;
  if (key && !key->IsLoaded()) return MFS_E_NOT_SET;
  std::vector<FileWalk> walks(files->size());
  std::atomic<std::size_t> next{0};
  std::mutex lock;
  HRESULT failure = S_OK;
  std::atomic<bool> stop{false};
  const auto work = [&] {
    HRESULT hr = S_OK;
    try {
      CMemberReader reader(key, authenticate, cancel, bytesDone);
      for (std::size_t i = next++; i < files->size() && !stop.load(); i = next++) {
        hr = reader.Check((*files)[i], &walks[i]);
        if (FAILED(hr)) break;
      }
    } catch (const std::bad_alloc&) {
      hr = E_OUTOFMEMORY;
    }
    if (FAILED(hr)) {
      std::scoped_lock guard(lock);
      if (SUCCEEDED(failure)) failure = hr;
      stop = true;
    }
  };
  std::vector<std::thread> threads;
  try {
    for (unsigned t = 1; t < std::min<std::size_t>(kCheckThreads, files->size()); ++t) {
      threads.emplace_back(work);
    }
  } catch (const std::system_error&) {
    // Fewer threads: this one does the rest.
  }
  work();
  for (std::thread& thread : threads) thread.join();
  QUOR_RETURN_IF_FAILED(failure);

  // The block index chain in chain order: a file's first block must follow the last block that
  // ran on in the files before it; the first file's first block is block 0.
  // As in IsAuthentic, of two files at one position the later one is walked.
  std::map<DWORD, std::size_t> chain;
  for (std::size_t i = 0; i < files->size(); ++i) {
    if ((*files)[i].tested) chain[*(*files)[i].chainPosition] = i;
    (*files)[i].tested = false;
  }
  DWORD last = 0xFFFFFFFF;
  for (const auto& [position, i] : chain) {
    const FileWalk& walk = walks[i];
    QuorMemberCheck& file = (*files)[i];
    file.tested = true;
    file.authentic = walk.firstIndex && *walk.firstIndex == last + 1 && walk.authentic;
    if (walk.firstIndex && *walk.firstIndex == last + 1) last = *walk.lastIndex;
  }
  return S_OK;
}
