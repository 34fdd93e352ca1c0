// Checks a member file against the seal records in its sidecar with a public key: which prefix
// of the file the holder of the matching private key sealed, and whether those bytes are still
// the ones sealed. Reads the sidecar whole and the member file once, from its start to the last
// sealed offset, and its file info block for the fileset GUID and index that every record must
// name. Free functions; any thread; they keep nothing open.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "quormediafiles/platform/QuorTypes.h"
#include "seal/QuorSealKey.h"
#include "seal/QuorSealLayout.h"

enum QuorSealState : std::uint32_t {
  sstSealedToEnd = 0,   // the last seal is a finalized one at the file's end, every seal holds
  sstSealedPartly = 1,  // every seal holds; bytes after the last one, or it is not finalized
  sstNoSeal = 2,        // no sidecar, or one without a record
  sstOtherKey = 3,      // a record was signed by another key
  sstBrokenRecord = 4,  // a record is cut, damaged, out of order, or its signature fails
  sstOtherFile = 5,     // a record names another fileset or another member of this one
  sstBytesDiffer = 6,   // bytes of a sealed range differ from what was sealed, or are missing
};

struct QuorSealReport {
  std::string memberFile;
  QuorSealState state = sstNoSeal;
  std::uint32_t goodRecords = 0;  // records before the first bad one that check out
  // The last good record: the block it reaches, the offset it seals to, its time.
  std::uint32_t lastBlock = 0;
  ULONGLONG sealedEnd = 0;
  bool finalized = false;
  std::uint64_t timeMs = 0;
  ULONGLONG fileSize = 0;
  // sstBytesDiffer: the first sealed range whose bytes differ, [rangeStart, rangeEnd), and the
  // blocks it covers (firstBlock is 0 for the first range).
  ULONGLONG rangeStart = 0;
  ULONGLONG rangeEnd = 0;
  std::uint32_t rangeFirstBlock = 0;
  std::uint32_t rangeLastBlock = 0;
  // sstOtherKey, sstBrokenRecord, sstOtherFile: where the record starts in the sidecar, and
  // what is wrong with it.
  ULONGLONG recordOffset = 0;
  std::string problem;

  bool SealedToEnd() const noexcept { return state == sstSealedToEnd; }
  // One line: "sealed to the end (block 41, 3 seals)", "bytes differ from what was sealed in
  // bytes 4096..8192 (blocks 12..20)", ...
  std::string Describe() const;
};

// A failed read of the member file or the sidecar is returned; every finding about the seals is
// in *report.
[[nodiscard]] HRESULT QuorVerifySeal(const std::string& memberPath, const CQuorSealKey& key,
                                     QuorSealReport* report);
// Without a key: the number of whole records in the member's sidecar (0 without one).
std::uint32_t QuorCountSealRecords(const std::string& memberPath);

// One member file of QuorCheckMemberFiles: its path and, when it is to be authenticated, its
// place in the fileset's block index chain; the verdicts come back in it.
struct QuorMemberCheck {
  std::string path;
  std::optional<DWORD> chainPosition;  // files without one are not authenticated
  bool tested = false;                 // authenticated (it has a chain position)
  bool authentic = false;              // as IsAuthentic judges the file
  QuorSealReport seal;                 // with a key
};

// Authentication and the seal check of a fileset's member files in one read of each byte:
// every file is read once from its start, its blocks a batch at a time (CQuorBlockBatch), and
// the same bytes feed the salted block and file hash checks of authentication
// (CQuorFileAuthentication) and the SHA-256 of the sealed ranges. Two threads take the files in
// turn; the block index chain is joined across files in chain order afterwards, so each file's
// verdict is the one IsAuthentic gives it. Without authenticate only the seals are checked;
// without key (null) only authentication runs.
//
// cancel (optional) is polled between batches: MFS_E_AUTH_CANCELLED, with no verdicts. bytesDone
// (optional) counts the bytes read so far, for progress. A file that cannot be opened or read
// is returned as a failure, as QuorVerifySeal does; damage is a verdict, not a failure.
[[nodiscard]] HRESULT QuorCheckMemberFiles(std::vector<QuorMemberCheck>* files,
                                           const CQuorSealKey* key, bool authenticate,
                                           const std::atomic<bool>* cancel = nullptr,
                                           std::atomic<ULONGLONG>* bytesDone = nullptr);
