// The tool's block listing: one member file read block by block, as it is on disk, with the
// library's forward block walker, for looking into damaged files (it skips over broken framing).
// For each block it reports offset, type, size, block index, whether its stored hash matches, and
// the fields of its kind; it also follows what authentication checks within the file: block
// indexes running on by one, and the finalization block's file hash over the earlier block hashes.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "format/QuorForwardBlockWalker.h"
#include "quormediafiles/platform/QuorTypes.h"

// One block as the walker met it (without its block object), and the fields of its kind.
// The JSON member's destructor may allocate while it takes nested values apart; running out of
// memory there ends the process, as any failing destructor would.
// NOLINTNEXTLINE(bugprone-exception-escape)
struct QuorBlockRecord : QuorWalkedBlock {
  nlohmann::ordered_json fields;
};

struct QuorBlockWalk {
  std::vector<QuorBlockRecord> blocks;
  QuorForwardWalk forward;  // how the walk went: file size, signature, bytes skipped, its end

  // The first block whose hash or index or file hash fails, or null.
  const QuorBlockRecord* FirstDamaged() const noexcept;
};

// Walks the member file at path (UTF-8). Throws CQuorError when it cannot be opened or read.
QuorBlockWalk QuorWalkBlocks(const std::string& path);

nlohmann::ordered_json QuorToJson(const QuorBlockWalk& walk);
void QuorPrintWalk(const std::string& path, const QuorBlockWalk& walk);
