#include "writer/QuorMediaFileWriter.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <system_error>
#include <utility>

#include "core/LoggedException.h"
#include "core/QuorClassLoggers.h"
#include "core/QuorMethodFrame.h"
#include "format/QuorFileFinalizationBlock.h"
#include "format/QuorFileInfoBlock.h"
#include "format/QuorFormatLayout.h"
#include "format/QuorIndexBlock.h"
#include "format/QuorMediaSampleBlock.h"
#include "format/QuorMediaSampleIndex.h"
#include "format/QuorTrackInfoBlock.h"
#include "objects/QuorMediaFileSample.h"
#include "objects/QuorTypeLibrary.h"
#include "platform/automation/QuorTypeDispatcher.h"
#include "platform/com/QuorClassRegistry.h"
#include "platform/com/QuorFileTime.h"
#include "platform/io/QuorLastError.h"
#include "quormediafiles/QuorResultCodes.h"
#include "quormediafiles/platform/QuorGuid.h"
#include "seal/QuorSealWriter.h"
#include "storage/QuorFileStorage.h"
#include "storage/QuorMemberFileName.h"
#include "writer/QuorMediaFileRecordingStatus.h"

QUOR_OBJECT_ENTRY_AUTO(CLSID_QuorMediaFileWriter, CQuorMediaFileWriter, u"QuorMediaFileWriter");

static_assert(CQuorMediaFileWriter::kEndReserve == kIndexBlockFixedSize + kFinalizationBlockSize);
static_assert(CQuorMediaFileWriter::kEntryReserve == kIndexEntrySize);

namespace {

constexpr DWORD kMaxFileSizeKiB = 5242880;  // 5 GiB
constexpr DWORD kMaxFilesLimit = 0xFFFFFFFE;
constexpr LONGLONG kFileTimeUnitsPerSecond = 10000000LL;

std::atomic<long long> g_indexPeriodMs{0};  // 0: the product's period
// The identity SetIdentityForTesting fixes; g_fixedIdentity tells whether one is fixed.
std::mutex g_identityLock;
bool g_fixedIdentity = false;
GUID g_fixedGuid = GUID_NULL;
ULONGLONG g_fixedCreationTime = 0;

// Asks for the first bytes of a buffer ahead of their use. A queued record was filled on the
// caller's thread, so its lines sit in another core's cache or in memory; fetching the next one
// while the current sample is hashed hides that wait. In longer buffers the hardware's own
// prefetch takes over.
void PrefetchHead(const BYTE* bytes, std::size_t size) {
  const std::size_t head = std::min<std::size_t>(size, 4096);
  for (std::size_t offset = 0; offset < head; offset += kQuorCacheLineSize) {
    __builtin_prefetch(bytes + offset);
  }
}

// The worker writes a queue's samples in runs of at most this many samples and bytes, each
// run under one lock.
constexpr std::size_t kSampleRun = 32;
constexpr std::size_t kSampleRunBytes = 256u << 10;
// It hashes the samples ahead of their writes side by side, at most this many samples and
// bytes at a time: enough that samples of mixed sizes keep the hash lanes busy, few enough that
// they are still in the cache when they are written.
constexpr std::size_t kHashRun = 128;
constexpr std::size_t kHashRunBytes = 2u << 20;

// Logged when written blocks cannot be handed to the system (a flush or a sync failed).
constexpr char kHandBlocksToSystemFailed[] = "Failed to hand written blocks to the system";

bool IsFullCode(HRESULT hr) {
  return hr == MFS_E_FILE_FULL || hr == HRESULT_FROM_WIN32(ERROR_DISK_FULL);
}

// Reads an optional braced GUID text; raises the message on a getter failure, a text that does
// not parse, or the null GUID. False when the value was never set.
template <typename Getter>
bool ReadOptionalGuid(Getter getter, const QuorMessage<>& getterMessage,
                      const QuorMessage<>& checkMessage, GUID* guid) {
  CQuorBstr text;
  const HRESULT hr = getter(text.AddressOf());
  if (hr == MFS_E_NO_VALUE) {
    return false;
  }
  QUOR_RAISE_IF_FAILED(hr, getterMessage);
  QUOR_RAISE_IF_FAILED(IIDFromString(text.Get() ? text.Get() : u"", guid), checkMessage);
  if (*guid == GUID_NULL) {
    Raise(E_INVALIDARG, checkMessage);
  }
  return true;
}

}  // namespace

// The payload's offset in its block: the block header and the payload field's header.
constexpr std::size_t kPayloadOffset = kBlockHeaderSize + kFieldHeaderSize;

std::unique_ptr<CQuorMediaFileWriter::QueuedSample> CQuorMediaFileWriter::QueuedSample::New(
    CQuorRecordArena& arena, DWORD payloadLength, bool withBuffer) noexcept {
  const std::size_t bytes = withBuffer ? std::size_t{payloadLength} + kMediaSampleOverhead : 0;
  static_assert(sizeof(QueuedSample) % alignof(QueuedSample) == 0);
  void* memory = arena.Allocate(sizeof(QueuedSample) + bytes);
  const bool fromArena = memory != nullptr;
  if (!fromArena) memory = ::operator new(sizeof(QueuedSample) + bytes, std::nothrow);
  if (memory == nullptr) return nullptr;
  std::unique_ptr<QueuedSample> record(new (memory) QueuedSample());
  record->fromArena = fromArena;
  if (withBuffer) {
    record->buffer = static_cast<BYTE*>(memory) + sizeof(QueuedSample);
    record->capacity = bytes;
  }
  return record;
}

void CQuorMediaFileWriter::QueuedSample::operator delete(QueuedSample* record,
                                                         std::destroying_delete_t) noexcept {
  const bool fromArena = record->fromArena;
  record->~QueuedSample();
  if (fromArena) {
    CQuorRecordArena::Free(record);
  } else {
    ::operator delete(record);
  }
}

bool CQuorMediaFileWriter::QueuedSample::Reserve(DWORD payloadLength) noexcept {
  const std::size_t bytes = std::size_t{payloadLength} + kMediaSampleOverhead;
  if (bytes > capacity) {
    grown.reset(new (std::nothrow) BYTE[bytes]);
    buffer = grown.get();
    capacity = buffer ? bytes : 0;
    if (!buffer) return false;
  }
  return true;
}

BYTE* CQuorMediaFileWriter::QueuedSample::Payload() const noexcept {
  return buffer ? buffer + kPayloadOffset : nullptr;
}

CQuorMediaFileWriter::CQuorMediaFileWriter(CQuorFileSystem& fileSystem) noexcept
    : m_fileSystem(&fileSystem) {}

namespace {
QuorFrameInfo WriterFrame(const CQuorMediaFileWriter* writer, const char* name, DWORD context) {
  return QuorFrameInfo{QuorMediaFileWriterLogger(), name,    writer,
                       kQuorDefaultLogLevel,        context, &CLSID_QuorMediaFileWriter,
                       &IID_IQuorMediaFileWriter};
}
}  // namespace

HRESULT CQuorMediaFileWriter::FinalConstruct() noexcept {
  return QuorInternalMethodFrame(
      WriterFrame(this, "CQuorMediaFileWriter::FinalConstruct", m_loggerContext),
      [&](DXL_FunctionLogger& log) {
        QuorLogRelease(log, kWriterCreated);
        return S_OK;
      });
}

CQuorMediaFileWriter::~CQuorMediaFileWriter() {
  (void)QuorInternalMethodFrame(
      WriterFrame(this, "CQuorMediaFileWriter::FinalRelease", m_loggerContext), [&] {
        StopWorker();
        CQuorMutexLock lock(m_writerLock);
        CleanupLocked();
        return S_OK;
      });
}

void CQuorMediaFileWriter::SetIndexPeriodForTesting(std::chrono::milliseconds period) noexcept {
  g_indexPeriodMs.store(period.count());
}

void CQuorMediaFileWriter::SetIdentityForTesting(const GUID* guid,
                                                 ULONGLONG creationTime) noexcept {
  std::scoped_lock lock(g_identityLock);
  g_fixedIdentity = guid != nullptr;
  g_fixedGuid = guid ? *guid : GUID_NULL;
  g_fixedCreationTime = creationTime;
}

void CQuorMediaFileWriter::CleanupLocked() {
  (void)QuorInternalMethodFrame(WriterFrame(this, "CQuorMediaFileWriter::Cleanup", m_loggerContext),
                                [&] {
                                  m_writerLock.AssertHeld();
                                  FinishSeals();
                                  m_state = wseCreated;
                                  m_overwrite = false;
                                  m_nextFileStarted = false;
                                  m_stoppedWhenFull = false;
                                  m_currentFileIndex = 0;
                                  m_maxFiles = 0;
                                  m_maxFileSizeKiB = 0;
                                  m_blockIndex = 0;
                                  m_bytesInFinishedFiles = 0;
                                  m_fileHasSamples = false;
                                  m_currentFileName = CQuorBstr();
                                  m_nextStorage.reset();
                                  m_storage.reset();
                                  m_fileInfoBlock.reset();
                                  m_indexBlock.reset();
                                  m_spareIndexBlock.reset();
                                  m_finalizationBlock.reset();
                                  m_tracks.clear();
                                  return S_OK;
                                });
}

void CQuorMediaFileWriter::StartWorkerLocked() {
  if (m_worker.joinable()) return;  // in a file after the first
  const long long seamMs = g_indexPeriodMs.load();
  const std::chrono::milliseconds period =
      seamMs > 0 ? std::chrono::milliseconds(seamMs) : m_recordingIndexPeriod;
  try {
    m_worker =
        std::jthread([this, period](const std::stop_token& stop) { RunWorker(stop, period); });
  } catch (const std::system_error&) {
    Raise(HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY), kQuorNoMessage);  // no thread to be had
  }
}

void CQuorMediaFileWriter::StopWorker() {
  SignalStop();
  std::jthread worker;
  {
    CQuorMutexLock lock(m_writerLock);
    worker = std::move(m_worker);
  }
  // Joined outside the lock, which the worker may be waiting for.
  if (worker.joinable()) worker.join();
}

void CQuorMediaFileWriter::PrepareForNextRecording() {
  // The old worker has ended (StopWorker); samples it left belonged to the old recording.
  {
    CQuorMutexLock lock(m_queueLock);
    m_sampleQueue.clear();
    m_queuedCount = 0;
  }
  m_stopRequested.store(false, std::memory_order_release);
}

void CQuorMediaFileWriter::SignalStop() {
  {
    // Set under the worker's wake lock, so that a worker about to sleep sees it.
    std::scoped_lock lock(m_wakeLock);
    m_stopRequested.store(true, std::memory_order_release);
  }
  m_wake.notify_all();
  // What is still queued will not be written: a Drain waiting for it returns, and a Drain of
  // the next recording does not wait for it.
  ULONGLONG accepted = 0;
  {
    CQuorMutexLock lock(m_queueLock);
    accepted = m_acceptedCount;
  }
  SettleDrain(accepted);
}

void CQuorMediaFileWriter::SignalSamples() {
  bool wake = false;
  {
    std::scoped_lock lock(m_wakeLock);
    // Samples already pending have woken the worker, or are seen at its next look.
    wake = !m_samplesPending;
    m_samplesPending = true;
  }
  if (wake) m_wake.notify_all();
}

HRESULT CQuorMediaFileWriter::Initialize(BSTR bstrFileName, ULONG dwMaxSize, ULONG dwMaxFiles,
                                         VARIANT_BOOL vbOverwrite) {
  return QuorMethodFrame(
      WriterFrame(this, "CQuorMediaFileWriter::Initialize", m_loggerContext), [&] {
        if (bstrFileName == nullptr) Raise(E_POINTER, kNullFileName);
        if (dwMaxSize < 1 || dwMaxSize > kMaxFileSizeKiB) Raise(E_INVALIDARG, kMaxSizeOutOfRange);
        if (dwMaxFiles < 1 || dwMaxFiles > kMaxFilesLimit) Raise(E_INVALIDARG, kMaxFilesOutOfRange);
        std::u16string fileSetName;
        QUOR_RAISE_IF_FAILED(
            QuorMemberFileName(std::u16string_view(bstrFileName, SysStringLen(bstrFileName)), 0,
                               &fileSetName),
            kNoFileExtension);

        // A writer whose recording has ended records again: its worker has seen the stop (or sees
        // it now) and is waited for before the lock is taken, since it may be waiting for the lock.
        const bool reuse = StopRequested();
        if (reuse && m_state != wseStarted) StopWorker();

        CQuorMutexLock lock(m_writerLock);
        if (m_state == wseStarted) Raise(MFS_E_WRONG_STATE, kWritingInProgress);
        CleanupLocked();
        if (reuse) {
          PrepareForNextRecording();
        }
        m_droppedSamples = 0;
        m_rolloverFailure = S_OK;
        // The hash of the first file starts here; a finished recording left it finished.
        QUOR_RAISE_IF_FAILED(m_fileHash.ReInitialize(), kReinitializeFileHashFailed);

        try {
          m_storage = std::make_unique<CQuorFileStorage>(*m_fileSystem);
        } catch (const std::bad_alloc&) {
          Raise(E_OUTOFMEMORY, kNewFileStorageFailed);
        }
        try {
          m_fileInfoBlock = std::make_unique<CQuorFileInfoBlock>();
        } catch (const std::bad_alloc&) {
          Raise(E_OUTOFMEMORY, kNewFileInfoBlockForWritingFailed);
        }
        m_overwrite = vbOverwrite == VARIANT_TRUE;
        QUOR_RAISE_IF_FAILED(m_storage->InitializeForWriting(bstrFileName, dwMaxSize, m_overwrite),
                             kStorageInitializeForWritingFailed);
        m_currentFileName = CQuorBstr::Copy(bstrFileName);
        StartSeals();

        m_fileSetName = std::move(fileSetName);
        m_maxFiles = dwMaxFiles;
        m_maxFileSizeKiB = dwMaxSize;

        GUID fileSetGuid = GUID_NULL;
        if (dwMaxFiles != 1) {
          QUOR_RAISE_IF_FAILED(CoCreateGuid(&fileSetGuid), kCreateFileSetGuidFailed);
        }
        QUOR_RAISE_IF_FAILED(m_fileInfoBlock->SetFileSetGuid(fileSetGuid),
                             kStorageSetFileSetGuidFailed);
        QUOR_RAISE_IF_FAILED(m_fileInfoBlock->SetFileSetIndex(m_currentFileIndex),
                             kStorageSetFileSetIndexFailed);

        LONGLONG fileTime = 0;
        QUOR_RAISE_IF_FAILED(CoFileTimeNow(&fileTime), kStorageSetCreationTimeFailed);
        LONGLONG seconds = (fileTime - kFileTimeUnixEpoch) / kFileTimeUnitsPerSecond;
        {
          std::scoped_lock identityLock(g_identityLock);
          if (g_fixedIdentity) {
            if (dwMaxFiles != 1)
              QUOR_RAISE_IF_FAILED(m_fileInfoBlock->SetFileSetGuid(g_fixedGuid),
                                   kStorageSetFileSetGuidFailed);
            seconds = static_cast<LONGLONG>(g_fixedCreationTime);
          }
        }
        QUOR_RAISE_IF_FAILED(
            m_fileInfoBlock->SetFileSetCreationTime(static_cast<ULONGLONG>(seconds)),
            kStorageSetCreationTimeFailed);
        m_state = wseInitialized;
        return S_OK;
      });
}

HRESULT CQuorMediaFileWriter::SetDescription(BSTR bstrDescription) {
  return QuorMethodFrame(WriterFrame(this, "CQuorMediaFileWriter::SetDescription", m_loggerContext),
                         [&] {
                           if (bstrDescription == nullptr) Raise(E_POINTER, kNullDescription);
                           CQuorMutexLock lock(m_writerLock);
                           if (m_state != wseInitialized && m_state != wseReadyToStart) {
                             Raise(MFS_E_WRONG_STATE, kOperationNotPossibleNow);
                           }
                           if (!m_fileInfoBlock) Raise(MFS_E_NOT_SET, kFileSetNotInitialized);
                           QUOR_RAISE_IF_FAILED(m_fileInfoBlock->SetDescription(bstrDescription),
                                                kSetDescriptionFailed);
                           return S_OK;
                         });
}

HRESULT CQuorMediaFileWriter::SetPassword(BSTR bstrPassword) {
  return QuorMethodFrame(
      WriterFrame(this, "CQuorMediaFileWriter::SetPassword", m_loggerContext), [&] {
        if (bstrPassword == nullptr) Raise(E_POINTER, kNullPassword);
        if (SysStringLen(bstrPassword) == 0) Raise(E_INVALIDARG, kQuorNoMessage);
        CQuorMutexLock lock(m_writerLock);
        if (m_state != wseInitialized && m_state != wseReadyToStart) {
          Raise(MFS_E_WRONG_STATE, kOperationNotPossibleNow);
        }
        if (!m_fileInfoBlock) Raise(MFS_E_NOT_SET, kFileSetNotInitialized);
        CQuorMD5Hash hash;
        QUOR_RAISE_IF_FAILED(hash.AddString(bstrPassword), kPasswordHashAddStringFailed);
        BYTE digest[kQuorMD5DigestSize];
        QUOR_RAISE_IF_FAILED(hash.GetDigest(digest), kGetHashBufferFailed);
        QUOR_RAISE_IF_FAILED(m_fileInfoBlock->SetPassword(digest, kQuorMD5DigestSize),
                             kFileSetInfoSetPasswordFailed);
        return S_OK;
      });
}

HRESULT CQuorMediaFileWriter::AddTrack(IQuorTrackMetadata* piMetadata) {
  return QuorMethodFrame(WriterFrame(this, "CQuorMediaFileWriter::AddTrack", m_loggerContext), [&] {
    if (piMetadata == nullptr) Raise(E_POINTER, kNullMetadata);
    CQuorMutexLock lock(m_writerLock);
    if (m_state != wseInitialized && m_state != wseReadyToStart) {
      Raise(MFS_E_WRONG_STATE, kOperationNotPossibleNow);
    }
    std::unique_ptr<CQuorTrackInfoBlock> block;
    try {
      block = std::make_unique<CQuorTrackInfoBlock>();
    } catch (const std::bad_alloc&) {
      Raise(E_OUTOFMEMORY, kNewTrackInfoBlockFailed);
    }

    ULONG trackId = 0;
    if (const HRESULT hr = piMetadata->GetTrackId(&trackId); FAILED(hr)) {
      Raise(hr, kTrackInfoReadIdFailed, static_cast<unsigned>(hr));
    }
    ULONG pairId = 0;
    if (const HRESULT hr = piMetadata->GetPairId(&pairId); SUCCEEDED(hr)) {
      QUOR_RAISE_IF_FAILED(block->SetPairId(pairId), kQuorNoMessage);
    } else if (hr != MFS_E_NO_VALUE) {
      Raise(hr, kQuorNoMessage);
    }
    if (m_tracks.contains(trackId)) Raise(E_INVALIDARG, kTrackIdAlreadyAdded);
    QUOR_RAISE_IF_FAILED(block->SetTrackId(trackId), kTrackMetadataSetTrackIdFailed);

    VARIANT_BOOL video = VARIANT_FALSE;
    VARIANT_BOOL audio = VARIANT_FALSE;
    QUOR_RAISE_IF_FAILED(piMetadata->GetVideoFlag(&video), kTrackMetadataGetVideoFlagFailed);
    QUOR_RAISE_IF_FAILED(piMetadata->GetAudioFlag(&audio), kTrackMetadataGetAudioFlagFailed);
    if (video == 0 && audio == 0) Raise(E_INVALIDARG, kNoMediaTypes);
    const DWORD mediaTypes = (video == VARIANT_TRUE ? kMediaTypeVideo : 0) |
                             (audio == VARIANT_TRUE ? kMediaTypeAudio : 0);
    QUOR_RAISE_IF_FAILED(block->SetMediaTypes(mediaTypes), kTrackMetadataSetMediaTypeFailed);

    CQuorBstr name;
    // The value object answers "no value" for an empty name: that is the missing name.
    if (const HRESULT hr = piMetadata->GetTrackName(name.AddressOf()); hr == MFS_E_NO_VALUE) {
      Raise(E_INVALIDARG, kNoTrackName);
    } else if (FAILED(hr)) {
      Raise(hr, kTrackInfoGetNameFailed);
    }
    if (name.Length() == 0) Raise(E_INVALIDARG, kNoTrackName);
    QUOR_RAISE_IF_FAILED(block->SetTrackName(name.Get()), kTrackMetadataSetTrackNameFailed);

    GUID guid = GUID_NULL;
    if (ReadOptionalGuid([&](BSTR* p) { return piMetadata->GetMediaSessionPlugin(p); },
                         kGetPluginFailed, kTrackMetadataSetPluginFailed, &guid)) {
      QUOR_RAISE_IF_FAILED(block->SetMediaSessionPlugin(guid), kTrackMetadataSetPluginFailed);
    }
    if (ReadOptionalGuid([&](BSTR* p) { return piMetadata->GetVideoFormatIdentifier(p); },
                         kGetFilterFailed, kTrackMetadataAddFilterFailed, &guid)) {
      QUOR_RAISE_IF_FAILED(block->AddFilter(guid), kTrackMetadataAddFilterFailed);
    }
    if (ReadOptionalGuid([&](BSTR* p) { return piMetadata->GetAudioFormatIdentifier(p); },
                         kGetFilterFailed, kTrackMetadataAddFilterFailed, &guid)) {
      QUOR_RAISE_IF_FAILED(block->AddFilter(guid), kTrackMetadataAddFilterFailed);
    }

    ULONG sourceId = 0;
    if (const HRESULT hr = piMetadata->GetSourceId(&sourceId); SUCCEEDED(hr)) {
      QUOR_RAISE_IF_FAILED(block->SetSourceId(sourceId), kTrackMetadataSetSourceIdFailed);
    } else if (hr != MFS_E_NO_VALUE) {
      Raise(hr, kGetSourceIdFailed);
    }
    CQuorBstr url;
    if (const HRESULT hr = piMetadata->GetSourceUrl(url.AddressOf()); SUCCEEDED(hr)) {
      QUOR_RAISE_IF_FAILED(block->SetSourceUrl(url.Get() ? url.Get() : u""),
                           kTrackMetadataSetSourceUrlFailed);
    } else if (hr != MFS_E_NO_VALUE) {
      Raise(hr, kGetSourceUrlFailed);
    }
    QUOR_RAISE_IF_FAILED(block->SetTrackFlags(0), kSetLastTrackInfoFlagFailed);
    // No file may end larger than its limit: the head and the end reserve must fit under it.
    QUOR_RAISE_IF_FAILED(CheckHeadFits(block.get()), kMaxSizeOutOfRange);

    m_tracks.emplace(trackId, std::move(block));
    m_state = wseReadyToStart;
    return S_OK;
  });
}

HRESULT CQuorMediaFileWriter::SetPayloadOnly(VARIANT_BOOL vbPayloadOnly) {
  m_payloadOnly = vbPayloadOnly == VARIANT_TRUE;
  return S_OK;
}

HRESULT CQuorMediaFileWriter::SetSigningKey(BSTR bstrPrivateKeyFile) {
  return QuorMethodFrame(
      WriterFrame(this, "CQuorMediaFileWriter::SetSigningKey", m_loggerContext), [&] {
        if (bstrPrivateKeyFile == nullptr) Raise(E_POINTER, kSigningKeyUnreadable);
        CQuorMutexLock lock(m_writerLock);
        if (m_state == wseStarted || (m_state == wseFinished && !StopRequested())) {
          Raise(MFS_E_WRONG_STATE, kSigningKeyAfterStart);
        }
        if (SysStringLen(bstrPrivateKeyFile) == 0) {
          if (m_storage) m_storage->SetWriteTap(nullptr);
          m_sealer.reset();
          return S_OK;
        }
        auto sealer = std::make_unique<CQuorSealWriter>(*m_fileSystem);
        QuorMessage<> message = kSigningKeyUnreadable;
        if (const HRESULT hr = sealer->SetKey(QuorBstrToUtf8(bstrPrivateKeyFile), &message);
            FAILED(hr)) {
          Raise(hr, message);
        }
        if (m_storage) m_storage->SetWriteTap(nullptr);
        m_sealer = std::move(sealer);
        // A member file that Initialize created holds its signature alone, which the seals
        // start from.
        if (m_state == wseInitialized || m_state == wseReadyToStart) StartSeals();
        return S_OK;
      });
}

void CQuorMediaFileWriter::StartSeals() {
  if (!m_sealer || !m_storage) return;
  m_storage->SetWriteTap(nullptr);
  const std::string name = m_currentFileName.ToUtf8();
  const std::string_view extension =
      std::string_view(name).substr(std::min(name.rfind('.'), name.size()));
  if (extension.size() == 5 && (extension[1] | 0x20) == 's' && (extension[2] | 0x20) == 'e' &&
      (extension[3] | 0x20) == 'a' && (extension[4] | 0x20) == 'l') {
    Raise(E_INVALIDARG, kSealOfSealFile);  // its sidecars would be taken for member files
  }
  QUOR_RAISE_IF_FAILED(m_sealer->BeginFile(name), kCreateSealFileFailed);
  m_storage->SetWriteTap(m_sealer.get());
}

void CQuorMediaFileWriter::Seal(bool finalized, ULONGLONG finalizedSize, DXL_FunctionLogger& log) {
  if (!m_sealer || m_recordingPayloadOnly) return;
  GUID fileSetGuid = GUID_NULL;
  DWORD fileSetIndex = 0;
  (void)m_fileInfoBlock->GetFileSetGuid(&fileSetGuid);  // a file of its own has none: null
  HRESULT hr = m_fileInfoBlock->GetFileSetIndex(&fileSetIndex);
  ULONGLONG end = finalizedSize;
  // The sealed bytes reach the OS before the seal does.
  if (SUCCEEDED(hr) && !finalized) hr = m_storage->GetPosition(0, &end);
  if (SUCCEEDED(hr) && !finalized) hr = m_storage->Flush();
  if (SUCCEEDED(hr)) {
    hr = m_sealer->Seal(fileSetGuid, fileSetIndex, m_blockIndex - 1, end, finalized,
                        m_recordingDurable);
  }
  if (FAILED(hr)) log.LogErrorMessage(hr, "Failed to seal the member file");
}

void CQuorMediaFileWriter::FinishSeals() noexcept {
  if (m_sealer) m_sealer->Finish();
}

HRESULT CQuorMediaFileWriter::Drain() {
  ULONGLONG target = 0;
  {
    CQuorMutexLock lock(m_queueLock);
    target = m_acceptedCount;
  }
  std::unique_lock lock(m_drainLock);
  m_drained.wait(
      lock, [&] { return m_settledCount >= target || m_state != wseStarted || StopRequested(); });
  return S_OK;
}

void CQuorMediaFileWriter::SettleDrain(ULONGLONG settled) {
  {
    std::scoped_lock lock(m_drainLock);
    if (settled > m_settledCount) m_settledCount = settled;
  }
  m_drained.notify_all();
}

HRESULT CQuorMediaFileWriter::QueryInterface(REFIID riid, void** ppvObject) {
  if (ppvObject != nullptr && riid == IID_IQuorMediaFileWriterOptions) {
    *ppvObject = static_cast<IQuorMediaFileWriterOptions*>(&m_options);
    m_options.AddRef();
    return S_OK;
  }
  if (ppvObject != nullptr && riid == IID_IQuorMediaFileWriterSeal) {
    *ppvObject = static_cast<IQuorMediaFileWriterSeal*>(&m_sealSettings);
    m_sealSettings.AddRef();
    return S_OK;
  }
  return CQuorDispatchObject::QueryInterface(riid, ppvObject);
}

template <typename TInterface>
HRESULT CQuorMediaFileWriter::MemberInterface<TInterface>::QueryInterface(REFIID riid,
                                                                          void** ppvObject) {
  return static_cast<IQuorMediaFileWriter*>(m_writer)->QueryInterface(riid, ppvObject);
}
template <typename TInterface>
ULONG CQuorMediaFileWriter::MemberInterface<TInterface>::AddRef() {
  return static_cast<IQuorMediaFileWriter*>(m_writer)->AddRef();
}
template <typename TInterface>
ULONG CQuorMediaFileWriter::MemberInterface<TInterface>::Release() {
  return static_cast<IQuorMediaFileWriter*>(m_writer)->Release();
}
template <typename TInterface>
HRESULT CQuorMediaFileWriter::MemberInterface<TInterface>::GetTypeInfoCount(UINT* pctinfo) {
  return m_writer->GetTypeInfoCount(pctinfo);
}
template <typename TInterface>
HRESULT CQuorMediaFileWriter::MemberInterface<TInterface>::GetTypeInfo(UINT iTInfo, LCID lcid,
                                                                       ITypeInfo** ppTInfo) {
  return m_writer->GetTypeInfo(iTInfo, lcid, ppTInfo);
}
template <typename TInterface>
HRESULT CQuorMediaFileWriter::MemberInterface<TInterface>::GetIDsOfNames(REFIID riid,
                                                                         LPOLESTR* rgszNames,
                                                                         UINT cNames, LCID lcid,
                                                                         DISPID* rgDispId) {
  (void)lcid;  // names are not localised
  return CQuorTypeDispatcher::GetIDsOfNames(QuorInterfaceDescription<TInterface>(), riid, rgszNames,
                                            cNames, rgDispId);
}
template <typename TInterface>
HRESULT CQuorMediaFileWriter::MemberInterface<TInterface>::Invoke(
    DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
    VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) {
  (void)lcid;
  return CQuorTypeDispatcher::Invoke(QuorInterfaceDescription<TInterface>(),
                                     static_cast<TInterface*>(this), dispIdMember, riid, wFlags,
                                     pDispParams, pVarResult, pExcepInfo, puArgErr);
}
template class CQuorMediaFileWriter::MemberInterface<IQuorMediaFileWriterOptions>;
template class CQuorMediaFileWriter::MemberInterface<IQuorMediaFileWriterSeal>;

namespace {
QuorFrameInfo OptionsFrame(const CQuorMediaFileWriter* writer, const char* name) {
  return QuorFrameInfo{QuorMediaFileWriterLogger(),
                       name,
                       writer,
                       kQuorDefaultLogLevel,
                       0,
                       &CLSID_QuorMediaFileWriter,
                       &IID_IQuorMediaFileWriterOptions};
}
}  // namespace

HRESULT CQuorMediaFileWriter::Options::SetDurable(VARIANT_BOOL vbDurable) {
  m_writer->m_durable = vbDurable == VARIANT_TRUE;
  return S_OK;
}
HRESULT CQuorMediaFileWriter::Options::GetDurable(VARIANT_BOOL* pvbDurable) {
  return QuorMethodFrame(OptionsFrame(m_writer, "CQuorMediaFileWriter::GetDurable"), [&] {
    if (pvbDurable == nullptr) Raise(E_POINTER, kQuorNoMessage);
    *pvbDurable = m_writer->m_durable ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  });
}
HRESULT CQuorMediaFileWriter::Options::SetIndexPeriod(ULONG dwSeconds) {
  return QuorMethodFrame(OptionsFrame(m_writer, "CQuorMediaFileWriter::SetIndexPeriod"), [&] {
    if (dwSeconds < 1 || dwSeconds > kMaxIndexPeriodSeconds) Raise(E_INVALIDARG, kQuorNoMessage);
    m_writer->m_indexPeriodSeconds = dwSeconds;
    return S_OK;
  });
}
HRESULT CQuorMediaFileWriter::Options::GetIndexPeriod(ULONG* pdwSeconds) {
  return QuorMethodFrame(OptionsFrame(m_writer, "CQuorMediaFileWriter::GetIndexPeriod"), [&] {
    if (pdwSeconds == nullptr) Raise(E_POINTER, kQuorNoMessage);
    *pdwSeconds = m_writer->m_indexPeriodSeconds;
    return S_OK;
  });
}
HRESULT CQuorMediaFileWriter::Options::GetDroppedSampleCount(ULONGLONG* pnDropped) {
  return QuorMethodFrame(OptionsFrame(m_writer, "CQuorMediaFileWriter::GetDroppedSampleCount"),
                         [&] {
                           if (pnDropped == nullptr) Raise(E_POINTER, kQuorNoMessage);
                           *pnDropped = m_writer->m_droppedSamples.load();
                           return S_OK;
                         });
}

HRESULT CQuorMediaFileWriter::CheckHeadFits(CQuorTrackInfoBlock* extra) {
  if (!m_fileInfoBlock || !m_storage) return MFS_E_NOT_SET;
  // The block index field takes its fixed room whatever its value; the right one is set later.
  ULONGLONG head = kQuorFileSignatureSize;
  auto add = [&](CQuorMediaFileBlock* block) -> HRESULT {
    QUOR_RETURN_IF_FAILED(block->SetBlockIndex(0));
    QUOR_RETURN_IF_FAILED(block->ComputeSize());
    head += kBlockHeaderSize + block->GetBlockSize();
    return S_OK;
  };
  QUOR_RETURN_IF_FAILED(add(m_fileInfoBlock.get()));
  for (auto& [trackId, track] : m_tracks) QUOR_RETURN_IF_FAILED(add(track.get()));
  if (extra != nullptr) QUOR_RETURN_IF_FAILED(add(extra));
  const ULONGLONG limit = ULONGLONG{m_maxFileSizeKiB} * 1024;
  return head + kEndReserve <= limit ? S_OK : E_INVALIDARG;
}

void CQuorMediaFileWriter::PersistBlocks(DXL_FunctionLogger& log) {
  const HRESULT hr = m_recordingDurable ? m_storage->Sync() : m_storage->Flush();
  if (FAILED(hr)) log.LogErrorMessage(hr, kHandBlocksToSystemFailed);
}

HRESULT CQuorMediaFileWriter::StartRecording() {
  CQuorMutexLock lock(m_writerLock);
  return StartRecordingLocked();
}

HRESULT CQuorMediaFileWriter::StartRecordingLocked() {
  return QuorMethodFrame(WriterFrame(this, "CQuorMediaFileWriter::StartRecording", m_loggerContext),
                         [&] {
                           m_writerLock.AssertHeld();
                           QUOR_RAISE_IF_FAILED(DoStartRecordingLocked(), kFileSizeLimitTooSmall);
                           return S_OK;
                         });
}

HRESULT CQuorMediaFileWriter::WriteBlockAt(CQuorMediaFileBlock* block, ULONGLONG start) {
  const HRESULT hr = block->Write(m_storage->GetWriter());
  // A long block goes out in pieces: the ones written before a failure are overwritten by the
  // next block instead of staying in the file, where no hash covers them.
  if (FAILED(hr)) {
    (void)m_storage->Seek(0, static_cast<LONGLONG>(start), soBegin);  // reported by the write
  }
  return hr;
}

HRESULT CQuorMediaFileWriter::DoStartRecordingLocked() {
  return QuorInternalMethodFrame(
      WriterFrame(this, "CQuorMediaFileWriter::DoStartRecording", m_loggerContext),
      [&](DXL_FunctionLogger& log) {
        m_writerLock.AssertHeld();
        if (m_state != wseReadyToStart) Raise(MFS_E_WRONG_STATE, kCannotStartRecording);
        if (!m_storage || !m_fileInfoBlock || m_tracks.empty())
          Raise(MFS_E_NOT_SET, kCannotStartRecording);
        if (m_storage->GetWriter() == nullptr) Raise(E_FAIL, kStorageGetWriterFailed);
        // A recording keeps the settings it starts with; its later files are started from here
        // too, and must not take a setting changed meanwhile.
        if (m_currentFileIndex == 0) {
          m_recordingPayloadOnly = m_payloadOnly;
          m_recordingDurable = m_durable;
          m_recordingIndexPeriod = std::chrono::seconds(m_indexPeriodSeconds.load());
        }
        if (!m_recordingPayloadOnly) {
          QUOR_RAISE_IF_FAILED(CheckHeadFits(nullptr), kMaxSizeOutOfRange);
        }
        QUOR_RAISE_IF_FAILED(m_fileInfoBlock->SetBlockIndex(m_blockIndex), kSetBlockIndexFailed);
        ULONGLONG start = 0;
        QUOR_RAISE_IF_FAILED(m_storage->GetPosition(0, &start), kStorageGetPositionFailed);

        if (!m_recordingPayloadOnly) {
          QUOR_RAISE_IF_FAILED(WriteBlockAt(m_fileInfoBlock.get(), start), kWriteFileInfoFailed);
          ++m_blockIndex;
          QUOR_RAISE_IF_FAILED(UpdateFileHash(m_fileInfoBlock.get()), kUpdateFileHashFailed);

          QUOR_RAISE_IF_FAILED(m_tracks.rbegin()->second->SetTrackFlags(kTrackFlagLastTrackInfo),
                               kSetLastTrackInfoFlagFailed);
          for (auto& [trackId, track] : m_tracks) {
            QUOR_RAISE_IF_FAILED(track->SetBlockIndex(m_blockIndex), kSetBlockIndexFailed);
            QUOR_RAISE_IF_FAILED(m_storage->GetPosition(0, &start), kStorageGetPositionFailed);
            QUOR_RAISE_IF_FAILED(WriteBlockAt(track.get(), start), kWriteTrackInfoFailed);
            ++m_blockIndex;
            QUOR_RAISE_IF_FAILED(UpdateFileHash(track.get()), kUpdateFileHashFailed);
          }

          if (m_spareIndexBlock) {
            m_indexBlock = std::move(m_spareIndexBlock);
            m_indexBlock->ClearFields();
          } else {
            try {
              m_indexBlock = std::make_unique<CQuorIndexBlock>();
            } catch (const std::bad_alloc&) {
              Raise(E_OUTOFMEMORY, kCreateIndexBlockFailed);
            }
          }
          QUOR_RAISE_IF_FAILED(m_indexBlock->SetOffsetToPreviousIndex(0),
                               kClearOffsetToPreviousFailed);
          try {
            m_finalizationBlock = std::make_unique<CQuorFileFinalizationBlock>();
          } catch (const std::bad_alloc&) {
            Raise(E_OUTOFMEMORY, kCreateFinalizationFailed);
          }
          if (const HRESULT hr = m_storage->ChangeMaxFileSize(-kEndReserve); FAILED(hr)) {
            log.LogErrorMessage(hr, "Failed to change the maximum file size");
          }
        }
        m_fileHasSamples = false;
        // A killed process leaves a head the reader can recover; without it the file hides
        // every member file sorted after it.
        PersistBlocks(log);
        StartWorkerLocked();
        m_state = wseStarted;
        return S_OK;
      });
}

HRESULT CQuorMediaFileWriter::Write(ULONG dwTrackId, IQuorMediaFileSample* piSample) {
  return QuorMethodFrame(WriterFrame(this, "CQuorMediaFileWriter::Write", m_loggerContext), [&] {
    if (piSample == nullptr) Raise(E_POINTER, kNullSampleIn);
    if (StopRequested()) {
      // The fileset or the disk is full: dropped. A rollover just before still gets reported,
      // and a rollover that failed is reported once, by the first Write after it.
      if (m_stoppedWhenFull) {
        if (const HRESULT failure = m_rolloverFailure.exchange(S_OK); FAILED(failure)) {
          std::string name;
          {
            CQuorMutexLock lock(m_queueLock);
            name = m_rolloverFailedName;
          }
          Raise(failure, kNextFileNotCreated, name.c_str());
        }
        ++m_droppedSamples;
        return m_nextFileStarted.exchange(false) ? MFS_S_NEXT_FILE : S_OK;
      }
      Raise(MFS_E_WRONG_STATE, kNotWriting);
    }
    if (!HasTrack(dwTrackId)) Raise(E_INVALIDARG, kTrackNotAdded);

    std::unique_ptr<QueuedSample> record = TakeFreeRecord();
    if (const HRESULT hr = CopySample(piSample, &record); hr == E_OUTOFMEMORY && !record) {
      Raise(E_OUTOFMEMORY, kCreateIndexBlockFailed);
    } else if (FAILED(hr)) {
      Raise(hr, kQuorNoMessage);
    }
    record->trackId = dwTrackId;

    bool wasEmpty = false;
    {
      CQuorMutexLock lock(m_queueLock);
      wasEmpty = m_sampleQueue.empty();
      m_sampleQueue.push_back(std::move(record));
      m_queuedCount.fetch_add(1, std::memory_order_release);
      ++m_acceptedCount;
    }
    // The worker drains until it sees the queue empty, so only the sample that finds it empty
    // has to wake it; the others are taken by the drain that wake-up starts.
    if (wasEmpty) SignalSamples();
    return m_nextFileStarted.exchange(false) ? MFS_S_NEXT_FILE : S_OK;
  });
}

std::unique_ptr<CQuorMediaFileWriter::QueuedSample> CQuorMediaFileWriter::TakeFreeRecord() {
  {
    CQuorMutexLock lock(m_queueLock);
    if (!m_freeRecords.empty()) {
      std::unique_ptr<QueuedSample> record = std::move(m_freeRecords.back());
      m_freeRecords.pop_back();
      m_freeBytes -= record->capacity;
      return record;
    }
  }
  return nullptr;
}

void CQuorMediaFileWriter::RecycleRecords(SampleQueue::iterator first,
                                          const SampleQueue::iterator& last) {
  // Enough for a burst between two wake-ups of the worker (a backlog of small samples counts
  // in thousands); a longer backlog gives its memory back as it drains.
  constexpr std::size_t kMaxFreeRecords = 16384;
  constexpr std::size_t kMaxFreeBytes = 16u << 20;
  {
    CQuorMutexLock lock(m_queueLock);
    for (; first != last; ++first) {
      const std::size_t capacity = (*first)->capacity;
      if (m_freeRecords.size() >= kMaxFreeRecords || m_freeBytes + capacity > kMaxFreeBytes) {
        break;
      }
      try {
        m_freeRecords.push_back(std::move(*first));
      } catch (const std::bad_alloc&) {
        break;  // not kept, which costs only an allocation later
      }
      m_freeBytes += capacity;
    }
  }
  // Those not kept are freed outside the lock.
  for (; first != last; ++first) first->reset();
}

HRESULT CQuorMediaFileWriter::CopySample(IQuorMediaFileSample* sample,
                                         std::unique_ptr<QueuedSample>* recordOut) {
  // The library's own sample objects lend their bytes; others hand out a copy as an array.
  CQuorComPtr<IQuorMediaFileSampleAccess> access;
  const BYTE* data = nullptr;
  ULONG length = 0;
  bool hasPayload = false;
  CQuorSafeArray array;
  if (SUCCEEDED(sample->QueryInterface(QuorIidOf<IQuorMediaFileSampleAccess>(),
                                       reinterpret_cast<void**>(access.AddressOf())))) {
    hasPayload = SUCCEEDED(access->GetPayloadView(&data, &length));
  } else {
    SAFEARRAY* payload = nullptr;
    if (SUCCEEDED(sample->GetPayloadData(&payload)) && payload != nullptr) {
      array.Attach(payload);
      VARTYPE vt = VT_EMPTY;
      if (FAILED(SafeArrayGetVartype(payload, &vt)) || vt != VT_UI1) return E_UNEXPECTED;
      data = static_cast<const BYTE*>(payload->pvData);
      length = array.Count();
      hasPayload = true;
    }
  }
  if (!*recordOut) {
    *recordOut = QueuedSample::New(m_recordArena, length, hasPayload && length != 0);
    if (!*recordOut) return E_OUTOFMEMORY;
  }
  QueuedSample* const record = recordOut->get();
  record->hasPayload = hasPayload;
  record->hasDigest = false;
  record->length = 0;
  if (record->hasPayload && length != 0) {
    if (!record->Reserve(length)) return E_OUTOFMEMORY;
    std::memcpy(record->Payload(), data, length);
    record->length = length;
  }
  ULONGLONG timestamp = 0;
  record->timestamp = SUCCEEDED(sample->GetTimestamp(&timestamp)) ? timestamp : 0;
  ULONG flags = 0;
  record->sampleFlags = SUCCEEDED(sample->GetSampleFlags(&flags)) ? flags : 0;
  return S_OK;
}

HRESULT CQuorMediaFileWriter::DoWriteLocked(QueuedSample* sample) {
  return QuorInternalMethodFrame(
      WriterFrame(this, "CQuorMediaFileWriter::DoWrite", m_loggerContext),
      [&](DXL_FunctionLogger& log) -> HRESULT {
        m_writerLock.AssertHeld();
        if (sample == nullptr) Raise(E_POINTER, kQuorNoMessage);
        const bool payloadOnly = m_recordingPayloadOnly;
        if (m_state != wseStarted) Raise(MFS_E_WRONG_STATE, kNotWriting);
        if (!m_sampleBlock) {
          m_sampleBlock.reset(new (std::nothrow) CQuorMediaSampleBlock());
          if (!m_sampleBlock) Raise(E_OUTOFMEMORY, kCreateSampleBlockFailed);
        }
        CQuorMediaSampleBlock* const block = m_sampleBlock.get();
        block->SetPayloadOnly(payloadOnly);
        block->SetImageBuffer(sample->buffer, sample->capacity);
        const BYTE* data = sample->hasPayload ? sample->Payload() : nullptr;
        const DWORD length = sample->length;
        QUOR_RAISE_IF_FAILED(block->SetPayload(data, length, false), kSetSamplePayloadFailed);
        QUOR_RAISE_IF_FAILED(block->SetBlockIndex(m_blockIndex), kSetBlockIndexFailed);
        block->SetKnownDigest(sample->hasDigest ? sample->digest : nullptr, sample->digestIndex,
                              sample->digestLength);
        ULONGLONG position = 0;
        QUOR_RAISE_IF_FAILED(m_storage->GetPosition(0, &position), kStorageGetPositionFailed);
        const CQuorMediaSampleIndex entry(
            sample->trackId, CQuorMediaFileSample::EntryFlagsFromSampleFlags(sample->sampleFlags),
            position, sample->timestamp);
        CQuorFileStorageWriter* writer = m_storage->GetWriter();
        if (writer == nullptr) Raise(E_FAIL, kStorageGetWriterFailed);
        if (!payloadOnly) {
          QUOR_RAISE_IF_FAILED(m_storage->ChangeMaxFileSize(-kEntryReserve), kQuorNoMessage);
        }

        const HRESULT writeHr = block->Write(writer);
        block->SetImageBuffer(nullptr, 0);  // the record's memory is not the block's to keep
        if (SUCCEEDED(writeHr)) {
          ++m_blockIndex;
          m_fileHasSamples = true;
          QUOR_RAISE_IF_FAILED(UpdateFileHash(block), kUpdateFileHashFailed);
          if (!payloadOnly) {
            QUOR_RAISE_IF_FAILED(m_indexBlock->AddSampleIndex(sample->trackId, entry),
                                 kAddSampleIndexFailed);
          }
          return S_OK;
        }

        if (!payloadOnly) {
          (void)m_storage->ChangeMaxFileSize(kEntryReserve);  // always S_OK
        }
        if (!IsFullCode(writeHr)) Raise(writeHr, kWriteSampleBlockFailed);
        QUOR_RAISE_IF_FAILED(m_storage->Seek(0, static_cast<LONGLONG>(position), soBegin),
                             kWriteSampleBlockFailed);
        // A sample that does not fit into a file holding nothing but its head fits into no
        // file: it is lost, and the recording goes on.
        if (writeHr == MFS_E_FILE_FULL && !m_fileHasSamples) {
          Raise(writeHr, kWriteSampleBlockFailed);
        }

        if (writeHr == MFS_E_FILE_FULL && m_currentFileIndex < m_maxFiles - 1) {
          // The next file is created before this one is closed: when its name cannot be had,
          // this file ends the fileset, and the next Write says why.
          std::u16string nextName;
          HRESULT createHr = QuorMemberFileName(m_fileSetName, m_currentFileIndex + 1, &nextName);
          if (SUCCEEDED(createHr)) {
            m_nextStorage.reset(new (std::nothrow) CQuorFileStorage(*m_fileSystem));
            createHr = m_nextStorage ? m_nextStorage->InitializeForWriting(
                                           CQuorBstr::Copy(std::u16string_view(nextName)).Get(),
                                           m_maxFileSizeKiB, m_overwrite)
                                     : E_OUTOFMEMORY;
          }
          if (FAILED(createHr)) {
            m_nextStorage.reset();
            {
              CQuorMutexLock queueLock(m_queueLock);
              m_rolloverFailedName = QuorUtf16ToUtf8(nextName);
            }
            m_rolloverFailure = createHr;
            m_stoppedWhenFull = true;
            if (FAILED(DoStopRecordingLocked(true))) EndAfterFailedRolloverLocked();
            Raise(createHr, kInitializeNextFileFailed);
          }
          if (const HRESULT hr = DoStopRecordingLocked(false); FAILED(hr)) {
            EndAfterFailedRolloverLocked();
            Raise(hr, kFinalizeWhenFullFailed);
          }
          ++m_currentFileIndex;
          if (const HRESULT hr = InitializeNextFileLocked(); FAILED(hr)) {
            EndAfterFailedRolloverLocked();
            Raise(hr, kInitializeNextFileFailed);
          }
          m_nextFileStarted = true;
          QUOR_RAISE_IF_FAILED(DoWriteLocked(sample), kWriteSampleAfterRolloverFailed);
          return S_OK;
        }

        QuorLogRelease(log, kMaxFilesReached);
        m_stoppedWhenFull = true;
        if (const HRESULT hr = DoStopRecordingLocked(true); FAILED(hr)) {
          log.LogErrorMessage(hr);
          EndAfterFailedRolloverLocked();  // whatever happens, nothing writes into this file again
        } else {
          QuorLogRelease(log, kFileFinalizedWhenFull);
        }
        return writeHr;
      });
}

void CQuorMediaFileWriter::EndAfterFailedRolloverLocked() {
  m_stoppedWhenFull = true;
  SignalStop();
  if (m_state == wseReadyToStart && m_indexBlock && m_finalizationBlock) {
    m_state = wseStarted;  // the new file's head is complete: it can be closed properly
  }
  if (m_state == wseStarted && SUCCEEDED(DoStopRecordingLocked(true))) {
    return;
  }
  // Whatever is open is cut where it ends and closed, so nothing writes into it any more. The
  // samples its last index block would have listed are out of every reader's reach: dropped.
  if (m_indexBlock) m_droppedSamples += m_indexBlock->GetEntryCount();
  ULONGLONG size = 0;
  if (m_storage && m_storage->GetMode() == smWriting && SUCCEEDED(m_storage->Finalize(&size))) {
    m_bytesInFinishedFiles += size;
  }
  m_state = wseFinished;
  FinishSeals();
}

HRESULT CQuorMediaFileWriter::UpdateFileHash(CQuorMediaFileBlock* block) {
  return QuorInternalMethodFrame(
      WriterFrame(this, "CQuorMediaFileWriter::UpdateFileHash", m_loggerContext), [&] {
        m_writerLock.AssertHeld();
        if (block == nullptr) Raise(E_POINTER, kNullBlock);
        const BYTE* hash = nullptr;
        DWORD length = 0;
        QUOR_RAISE_IF_FAILED(block->GetBlockHash(&hash, &length), kGetBlockHashFailed);
        QUOR_RAISE_IF_FAILED(m_fileHash.AddData(hash, length), kUpdateFileHashFailed);
        return S_OK;
      });
}

HRESULT CQuorMediaFileWriter::WriteIndexBlockLocked() {
  return QuorInternalMethodFrame(
      WriterFrame(this, "CQuorMediaFileWriter::WriteIndexBlock", m_loggerContext),
      [&](DXL_FunctionLogger& log) {
        m_writerLock.AssertHeld();
        if (m_recordingPayloadOnly) return S_OK;
        if (m_state != wseStarted) Raise(MFS_E_WRONG_STATE, kNotWriting);
        if (!m_indexBlock) Raise(MFS_E_NOT_SET, kFileSetNotInitialized);
        if (m_indexBlock->IsEmpty()) return S_OK;
        QUOR_RAISE_IF_FAILED(m_indexBlock->SetBlockIndex(m_blockIndex), kSetBlockIndexFailed);
        if (m_storage->GetWriter() == nullptr) Raise(E_FAIL, kStorageGetWriterFailed);
        ULONGLONG start = 0;
        QUOR_RAISE_IF_FAILED(m_storage->GetPosition(0, &start), kStorageGetPositionFailed);

        // The block goes into the room its entries kept; if it does not fit, the entries stay
        // for the next attempt and keep their room, so no file grows past its limit.
        const LONGLONG entryRoom = kEntryReserve * m_indexBlock->GetEntryCount();
        (void)m_storage->ChangeMaxFileSize(entryRoom);  // always S_OK
        if (const HRESULT hr = WriteBlockAt(m_indexBlock.get(), start); FAILED(hr)) {
          (void)m_storage->ChangeMaxFileSize(-entryRoom);
          Raise(hr, kWriteLastIndexFailed);
        }
        ++m_blockIndex;
        QUOR_RAISE_IF_FAILED(UpdateFileHash(m_indexBlock.get()), kUpdateFileHashFailed);
        // The samples it lists are reachable once it is on the system's side.
        PersistBlocks(log);
        Seal(false, 0, log);

        // The same block takes the next entries: emptied, its lists and buffer keep their room.
        m_indexBlock->ClearFields();
        QUOR_RAISE_IF_FAILED(m_indexBlock->SetOffsetToPreviousIndex(start),
                             kSetOffsetToPreviousFailed);
        return S_OK;
      });
}

HRESULT CQuorMediaFileWriter::DoStopRecordingLocked(bool lastFile) {
  return QuorInternalMethodFrame(
      WriterFrame(this, "CQuorMediaFileWriter::DoStopRecording", m_loggerContext),
      [&](DXL_FunctionLogger& log) {
        m_writerLock.AssertHeld();
        if (m_state != wseStarted) return S_OK;
        if (lastFile) SignalStop();
        QUOR_RAISE_IF_FAILED(m_storage->StopFileSizeControl(), kStopFileSizeControlFailed);
        if (!m_recordingPayloadOnly) {
          QUOR_RAISE_IF_FAILED(WriteIndexBlockLocked(), kWriteLastIndexFailed);
          QUOR_RAISE_IF_FAILED(m_finalizationBlock->SetBlockIndex(m_blockIndex),
                               kSetBlockIndexFailed);
          ++m_blockIndex;
          QUOR_RAISE_IF_FAILED(m_finalizationBlock->SetLastFileFlag(lastFile),
                               kSetLastFileFlagFailed);
          BYTE digest[kQuorMD5DigestSize];
          QUOR_RAISE_IF_FAILED(m_fileHash.GetDigest(digest), kGetHashBufferFailed);
          QUOR_RAISE_IF_FAILED(m_finalizationBlock->SetFileHash(digest, kQuorMD5DigestSize),
                               kUpdateFileHashFailed);
          CQuorFileStorageWriter* writer = m_storage->GetWriter();
          if (writer == nullptr) Raise(E_FAIL, kStorageGetWriterFailed);
          QUOR_RAISE_IF_FAILED(m_finalizationBlock->Write(writer), kWriteFinalizationFailed);
        }
        // Closing hands the rest to the system; a durable recording syncs it first.
        if (m_recordingDurable) PersistBlocks(log);
        ULONGLONG size = 0;
        QUOR_RAISE_IF_FAILED(m_storage->Finalize(&size), kFinalizeStorageFailed);
        m_bytesInFinishedFiles += size;
        m_state = wseFinished;
        Seal(true, size, log);
        // The recording ends here: its seals are all written before it is reported ended.
        if (lastFile) FinishSeals();
        return S_OK;
      });
}

HRESULT CQuorMediaFileWriter::InitializeNextFileLocked() {
  return QuorInternalMethodFrame(
      WriterFrame(this, "CQuorMediaFileWriter::InitializeNextFile", m_loggerContext), [&] {
        m_writerLock.AssertHeld();
        if (m_state == wseStarted) Raise(MFS_E_WRONG_STATE, kWritingInProgress);
        if (!m_fileInfoBlock) Raise(E_UNEXPECTED, kNoFileInfoBlock);
        m_storage.reset();
        m_spareIndexBlock = std::move(m_indexBlock);  // for the next file's entries
        m_finalizationBlock.reset();
        QUOR_RAISE_IF_FAILED(m_fileHash.ReInitialize(), kReinitializeFileHashFailed);
        std::u16string name;
        QUOR_RAISE_IF_FAILED(QuorMemberFileName(m_fileSetName, m_currentFileIndex, &name),
                             kStorageInitializeForWritingFailed);
        m_currentFileName = CQuorBstr::Copy(std::u16string_view(name));
        if (!m_currentFileName) Raise(E_OUTOFMEMORY, kStorageInitializeForWritingFailed);
        if (m_nextStorage) {
          m_storage = std::move(m_nextStorage);  // created by the rollover
        } else {
          try {
            m_storage = std::make_unique<CQuorFileStorage>(*m_fileSystem);
          } catch (const std::bad_alloc&) {
            Raise(E_OUTOFMEMORY, kNewFileStorageFailed);
          }
          QUOR_RAISE_IF_FAILED(m_storage->InitializeForWriting(m_currentFileName.Get(),
                                                               m_maxFileSizeKiB, m_overwrite),
                               kStorageInitializeForWritingFailed);
        }
        StartSeals();
        QUOR_RAISE_IF_FAILED(m_fileInfoBlock->SetFileSetIndex(m_currentFileIndex),
                             kStorageSetFileSetIndexFailed);
        m_state = wseReadyToStart;
        QUOR_RAISE_IF_FAILED(StartRecordingLocked(), kStartNextFileFailed);
        return S_OK;
      });
}

HRESULT CQuorMediaFileWriter::StopRecording() {
  return QuorMethodFrame(WriterFrame(this, "CQuorMediaFileWriter::StopRecording", m_loggerContext),
                         [&] {
                           HRESULT hr = S_OK;
                           {
                             CQuorMutexLock lock(m_writerLock);
                             hr = DoStopRecordingLocked(true);
                             // A stop that failed part way still writes the seals asked for.
                             FinishSeals();
                           }
                           // The worker has seen the stop, or sees it at its next wait: it ends
                           // before this returns, so that the writer may be initialized again right
                           // away.
                           if (SUCCEEDED(hr) && StopRequested()) {
                             StopWorker();
                             // Samples still queued are not written.
                             CQuorMutexLock lock(m_queueLock);
                             m_droppedSamples += m_sampleQueue.size();
                             m_sampleQueue.clear();
                             m_queuedCount = 0;
                           }
                           return hr;
                         });
}

void CQuorMediaFileWriter::RunWorker(const std::stop_token& stop,
                                     std::chrono::milliseconds indexPeriod) {
  const QuorFrameInfo frame = WriterFrame(this, "CQuorMediaFileWriter::WorkingThreadProc", 0);
  (void)QuorInternalMethodFrame(frame, [&](DXL_FunctionLogger& log) {
    // The first index block falls due a period after the worker starts, then every period.
    std::chrono::steady_clock::time_point indexDue = std::chrono::steady_clock::now() + indexPeriod;
    for (;;) {
      switch (WaitForWork(stop, indexPeriod, &indexDue)) {
        case WorkerWake::Stop:
          return S_OK;
        case WorkerWake::Samples:
          DrainQueue(log);
          break;
        case WorkerWake::IndexDue: {
          CQuorMutexLock lock(m_writerLock);
          if (const HRESULT hr = WriteIndexBlockLocked(); FAILED(hr)) {
            log.LogErrorMessage(hr, "Failed to write an index block");
          }
          break;
        }
      }
    }
  });
}

CQuorMediaFileWriter::WorkerWake CQuorMediaFileWriter::WaitForWork(
    const std::stop_token& stop, std::chrono::milliseconds indexPeriod,
    std::chrono::steady_clock::time_point* indexDue) {
  std::unique_lock lock(m_wakeLock);
  for (;;) {
    // What woke it is read below.
    (void)m_wake.wait_until(lock, stop, *indexDue,
                            [&] { return StopRequested() || m_samplesPending; });
    if (StopRequested() || stop.stop_requested()) return WorkerWake::Stop;
    if (m_samplesPending) {
      m_samplesPending = false;
      return WorkerWake::Samples;
    }
    const std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();
    if (now >= *indexDue) {
      // Periods that passed while the worker was busy give one index block, and the next one
      // stays on the period's grid.
      *indexDue += ((now - *indexDue) / indexPeriod + 1) * indexPeriod;
      return WorkerWake::IndexDue;
    }
  }
}

void CQuorMediaFileWriter::DrainQueue(DXL_FunctionLogger& log) {
  // Written records go back to the free list a run at a time, one lock per run, and soon
  // enough that a caller filling a long backlog meanwhile finds them there.
  constexpr std::size_t kRecycleRun = 64;
  SampleQueue batch;
  ULONGLONG taken = 0;  // samples accepted up to the last batch taken
  while (m_queuedCount.load(std::memory_order_acquire) != 0) {
    if (StopRequested()) return;
    {
      CQuorMutexLock lock(m_queueLock);
      batch.swap(m_sampleQueue);
      m_queuedCount.fetch_sub(batch.size(), std::memory_order_relaxed);
      taken = m_acceptedCount;
    }
    std::size_t recycled = 0;  // records of batch before this one have gone back
    for (std::size_t i = 0; i < batch.size();) {
      {
        // One lock per run of samples, a few hundred KiB at most so that a status or a stop
        // waits little: the hashing ahead and the writes share it. A drop is counted under it,
        // so that a status showing the recording ended shows the sample that ended it as
        // dropped. Samples still queued when the recording stops are not written.
        CQuorMutexLock lock(m_writerLock);
        std::size_t runBytes = 0;
        for (const std::size_t runEnd = std::min(batch.size(), i + kSampleRun);
             i < runEnd && runBytes < kSampleRunBytes && !StopRequested(); ++i) {
          if (i + 1 < batch.size()) {
            PrefetchHead(batch[i + 1]->buffer, batch[i + 1]->capacity);
            HashAhead(batch, i);
          }
          runBytes += batch[i]->length;
          if (m_state == wseFinished) {
            ++m_droppedSamples;
          } else if (const HRESULT hr = DoWriteLocked(batch[i].get()); FAILED(hr)) {
            ++m_droppedSamples;
            log.LogErrorMessage(hr, "Failed to write media sample");
          }
        }
      }
      if (i < batch.size() && StopRequested()) {
        m_droppedSamples += batch.size() - i;
        return;
      }
      if (i - recycled >= kRecycleRun) {
        RecycleRecords(batch.begin() + static_cast<std::ptrdiff_t>(recycled),
                       batch.begin() + static_cast<std::ptrdiff_t>(i));
        recycled = i;
      }
    }
    RecycleRecords(batch.begin() + static_cast<std::ptrdiff_t>(recycled), batch.end());
    m_samplesHandled.fetch_add(batch.size(), std::memory_order_release);
    batch.clear();
  }
  // The queue ran empty: what was written reaches the OS, so that a killed process loses only
  // samples it had not yet taken.
  {
    CQuorMutexLock lock(m_writerLock);
    if (m_storage && m_state == wseStarted) {
      if (const HRESULT hr = m_storage->Flush(); FAILED(hr)) {
        log.LogErrorMessage(hr, kHandBlocksToSystemFailed);
      }
    }
  }
  SettleDrain(taken);
}

void CQuorMediaFileWriter::HashAhead(const SampleQueue& batch, std::size_t first) {
  const QueuedSample& head = *batch[first];
  if (m_state != wseStarted || !m_sampleBlock ||
      (head.hasDigest && head.digestIndex == m_blockIndex)) {
    return;
  }
  // Each record's block is laid out in its own buffer as DoWriteLocked will lay it out.
  CQuorMediaSampleBlock* const block = m_sampleBlock.get();
  // The recording's layout, not the setting: SetPayloadOnly may change it for the next one.
  block->SetPayloadOnly(m_recordingPayloadOnly);
  QuorMD5Job jobs[kHashRun];
  QueuedSample* hashed[kHashRun];
  std::size_t count = 0;
  std::size_t bytes = 0;
  for (std::size_t j = first; j < batch.size() && count < kHashRun && bytes < kHashRunBytes; ++j) {
    QueuedSample& record = *batch[j];
    record.hasDigest = false;
    const DWORD blockIndex = m_blockIndex + static_cast<DWORD>(j - first);
    DWORD length = 0;
    block->SetImageBuffer(record.buffer, record.capacity);
    if (FAILED(block->SetPayload(record.hasPayload ? record.Payload() : nullptr, record.length,
                                 false)) ||
        FAILED(block->SetBlockIndex(blockIndex)) || FAILED(block->LayOutImage(&length))) {
      continue;
    }
    record.digestIndex = blockIndex;
    record.digestLength = length;
    bytes += length;
    jobs[count] = {record.buffer, length, record.digest};
    hashed[count++] = &record;
  }
  block->SetImageBuffer(nullptr, 0);  // the records' memory is not the block's to keep
  if (FAILED(m_hashLanes.Hash(std::span<const QuorMD5Job>(jobs, count)))) return;
  for (std::size_t k = 0; k < count; ++k) hashed[k]->hasDigest = true;
}

HRESULT CQuorMediaFileWriter::GetRecordingStatus(IQuorMediaFileRecordingStatus** ppiStatus) {
  return QuorMethodFrame(
      WriterFrame(this, "CQuorMediaFileWriter::GetRecordingStatus", m_loggerContext), [&] {
        if (ppiStatus == nullptr) Raise(E_POINTER, kQuorNoMessage);
        *ppiStatus = nullptr;
        CQuorMutexLock lock(m_writerLock);
        CQuorComPtr<CQuorMediaFileRecordingStatus> status;
        if (FAILED(QuorCreateObject(&status))) Raise(E_OUTOFMEMORY, kQuorNoMessage);
        const WriterStateEnum state = m_state;
        if (m_currentFileName) {
          QUOR_RAISE_IF_FAILED(status->SetCurrentFileName(m_currentFileName.Get()), kQuorNoMessage);
        }
        QUOR_RAISE_IF_FAILED(status->SetCurrentFileIndex(m_currentFileIndex), kQuorNoMessage);
        QUOR_RAISE_IF_FAILED(status->SetWriterState(state), kQuorNoMessage);

        // Before a successful Initialize there is no file and no file info to report.
        ULONGLONG bytesCurrentFile = 0;
        if (state != wseFinished && state != wseCreated && m_storage) {
          QUOR_RAISE_IF_FAILED(m_storage->GetPosition(0, &bytesCurrentFile), kQuorNoMessage);
        }
        QUOR_RAISE_IF_FAILED(status->SetBytesCurrentFile(bytesCurrentFile), kQuorNoMessage);
        QUOR_RAISE_IF_FAILED(status->SetBytesTotal(m_bytesInFinishedFiles + bytesCurrentFile),
                             kQuorNoMessage);

        if (state != wseCreated && m_fileInfoBlock) {
          BYTE passwordHash[kQuorMD5DigestSize];
          const HRESULT passwordHr =
              m_fileInfoBlock->GetPasswordHash(passwordHash, kQuorMD5DigestSize);
          if (FAILED(passwordHr) && passwordHr != MFS_E_NO_VALUE) Raise(passwordHr, kQuorNoMessage);
          QUOR_RAISE_IF_FAILED(status->SetHasPassword(SUCCEEDED(passwordHr)), kQuorNoMessage);

          CQuorBstr description;
          const HRESULT descriptionHr = m_fileInfoBlock->GetDescription(description.AddressOf());
          if (SUCCEEDED(descriptionHr)) {
            if (!description) description = CQuorBstr::Copy(u"");  // an empty description
            QUOR_RAISE_IF_FAILED(status->SetDescription(description.Get()), kQuorNoMessage);
          } else if (descriptionHr != MFS_E_NO_VALUE) {
            Raise(descriptionHr, kQuorNoMessage);
          }

          ULONGLONG creationTime = 0;
          QUOR_RAISE_IF_FAILED(m_fileInfoBlock->GetFileSetCreationTime(&creationTime),
                               kQuorNoMessage);
          QUOR_RAISE_IF_FAILED(status->SetCreationTime(static_cast<LONGLONG>(creationTime)),
                               kQuorNoMessage);
          GUID fileSetGuid = GUID_NULL;
          QUOR_RAISE_IF_FAILED(m_fileInfoBlock->GetFileSetGuid(&fileSetGuid), kQuorNoMessage);
          QUOR_RAISE_IF_FAILED(status->SetFileSetGuid(&fileSetGuid), kQuorNoMessage);
        }
        CQuorComPtr<IQuorMediaFileRecordingStatus> result;
        QUOR_RAISE_IF_FAILED(status.As(&result), kQuorNoMessage);
        *ppiStatus = result.Detach();
        return S_OK;
      });
}
