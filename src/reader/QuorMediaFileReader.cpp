#include "reader/QuorMediaFileReader.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/LoggedException.h"
#include "core/QuorClassLoggers.h"
#include "core/QuorLittleEndian.h"
#include "core/QuorMD5Hash.h"
#include "core/QuorMessageCatalogue.h"
#include "format/QuorBlockFactory.h"
#include "format/QuorFileAuthentication.h"
#include "format/QuorFormatLayout.h"
#include "format/QuorForwardBlockWalker.h"
#include "format/QuorIndexBlock.h"
#include "format/QuorMediaFileField.h"
#include "format/QuorTrackInfoBlock.h"
#include "objects/QuorMediaFileSample.h"
#include "quormediafiles/QuorFormatIds.h"
#include "quormediafiles/QuorMediaFilesInternal.h"
#include "quormediafiles/platform/QuorGuid.h"

QUOR_OBJECT_ENTRY_AUTO(CLSID_QuorMediaFileReader, CQuorMediaFileReader, u"QuorMediaFileReader")

namespace {

// The first block of every member file follows the 16-byte signature.
constexpr LONGLONG kFirstBlockOffset = static_cast<LONGLONG>(kQuorFileSignatureSize);
constexpr DWORD kNoFileSetIndex = 0xFFFFFFFF;
constexpr DWORD kNoBlockIndex = 0xFFFFFFFF;
// Progress is reckoned against this many blocks when the last file's finalization block does
// not tell the fileset's block count.
constexpr DWORD kDefaultTotalBlocks = 1000;
constexpr DWORD kPercent = 100;

// A u32 size field read on its own: loaded, tag 2, length 4.
bool IsSizeField(const CQuorMediaFileField& field) noexcept {
  return field.IsLoaded() && field.GetTag() == kTagBlockSize && field.GetLength() == kU32Size;
}

CQuorBstr GuidText(const GUID& guid) {
  OLECHAR text[kGuidStringBufferSize];
  if (StringFromGUID2(guid, text, kGuidStringBufferSize) == 0) return {};
  return CQuorBstr::Copy(text);
}

template <typename T>
[[nodiscard]] HRESULT CreateValueObject(REFCLSID clsid, CQuorComPtr<T>* object) noexcept {
  return CoCreateInstance(clsid, nullptr, CLSCTX_ALL, QuorIidOf<T>(),
                          reinterpret_cast<void**>(object->AddressOf()));
}

}  // namespace

CQuorMediaFileReader::CQuorMediaFileReader(CQuorFileSystem& fileSystem) noexcept
    : m_storage(fileSystem) {}

CQuorMediaFileReader::~CQuorMediaFileReader() { (void)Cleanup(); }  // always S_OK

QuorFrameInfo CQuorMediaFileReader::Frame(const char* methodName) const noexcept {
  return QuorFrameInfo{QuorMediaFileReaderLogger(), methodName,      this,
                       kQuorReaderLogLevel,         m_loggerContext, &CLSID_QuorMediaFileReader,
                       &IID_IQuorMediaFileReader};
}

HRESULT CQuorMediaFileReader::FinalConstruct() noexcept {
  return QuorInternalMethodFrame(Frame("CQuorMediaFileReader::FinalConstruct"),
                                 [&](DXL_FunctionLogger& log) {
                                   QuorLogRelease(log, kReaderCreated);
                                   return S_OK;
                                 });
}

HRESULT CQuorMediaFileReader::Cleanup() {
  return QuorInternalMethodFrame(Frame("CQuorMediaFileReader::Cleanup"), [&] {
    std::scoped_lock lock(m_lock);
    m_fileInfoBlock.reset();
    m_fileStatus.Clear();
    m_filesetIndexes.clear();
    m_tracks.Clear();
    m_authenticationActive = 0;
    m_authenticationProgress = 0;
    return S_OK;
  });
}

// ---------------------------------------------------------------------------------------------
// Opening

HRESULT CQuorMediaFileReader::OpenFileSet(BSTR bstrFileName, BSTR bstrPassword) {
  return QuorMethodFrame(Frame("CQuorMediaFileReader::OpenFileSet"), [&](DXL_FunctionLogger& log) {
    if (!bstrFileName) Raise(E_POINTER, kNullFileName);
    std::scoped_lock lock(m_lock);
    QUOR_RAISE_IF_FAILED(Cleanup(), kCleanupFailed);
    QUOR_RAISE_IF_FAILED(m_storage.InitializeForReading(bstrFileName),
                         kStorageInitializeForReadingFailed);
    if (!m_storage.GetReader()) Raise(E_FAIL, kStorageGetReaderFailed);
    try {
      m_fileInfoBlock = std::make_unique<CQuorFileInfoBlock>();
    } catch (const std::bad_alloc&) {
      Raise(E_OUTOFMEMORY, kNewFileInfoBlockFailed);
    }
    CQuorSafeArray names;
    QUOR_RAISE_IF_FAILED(m_storage.GetFileNames(names.AddressOf()), kStorageGetFileNamesFailed);

    // Only the recovery of the last file of the list decides the result.
    HRESULT result = S_OK;
    const BSTR* name = names ? static_cast<const BSTR*>(names.Get()->pvData) : nullptr;
    for (ULONG i = 0; i < names.Count(); ++i) {
      result = OpenMemberFile(name[i], bstrPassword, log);
    }
    QuorLogRelease(log, kReaderOpenFileSetSucceeded, QuorBstrToUtf8(bstrFileName).c_str());
    return result;
  });
}

HRESULT CQuorMediaFileReader::OpenMemberFile(BSTR fileName, BSTR password,
                                             DXL_FunctionLogger& log) {
  CQuorFileStorageReader* reader = m_storage.GetReader();
  DWORD fileIndex = 0;
  QUOR_RAISE_IF_FAILED(m_storage.GetFileIndex(fileName, &fileIndex), kStorageGetFileIndexFailed);
  m_fileStatus.At(fileIndex) = 0;
  QUOR_RAISE_IF_FAILED(m_storage.Seek(fileIndex, kFirstBlockOffset, soBegin),
                       kStorageSeekToBlockStartFailed);
  QUOR_RAISE_IF_FAILED(m_fileInfoBlock->Read(reader), kFileSetInfoReadFailed);

  // Files without a password hash open with any password; one that has one must match.
  BYTE storedHash[kHashSize];
  HRESULT hr = m_fileInfoBlock->GetPasswordHash(storedHash, kHashSize);
  if (hr == MFS_E_NO_VALUE) {
    hr = S_OK;
  } else if (SUCCEEDED(hr)) {
    if (SysStringLen(password) == 0) {
      hr = MFS_E_BAD_PASSWORD;
    } else {
      CQuorMD5Hash passwordHash;
      QUOR_RAISE_IF_FAILED(passwordHash.AddString(password), kPasswordHashAddStringFailed);
      if (!passwordHash.IsSame(storedHash)) hr = MFS_E_BAD_PASSWORD;
    }
  }
  QUOR_RAISE_IF_FAILED(hr, kPasswordHashInvalid);

  DWORD filesetIndex = 0;
  if (SUCCEEDED(m_fileInfoBlock->GetFileSetIndex(&filesetIndex))) {
    m_filesetIndexes[fileIndex] = filesetIndex;
  }

  // Track info blocks up to the one flagged last. Every file repeats them; the first file's
  // track objects stay.
  for (;;) {
    std::unique_ptr<CQuorMediaFileTrack> track;
    try {
      track = std::make_unique<CQuorMediaFileTrack>();
    } catch (const std::bad_alloc&) {
      Raise(E_OUTOFMEMORY, kNewMediaFileTrackFailed);
    }
    CQuorTrackInfoBlock& info = track->GetTrackInfo();
    DWORD trackId = 0;
    DWORD trackFlags = 0;
    const QuorMessage<std::uint32_t>* failure = nullptr;
    if (hr = info.Read(reader); FAILED(hr)) {
      failure = &kTrackInfoReadFailed;
    } else if (hr = info.GetTrackId(&trackId); FAILED(hr)) {
      failure = &kTrackInfoReadIdFailed;
    } else if (hr = info.GetTrackFlags(&trackFlags); FAILED(hr)) {
      failure = &kTrackInfoReadFlagsFailed;
    }
    if (failure != nullptr) {
      QuorLogDebug(log, *failure, static_cast<std::uint32_t>(hr));
      m_fileStatus.SetBits(fileIndex, kFileStatusTrackInfoFailed);
      QuorLogDebug(log, kTrackInfoReadAborted);
      return S_OK;
    }
    hr = m_tracks.SaveTrack(trackId, std::move(track));
    if (FAILED(hr)) QuorLogDebug(log, kTracksMapSaveTrackFailed, static_cast<unsigned>(hr));
    if (trackFlags & kTrackFlagLastTrackInfo) break;
  }

  CQuorFileFinalizationBlock finalization;
  if (FAILED(ReadFinalizationBlock(fileIndex, finalization))) {
    hr = ParseBrokenFile(fileIndex);
    if (SUCCEEDED(hr)) m_fileStatus.SetBits(fileIndex, kFileStatusRecovered);
    return hr;
  }

  m_fileStatus.SetBits(fileIndex, kFileStatusFinalized);
  bool lastFile = false;
  QUOR_RAISE_IF_FAILED(finalization.GetLastFileFlag(&lastFile),
                       kFinalizationReadLastFileFlagFailed);
  if (lastFile) m_fileStatus.SetBits(fileIndex, kFileStatusLastFile);
  LoadIndexChain(fileIndex, finalization);
  return S_OK;
}

void CQuorMediaFileReader::LoadIndexChain(DWORD fileIndex,
                                          const CQuorFileFinalizationBlock& finalization) {
  CQuorFileStorageReader* reader = m_storage.GetReader();
  // The last index block's size field lies just before the finalization block.
  const LONGLONG finalizationStart =
      static_cast<LONGLONG>(finalization.GetBlockSize()) + static_cast<LONGLONG>(kBlockHeaderSize);
  QUOR_RAISE_IF_FAILED(
      m_storage.Seek(fileIndex, -(finalizationStart + static_cast<LONGLONG>(kBlockTrailerSize)),
                     soEnd),
      kStorageMoveToLastIndexSizeFailed);
  CQuorMediaFileField sizeField;
  QUOR_RAISE_IF_FAILED(sizeField.Read(reader), kLastIndexSizeReadFailed);
  if (!IsSizeField(sizeField)) Raise(MFS_E_BAD_FORMAT, kIndexSizeFormatBad);
  const LONGLONG lastIndexSize = DecodeU32(sizeField.GetValue());
  // From behind the size field, back over it and the rest of the block to its first byte.
  const LONGLONG hashFieldSize = static_cast<LONGLONG>(kBlockHashFieldSize);
  QUOR_RAISE_IF_FAILED(
      m_storage.Seek(fileIndex,
                     hashFieldSize - (lastIndexSize + static_cast<LONGLONG>(kBlockHeaderSize)),
                     soCurrent),
      kStorageMoveToIndexBlockFailed);
  ULONGLONG position = 0;
  QUOR_RAISE_IF_FAILED(m_storage.GetPosition(fileIndex, &position), kStorageGetIndexPositionFailed);

  // The chain is followed a run of blocks at a time: each block is read into the batch and
  // parsed for the offset of the one before it, the run is hashed side by side, and its blocks
  // then go into the tracks in chain order. Where the walk stopped inside the run is acted on
  // after the blocks before that point have gone in, as when each block went in as it was read.
  CQuorBlockBatch& batch = m_blockBatch;
  ULONGLONG positions[kChainRun];
  while (position != 0) {
    batch.Clear();
    std::size_t count = 0;
    bool chainEnds = false;  // what was added so far stays
    HRESULT failure = S_OK;
    const QuorMessage<>* failureMessage = &kQuorNoMessage;
    while (count < kChainRun && !chainEnds && SUCCEEDED(failure)) {
      CQuorIndexBlock& block = m_chainBlocks[count];
      if (FAILED(batch.Append(reader)) || FAILED(block.ReadFrom(batch.GetBlock(count), nullptr))) {
        chainEnds = true;
        break;
      }
      positions[count++] = position;
      ULONGLONG previous = 0;
      if (failure = block.GetOffsetToPreviousIndex(&previous); FAILED(failure)) {
        failureMessage = &kIndexOffsetToPreviousFailed;
      } else if (previous == 0) {
        chainEnds = true;
      } else if (previous >= position) {
        // The chain runs backwards through the file; an offset that does not would never end,
        // and would meet a block it has added already, which the tracks refuse.
        failure = E_FAIL;
        failureMessage = &kTracksMapAddIndexFailed;
      } else if (failure = m_storage.Seek(fileIndex, static_cast<LONGLONG>(previous), soBegin);
                 FAILED(failure)) {
        failureMessage = &kStorageMoveToPreviousIndexFailed;
      }
      position = previous;
    }
    const bool hashed = SUCCEEDED(batch.HashBlocks());
    for (std::size_t i = 0; i < count; ++i) {
      m_chainBlocks[i].CheckDigest(hashed ? batch.GetDigest(i) : nullptr);
      QUOR_RAISE_IF_FAILED(m_tracks.AddIndexToTracks(m_chainBlocks[i], fileIndex, positions[i]),
                           kTracksMapAddIndexFailed);
    }
    QUOR_RAISE_IF_FAILED(failure, *failureMessage);
    if (chainEnds) return;
  }
}

HRESULT CQuorMediaFileReader::ReadFinalizationBlock(DWORD fileIndex,
                                                    CQuorFileFinalizationBlock& block) {
  return QuorInternalMethodFrame(Frame("CQuorMediaFileReader::ReadFinalizationBlock"), [&] {
    std::scoped_lock lock(m_lock);
    CQuorFileStorageReader* reader = m_storage.GetReader();
    QUOR_RAISE_IF_FAILED(
        m_storage.Seek(fileIndex, -static_cast<LONGLONG>(kSizeFieldFromEnd), soEnd),
        kStorageMoveToFinalizationSizeFailed);
    CQuorMediaFileField sizeField;
    QUOR_RAISE_IF_FAILED(sizeField.Read(reader), kFinalizationSizeReadFailed);
    if (!IsSizeField(sizeField)) Raise(MFS_E_BAD_FORMAT, kFinalizationSizeFormatBad);
    const LONGLONG size = DecodeU32(sizeField.GetValue());
    QUOR_RAISE_IF_FAILED(
        m_storage.Seek(fileIndex, -(size + static_cast<LONGLONG>(kBlockHeaderSize)), soEnd),
        kStorageMoveToFinalizationFailed);
    if (FAILED(block.Read(reader))) Raise(MFS_E_WRONG_STATE, kFinalizationReadFailed);
    return S_OK;
  });
}

// ---------------------------------------------------------------------------------------------
// Recovery

HRESULT CQuorMediaFileReader::ParseBrokenFile(DWORD fileIndex) {
  return QuorInternalMethodFrame(Frame("CQuorMediaFileReader::ParseBrokenFile"), [&] {
    std::scoped_lock lock(m_lock);
    QUOR_RAISE_IF_FAILED(m_storage.Seek(fileIndex, kFirstBlockOffset, soBegin),
                         kStorageSeekToBlockStartFailed);
    CQuorFileStorageReader* reader = m_storage.GetReader();
    if (!reader) Raise(E_FAIL, kStorageGetReaderFailed);
    ULONGLONG position = 0;
    QUOR_RETURN_IF_FAILED(m_storage.GetPosition(fileIndex, &position));
    // What one block means to the walk: index blocks go into the tracks as they are met.
    const auto take = [&](CQuorMediaFileBlock& block) {
      switch (block.GetBlockType()) {
        case btIndex:
          QUOR_RAISE_IF_FAILED(
              m_tracks.AddIndexToTracks(static_cast<CQuorIndexBlock&>(block), fileIndex, position),
              kTracksMapAddIndexFailed);
          break;
        case btFinalization:
          // A finalization block that could not be found from the end: the file's tail is
          // damaged, and what follows the index blocks met so far cannot be trusted.
          Raise(MFS_E_BAD_FORMAT, kBrokenFileNoIndexBlocks);
        default:
          break;
      }
    };
    // The blocks are read a batch at a time and hashed side by side, then parsed from memory.
    // Where a batch ends on a block that does not read or parse, that block is read once more
    // on its own (GetNextBlock), which gives the walk its end: the end of the file, also inside
    // a block cut short, ends it normally; any other failure ends it with that result.
    CQuorBlockBatch& batch = m_blockBatch;
    std::unique_ptr<CQuorMediaFileBlock> kinds[btFinalization >> 8];
    for (;;) {
      batch.Clear();
      QUOR_RETURN_IF_FAILED(batch.Fill(reader));
      bool whole = SUCCEEDED(batch.GetEnd()) && batch.GetCount() > 0;
      for (std::size_t i = 0; i < batch.GetCount(); ++i) {
        const BYTE* bytes = batch.GetBlock(i);
        std::unique_ptr<CQuorMediaFileBlock>& block = kinds[(DecodeU32(bytes) >> 8) - 1];
        if (!block) block = QuorNewBlockOfType(DecodeU32(bytes));
        if (FAILED(block->ReadFrom(bytes, batch.GetDigest(i)))) {
          whole = false;
          break;
        }
        take(*block);
        position += kBlockHeaderSize + DecodeU32(bytes + kBlockSizeWordOffset);
      }
      QUOR_RETURN_IF_FAILED(m_storage.Seek(fileIndex, static_cast<LONGLONG>(position), soBegin));
      if (whole) continue;
      std::unique_ptr<CQuorMediaFileBlock> block;
      const HRESULT hr = GetNextBlock(fileIndex, &block);
      if (hr == HRESULT_FROM_WIN32(ERROR_HANDLE_EOF)) return S_OK;
      QUOR_RETURN_IF_FAILED(hr);
      take(*block);
      QUOR_RETURN_IF_FAILED(m_storage.GetPosition(fileIndex, &position));
    }
  });
}

HRESULT CQuorMediaFileReader::GetNextBlock(DWORD fileIndex,
                                           std::unique_ptr<CQuorMediaFileBlock>* block) {
  return QuorInternalMethodFrame(Frame("CQuorMediaFileReader::GetNextBlock"), [&]() -> HRESULT {
    CQuorFileStorageReader* reader = m_storage.GetReader();
    if (!block || !reader) return E_POINTER;
    block->reset();
    BYTE typeBytes[kU32Size];
    QUOR_RETURN_IF_FAILED(reader->Read(typeBytes, kU32Size));
    QUOR_RETURN_IF_FAILED(m_storage.Seek(fileIndex, -static_cast<LONGLONG>(kU32Size), soCurrent));
    std::unique_ptr<CQuorMediaFileBlock> next;
    try {
      next = QuorNewBlockOfType(DecodeU32(typeBytes));
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    if (!next) return MFS_E_BAD_FORMAT;
    QUOR_RETURN_IF_FAILED(next->Read(reader));
    *block = std::move(next);
    return S_OK;
  });
}

// ---------------------------------------------------------------------------------------------
// Navigation

CQuorMediaFileTrack& CQuorMediaFileReader::FindTrack(ULONG dwTrackId) {
  CQuorMediaFileTrack* track = m_tracks.Find(dwTrackId);
  if (!track) Raise(E_INVALIDARG, kTrackNotInMap);
  return *track;
}

HRESULT CQuorMediaFileReader::GetFirstTimeStamp(ULONG dwTrackId, ULONGLONG* pnTime) {
  return QuorMethodFrame(
      Frame("CQuorMediaFileReader::GetFirstTimeStamp"), [&](DXL_FunctionLogger& log) {
        if (!pnTime) Raise(E_POINTER, kNullTimeOut);
        std::scoped_lock lock(m_lock);
        CQuorMediaFileTrack& track = FindTrack(dwTrackId);
        QuorLogDebug(log, kReaderGetFirstTimeStampSucceeded, static_cast<int>(dwTrackId));
        return track.GetFirstTimeStamp(pnTime);  // handed back unchanged, without a message
      });
}

HRESULT CQuorMediaFileReader::GetLastTimeStamp(ULONG dwTrackId, ULONGLONG* pnTime) {
  return QuorMethodFrame(
      Frame("CQuorMediaFileReader::GetLastTimeStamp"), [&](DXL_FunctionLogger& log) {
        if (!pnTime) Raise(E_POINTER, kNullTimeOut);
        std::scoped_lock lock(m_lock);
        CQuorMediaFileTrack& track = FindTrack(dwTrackId);
        QuorLogDebug(log, kReaderGetLastTimeStampSucceeded, static_cast<int>(dwTrackId));
        return track.GetLastTimeStamp(pnTime);  // handed back unchanged, without a message
      });
}

const std::vector<CQuorMediaSampleIndex>& CQuorMediaFileReader::ReadTrackEntries(
    ULONG dwTrackId, const CQuorIndexBlockIdentifier& identifier,
    const QuorMessage<>& seekMessage) {
  QUOR_RAISE_IF_FAILED(
      m_storage.Seek(identifier.m_fileIndex, static_cast<LONGLONG>(identifier.m_position), soBegin),
      seekMessage);
  QUOR_RAISE_IF_FAILED(m_indexBlock.Read(m_storage.GetReader()), kIndexBlockReadFailed);
  const std::vector<CQuorMediaSampleIndex>* entries = m_indexBlock.FindIndexes(dwTrackId);
  if (entries == nullptr)
    Raise(E_INVALIDARG, kIndexBlockGetIndexesFailed);  // the block lists no sample of the track
  return *entries;
}

HRESULT CQuorMediaFileReader::MoveTo(ULONG dwTrackId, ULONGLONG nTimestamp,
                                     IQuorMediaFileSample** ppiSample) {
  return QuorMethodFrame(Frame("CQuorMediaFileReader::MoveTo"), [&](DXL_FunctionLogger& log) {
    if (!ppiSample) Raise(E_POINTER, kNullSampleOut);
    std::scoped_lock lock(m_lock);
    *ppiSample = nullptr;
    CQuorMediaFileTrack& track = FindTrack(dwTrackId);
    CQuorIndexBlockIdentifier identifier;
    CQuorMediaSampleIndex entry;
    const CQuorMediaFileTrack::Cursor before = track.SaveCursor();
    try {
      QUOR_RAISE_IF_FAILED(track.GetIndexBlockIdentifier(nTimestamp, &identifier),
                           kTracksMapGetIndexBlockIdentifierFailed);
      QUOR_RAISE_IF_FAILED(
          track.GetSampleIndex(
              nTimestamp, ReadTrackEntries(dwTrackId, identifier, kStorageSeekToBlockStartFailed),
              &entry),
          kTracksMapGetSampleIndexFailed);
    } catch (...) {
      track.RestoreCursor(before);
      throw;
    }
    QuorLogRelease(log, kReaderMoveToSucceeded, static_cast<int>(dwTrackId),
                   static_cast<unsigned>(nTimestamp & 0xFFFFFFFFu));
    return GetMediaSample(identifier.m_fileIndex, entry, ppiSample);
  });
}

HRESULT CQuorMediaFileReader::MoveNext(ULONG dwTrackId, IQuorMediaFileSample** ppiSample) {
  return QuorMethodFrame(Frame("CQuorMediaFileReader::MoveNext"), [&](DXL_FunctionLogger& log) {
    return Step(dwTrackId, ppiSample, true, log);
  });
}

HRESULT CQuorMediaFileReader::MovePrevious(ULONG dwTrackId, IQuorMediaFileSample** ppiSample) {
  return QuorMethodFrame(Frame("CQuorMediaFileReader::MovePrevious"), [&](DXL_FunctionLogger& log) {
    return Step(dwTrackId, ppiSample, false, log);
  });
}

HRESULT CQuorMediaFileReader::Step(ULONG dwTrackId, IQuorMediaFileSample** ppiSample, bool forward,
                                   DXL_FunctionLogger& log) {
  if (!ppiSample) Raise(E_POINTER, kNullSampleOut);
  std::scoped_lock lock(m_lock);
  *ppiSample = nullptr;
  CQuorMediaFileTrack& track = FindTrack(dwTrackId);
  CQuorMediaSampleIndex entry;
  HRESULT hr = forward ? track.GetNextSampleIndex(&entry) : track.GetPreviousSampleIndex(&entry);
  if (hr == MFS_E_NO_VALUE) {
    // The current list is exhausted (or was never filled): enter the neighbouring index block,
    // at its first entry going forward and at its last going back.
    CQuorIndexBlockIdentifier identifier;
    const CQuorMediaFileTrack::Cursor before = track.SaveCursor();
    try {
      hr =
          forward ? track.GetNextIdentifier(&identifier) : track.GetPreviousIdentifier(&identifier);
      QUOR_RAISE_IF_FAILED(
          hr, forward ? kTracksMapGetNextIdentifierFailed : kTracksMapGetPreviousIdentifierFailed);
      const std::vector<CQuorMediaSampleIndex>& entries =
          ReadTrackEntries(dwTrackId, identifier, kStorageMoveToIndexBlockFailed);
      const ULONGLONG timestamp = (forward ? entries.front() : entries.back()).m_timestamp;
      QUOR_RAISE_IF_FAILED(track.GetSampleIndex(timestamp, entries, &entry),
                           kTracksMapGetMediaSampleIndexFailed);
    } catch (...) {
      track.RestoreCursor(before);
      throw;
    }
  } else {
    QUOR_RAISE_IF_FAILED(
        hr, forward ? kTracksMapGetNextSampleIndexFailed : kTracksMapGetPreviousSampleIndexFailed);
  }
  DWORD fileIndex = 0;
  QUOR_RAISE_IF_FAILED(track.GetCurrentFileIndex(&fileIndex), kQuorNoMessage);
  QuorLogDebug(log, forward ? kReaderMoveNextSucceeded : kReaderMovePreviousSucceeded,
               static_cast<int>(dwTrackId));
  return GetMediaSample(fileIndex, entry, ppiSample);
}

HRESULT CQuorMediaFileReader::GetMediaSample(DWORD fileIndex, const CQuorMediaSampleIndex& entry,
                                             IQuorMediaFileSample** ppiSample) {
  return QuorInternalMethodFrame(Frame("CQuorMediaFileReader::GetMediaSample"), [&]() -> HRESULT {
    if (!ppiSample) return E_POINTER;
    std::scoped_lock lock(m_lock);
    QUOR_RETURN_IF_FAILED(
        m_storage.Seek(fileIndex, static_cast<LONGLONG>(entry.m_position), soBegin));
    QUOR_RETURN_IF_FAILED(m_sampleBlock.Read(m_storage.GetReader()));
    const BYTE* payload = nullptr;
    DWORD length = 0;
    QUOR_RETURN_IF_FAILED(m_sampleBlock.GetPayload(&payload, &length));

    CQuorComPtr<IQuorMediaFileSample> sample;
    QUOR_RETURN_IF_FAILED(CreateValueObject(CLSID_QuorMediaFileSample, &sample));
    QUOR_RETURN_IF_FAILED(sample->SetTimestamp(entry.m_timestamp));
    QUOR_RETURN_IF_FAILED(sample->SetSampleFlags(
        CQuorMediaFileSample::SampleFlagsFromEntryFlags(entry.m_flags & kEntryFlagsKeptMask)));

    CQuorSafeArray data = CQuorSafeArray::CreateVector(VT_UI1, 0, length);
    if (!data) return E_OUTOFMEMORY;
    std::memcpy(data.Get()->pvData, payload, length);
    // Our own sample objects take the array as it is; any other goes through the copy.
    CQuorComPtr<IQuorMediaFileSampleAccess> access;
    if (SUCCEEDED(sample.As(&access)) && SUCCEEDED(access->TakePayload(data.Get()))) {
      (void)data.Detach();  // the sample owns it now
    } else {
      SAFEARRAY* array = data.Get();
      QUOR_RETURN_IF_FAILED(sample->SetPayloadData(&array));
    }
    *ppiSample = sample.Detach();
    return S_OK;
  });
}

// ---------------------------------------------------------------------------------------------
// Queries

HRESULT CQuorMediaFileReader::GetFileNames(SAFEARRAY** ppsaFileNames) {
  return QuorMethodFrame(Frame("CQuorMediaFileReader::GetFileNames"), [&](DXL_FunctionLogger& log) {
    if (!ppsaFileNames) Raise(E_POINTER, kNullFileNamesOut);
    std::scoped_lock lock(m_lock);
    *ppsaFileNames = nullptr;  // the storage frees what it finds there
    const HRESULT hr = m_storage.GetFileNames(ppsaFileNames);
    QUOR_RAISE_IF_FAILED(hr, kStorageGetFileNamesMethodFailed);
    SAFEARRAY* names = *ppsaFileNames;
    const ULONG count = names ? names->rgsabound[0].cElements : 0;
    const std::string first = count ? QuorBstrToUtf8(static_cast<BSTR*>(names->pvData)[0]) : "";
    QuorLogDebug(log, kReaderGetFileNamesSucceeded, static_cast<int>(count), first.c_str());
    return hr;
  });
}

HRESULT CQuorMediaFileReader::GetFileStatus(BSTR bstrFileName, IQuorMediaFileStatus** ppiStatus) {
  return QuorMethodFrame(
      Frame("CQuorMediaFileReader::GetFileStatus"), [&](DXL_FunctionLogger& log) {
        if (!bstrFileName || !ppiStatus) Raise(E_POINTER, kNullFileName);
        std::scoped_lock lock(m_lock);
        *ppiStatus = nullptr;
        DWORD fileIndex = 0;
        QUOR_RAISE_IF_FAILED(m_storage.GetFileIndex(bstrFileName, &fileIndex),
                             kStorageGetFileIndexFailed);
        DWORD flags = 0;
        if (!m_fileStatus.Find(fileIndex, &flags)) Raise(MFS_E_NO_VALUE, kFileStatusNotFound);
        const auto found = m_filesetIndexes.find(fileIndex);
        const DWORD filesetIndex =
            found == m_filesetIndexes.end() ? kNoFileSetIndex : found->second;

        CQuorComPtr<IQuorMediaFileStatus> status;
        QUOR_RAISE_IF_FAILED(CreateValueObject(CLSID_QuorMediaFileStatus, &status),
                             kCreateFileStatusFailed);
        QUOR_RAISE_IF_FAILED(status->SetStatusFlags(flags), kFileStatusSetStatusFlagsFailed);
        QUOR_RAISE_IF_FAILED(status->SetFileIndex(filesetIndex), kFileStatusSetFileIndexFailed);
        *ppiStatus = status.Detach();
        QuorLogDebug(log, kReaderGetFileStatusSucceeded, QuorBstrToUtf8(bstrFileName).c_str());
        return S_OK;
      });
}

HRESULT CQuorMediaFileReader::GetFileSetMetadata(IQuorFileSetMetadata** ppiMetadata) {
  return QuorMethodFrame(
      Frame("CQuorMediaFileReader::GetFileSetMetadata"), [&](DXL_FunctionLogger& log) {
        if (!ppiMetadata) Raise(E_POINTER, kNullMetadata);
        std::scoped_lock lock(m_lock);
        *ppiMetadata = nullptr;
        // Nothing has been opened: there is no file info block to describe.
        if (!m_fileInfoBlock) Raise(MFS_E_WRONG_STATE, kNoFileInfoBlock);

        CQuorComPtr<IQuorFileSetMetadataInt> metadata;
        QUOR_RAISE_IF_FAILED(CreateValueObject(CLSID_QuorFileSetMetadata, &metadata),
                             kCreateFileSetMetadataFailed);
        GUID guid{};
        if (SUCCEEDED(m_fileInfoBlock->GetFileSetGuid(&guid))) {
          CQuorBstr text = GuidText(guid);
          if (!text) Raise(E_OUTOFMEMORY, kFileSetMetadataSetGuidFailed);
          QUOR_RAISE_IF_FAILED(metadata->SetFilesetGuid(text.Get()), kFileSetMetadataSetGuidFailed);
        }
        ULONGLONG creationTime = 0;
        if (SUCCEEDED(m_fileInfoBlock->GetFileSetCreationTime(&creationTime))) {
          QUOR_RAISE_IF_FAILED(metadata->SetFilesetCreationTime(creationTime),
                               kFileSetMetadataSetCreationTimeFailed);
        }
        CQuorBstr description;
        if (SUCCEEDED(m_fileInfoBlock->GetDescription(description.AddressOf()))) {
          QUOR_RAISE_IF_FAILED(metadata->SetFilesetDescription(description.Get()),
                               kFileSetMetadataSetDescriptionFailed);
        }
        BYTE passwordHash[kHashSize];
        if (SUCCEEDED(m_fileInfoBlock->GetPasswordHash(passwordHash, kHashSize))) {
          QUOR_RAISE_IF_FAILED(metadata->SetFilesetPassword(VARIANT_TRUE),
                               kFileSetMetadataSetPasswordFailed);
        }
        VARIANT_BOOL complete = VARIANT_FALSE;
        QUOR_RAISE_IF_FAILED(IsCompleteFileSet(&complete), kIsCompleteFileSetFailed);
        QUOR_RAISE_IF_FAILED(metadata->SetFileSetComplete(complete),
                             kFileSetMetadataSetCompleteFailed);
        QuorLogDebug(log, kReaderGetFileSetMetadataSucceeded);
        return metadata->QueryInterface(IID_IQuorFileSetMetadata,
                                        reinterpret_cast<void**>(ppiMetadata));
      });
}

HRESULT CQuorMediaFileReader::GetTrackIds(SAFEARRAY** ppsaTrackIds) {
  return QuorMethodFrame(Frame("CQuorMediaFileReader::GetTrackIds"), [&]() -> HRESULT {
    if (!ppsaTrackIds) return E_POINTER;
    std::scoped_lock lock(m_lock);
    if (m_tracks.IsEmpty()) return MFS_E_NO_VALUE;
    const std::vector<DWORD> ids = m_tracks.GetTrackIds();
    CQuorSafeArray array = CQuorSafeArray::CreateVector(VT_UI4, 0, static_cast<ULONG>(ids.size()));
    if (!array) return E_OUTOFMEMORY;
    std::copy(ids.begin(), ids.end(), static_cast<DWORD*>(array.Get()->pvData));
    *ppsaTrackIds = array.Detach();
    return S_OK;
  });
}

CQuorComPtr<IQuorTrackMetadata> QuorTrackMetadataFromBlock(CQuorTrackInfoBlock& info,
                                                           ULONG dwTrackId) {
  CQuorComPtr<IQuorTrackMetadata> metadata;
  QUOR_RAISE_IF_FAILED(CreateValueObject(CLSID_QuorTrackMetadata, &metadata),
                       kCreateTrackMetadataFailed);

  QUOR_RAISE_IF_FAILED(metadata->SetTrackId(dwTrackId), kTrackMetadataSetTrackIdFailed);
  DWORD value = 0;
  if (SUCCEEDED(info.GetPairId(&value))) {
    // A pair id failure is reported with the source id's text, as the source id's own is.
    QUOR_RAISE_IF_FAILED(metadata->SetPairId(value), kTrackMetadataSetSourceIdFailed);
  }
  CQuorBstr text;
  QUOR_RAISE_IF_FAILED(info.GetTrackName(text.AddressOf()), kTrackInfoGetNameFailed);
  QUOR_RAISE_IF_FAILED(metadata->SetTrackName(text.Get()), kTrackMetadataSetTrackNameFailed);
  if (SUCCEEDED(info.GetSourceId(&value))) {
    QUOR_RAISE_IF_FAILED(metadata->SetSourceId(value), kTrackMetadataSetSourceIdFailed);
  }
  if (SUCCEEDED(info.GetSourceUrl(text.AddressOf()))) {
    QUOR_RAISE_IF_FAILED(metadata->SetSourceUrl(text.Get()), kTrackMetadataSetSourceUrlFailed);
  }
  GUID plugin{};
  if (SUCCEEDED(info.GetMediaSessionPlugin(&plugin))) {
    text = GuidText(plugin);
    if (!text) Raise(E_OUTOFMEMORY, kTrackMetadataSetPluginFailed);
    QUOR_RAISE_IF_FAILED(metadata->SetMediaSessionPlugin(text.Get()),
                         kTrackMetadataSetPluginFailed);
  }
  DWORD mediaTypes = 0;
  QUOR_RAISE_IF_FAILED(info.GetMediaTypes(&mediaTypes), kTrackMetadataSetMediaTypeFailed);
  QUOR_RAISE_IF_FAILED(
      metadata->SetVideoFlag((mediaTypes & kMediaTypeVideo) ? VARIANT_TRUE : VARIANT_FALSE),
      kTrackMetadataSetVideoFlagFailed);
  QUOR_RAISE_IF_FAILED(
      metadata->SetAudioFlag((mediaTypes & kMediaTypeAudio) ? VARIANT_TRUE : VARIANT_FALSE),
      kTrackMetadataSetAudioFlagFailed);

  // At most one format of each group; identifiers outside both groups are refused.
  std::vector<GUID> filters;
  const HRESULT filtersResult = info.GetFilters(&filters);
  if (filtersResult == MFS_E_BAD_FORMAT) Raise(filtersResult, kQuorNoMessage);
  if (SUCCEEDED(filtersResult)) {
    bool audioSet = false;
    bool videoSet = false;
    for (const GUID& filter : filters) {
      const bool audio = std::find(kQuorAudioFormatIds.begin(), kQuorAudioFormatIds.end(),
                                   filter) != kQuorAudioFormatIds.end();
      const bool video = !audio && std::find(kQuorVideoFormatIds.begin(), kQuorVideoFormatIds.end(),
                                             filter) != kQuorVideoFormatIds.end();
      if ((!audio && !video) || (audio && audioSet) || (video && videoSet)) {
        Raise(MFS_E_BAD_FORMAT, kQuorNoMessage);
      }
      text = GuidText(filter);
      if (!text) Raise(E_OUTOFMEMORY, kTrackMetadataAddFilterFailed);
      QUOR_RAISE_IF_FAILED(audio ? metadata->SetAudioFormatIdentifier(text.Get())
                                 : metadata->SetVideoFormatIdentifier(text.Get()),
                           kTrackMetadataAddFilterFailed);
      (audio ? audioSet : videoSet) = true;
    }
  }
  QUOR_RAISE_IF_FAILED(metadata->SetAuthentic(info.IsHashValid() ? VARIANT_TRUE : VARIANT_FALSE),
                       kTrackMetadataSetAuthenticFailed);
  return metadata;
}

HRESULT CQuorMediaFileReader::GetTrackMetadata(ULONG dwTrackId, IQuorTrackMetadata** ppiMetadata) {
  return QuorMethodFrame(
      Frame("CQuorMediaFileReader::GetTrackMetadata"), [&](DXL_FunctionLogger& log) {
        if (!ppiMetadata) Raise(E_POINTER, kNullMetadata);
        std::scoped_lock lock(m_lock);
        *ppiMetadata = nullptr;
        *ppiMetadata =
            QuorTrackMetadataFromBlock(FindTrack(dwTrackId).GetTrackInfo(), dwTrackId).Detach();
        QuorLogDebug(log, kReaderGetTrackMetadataSucceeded, static_cast<int>(dwTrackId));
        return S_OK;
      });
}

HRESULT CQuorMediaFileReader::IsCompleteFileSet(VARIANT_BOOL* pvbComplete) {
  return QuorMethodFrame(
      Frame("CQuorMediaFileReader::IsCompleteFileSet"), [&](DXL_FunctionLogger& log) -> HRESULT {
        if (!pvbComplete) return E_POINTER;
        std::scoped_lock lock(m_lock);
        *pvbComplete = VARIANT_FALSE;
        CQuorSafeArray names;
        const HRESULT hr = m_storage.GetFileNames(names.AddressOf());
        QUOR_RAISE_IF_FAILED(hr, kStorageGetFileNamesFailed);
        // Logged as an error, yet the storage's successful answer is what the caller gets.
        if (names.Count() == 0) Raise(hr, kFileNameCountZero);

        std::set<DWORD> filesetIndexes;
        DWORD lastIndex = kNoFileSetIndex;
        const BSTR* name = static_cast<const BSTR*>(names.Get()->pvData);
        for (ULONG i = 0; i < names.Count(); ++i) {
          DWORD fileIndex = 0;
          QUOR_RAISE_IF_FAILED(m_storage.GetFileIndex(name[i], &fileIndex),
                               kStorageGetFileIndexFailed);
          DWORD flags = 0;
          const bool markedLast =
              m_fileStatus.Find(fileIndex, &flags) && (flags & kFileStatusLastFile);
          DWORD filesetIndex = 0;
          const auto found = m_filesetIndexes.find(fileIndex);
          if (found != m_filesetIndexes.end()) {
            filesetIndex = found->second;
          } else if (names.Count() != 1 || !m_filesetIndexes.empty()) {
            // Only a fileset of one file may leave its position unsaid.
            Raise(MFS_E_NO_VALUE, kFileSetIndexMissing);
          }
          filesetIndexes.insert(filesetIndex);
          if (markedLast) lastIndex = filesetIndex;
        }

        if (lastIndex == kNoFileSetIndex) {
          QuorLogRelease(log, kLastFileMissing);
        } else if (filesetIndexes.size() == static_cast<std::size_t>(lastIndex) + 1) {
          *pvbComplete = VARIANT_TRUE;
          QuorLogRelease(log, kFileSetComplete);
        } else {
          QuorLogRelease(log, kSomeFileMissing);
        }
        return hr;
      });
}

// ---------------------------------------------------------------------------------------------
// Authentication

HRESULT CQuorMediaFileReader::IsAuthentic(VARIANT_BOOL* pvbAuthentic) {
  return QuorMethodFrame(Frame("CQuorMediaFileReader::IsAuthentic"), [&](DXL_FunctionLogger& log) {
    std::scoped_lock lock(m_lock);
    VARIANT_BOOL complete = VARIANT_FALSE;
    QUOR_RAISE_IF_FAILED(IsCompleteFileSet(&complete), kIsCompleteFileSetFailed);
    if (!pvbAuthentic) Raise(E_POINTER, kNullAuthenticOut);

    // Fileset order. Files that declare no position are not walked (a fileset with such a
    // file and others is never complete anyway); the lookups here never add to the map.
    std::map<DWORD, DWORD> order;
    for (const auto& [fileIndex, filesetIndex] : m_filesetIndexes) order[filesetIndex] = fileIndex;
    if (order.empty()) order[0] = 0;

    // The last file's finalization block carries the fileset's last block index.
    DWORD totalBlocks = kDefaultTotalBlocks;
    const auto last = order.find(static_cast<DWORD>(order.size() - 1));
    if (last != order.end()) {
      CQuorFileFinalizationBlock finalization;
      DWORD lastBlockIndex = 0;
      if (SUCCEEDED(ReadFinalizationBlock(last->second, finalization)) &&
          SUCCEEDED(finalization.GetBlockIndex(&lastBlockIndex))) {
        totalBlocks = lastBlockIndex;
      }
    }

    bool result = true;
    DWORD lastBlockIndex = kNoBlockIndex;
    HRESULT hr = S_OK;
    m_authenticationActive = 1;
    for (const auto& [filesetIndex, fileIndex] : order) {
      bool authentic = false;
      hr = AuthenticateFile(fileIndex, lastBlockIndex, totalBlocks, &authentic);
      if (hr == MFS_E_AUTH_CANCELLED) {
        result = false;
        break;
      }
      if (FAILED(hr)) {
        QuorLogDebug(log, kAuthenticateFileFailed, static_cast<unsigned>(hr));
        authentic = false;
        hr = S_OK;
      }
      m_fileStatus.SetBits(fileIndex, kFileStatusAuthTested);
      if (authentic) {
        m_fileStatus.SetBits(fileIndex, kFileStatusAuthentic);
      } else {
        m_fileStatus.ClearBits(fileIndex, kFileStatusAuthentic);
        result = false;
      }
    }

    // The verdict logged follows completeness; the answer needs both.
    if (complete) {
      *pvbAuthentic = result ? VARIANT_TRUE : VARIANT_FALSE;
      QuorLogRelease(log, kAuthFileSetSucceeded);
    } else {
      *pvbAuthentic = VARIANT_FALSE;
      QuorLogRelease(log, kAuthFileSetFailed);
    }
    m_authenticationProgress = 0;
    m_authenticationActive = 0;
    return hr;
  });
}

HRESULT CQuorMediaFileReader::AuthenticateFile(DWORD fileIndex, DWORD& lastBlockIndex,
                                               DWORD totalBlocks, bool* authentic) {
  return QuorInternalMethodFrame(
      Frame("CQuorMediaFileReader::AuthenticateFile"), [&](DXL_FunctionLogger& log) -> HRESULT {
        *authentic = false;
        std::scoped_lock lock(m_lock);
        CQuorFileAuthentication& check = m_fileCheck;
        QUOR_RETURN_IF_FAILED(check.Start(lastBlockIndex));
        const CQuorFileAuthentication::IndexVisitor progress = [&](DWORD index) -> HRESULT {
          lastBlockIndex = index;
          if (totalBlocks == 0) return E_UNEXPECTED;
          m_authenticationProgress = index * kPercent / totalBlocks;
          return S_OK;
        };
        // The walk ends with the verdict; a block that does not read fails the file.
        constexpr HRESULT kVerdict = E_ABORT;
        bool done = false;
        QuorForwardWalk walk;
        QUOR_RETURN_IF_FAILED(m_storage.Seek(fileIndex, 0, soBegin));  // the file the walk reads
        const HRESULT hr = CQuorForwardBlockWalker::Walk(
            *m_storage.GetReader(),
            [&](const QuorWalkedBlock& block) -> HRESULT {
              if (m_authenticationActive.load() == 0) return MFS_E_AUTH_CANCELLED;
              if (!walk.skipped.empty()) return MFS_E_BAD_FORMAT;
              QUOR_RETURN_IF_FAILED(check.Check(*block.block, &done, progress));
              return done ? kVerdict : S_OK;
            },
            &walk);
        if (hr != kVerdict) QUOR_RETURN_IF_FAILED(hr);
        if (!done) return HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
        if (!check.GetReason().empty()) log.LogReleaseMessage("%s", check.GetReason().c_str());
        *authentic = check.IsAuthentic();
        return S_OK;
      });
}

HRESULT CQuorMediaFileReader::CancelAuthentication() {
  return QuorMethodFrame(Frame("CQuorMediaFileReader::CancelAuthentication"), [&] {
    // No lock: IsAuthentic holds it for the whole walk that this call stops.
    if (m_authenticationActive.load() == 0) Raise(MFS_E_WRONG_STATE, kAuthNotInProgress);
    m_authenticationProgress = 0;
    m_authenticationActive = 0;
    return S_OK;
  });
}

HRESULT CQuorMediaFileReader::GetAuthenticationProgress(SHORT* pwProgress) {
  return QuorMethodFrame(
      Frame("CQuorMediaFileReader::GetAuthenticationProgress"), [&]() -> HRESULT {
        if (!pwProgress) return E_POINTER;
        *pwProgress = static_cast<SHORT>(m_authenticationProgress.load() & 0xFFFFu);
        return S_OK;
      });
}
