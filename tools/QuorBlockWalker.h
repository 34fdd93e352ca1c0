// CQuorBlockWalker: reads one member file block by block, as it is on disk, with the library's
// forward block walker, for looking into damaged files (it skips over broken framing). For each
// block it reports offset, type, size, block index, whether its stored hash matches, and the fields
// of its kind; it also follows what authentication checks within the file: block indexes running on
// by one, and the finalization block's file hash over the earlier block hashes.
//
// Owns the storage that holds the file open; one thread.
#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "format/QuorForwardBlockWalker.h"
#include "quormediafiles/platform/QuorTypes.h"

class CQuorFileStorage;

// One block as the walker met it (without its block object), and the fields of its kind.
struct QuorBlockRecord : QuorWalkedBlock {
  nlohmann::ordered_json fields;
};

struct QuorBlockWalk {
  bool signatureValid = false;
  ULONGLONG fileSize = 0;
  std::vector<QuorBlockRecord> blocks;
  // How the walk ended: "end of file" after a finalization block or at the end of the data;
  // otherwise what stopped it ("unreadable block: E_FAIL (0x80004005)", ...).
  std::string end;
  bool cleanEnd = false;
  ULONGLONG endOffset = 0;
  QuorForwardWalk forward;  // the walk as the walker reported it, with the bytes it skipped

  // The first block whose hash or index or file hash fails, or null.
  const QuorBlockRecord* FirstDamaged() const noexcept;
};

class CQuorBlockWalker {
 public:
  CQuorBlockWalker();
  ~CQuorBlockWalker();
  CQuorBlockWalker(const CQuorBlockWalker&) = delete;
  CQuorBlockWalker& operator=(const CQuorBlockWalker&) = delete;

  // Throws CQuorError when the file cannot be opened.
  QuorBlockWalk Walk(const std::string& path);

 private:
  std::unique_ptr<CQuorFileStorage> m_storage;
};

nlohmann::ordered_json QuorToJson(const QuorBlockWalk& walk);
void QuorPrintWalk(const std::string& path, const QuorBlockWalk& walk);
