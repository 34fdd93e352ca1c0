// The block object that reads a block of a given type word: walkers of a file that meet the
// blocks in file order (recovery, authentication, inspection tools) ask for one per block.
#pragma once

#include <memory>

#include "format/QuorMediaFileBlock.h"

// A new, empty block of the kind that type names; null for a word that is not a block type.
// Throws std::bad_alloc like any allocation.
[[nodiscard]] std::unique_ptr<CQuorMediaFileBlock> QuorNewBlockOfType(DWORD type);
