#include "seal/QuorSealVerifier.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "core/LoggedException.h"
#include "format/QuorFileInfoBlock.h"
#include "platform/QuorFile.h"
#include "platform/QuorLastError.h"
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
  std::vector<BYTE> sidecar;
  QUOR_RETURN_IF_FAILED(ReadSidecar(memberPath, &sidecar));
  GUID guid = GUID_NULL;
  DWORD index = 0;
  const bool bound = ReadBinding(memberPath, &guid, &index);

  // The records that check out, up to the first that does not.
  std::vector<QuorSealRecord> good;
  QuorSealState problem = sstSealedPartly;  // none yet
  for (std::size_t at = 0; at < sidecar.size() && problem == sstSealedPartly;
       at += kSealRecordSize) {
    report->recordOffset = at;
    const std::size_t left = sidecar.size() - at;
    if (left < kSealFrameSize || DecodeU32(&sidecar[at]) != kSealMagic ||
        DecodeU32(&sidecar[at + 4]) != kSealRecordSize) {
      problem = sstBrokenRecord;
      report->problem = "not a seal record";
    } else if (left < kSealRecordSize) {
      problem = sstBrokenRecord;
      report->problem = "the seal file ends inside a record";
    } else {
      const QuorSealRecord record = DecodeSealRecord(&sidecar[at]);
      if (record.keyId != key.GetKeyId()) {
        problem = sstOtherKey;
        report->problem =
            "sealed by another key (key id " + Hex(record.keyId.data(), record.keyId.size()) + ")";
      } else if (!key.Verifies(&sidecar[at], kSealSignedSize, &sidecar[at + kSealSignedSize])) {
        problem = sstBrokenRecord;
        report->problem = "the seal's signature does not verify";
      } else if (bound && (record.fileSetGuid != guid || record.fileSetIndex != index)) {
        problem = sstOtherFile;
        report->problem = "the seal is for another member file (fileset " +
                          QuorGuidToString(record.fileSetGuid) + ", file " +
                          std::to_string(record.fileSetIndex) + ")";
      } else if (!good.empty() && record.offset < good.back().offset) {
        problem = sstBrokenRecord;
        report->problem = "the seal goes back before the one ahead of it";
      } else {
        good.push_back(record);
      }
    }
  }
  report->goodRecords = static_cast<std::uint32_t>(good.size());
  if (!good.empty()) {
    report->lastBlock = good.back().blockIndex;
    report->sealedEnd = good.back().offset;
    report->finalized = good.back().finalized;
    report->timeMs = good.back().timeMs;
  }

  // One pass over the member file, comparing the running digest at every sealed offset.
  CQuorSha256 hash;
  QUOR_RETURN_IF_FAILED(hash.Reset());
  std::unique_ptr<BYTE[]> buffer(new BYTE[kReadChunk]);
  ULONGLONG hashed = 0;
  ULONGLONG previousEnd = 0;
  std::uint32_t previousBlock = 0;
  bool first = true;
  for (const QuorSealRecord& record : good) {
    while (hashed < record.offset && hashed < report->fileSize) {
      const DWORD want = static_cast<DWORD>(
          std::min<ULONGLONG>(kReadChunk, std::min(record.offset, report->fileSize) - hashed));
      DWORD read = 0;
      if (!member.Read(buffer.get(), want, &read) || read != want) {
        return HRESULT_FROM_WIN32(ERROR_READ_FAULT);
      }
      QUOR_RETURN_IF_FAILED(hash.Add(buffer.get(), read));
      hashed += read;
    }
    QuorSealDigest digest{};
    QUOR_RETURN_IF_FAILED(hash.Peek(&digest));
    if (hashed < record.offset || digest != record.digest) {
      report->state = sstBytesDiffer;
      report->rangeStart = previousEnd;
      report->rangeEnd = record.offset;
      report->rangeFirstBlock = first ? 0 : previousBlock + 1;
      report->rangeLastBlock = record.blockIndex;
      if (hashed < record.offset) {
        report->problem = ": the file ends at byte " + std::to_string(report->fileSize);
      }
      return S_OK;
    }
    previousEnd = record.offset;
    previousBlock = record.blockIndex;
    first = false;
  }

  if (problem != sstSealedPartly) {
    report->state = problem;
  } else if (good.empty()) {
    report->state = sstNoSeal;
  } else {
    report->state = report->finalized && report->sealedEnd == report->fileSize ? sstSealedToEnd
                                                                               : sstSealedPartly;
  }
  return S_OK;
}
