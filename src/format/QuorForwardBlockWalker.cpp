#include "format/QuorForwardBlockWalker.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "core/LoggedException.h"
#include "core/QuorLittleEndian.h"
#include "core/QuorMD5Hash.h"
#include "format/QuorBlockBatch.h"
#include "format/QuorBlockFactory.h"
#include "format/QuorFileFinalizationBlock.h"
#include "format/QuorFormatLayout.h"
#include "quormediafiles/QuorResultCodes.h"

namespace {

// The resync scan reads the file in pieces of this size, each overlapping the one before by a
// block header less one byte, so that no header is cut in two.
constexpr DWORD kScanChunk = 64u << 10;

// Block read failures that mean the bytes are not a block (as opposed to a failing source).
bool IsFramingFailure(HRESULT hr) noexcept {
  return hr == E_FAIL || hr == E_INVALIDARG || hr == E_POINTER ||
         hr == HRESULT_FROM_WIN32(ERROR_HANDLE_EOF) ||
         ((static_cast<unsigned>(hr) >> 16) & 0x1FFF) == FACILITY_ITF;
}

std::string TypeText(DWORD type) {
  char text[48];
  std::snprintf(text, sizeof text, "unknown block type 0x%X", static_cast<unsigned>(type));
  return text;
}

// One walk: the source and the state that runs from block to block.
class CWalk {
 public:
  CWalk(CQuorByteSource& source, bool readSampleBodies, QuorForwardWalk* walk)
      : m_source(source), m_readSampleBodies(readSampleBodies), m_walk(*walk) {}

  // The block at offset into m_block: S_OK, S_FALSE with *reason when the bytes there do not
  // read as a block, or a source failure.
  HRESULT TryBlock(ULONGLONG offset, std::string* reason) {
    m_block.reset();
    m_current = nullptr;
    const ULONGLONG remaining = m_walk.fileSize - std::min(offset, m_walk.fileSize);
    if (remaining < kBlockHeaderSize) {
      *reason = "truncated block header";
      return S_FALSE;
    }
    BYTE header[kBlockHeaderSize];
    QUOR_RETURN_IF_FAILED(m_source.ReadAt(offset, header, kBlockHeaderSize));
    const DWORD type = DecodeU32(header + kBlockTypeOffset);
    const DWORD fieldArea = DecodeU32(header + kBlockSizeWordOffset);
    if (!IsBlockType(type)) {
      *reason = TypeText(type);
      return S_FALSE;
    }
    if (fieldArea > remaining - kBlockHeaderSize) {
      *reason = std::string(QuorBlockTypeName(type)) + " block runs past the end of the file";
      return S_FALSE;
    }
    m_skippedBodySize = 0;
    if (type == btMediaSample && !m_readSampleBodies) {
      bool sizeFieldMatches = false;
      QUOR_RETURN_IF_FAILED(SizeFieldMatches(offset, fieldArea, &sizeFieldMatches));
      if (fieldArea < kBaseFieldsSize || !sizeFieldMatches) {
        *reason = "unreadable media-sample block";
        return S_FALSE;
      }
      m_skippedBodySize = fieldArea;
      return S_OK;
    }
    QUOR_RETURN_IF_FAILED(m_source.Seek(offset));
    try {
      m_block = QuorNewBlockOfType(type);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    const HRESULT hr = m_block->Read(&m_source);
    if (FAILED(hr)) {
      m_block.reset();
      if (!IsFramingFailure(hr)) return hr;
      char text[80];
      std::snprintf(text, sizeof text, "unreadable %s block (0x%08X)", QuorBlockTypeName(type),
                    static_cast<unsigned>(hr));
      *reason = text;
      return S_FALSE;
    }
    m_current = m_block.get();
    return S_OK;
  }

  // The block at offset from the read-ahead batch, parsed into the one block object of its
  // kind (m_current): S_OK, or S_FALSE when the batch does not hold it whole and parsed, for
  // TryBlock to read it, or to find why it does not read, as it always did. The batch is read
  // afresh at the offset the walk reaches once its blocks are used up; without sample bodies
  // there is none, since a batch reads every block whole.
  HRESULT TakeFromBatch(ULONGLONG offset) {
    m_current = nullptr;
    if (!m_readSampleBodies) return S_FALSE;
    if (m_next == m_batch.GetCount() || m_batchOffset != offset) {
      m_batch.Clear();
      m_next = 0;
      QUOR_RETURN_IF_FAILED(m_source.Seek(offset));
      QUOR_RETURN_IF_FAILED(m_batch.Fill(&m_source));
      m_batchOffset = offset;
    }
    if (m_next == m_batch.GetCount()) return S_FALSE;
    const BYTE* bytes = m_batch.GetBlock(m_next);
    std::unique_ptr<CQuorMediaFileBlock>& block = m_kinds[(DecodeU32(bytes) >> 8) - 1];
    if (!block) block = QuorNewBlockOfType(DecodeU32(bytes));
    if (FAILED(block->ReadFrom(bytes, m_batch.GetDigest(m_next)))) {
      m_batch.Clear();  // TryBlock reads it again and tells what is wrong
      m_next = 0;
      return S_FALSE;
    }
    ++m_next;
    m_batchOffset = offset + kBlockHeaderSize + DecodeU32(bytes + kBlockSizeWordOffset);
    m_current = block.get();
    return S_OK;
  }

  // The first offset after from at which a whole block reads (m_block holds it), or the file
  // size when there is none.
  HRESULT Resync(ULONGLONG from, ULONGLONG* found) {
    std::vector<BYTE> chunk;
    try {
      chunk.resize(kScanChunk);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    ULONGLONG start = from + 1;
    while (start + kBlockHeaderSize <= m_walk.fileSize) {
      const DWORD length =
          static_cast<DWORD>(std::min<ULONGLONG>(kScanChunk, m_walk.fileSize - start));
      QUOR_RETURN_IF_FAILED(m_source.ReadAt(start, chunk.data(), length));
      for (DWORD p = 0; p + kBlockHeaderSize <= length; ++p) {
        // A type word is 0x100 to 0x500: bytes 00 0n 00 00.
        if (chunk[p] != 0 || chunk[p + 2] != 0 || chunk[p + 3] != 0 ||
            !IsBlockType(DecodeU32(&chunk[p]))) {
          continue;
        }
        const ULONGLONG candidate = start + p;
        const DWORD fieldArea = DecodeU32(&chunk[p + kBlockSizeWordOffset]);
        if (fieldArea < kBaseFieldsSize ||
            fieldArea > m_walk.fileSize - candidate - kBlockHeaderSize) {
          continue;
        }
        bool sizeFieldMatches = false;
        QUOR_RETURN_IF_FAILED(SizeFieldMatches(candidate, fieldArea, &sizeFieldMatches));
        if (!sizeFieldMatches) continue;
        std::string ignored;
        const HRESULT hr = TryBlock(candidate, &ignored);
        QUOR_RETURN_IF_FAILED(hr);
        if (hr == S_OK) {
          *found = candidate;
          return S_OK;
        }
      }
      if (start + length >= m_walk.fileSize) break;
      start += length - (kBlockHeaderSize - 1);
    }
    *found = m_walk.fileSize;
    return S_OK;
  }

  // Whether the block size field that ends a block of this size at offset holds the size, a
  // cheap test before a candidate is read whole.
  HRESULT SizeFieldMatches(ULONGLONG offset, DWORD fieldArea, bool* matches) {
    BYTE field[kBlockSizeFieldSize];
    const ULONGLONG at = offset + kBlockHeaderSize + fieldArea - kBlockTrailerSize;
    QUOR_RETURN_IF_FAILED(m_source.ReadAt(at, field, kBlockSizeFieldSize));
    *matches = DecodeU32(field) == kTagBlockSize && DecodeU32(field + 4) == kU32Size &&
               DecodeU32(field + kFieldHeaderSize) == fieldArea;
    return S_OK;
  }

  HRESULT Run(const CQuorForwardBlockWalker::Visitor& visit) {
    QUOR_RETURN_IF_FAILED(m_source.Seek(0));
    QUOR_RETURN_IF_FAILED(m_source.GetRemaining(&m_walk.fileSize));
    const auto signature = QuorFileSignatureBytes();
    BYTE head[kQuorFileSignatureSize] = {};
    if (m_walk.fileSize < kQuorFileSignatureSize) {
      m_walk.end = "no member file signature";
      return S_OK;
    }
    QUOR_RETURN_IF_FAILED(m_source.Read(head, kQuorFileSignatureSize));
    // A damaged signature does not hide the blocks after it.
    m_walk.signatureValid = std::memcmp(head, signature.data(), signature.size()) == 0;

    CQuorMD5Hash fileHash;
    bool havePrevious = false;  // a block index was read since the start or a gap
    DWORD previousIndex = 0;
    bool afterFinalization = false;
    bool unhashed = false;
    DWORD lastType = 0;
    ULONGLONG offset = kQuorFileSignatureSize;
    while (offset < m_walk.fileSize) {
      std::string reason;
      HRESULT hr = TakeFromBatch(offset);
      QUOR_RETURN_IF_FAILED(hr);
      if (hr == S_FALSE) hr = TryBlock(offset, &reason);
      QUOR_RETURN_IF_FAILED(hr);
      if (hr == S_FALSE) {
        ULONGLONG next = 0;
        QUOR_RETURN_IF_FAILED(Resync(offset, &next));
        if (next >= m_walk.fileSize) {
          // Nothing readable follows: a file cut short, or damage up to its end.
          m_walk.end = reason;
          m_walk.endOffset = offset;
          return S_OK;
        }
        m_walk.skipped.push_back({offset, next - offset, reason});
        offset = next;
      }

      QuorWalkedBlock walked;
      walked.offset = offset;
      if (lastType == btFinalization) afterFinalization = true;
      if (!m_current) {
        // A media sample block whose body was not read: where it lies is all there is.
        walked.type = btMediaSample;
        walked.size = kBlockHeaderSize + static_cast<ULONGLONG>(m_skippedBodySize);
        havePrevious = false;
        unhashed = true;
        lastType = walked.type;
        ++m_walk.blocks;
        QUOR_RETURN_IF_FAILED(visit(walked));
        offset += walked.size;
        continue;
      }
      CQuorMediaFileBlock& block = *m_current;
      walked.type = block.GetBlockType();
      walked.size = kBlockHeaderSize + static_cast<ULONGLONG>(block.GetBlockSize());
      walked.hashValid = block.IsHashValid();
      walked.block = &block;
      DWORD index = 0;
      if (SUCCEEDED(block.GetBlockIndex(&index))) {
        walked.blockIndex = index;
        walked.indexInSequence = !havePrevious || index == previousIndex + 1;
        havePrevious = true;
        previousIndex = index;
      }
      const BYTE* hash = nullptr;
      DWORD length = 0;
      if (afterFinalization || (walked.type == btFinalization && unhashed)) {
        // The first finalization block closed the file hash: what follows it is in no hash,
        // and a second finalization block's file hash is not checked. Without the hashes of
        // blocks that were skipped, the file hash cannot be checked either.
      } else if (walked.type == btFinalization) {
        walked.fileHashValid =
            SUCCEEDED(
                static_cast<CQuorFileFinalizationBlock&>(block).GetFileHash(&hash, &length)) &&
            length == kQuorMD5DigestSize && fileHash.IsSame(hash);
      } else if (SUCCEEDED(block.GetBlockHash(&hash, &length))) {
        QUOR_RETURN_IF_FAILED(fileHash.AddData(hash, length));
      }
      lastType = walked.type;
      ++m_walk.blocks;
      QUOR_RETURN_IF_FAILED(visit(walked));
      offset += walked.size;
    }
    m_walk.endOffset = m_walk.fileSize;
    m_walk.cleanEnd = lastType == btFinalization && !afterFinalization && m_walk.skipped.empty() &&
                      m_walk.signatureValid;
    m_walk.end = afterFinalization            ? "data after the finalization block"
                 : lastType == btFinalization ? "end of file"
                                              : "end of file without a finalization block";
    return S_OK;
  }

 private:
  CQuorByteSource& m_source;
  bool m_readSampleBodies;
  DWORD m_skippedBodySize = 0;  // of the media sample block TryBlock found without reading it
  QuorForwardWalk& m_walk;
  std::unique_ptr<CQuorMediaFileBlock> m_block;  // read by TryBlock
  CQuorMediaFileBlock* m_current = nullptr;      // the block the walk stands on, if read
  // Blocks read ahead and hashed side by side; m_next is the next one to use, which lies at
  // m_batchOffset in the file.
  CQuorBlockBatch m_batch;
  std::size_t m_next = 0;
  ULONGLONG m_batchOffset = 0;
  std::unique_ptr<CQuorMediaFileBlock> m_kinds[btFinalization >> 8];
};

}  // namespace

HRESULT CQuorForwardBlockWalker::Walk(CQuorByteSource& source, const Visitor& visit,
                                      QuorForwardWalk* walk, bool readSampleBodies) {
  if (walk == nullptr || !visit) return E_POINTER;
  *walk = QuorForwardWalk{};
  try {
    return CWalk(source, readSampleBodies, walk).Run(visit);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT QuorFindFirstDamage(CQuorByteSource& source, std::optional<QuorFirstDamage>* damage) {
  if (damage == nullptr) return E_POINTER;
  damage->reset();
  // The walk stops at the first damaged block or once bytes were skipped (before the block the
  // visitor is handed then).
  constexpr HRESULT kFound = E_ABORT;
  QuorForwardWalk walk;
  std::optional<QuorWalkedBlock> bad;
  const HRESULT hr = CQuorForwardBlockWalker::Walk(
      source,
      [&](const QuorWalkedBlock& b) {
        if (!walk.skipped.empty()) return kFound;
        if (!b.Damaged()) return S_OK;
        bad = b;
        return kFound;
      },
      &walk);
  if (hr != kFound) QUOR_RETURN_IF_FAILED(hr);
  QuorFirstDamage found;
  if (!walk.skipped.empty()) {
    const QuorSkippedBytes& skip = walk.skipped.front();
    found.offset = skip.offset;
    found.problem = skip.reason;
    found.bytesSkipped = skip.length;
  } else if (bad) {
    found.offset = bad->offset;
    found.blockIndex = bad->blockIndex;
    found.type = bad->type;
    found.problem = !bad->hashValid         ? "fails its block hash check"
                    : !bad->indexInSequence ? "breaks the block index sequence"
                                            : "holds a file hash that does not match";
  } else if (!walk.cleanEnd) {
    found.offset = walk.endOffset;
    found.problem = walk.end;
  } else {
    return S_OK;
  }
  *damage = std::move(found);
  return S_OK;
}

const char* QuorBlockTypeName(DWORD type) noexcept {
  switch (type) {
    case btFileInfo:
      return "file-info";
    case btTrackInfo:
      return "track-info";
    case btIndex:
      return "index";
    case btMediaSample:
      return "media-sample";
    case btFinalization:
      return "finalization";
    default:
      return "unknown";
  }
}
