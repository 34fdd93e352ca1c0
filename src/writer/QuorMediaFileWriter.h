// CQuorMediaFileWriter (coclass QuorMediaFileWriter): records a fileset. Set-up (Initialize,
// SetDescription, SetPassword, AddTrack), then StartRecording, Write per sample and
// StopRecording. Write only queues the sample; the writer's worker thread writes media sample
// blocks, an index block every index period (60 seconds unless set) and before each file is
// closed, rolls over to the next member file when one is full, and ends the recording when the
// last one or the disk is. The head, every index block and the closing blocks of a file reach
// the operating system as soon as they are written (and the device too when durability is on),
// sample blocks whenever the queue runs empty.
//
// IQuorMediaFileWriterOptions and IQuorMediaFileWriterSeal are served by member objects that
// share the writer's reference count (QueryInterface returns them for their identifiers), each
// late-bound from its own type description; the options are read at the start of each
// recording, as the payload-only mode is.
//
// Owns the storage of the member file being written, the file info block, one track info
// block per track, the current index block and finalization block, the running file hash, the
// worker thread, and the queue of samples not yet written.
//
// Threads: callers may use the writer from any thread. writerLock guards every member and
// every block write (on the caller's thread and on the worker). It is not recursive: a public
// method takes it once, and the helpers it calls run with it held (the *Locked ones, and the
// others marked QUOR_REQUIRES). queueLock guards only the queue and is never held while
// writerLock is requested. Write takes queueLock only, so it never waits for the disk. AddTrack
// must not run at the same time as Write.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "core/QuorMD5Hash.h"
#include "core/QuorMD5Lanes.h"
#include "core/QuorMutex.h"
#include "platform/automation/QuorDispatchObject.h"
#include "platform/io/QuorFileSystem.h"
#include "platform/memory/QuorLargePages.h"
#include "quormediafiles/QuorMediaFiles.h"
#include "quormediafiles/QuorMediaFilesInternal.h"
#include "quormediafiles/platform/QuorOleAuto.h"
#include "writer/QuorRecordArena.h"

class CQuorFileStorage;
class CQuorFileInfoBlock;
class CQuorTrackInfoBlock;
class CQuorIndexBlock;
class CQuorFileFinalizationBlock;
class CQuorMediaFileBlock;
class CQuorMediaSampleBlock;
class CQuorSealWriter;
class DXL_FunctionLogger;

class CQuorMediaFileWriter final
    : public CQuorDispatchObject<IQuorMediaFileWriter, IQuorMediaFileWriter2> {
 public:
  // Room held back below the size limit of a file: the last index block's fixed part plus the
  // finalization block, and one index entry per sample written since the last index block.
  static constexpr LONGLONG kEndReserve = 164;
  static constexpr LONGLONG kEntryReserve = 56;
  // The period of index blocks unless set otherwise, and the limits of the setting (seconds).
  static constexpr std::chrono::milliseconds kIndexPeriod{60000};
  static constexpr ULONG kMaxIndexPeriodSeconds = 86400;

  // Every file of its recordings and seals goes through fileSystem, which must outlive the
  // writer; programs use the real one, tests may hand in their own.
  explicit CQuorMediaFileWriter(CQuorFileSystem& fileSystem = QuorPosixFileSystem()) noexcept;
  // Logs the creation. The worker thread starts with the first StartRecording.
  [[nodiscard]] HRESULT FinalConstruct() noexcept;

  HRESULT Initialize(BSTR bstrFileName, ULONG dwMaxSize, ULONG dwMaxFiles,
                     VARIANT_BOOL vbOverwrite) override;
  HRESULT SetDescription(BSTR bstrDescription) override;
  HRESULT SetPassword(BSTR bstrPassword) override;
  HRESULT AddTrack(IQuorTrackMetadata* piMetadata) override;
  HRESULT StartRecording() override;
  HRESULT StopRecording() override;
  HRESULT Write(ULONG dwTrackId, IQuorMediaFileSample* piSample) override;
  HRESULT GetRecordingStatus(IQuorMediaFileRecordingStatus** ppiStatus) override;

  HRESULT SetPayloadOnly(VARIANT_BOOL vbPayloadOnly) override;
  HRESULT Drain() override;

  // IQuorMediaFileWriterSeal's method, served through its member interface.
  HRESULT SetSigningKey(BSTR bstrPrivateKeyFile);

  // Samples the worker has taken from the queue and written, or dropped after the recording
  // ended, since the writer was created. StopRecording drops what is still queued, so an
  // in-process caller that hands in a known set of samples (salvage) waits for this first.
  ULONGLONG GetSamplesHandled() const noexcept {
    return m_samplesHandled.load(std::memory_order_acquire);
  }

  // Answers IQuorMediaFileWriterOptions and IQuorMediaFileWriterSeal with their members;
  // everything else as the base.
  HRESULT QueryInterface(REFIID riid, void** ppvObject) override;

  // For tests only, and reachable through no interface: the index period of worker threads
  // that start after the call (0 restores kIndexPeriod).
  static void SetIndexPeriodForTesting(std::chrono::milliseconds period) noexcept;
  // For tests only, and reachable through no interface: the fileset GUID and creation time
  // (seconds since 1970) of recordings initialized after the call, so that a recording can be
  // reproduced byte for byte; a null guid restores the made ones.
  static void SetIdentityForTesting(const GUID* guid, ULONGLONG creationTime) noexcept;

 private:
  // One sample waiting for the worker: a copy of its payload in a buffer that the record
  // keeps when it goes back to the free list, so that a recording in steady state allocates
  // nothing per sample. The payload sits where it sits in its media sample block, with room
  // for the rest of the block around it, so that the block is laid out and written from this
  // buffer without another copy of the payload. A new record and its first buffer are one
  // allocation, from the writer's record arena when it fits there.
  struct QueuedSample {
    // A record with room behind it for a payload of payloadLength bytes and its block, or with
    // no buffer (withBuffer false); null when out of memory.
    static std::unique_ptr<QueuedSample> New(CQuorRecordArena& arena, DWORD payloadLength,
                                             bool withBuffer) noexcept;
    // Gives the record's memory back to where it came from.
    static void operator delete(QueuedSample* record, std::destroying_delete_t) noexcept;
    // Room for a payload of payloadLength bytes and its block; the bytes held before are not kept.
    // False when out of memory.
    [[nodiscard]] bool Reserve(DWORD payloadLength) noexcept;
    // The payload's first byte; null before the first Reserve.
    BYTE* Payload() const noexcept;

    DWORD trackId = 0;
    DWORD sampleFlags = 0;
    ULONGLONG timestamp = 0;
    bool hasPayload = false;
    DWORD length = 0;
    std::size_t capacity = 0;       // of buffer
    BYTE* buffer = nullptr;         // behind the record, or grown
    std::unique_ptr<BYTE[]> grown;  // a buffer larger than the one behind the record
    // The block hash computed ahead by HashAhead, valid for a block laid out in buffer with
    // block index digestIndex (digestLength bytes hashed).
    bool hasDigest = false;
    DWORD digestIndex = 0;
    DWORD digestLength = 0;
    BYTE digest[kQuorMD5DigestSize] = {};
    bool fromArena = false;  // the record's memory came from a CQuorRecordArena
  };
  using SampleQueue = std::deque<std::unique_ptr<QueuedSample>>;

  // What woke the worker, in the order it is served when several are pending.
  enum class WorkerWake { Stop, Samples, IndexDue };

  // The final-release step: stops the worker, then Cleanup.
  ~CQuorMediaFileWriter() override;

  void CleanupLocked() QUOR_REQUIRES(m_writerLock);
  // A finished writer, whose worker has ended, takes samples again: the queue is emptied and the
  // stop withdrawn. The next StartRecording starts a new worker.
  void PrepareForNextRecording();
  // Starts the worker thread unless it runs already.
  void StartWorkerLocked() QUOR_REQUIRES(m_writerLock);
  // Signals the stop and waits for the worker thread to end, if there is one.
  void StopWorker() QUOR_EXCLUDES(m_writerLock);
  // Ends the recording for Write and the worker: Write refuses or drops samples from now on, the
  // worker ends at its next wait, and Drain returns.
  void SignalStop();
  // Whether the stop is signaled; read without a lock.
  bool StopRequested() const noexcept { return m_stopRequested.load(std::memory_order_acquire); }
  // Wakes the worker to drain the queue.
  void SignalSamples();

  // Internal operations; each catches its own raised failures and returns the HRESULT.
  // StartRecording's public frame, for the rollover too.
  [[nodiscard]] HRESULT StartRecordingLocked() QUOR_REQUIRES(m_writerLock);
  [[nodiscard]] HRESULT DoStartRecordingLocked() QUOR_REQUIRES(m_writerLock);
  [[nodiscard]] HRESULT DoWriteLocked(QueuedSample* sample) QUOR_REQUIRES(m_writerLock);
  // Whether Write may queue samples of the track. Read without writerLock: the tracks change
  // only in AddTrack, which must not run at the same time as Write.
  bool HasTrack(DWORD trackId) const QUOR_NO_THREAD_SAFETY_ANALYSIS {
    return m_tracks.contains(trackId);
  }
  // A record for Write from the free list; null when it is empty.
  std::unique_ptr<QueuedSample> TakeFreeRecord();
  // Keeps written records for reuse while the free list holds little, under one lock; frees
  // the others.
  void RecycleRecords(SampleQueue::iterator first, const SampleQueue::iterator& last);
  // Copies the sample's payload, timestamp and flags into record, a new one when it is null.
  [[nodiscard]] HRESULT CopySample(IQuorMediaFileSample* sample,
                                   std::unique_ptr<QueuedSample>* record);
  [[nodiscard]] HRESULT WriteIndexBlockLocked() QUOR_REQUIRES(m_writerLock);
  [[nodiscard]] HRESULT UpdateFileHash(CQuorMediaFileBlock* block) QUOR_REQUIRES(m_writerLock);
  [[nodiscard]] HRESULT InitializeNextFileLocked() QUOR_REQUIRES(m_writerLock);
  [[nodiscard]] HRESULT DoStopRecordingLocked(bool lastFile) QUOR_REQUIRES(m_writerLock);
  // Ends a recording whose rollover failed: closes the open file as the last one if it can,
  // and drops later samples as for a full fileset.
  void EndAfterFailedRolloverLocked() QUOR_REQUIRES(m_writerLock);

  // With a signing key: the new member file's seals start (its sidecar is created and the
  // storage's writes are hashed). Raises message kCreateSealFileFailed when the sidecar cannot be
  // created.
  void StartSeals() QUOR_REQUIRES(m_writerLock);
  // With a signing key: appends a seal of the current file up to the block just written: the
  // storage's position, or finalizedSize once the file is finalized. A failure is logged and
  // the recording goes on.
  void Seal(bool finalized, ULONGLONG finalizedSize, DXL_FunctionLogger& log)
      QUOR_REQUIRES(m_writerLock);
  // With a signing key: returns once every seal asked for is written (the seal thread ends).
  void FinishSeals() noexcept QUOR_REQUIRES(m_writerLock);
  // A dual interface of the writer served by a member: IUnknown goes to the writer, IDispatch
  // is served from the interface's own type description.
  template <typename TInterface>
  class MemberInterface : public TInterface {
   public:
    explicit MemberInterface(CQuorMediaFileWriter* writer) noexcept : m_writer(writer) {}
    HRESULT QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetTypeInfoCount(UINT* pctinfo) override;
    HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                          DISPID* rgDispId) override;
    HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                   DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                   UINT* puArgErr) override;

   protected:
    ~MemberInterface() = default;
    CQuorMediaFileWriter* m_writer;
  };
  class Options final : public MemberInterface<IQuorMediaFileWriterOptions> {
   public:
    using MemberInterface::MemberInterface;
    HRESULT SetDurable(VARIANT_BOOL vbDurable) override;
    HRESULT GetDurable(VARIANT_BOOL* pvbDurable) override;
    HRESULT SetIndexPeriod(ULONG dwSeconds) override;
    HRESULT GetIndexPeriod(ULONG* pdwSeconds) override;
    HRESULT GetDroppedSampleCount(ULONGLONG* pnDropped) override;
  };
  class SealSettings final : public MemberInterface<IQuorMediaFileWriterSeal> {
   public:
    using MemberInterface::MemberInterface;
    HRESULT SetSigningKey(BSTR bstrPrivateKeyFile) override {
      return m_writer->SetSigningKey(bstrPrivateKeyFile);
    }
  };

  // Hands what the current file's layer still holds to the OS, and syncs it to the device when
  // this recording is durable. A failure is logged: the blocks stay written as far as the file
  // layer goes, and the next hand-over tries again.
  void PersistBlocks(DXL_FunctionLogger& log) QUOR_REQUIRES(m_writerLock);
  // Whether the head (signature, file info block, track info blocks) and the end reserve fit
  // under the size limit, extra (a track being added, or null) included; E_INVALIDARG if not.
  [[nodiscard]] HRESULT CheckHeadFits(CQuorTrackInfoBlock* extra) QUOR_REQUIRES(m_writerLock);

  // The worker thread: serves stops, samples and the index period until it sees the stop.
  void RunWorker(const std::stop_token& stop, std::chrono::milliseconds indexPeriod)
      QUOR_EXCLUDES(m_writerLock);
  // Sleeps until the worker has something to do and says what. A stop outranks pending samples,
  // and samples outrank the index block due. indexDue: when the next index block is due; moved
  // on by a period (the periods missed meanwhile give one block) when it is served.
  WorkerWake WaitForWork(const std::stop_token& stop, std::chrono::milliseconds indexPeriod,
                         std::chrono::steady_clock::time_point* indexDue);
  void DrainQueue(DXL_FunctionLogger& log) QUOR_EXCLUDES(m_writerLock);
  // Hashes the sample blocks of batch from first on side by side (a run of them), each with the
  // block index it gets if nothing else is written before it; nothing when the first record's
  // digest still fits the next block index. DoWriteLocked uses a digest that fits and hashes
  // otherwise.
  void HashAhead(const SampleQueue& batch, std::size_t first) QUOR_REQUIRES(m_writerLock);
  // Publishes that the first settled accepted samples are written or dropped and wakes Drain.
  void SettleDrain(ULONGLONG settled);

  // Writes block at the current position; on a failure the position goes back to where the
  // block began, so that the next block overwrites the partial one.
  [[nodiscard]] HRESULT WriteBlockAt(CQuorMediaFileBlock* block, ULONGLONG start)
      QUOR_REQUIRES(m_writerLock);

  // The worker takes the writer's lock for every sample and callers take the queue's twice per
  // Write: each lock, and what follows them, sits on a cache line of its own, so that one
  // thread's lock does not move the line another thread's lock is on between the cores.
  alignas(kQuorCacheLineSize) CQuorMutex m_writerLock;
  alignas(kQuorCacheLineSize) CQuorMutex m_queueLock;

  alignas(kQuorCacheLineSize) CQuorFileSystem* m_fileSystem;
  std::atomic<WriterStateEnum> m_state{wseCreated};
  std::unique_ptr<CQuorFileStorage> m_storage QUOR_GUARDED_BY(m_writerLock);
  std::unique_ptr<CQuorFileInfoBlock> m_fileInfoBlock QUOR_GUARDED_BY(m_writerLock);
  std::unique_ptr<CQuorIndexBlock> m_indexBlock QUOR_GUARDED_BY(m_writerLock);
  // The last file's index block between a rollover and the next file's start, whose head does
  // not count as complete before it has an index block of its own.
  std::unique_ptr<CQuorIndexBlock> m_spareIndexBlock QUOR_GUARDED_BY(m_writerLock);
  std::unique_ptr<CQuorFileFinalizationBlock> m_finalizationBlock QUOR_GUARDED_BY(m_writerLock);
  CQuorMD5Hash m_fileHash QUOR_GUARDED_BY(m_writerLock);
  std::map<DWORD, std::unique_ptr<CQuorTrackInfoBlock>> m_tracks QUOR_GUARDED_BY(m_writerLock);
  CQuorBstr m_currentFileName QUOR_GUARDED_BY(m_writerLock);
  bool m_overwrite QUOR_GUARDED_BY(m_writerLock) = false;
  std::atomic<bool> m_nextFileStarted{false};
  std::atomic<bool> m_stoppedWhenFull{false};
  std::u16string m_fileSetName QUOR_GUARDED_BY(m_writerLock);  // the name Initialize was given
  DWORD m_maxFiles QUOR_GUARDED_BY(m_writerLock) = 0;
  DWORD m_maxFileSizeKiB QUOR_GUARDED_BY(m_writerLock) = 0;
  DWORD m_currentFileIndex QUOR_GUARDED_BY(m_writerLock) = 0;
  DWORD m_blockIndex QUOR_GUARDED_BY(m_writerLock) = 0;
  ULONGLONG m_bytesInFinishedFiles QUOR_GUARDED_BY(m_writerLock) = 0;
  // Whether a sample has been written into the current file: a sample that does not fit into
  // a file without one fits into no file, and is not worth a rollover.
  bool m_fileHasSamples QUOR_GUARDED_BY(m_writerLock) = false;

  // The worker thread, from the first StartRecording of a recording to the end of it.
  std::jthread m_worker QUOR_GUARDED_BY(m_writerLock);
  // What wakes the worker: the stop (set under wakeLock, read without it), and samples queued
  // since the worker last looked (under wakeLock).
  std::atomic<bool> m_stopRequested{false};
  bool m_samplesPending = false;
  std::mutex m_wakeLock;
  std::condition_variable_any m_wake;

  // Declared before every holder of records, so that it outlives them.
  CQuorRecordArena m_recordArena;
  SampleQueue m_sampleQueue QUOR_GUARDED_BY(m_queueLock);
  std::vector<std::unique_ptr<QueuedSample>> m_freeRecords QUOR_GUARDED_BY(m_queueLock);
  std::size_t m_freeBytes QUOR_GUARDED_BY(m_queueLock) = 0;  // their payload capacity
  // The media sample block, used again for every sample (its hash context with it); its
  // payload borrows the record being written.
  std::unique_ptr<CQuorMediaSampleBlock> m_sampleBlock QUOR_GUARDED_BY(m_writerLock);
  CQuorMD5Lanes m_hashLanes QUOR_GUARDED_BY(m_writerLock);  // the worker's, in HashAhead
  alignas(kQuorCacheLineSize) std::atomic<std::size_t> m_queuedCount{0};
  std::atomic<ULONGLONG> m_samplesHandled{0};
  // Drain's bookkeeping: samples Write has queued, and how many of them the worker has written
  // and flushed (or dropped), published under drainLock.
  ULONGLONG m_acceptedCount QUOR_GUARDED_BY(m_queueLock) = 0;
  ULONGLONG m_settledCount = 0;
  std::mutex m_drainLock;
  std::condition_variable m_drained;
  std::atomic<bool> m_payloadOnly{false};
  // Set by SetSigningKey; kept over Cleanup.
  std::unique_ptr<CQuorSealWriter> m_sealer QUOR_GUARDED_BY(m_writerLock);
  // The settings, and the values the current recording took from them at its start (the
  // worker takes the period when it starts).
  std::atomic<bool> m_durable{false};
  std::atomic<ULONG> m_indexPeriodSeconds{static_cast<ULONG>(kIndexPeriod.count() / 1000)};
  bool m_recordingPayloadOnly QUOR_GUARDED_BY(m_writerLock) = false;
  bool m_recordingDurable QUOR_GUARDED_BY(m_writerLock) = false;
  std::chrono::milliseconds m_recordingIndexPeriod QUOR_GUARDED_BY(m_writerLock) = kIndexPeriod;
  std::atomic<ULONGLONG> m_droppedSamples{0};
  // The next member file, created before the full one is closed, so that a name that cannot be
  // had ends the recording with the full file as the last one.
  std::unique_ptr<CQuorFileStorage> m_nextStorage QUOR_GUARDED_BY(m_writerLock);
  // A failed rollover, reported once by Write: its code and the name that could not be had.
  std::atomic<HRESULT> m_rolloverFailure{S_OK};
  std::string m_rolloverFailedName QUOR_GUARDED_BY(m_queueLock);  // UTF-8
  Options m_options{this};
  SealSettings m_sealSettings{this};
  DWORD m_loggerContext = 0;
};
