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

const char* Msg(QuorMessageId id) noexcept { return QuorLoadMessage(id).data(); }

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
                                   log.LogReleaseMessage(Msg(10109));
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
    if (!bstrFileName) Raise(E_POINTER, 10108);
    std::scoped_lock lock(m_lock);
    QUOR_RAISE_IF_FAILED(Cleanup(), 10101);
    QUOR_RAISE_IF_FAILED(m_storage.InitializeForReading(bstrFileName), 10102);
    if (!m_storage.GetReader()) Raise(E_FAIL, 10103);
    try {
      m_fileInfoBlock = std::make_unique<CQuorFileInfoBlock>();
    } catch (const std::bad_alloc&) {
      Raise(E_OUTOFMEMORY, 10104);
    }
    CQuorSafeArray names;
    QUOR_RAISE_IF_FAILED(m_storage.GetFileNames(names.AddressOf()), 10105);

    // Only the recovery of the last file of the list decides the result.
    HRESULT result = S_OK;
    const BSTR* name = names ? static_cast<const BSTR*>(names.Get()->pvData) : nullptr;
    for (ULONG i = 0; i < names.Count(); ++i) {
      result = OpenMemberFile(name[i], bstrPassword, log);
    }
    log.LogReleaseMessage(Msg(10121), QuorBstrToUtf8(bstrFileName).c_str());
    return result;
  });
}

HRESULT CQuorMediaFileReader::OpenMemberFile(BSTR fileName, BSTR password,
                                             DXL_FunctionLogger& log) {
  CQuorFileStorageReader* reader = m_storage.GetReader();
  DWORD fileIndex = 0;
  QUOR_RAISE_IF_FAILED(m_storage.GetFileIndex(fileName, &fileIndex), 10106);
  m_fileStatus.At(fileIndex) = 0;
  QUOR_RAISE_IF_FAILED(m_storage.Seek(fileIndex, kFirstBlockOffset, soBegin), 10107);
  QUOR_RAISE_IF_FAILED(m_fileInfoBlock->Read(reader), 10110);

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
      QUOR_RAISE_IF_FAILED(passwordHash.AddString(password), 10111);
      if (!passwordHash.IsSame(storedHash)) hr = MFS_E_BAD_PASSWORD;
    }
  }
  QUOR_RAISE_IF_FAILED(hr, 10112);

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
      Raise(E_OUTOFMEMORY, 10113);
    }
    CQuorTrackInfoBlock& info = track->GetTrackInfo();
    DWORD trackId = 0;
    DWORD trackFlags = 0;
    QuorMessageId failure = kQuorNoMessage;
    if (FAILED(hr = info.Read(reader))) {
      failure = 10114;
    } else if (FAILED(hr = info.GetTrackId(&trackId))) {
      failure = 10116;
    } else if (FAILED(hr = info.GetTrackFlags(&trackFlags))) {
      failure = 10115;
    }
    if (failure != kQuorNoMessage) {
      log.LogDebugMessage(Msg(failure), static_cast<unsigned>(hr));
      m_fileStatus.SetBits(fileIndex, kFileStatusTrackInfoFailed);
      log.LogDebugMessage(Msg(10266));
      return S_OK;
    }
    hr = m_tracks.SaveTrack(trackId, std::move(track));
    if (FAILED(hr)) log.LogDebugMessage(Msg(10117), static_cast<unsigned>(hr));
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
  QUOR_RAISE_IF_FAILED(finalization.GetLastFileFlag(&lastFile), 10125);
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
      10126);
  CQuorMediaFileField sizeField;
  QUOR_RAISE_IF_FAILED(sizeField.Read(reader), 10127);
  if (!IsSizeField(sizeField)) Raise(MFS_E_BAD_FORMAT, 10128);
  const LONGLONG lastIndexSize = DecodeU32(sizeField.GetValue());
  // From behind the size field, back over it and the rest of the block to its first byte.
  const LONGLONG hashFieldSize = static_cast<LONGLONG>(kBlockHashFieldSize);
  QUOR_RAISE_IF_FAILED(
      m_storage.Seek(fileIndex,
                     hashFieldSize - (lastIndexSize + static_cast<LONGLONG>(kBlockHeaderSize)),
                     soCurrent),
      10129);
  ULONGLONG position = 0;
  QUOR_RAISE_IF_FAILED(m_storage.GetPosition(fileIndex, &position), 10130);

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
    QuorMessageId failureMessage = kQuorNoMessage;
    while (count < kChainRun && !chainEnds && SUCCEEDED(failure)) {
      CQuorIndexBlock& block = m_chainBlocks[count];
      if (FAILED(batch.Append(reader)) || FAILED(block.ReadFrom(batch.GetBlock(count), nullptr))) {
        chainEnds = true;
        break;
      }
      positions[count++] = position;
      ULONGLONG previous = 0;
      if (FAILED(failure = block.GetOffsetToPreviousIndex(&previous))) {
        failureMessage = 10133;
      } else if (previous == 0) {
        chainEnds = true;
      } else if (previous >= position) {
        // The chain runs backwards through the file; an offset that does not would never end,
        // and would meet a block it has added already, which the tracks refuse.
        failure = E_FAIL;
        failureMessage = 10132;
      } else if (FAILED(failure =
                            m_storage.Seek(fileIndex, static_cast<LONGLONG>(previous), soBegin))) {
        failureMessage = 10134;
      }
      position = previous;
    }
    const bool hashed = SUCCEEDED(batch.HashBlocks());
    for (std::size_t i = 0; i < count; ++i) {
      m_chainBlocks[i].CheckDigest(hashed ? batch.GetDigest(i) : nullptr);
      QUOR_RAISE_IF_FAILED(m_tracks.AddIndexToTracks(m_chainBlocks[i], fileIndex, positions[i]),
                           10132);
    }
    QUOR_RAISE_IF_FAILED(failure, failureMessage);
    if (chainEnds) return;
  }
}

HRESULT CQuorMediaFileReader::ReadFinalizationBlock(DWORD fileIndex,
                                                    CQuorFileFinalizationBlock& block) {
  return QuorInternalMethodFrame(Frame("CQuorMediaFileReader::ReadFinalizationBlock"), [&] {
    std::scoped_lock lock(m_lock);
    CQuorFileStorageReader* reader = m_storage.GetReader();
    QUOR_RAISE_IF_FAILED(
        m_storage.Seek(fileIndex, -static_cast<LONGLONG>(kSizeFieldFromEnd), soEnd), 10119);
    CQuorMediaFileField sizeField;
    QUOR_RAISE_IF_FAILED(sizeField.Read(reader), 10120);
    if (!IsSizeField(sizeField)) Raise(MFS_E_BAD_FORMAT, 10122);
    const LONGLONG size = DecodeU32(sizeField.GetValue());
    QUOR_RAISE_IF_FAILED(
        m_storage.Seek(fileIndex, -(size + static_cast<LONGLONG>(kBlockHeaderSize)), soEnd), 10123);
    if (FAILED(block.Read(reader))) Raise(MFS_E_WRONG_STATE, 10124);
    return S_OK;
  });
}

// ---------------------------------------------------------------------------------------------
// Recovery

HRESULT CQuorMediaFileReader::ParseBrokenFile(DWORD fileIndex) {
  return QuorInternalMethodFrame(Frame("CQuorMediaFileReader::ParseBrokenFile"), [&] {
    std::scoped_lock lock(m_lock);
    QUOR_RAISE_IF_FAILED(m_storage.Seek(fileIndex, kFirstBlockOffset, soBegin), 10107);
    CQuorFileStorageReader* reader = m_storage.GetReader();
    if (!reader) Raise(E_FAIL, 10103);
    ULONGLONG position = 0;
    QUOR_RETURN_IF_FAILED(m_storage.GetPosition(fileIndex, &position));
    // What one block means to the walk: index blocks go into the tracks as they are met.
    const auto take = [&](CQuorMediaFileBlock& block) {
      switch (block.GetBlockType()) {
        case btIndex:
          QUOR_RAISE_IF_FAILED(
              m_tracks.AddIndexToTracks(static_cast<CQuorIndexBlock&>(block), fileIndex, position),
              10132);
          break;
        case btFinalization:
          // A finalization block that could not be found from the end: the file's tail is
          // damaged, and what follows the index blocks met so far cannot be trusted.
          Raise(MFS_E_BAD_FORMAT, 10185);
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
  if (!track) Raise(E_INVALIDARG, 10150);
  return *track;
}

HRESULT CQuorMediaFileReader::GetFirstTimeStamp(ULONG dwTrackId, ULONGLONG* pnTime) {
  return QuorMethodFrame(Frame("CQuorMediaFileReader::GetFirstTimeStamp"),
                         [&](DXL_FunctionLogger& log) {
                           if (!pnTime) Raise(E_POINTER, 10165);
                           std::scoped_lock lock(m_lock);
                           CQuorMediaFileTrack& track = FindTrack(dwTrackId);
                           log.LogDebugMessage(Msg(10166), static_cast<int>(dwTrackId));
                           return track.GetFirstTimeStamp(pnTime);
                         });
}

HRESULT CQuorMediaFileReader::GetLastTimeStamp(ULONG dwTrackId, ULONGLONG* pnTime) {
  return QuorMethodFrame(Frame("CQuorMediaFileReader::GetLastTimeStamp"),
                         [&](DXL_FunctionLogger& log) {
                           if (!pnTime) Raise(E_POINTER, 10165);
                           std::scoped_lock lock(m_lock);
                           CQuorMediaFileTrack& track = FindTrack(dwTrackId);
                           log.LogDebugMessage(Msg(10169), static_cast<int>(dwTrackId));
                           return track.GetLastTimeStamp(pnTime);
                         });
}

const std::vector<CQuorMediaSampleIndex>& CQuorMediaFileReader::ReadTrackEntries(
    ULONG dwTrackId, const CQuorIndexBlockIdentifier& identifier, QuorMessageId seekMessage) {
  QUOR_RAISE_IF_FAILED(
      m_storage.Seek(identifier.m_fileIndex, static_cast<LONGLONG>(identifier.m_position), soBegin),
      seekMessage);
  QUOR_RAISE_IF_FAILED(m_indexBlock.Read(m_storage.GetReader()), 10168);
  const std::vector<CQuorMediaSampleIndex>* entries = m_indexBlock.FindIndexes(dwTrackId);
  if (entries == nullptr) Raise(E_INVALIDARG, 10171);  // the block lists no sample of the track
  return *entries;
}

HRESULT CQuorMediaFileReader::MoveTo(ULONG dwTrackId, ULONGLONG nTimestamp,
                                     IQuorMediaFileSample** ppiSample) {
  return QuorMethodFrame(Frame("CQuorMediaFileReader::MoveTo"), [&](DXL_FunctionLogger& log) {
    if (!ppiSample) Raise(E_POINTER, 10170);
    std::scoped_lock lock(m_lock);
    *ppiSample = nullptr;
    CQuorMediaFileTrack& track = FindTrack(dwTrackId);
    CQuorIndexBlockIdentifier identifier;
    CQuorMediaSampleIndex entry;
    const CQuorMediaFileTrack::Cursor before = track.SaveCursor();
    try {
      QUOR_RAISE_IF_FAILED(track.GetIndexBlockIdentifier(nTimestamp, &identifier), 10167);
      QUOR_RAISE_IF_FAILED(
          track.GetSampleIndex(nTimestamp, ReadTrackEntries(dwTrackId, identifier, 10107), &entry),
          10172);
    } catch (...) {
      track.RestoreCursor(before);
      throw;
    }
    log.LogReleaseMessage(Msg(10173), static_cast<int>(dwTrackId),
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
  if (!ppiSample) Raise(E_POINTER, 10170);
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
      QUOR_RAISE_IF_FAILED(hr, forward ? 10175 : 10179);
      const std::vector<CQuorMediaSampleIndex>& entries =
          ReadTrackEntries(dwTrackId, identifier, 10129);
      const ULONGLONG timestamp = (forward ? entries.front() : entries.back()).m_timestamp;
      QUOR_RAISE_IF_FAILED(track.GetSampleIndex(timestamp, entries, &entry), 10176);
    } catch (...) {
      track.RestoreCursor(before);
      throw;
    }
  } else {
    QUOR_RAISE_IF_FAILED(hr, forward ? 10174 : 10178);
  }
  DWORD fileIndex = 0;
  QUOR_RAISE_IF_FAILED(track.GetCurrentFileIndex(&fileIndex), kQuorNoMessage);
  log.LogDebugMessage(Msg(forward ? 10177 : 10180), static_cast<int>(dwTrackId));
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
    if (!ppsaFileNames) Raise(E_POINTER, 10135);
    std::scoped_lock lock(m_lock);
    *ppsaFileNames = nullptr;  // the storage frees what it finds there
    const HRESULT hr = m_storage.GetFileNames(ppsaFileNames);
    QUOR_RAISE_IF_FAILED(hr, 10136);
    SAFEARRAY* names = *ppsaFileNames;
    const ULONG count = names ? names->rgsabound[0].cElements : 0;
    const std::string first = count ? QuorBstrToUtf8(static_cast<BSTR*>(names->pvData)[0]) : "";
    log.LogDebugMessage(Msg(10137), static_cast<int>(count), first.c_str());
    return hr;
  });
}

HRESULT CQuorMediaFileReader::GetFileStatus(BSTR bstrFileName, IQuorMediaFileStatus** ppiStatus) {
  return QuorMethodFrame(
      Frame("CQuorMediaFileReader::GetFileStatus"), [&](DXL_FunctionLogger& log) {
        if (!bstrFileName || !ppiStatus) Raise(E_POINTER, 10108);
        std::scoped_lock lock(m_lock);
        *ppiStatus = nullptr;
        DWORD fileIndex = 0;
        QUOR_RAISE_IF_FAILED(m_storage.GetFileIndex(bstrFileName, &fileIndex), 10106);
        DWORD flags = 0;
        if (!m_fileStatus.Find(fileIndex, &flags)) Raise(MFS_E_NO_VALUE, 10138);
        const auto found = m_filesetIndexes.find(fileIndex);
        const DWORD filesetIndex =
            found == m_filesetIndexes.end() ? kNoFileSetIndex : found->second;

        CQuorComPtr<IQuorMediaFileStatus> status;
        QUOR_RAISE_IF_FAILED(CreateValueObject(CLSID_QuorMediaFileStatus, &status), 10139);
        QUOR_RAISE_IF_FAILED(status->SetStatusFlags(flags), 10141);
        QUOR_RAISE_IF_FAILED(status->SetFileIndex(filesetIndex), 10140);
        *ppiStatus = status.Detach();
        log.LogDebugMessage(Msg(10142), QuorBstrToUtf8(bstrFileName).c_str());
        return S_OK;
      });
}

HRESULT CQuorMediaFileReader::GetFileSetMetadata(IQuorFileSetMetadata** ppiMetadata) {
  return QuorMethodFrame(
      Frame("CQuorMediaFileReader::GetFileSetMetadata"), [&](DXL_FunctionLogger& log) {
        if (!ppiMetadata) Raise(E_POINTER, 10143);
        std::scoped_lock lock(m_lock);
        *ppiMetadata = nullptr;
        // Nothing has been opened: there is no file info block to describe.
        if (!m_fileInfoBlock) Raise(MFS_E_WRONG_STATE, 10267);

        CQuorComPtr<IQuorFileSetMetadataInt> metadata;
        QUOR_RAISE_IF_FAILED(CreateValueObject(CLSID_QuorFileSetMetadata, &metadata), 10144);
        GUID guid{};
        if (SUCCEEDED(m_fileInfoBlock->GetFileSetGuid(&guid))) {
          CQuorBstr text = GuidText(guid);
          if (!text) Raise(E_OUTOFMEMORY, 10145);
          QUOR_RAISE_IF_FAILED(metadata->SetFilesetGuid(text.Get()), 10145);
        }
        ULONGLONG creationTime = 0;
        if (SUCCEEDED(m_fileInfoBlock->GetFileSetCreationTime(&creationTime))) {
          QUOR_RAISE_IF_FAILED(metadata->SetFilesetCreationTime(creationTime), 10146);
        }
        CQuorBstr description;
        if (SUCCEEDED(m_fileInfoBlock->GetDescription(description.AddressOf()))) {
          QUOR_RAISE_IF_FAILED(metadata->SetFilesetDescription(description.Get()), 10147);
        }
        BYTE passwordHash[kHashSize];
        if (SUCCEEDED(m_fileInfoBlock->GetPasswordHash(passwordHash, kHashSize))) {
          QUOR_RAISE_IF_FAILED(metadata->SetFilesetPassword(VARIANT_TRUE), 10148);
        }
        VARIANT_BOOL complete = VARIANT_FALSE;
        QUOR_RAISE_IF_FAILED(IsCompleteFileSet(&complete), 10264);
        QUOR_RAISE_IF_FAILED(metadata->SetFileSetComplete(complete), 10265);
        log.LogDebugMessage(Msg(10149));
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
  QUOR_RAISE_IF_FAILED(CreateValueObject(CLSID_QuorTrackMetadata, &metadata), 10151);

  QUOR_RAISE_IF_FAILED(metadata->SetTrackId(dwTrackId), 10153);
  DWORD value = 0;
  if (SUCCEEDED(info.GetPairId(&value))) {
    QUOR_RAISE_IF_FAILED(metadata->SetPairId(value), 10156);
  }
  CQuorBstr text;
  QUOR_RAISE_IF_FAILED(info.GetTrackName(text.AddressOf()), 10154);
  QUOR_RAISE_IF_FAILED(metadata->SetTrackName(text.Get()), 10155);
  if (SUCCEEDED(info.GetSourceId(&value))) {
    QUOR_RAISE_IF_FAILED(metadata->SetSourceId(value), 10156);
  }
  if (SUCCEEDED(info.GetSourceUrl(text.AddressOf()))) {
    QUOR_RAISE_IF_FAILED(metadata->SetSourceUrl(text.Get()), 10157);
  }
  GUID plugin{};
  if (SUCCEEDED(info.GetMediaSessionPlugin(&plugin))) {
    text = GuidText(plugin);
    if (!text) Raise(E_OUTOFMEMORY, 10158);
    QUOR_RAISE_IF_FAILED(metadata->SetMediaSessionPlugin(text.Get()), 10158);
  }
  DWORD mediaTypes = 0;
  QUOR_RAISE_IF_FAILED(info.GetMediaTypes(&mediaTypes), 10159);
  QUOR_RAISE_IF_FAILED(
      metadata->SetVideoFlag((mediaTypes & kMediaTypeVideo) ? VARIANT_TRUE : VARIANT_FALSE), 10160);
  QUOR_RAISE_IF_FAILED(
      metadata->SetAudioFlag((mediaTypes & kMediaTypeAudio) ? VARIANT_TRUE : VARIANT_FALSE), 10161);

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
      if (!text) Raise(E_OUTOFMEMORY, 10162);
      QUOR_RAISE_IF_FAILED(audio ? metadata->SetAudioFormatIdentifier(text.Get())
                                 : metadata->SetVideoFormatIdentifier(text.Get()),
                           10162);
      (audio ? audioSet : videoSet) = true;
    }
  }
  QUOR_RAISE_IF_FAILED(metadata->SetAuthentic(info.IsHashValid() ? VARIANT_TRUE : VARIANT_FALSE),
                       10163);
  return metadata;
}

HRESULT CQuorMediaFileReader::GetTrackMetadata(ULONG dwTrackId, IQuorTrackMetadata** ppiMetadata) {
  return QuorMethodFrame(
      Frame("CQuorMediaFileReader::GetTrackMetadata"), [&](DXL_FunctionLogger& log) {
        if (!ppiMetadata) Raise(E_POINTER, 10143);
        std::scoped_lock lock(m_lock);
        *ppiMetadata = nullptr;
        *ppiMetadata =
            QuorTrackMetadataFromBlock(FindTrack(dwTrackId).GetTrackInfo(), dwTrackId).Detach();
        log.LogDebugMessage(Msg(10164), static_cast<int>(dwTrackId));
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
        QUOR_RAISE_IF_FAILED(hr, 10105);
        // Logged as an error, yet the storage's successful answer is what the caller gets.
        if (names.Count() == 0) Raise(hr, 10182);

        std::set<DWORD> filesetIndexes;
        DWORD lastIndex = kNoFileSetIndex;
        const BSTR* name = static_cast<const BSTR*>(names.Get()->pvData);
        for (ULONG i = 0; i < names.Count(); ++i) {
          DWORD fileIndex = 0;
          QUOR_RAISE_IF_FAILED(m_storage.GetFileIndex(name[i], &fileIndex), 10106);
          DWORD flags = 0;
          const bool markedLast =
              m_fileStatus.Find(fileIndex, &flags) && (flags & kFileStatusLastFile);
          DWORD filesetIndex = 0;
          const auto found = m_filesetIndexes.find(fileIndex);
          if (found != m_filesetIndexes.end()) {
            filesetIndex = found->second;
          } else if (names.Count() != 1 || !m_filesetIndexes.empty()) {
            // Only a fileset of one file may leave its position unsaid.
            Raise(MFS_E_NO_VALUE, 10259);
          }
          filesetIndexes.insert(filesetIndex);
          if (markedLast) lastIndex = filesetIndex;
        }

        if (lastIndex == kNoFileSetIndex) {
          log.LogReleaseMessage(Msg(10260));
        } else if (filesetIndexes.size() == static_cast<std::size_t>(lastIndex) + 1) {
          *pvbComplete = VARIANT_TRUE;
          log.LogReleaseMessage(Msg(10262));
        } else {
          log.LogReleaseMessage(Msg(10261));
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
    QUOR_RAISE_IF_FAILED(IsCompleteFileSet(&complete), 10264);
    if (!pvbAuthentic) Raise(E_POINTER, 10181);

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
        log.LogDebugMessage(Msg(10263), static_cast<unsigned>(hr));
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
      log.LogReleaseMessage(Msg(10275));
    } else {
      *pvbAuthentic = VARIANT_FALSE;
      log.LogReleaseMessage(Msg(10274));
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
        QUOR_RETURN_IF_FAILED(m_storage.Seek(fileIndex, kFirstBlockOffset, soBegin));
        // Blocks are read and hashed a batch at a time and checked one by one, in file order.
        CQuorBlockBatch& batch = m_blockBatch;
        batch.Clear();
        std::size_t next = 0;
        CQuorFileAuthentication& check = m_fileCheck;
        QUOR_RETURN_IF_FAILED(check.Start(lastBlockIndex));
        const CQuorFileAuthentication::IndexVisitor progress = [&](DWORD index) -> HRESULT {
          lastBlockIndex = index;
          if (totalBlocks == 0) return E_UNEXPECTED;
          m_authenticationProgress = index * kPercent / totalBlocks;
          return S_OK;
        };
        for (bool done = false; !done;) {
          if (m_authenticationActive.load() == 0) return MFS_E_AUTH_CANCELLED;
          if (next == batch.GetCount()) {
            QUOR_RETURN_IF_FAILED(batch.GetEnd());  // the block the last batch stopped at
            QUOR_RETURN_IF_FAILED(batch.Fill(m_storage.GetReader()));
            next = 0;
            if (batch.GetCount() == 0) return batch.GetEnd();
          }
          QUOR_RETURN_IF_FAILED(
              check.Check(batch.GetBlock(next), batch.GetDigest(next), &done, progress));
          ++next;
        }
        if (check.GetMessage() == 10272) {
          log.LogReleaseMessage(Msg(10272));
        } else if (check.GetMessage() != kQuorNoMessage) {
          log.LogReleaseMessage(Msg(check.GetMessage()), check.GetMessageArgument());
        }
        *authentic = check.IsAuthentic();
        return S_OK;
      });
}

HRESULT CQuorMediaFileReader::CancelAuthentication() {
  return QuorMethodFrame(Frame("CQuorMediaFileReader::CancelAuthentication"), [&] {
    // No lock: IsAuthentic holds it for the whole walk that this call stops.
    if (m_authenticationActive.load() == 0) Raise(MFS_E_WRONG_STATE, 10276);
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
