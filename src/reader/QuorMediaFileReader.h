// CQuorMediaFileReader: the playback object (coclass QuorMediaFileReader). OpenFileSet finds the
// member files of a fileset through its storage, checks the password and loads, per file, the
// file info block, the track info blocks and the chain of index blocks into the tracks map (a
// file without a readable finalization block is recovered by walking its blocks forward). The
// moves read one index block and one sample block per call; the queries answer from what the
// open loaded; IsAuthentic re-reads every block and checks block indexes, block hashes and file
// hashes.
//
// Owns its storage (every member file stays open until the next open or the release), the file
// info block of the last file read, the tracks map with the track objects and the two per-file
// maps. Hands out new value objects that the caller owns.
//
// Threads: every public method holds the recursive lock m_lock for its whole run, except
// CancelAuthentication and GetAuthenticationProgress, which touch only two atomics so that a
// second thread can poll and cancel while IsAuthentic runs.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>

#include "core/QuorMethodFrame.h"
#include "format/QuorBlockBatch.h"
#include "format/QuorFileAuthentication.h"
#include "format/QuorFileFinalizationBlock.h"
#include "format/QuorFileInfoBlock.h"
#include "format/QuorIndexBlock.h"
#include "format/QuorMediaSampleBlock.h"
#include "format/QuorMediaSampleIndex.h"
#include "platform/automation/QuorDispatchObject.h"
#include "platform/sync/QuorCriticalSection.h"
#include "quormediafiles/QuorMediaFiles.h"
#include "reader/QuorMediaFileStatusMap.h"
#include "reader/QuorMediaTracksMap.h"
#include "storage/QuorFileStorage.h"

class CQuorMediaFileReader final : public CQuorDispatchObject<IQuorMediaFileReader> {
 public:
  // Every member file goes through fileSystem, which must outlive the reader; programs use the
  // real one, tests may hand in their own.
  explicit CQuorMediaFileReader(CQuorFileSystem& fileSystem = QuorPosixFileSystem()) noexcept;
  ~CQuorMediaFileReader() override;

  // Logs the creation (message kReaderCreated).
  [[nodiscard]] HRESULT FinalConstruct() noexcept;

  // IQuorMediaFileReader.
  HRESULT OpenFileSet(BSTR bstrFileName, BSTR bstrPassword) override;
  HRESULT GetFileSetMetadata(IQuorFileSetMetadata** ppiMetadata) override;
  HRESULT GetFileNames(SAFEARRAY** ppsaFileNames) override;
  HRESULT GetFileStatus(BSTR bstrFileName, IQuorMediaFileStatus** ppiStatus) override;
  HRESULT GetTrackIds(SAFEARRAY** ppsaTrackIds) override;
  HRESULT GetTrackMetadata(ULONG dwTrackId, IQuorTrackMetadata** ppiMetadata) override;
  HRESULT GetFirstTimeStamp(ULONG dwTrackId, ULONGLONG* pnTime) override;
  HRESULT GetLastTimeStamp(ULONG dwTrackId, ULONGLONG* pnTime) override;
  HRESULT MoveTo(ULONG dwTrackId, ULONGLONG nTimestamp, IQuorMediaFileSample** ppiSample) override;
  HRESULT MoveNext(ULONG dwTrackId, IQuorMediaFileSample** ppiSample) override;
  HRESULT MovePrevious(ULONG dwTrackId, IQuorMediaFileSample** ppiSample) override;
  HRESULT IsAuthentic(VARIANT_BOOL* pvbAuthentic) override;
  HRESULT IsCompleteFileSet(VARIANT_BOOL* pvbComplete) override;
  HRESULT CancelAuthentication() override;
  HRESULT GetAuthenticationProgress(SHORT* pwProgress) override;

  // Internal operations, public for the tests of this subsystem.

  // Drops everything loaded: file info block, statuses, fileset indexes, tracks, and zeroes the
  // authentication state.
  [[nodiscard]] HRESULT Cleanup();
  // Finds the finalization block of fileIndex from the end of the file and reads it into block.
  // An unreadable block is reported as MFS_E_WRONG_STATE.
  [[nodiscard]] HRESULT ReadFinalizationBlock(DWORD fileIndex, CQuorFileFinalizationBlock& block);
  // Rebuilds the index of a file without a readable finalization block by walking its blocks
  // forward from the first; index blocks found stay in the tracks map whatever the result.
  [[nodiscard]] HRESULT ParseBrokenFile(DWORD fileIndex);
  // Reads the sample block that entry names in fileIndex into a new sample object.
  [[nodiscard]] HRESULT GetMediaSample(DWORD fileIndex, const CQuorMediaSampleIndex& entry,
                                       IQuorMediaFileSample** ppiSample);
  // Reads whatever block starts at the current position of fileIndex (the storage's current
  // file) into a new block of its kind. An unknown type word: MFS_E_BAD_FORMAT with the
  // position left on the block; the end of the file: HRESULT_FROM_WIN32(ERROR_HANDLE_EOF).
  [[nodiscard]] HRESULT GetNextBlock(DWORD fileIndex, std::unique_ptr<CQuorMediaFileBlock>* block);
  // Walks one file for IsAuthentic: block indexes must follow lastBlockIndex without a gap,
  // every block hash must hold, and the finalization block's file hash must match the block
  // hashes before it (the forward block walker reads them). A failed check is S_OK with
  // *authentic false; a block that does not read fails.
  [[nodiscard]] HRESULT AuthenticateFile(DWORD fileIndex, DWORD& lastBlockIndex, DWORD totalBlocks,
                                         bool* authentic);

 private:
  QuorFrameInfo Frame(const char* methodName) const noexcept;

  // The per-file steps of OpenFileSet. Returns the result of the file's recovery (S_OK when it
  // needed none); everything that ends the open is raised.
  HRESULT OpenMemberFile(BSTR fileName, BSTR password, DXL_FunctionLogger& log);
  // Walks the index chain of a finalized file backwards from its last index block.
  void LoadIndexChain(DWORD fileIndex, const CQuorFileFinalizationBlock& finalization);
  // The track of dwTrackId, or a raise of E_INVALIDARG (message kTrackNotInMap).
  CQuorMediaFileTrack& FindTrack(ULONG dwTrackId);
  // Reads the index block that identifier names into m_indexBlock and returns the track's
  // entries there (never empty; valid until the block's next read); a failure is raised, with
  // seekMessage for the seek.
  const std::vector<CQuorMediaSampleIndex>& ReadTrackEntries(
      ULONG dwTrackId, const CQuorIndexBlockIdentifier& identifier,
      const QuorMessage<>& seekMessage);
  // MoveNext (forward) and MovePrevious, after the argument check.
  HRESULT Step(ULONG dwTrackId, IQuorMediaFileSample** ppiSample, bool forward,
               DXL_FunctionLogger& log);

  CQuorFileStorage m_storage;
  std::unique_ptr<CQuorFileInfoBlock> m_fileInfoBlock;
  CQuorMediaTracksMap m_tracks;
  CQuorMediaFileStatusMap m_fileStatus;
  std::map<DWORD, DWORD> m_filesetIndexes;  // storage file index -> declared fileset index
  CQuorCriticalSection m_lock;
  std::atomic<std::uint8_t> m_authenticationActive{0};
  std::atomic<std::uint32_t> m_authenticationProgress{0};
  std::uint32_t m_loggerContext = 0;
  // Reused by every sample read and every index block read, so that their read buffers and
  // hash objects are made once, not once per block.
  CQuorMediaSampleBlock m_sampleBlock;
  CQuorIndexBlock m_indexBlock;
  // The blocks read ahead and hashed together by the open's index chain walk (kChainRun index
  // blocks at a time) and by recovery, kept for their memory.
  static constexpr std::size_t kChainRun = 64;
  CQuorBlockBatch m_blockBatch;
  CQuorFileAuthentication m_fileCheck;  // IsAuthentic's checks of one file
  std::array<CQuorIndexBlock, kChainRun> m_chainBlocks;
};

// The metadata object of track dwTrackId as its track info block describes it (the reader's
// GetTrackMetadata, and salvage, which reads track info blocks without a reader). Raises
// CLoggedException with the failure.
CQuorComPtr<IQuorTrackMetadata> QuorTrackMetadataFromBlock(CQuorTrackInfoBlock& info,
                                                           ULONG dwTrackId);
