// Checks a member file against the seal records in its sidecar with a public key: which prefix
// of the file the holder of the matching private key sealed, and whether those bytes are still
// the ones sealed. Reads the sidecar whole and the member file once, from its start to the last
// sealed offset, and its file info block for the fileset GUID and index that every record must
// name. Free functions; any thread; they keep nothing open.
#pragma once

#include <cstdint>
#include <string>

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
