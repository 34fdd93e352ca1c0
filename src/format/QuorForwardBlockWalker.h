// CQuorForwardBlockWalker: walks the blocks of one member file forward from its first block (at
// offset 16) to its end, as they are on disk, through a byte source that holds the file (a
// storage's reader, or memory). For every block that reads it hands the caller the block object
// with its offset, whether its stored hash matches, whether its block index runs on from the
// previous block's, and, for a finalization block, whether the file hash matches the block hashes
// met before it.
//
// Damage does not end the walk: where a block's framing is broken (an unknown type word, a size
// word past the end of the file, a field area that does not parse) the walker skips forward to
// the next offset at which a whole block reads, and reports the bytes it skipped. Blocks whose
// stored hash does not match are handed over like any other; judging them is the caller's.
//
// Blocks are read ahead a batch at a time (CQuorBlockBatch, up to 2 MiB) and hashed side by side;
// where the next block of a batch does not read or parse, that block is read on its own, as it
// lies, to find what is wrong with it and where the next whole block starts. Without sample
// bodies the walk reads block by block. Borrows the source for the walk; one thread.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "format/QuorByteSource.h"
#include "quormediafiles/platform/QuorTypes.h"

class CQuorMediaFileBlock;

struct QuorWalkedBlock {
  ULONGLONG offset = 0;
  DWORD type = 0;
  ULONGLONG size = 0;  // bytes on disk: header and field area
  std::optional<DWORD> blockIndex;
  bool hashValid = false;
  bool indexInSequence = true;           // the previous block's index + 1 (always for the first)
  std::optional<bool> fileHashValid;     // finalization blocks only
  CQuorMediaFileBlock* block = nullptr;  // valid during the visit only; null for a sample
                                         // block whose body was not read

  // Its hash, its index or the file hash it holds fails.
  bool Damaged() const noexcept { return !hashValid || !indexInSequence || fileHashValid == false; }
};

// Bytes the walk could not read as blocks.
struct QuorSkippedBytes {
  ULONGLONG offset = 0;
  ULONGLONG length = 0;
  std::string reason;  // what broke at offset: "unknown block type 0x600", ...
};

struct QuorForwardWalk {
  ULONGLONG fileSize = 0;
  bool signatureValid = false;
  ULONGLONG blocks = 0;
  std::vector<QuorSkippedBytes> skipped;
  // Where and how the walk ended: "end of file", "end of file without a finalization block",
  // "data after the finalization block", "no member file signature" (a file shorter than one;
  // a longer file whose signature is damaged is walked all the same), or what ended the last
  // block ("index block runs past the end of the file").
  std::string end;
  ULONGLONG endOffset = 0;
  // The signature holds, the file ends right after a finalization block, nothing was skipped.
  bool cleanEnd = false;
};

class CQuorForwardBlockWalker {
 public:
  // A failure returned by the visitor ends the walk with that result.
  using Visitor = std::function<HRESULT(const QuorWalkedBlock&)>;

  // Walks the member file that source holds, from its start. Source failures (a seek or read
  // error other than the end of the file) end the walk and are returned; damage is not a
  // failure. E_OUTOFMEMORY when a block cannot be allocated. Without readSampleBodies, media
  // sample blocks are only located (header and size field), not read: they are handed over
  // without block object, block index or hash verdict, and the file hash goes unchecked.
  [[nodiscard]] static HRESULT Walk(CQuorByteSource& source, const Visitor& visit,
                                    QuorForwardWalk* walk, bool readSampleBodies = true);
};

// The first damage a walk meets in a member file: a block that reads but fails a check (its
// index and type are known), bytes that do not read as blocks (bytesSkipped of them), or the
// end of a walk that does not end cleanly.
struct QuorFirstDamage {
  ULONGLONG offset = 0;
  std::optional<DWORD> blockIndex;
  DWORD type = 0;  // of a damaged block; 0 otherwise
  // "fails its block hash check", "breaks the block index sequence", "holds a file hash that
  // does not match", or what the walk met ("unknown block type 0x600", "end of file without a
  // finalization block").
  std::string problem;
  ULONGLONG bytesSkipped = 0;
};

// Walks the member file that source holds up to its first damage; std::nullopt when its own
// blocks are intact. Fails as Walk does.
[[nodiscard]] HRESULT QuorFindFirstDamage(CQuorByteSource& source,
                                          std::optional<QuorFirstDamage>* damage);

// "file-info", "track-info", "index", "media-sample", "finalization" or "unknown".
const char* QuorBlockTypeName(DWORD type) noexcept;
