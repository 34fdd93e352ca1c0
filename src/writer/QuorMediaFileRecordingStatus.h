// CQuorMediaFileRecordingStatus: a snapshot of a recording (state, current member file, byte
// counts, fileset metadata), filled once by the writer under its lock and never changed after
// it has been handed out. It holds no reference to the writer and takes no lock; one thread at
// a time uses it. It has no class identifier: only the writer creates it.
#pragma once

#include <optional>

#include "platform/automation/QuorDispatchObject.h"
#include "quormediafiles/QuorMediaFiles.h"
#include "quormediafiles/platform/QuorOleAuto.h"

class CQuorMediaFileRecordingStatus final
    : public CQuorDispatchObject<IQuorMediaFileRecordingStatus> {
 public:
  CQuorMediaFileRecordingStatus() noexcept = default;

  HRESULT GetFileSetMetadata(IQuorFileSetMetadata** ppiMetadata) override;
  HRESULT GetCurrentFileIndex(ULONG* pdwIndex) override;
  HRESULT GetCurrentFileName(BSTR* pbstrFilename) override;
  HRESULT GetBytesWrittenTotal(ULONGLONG* pnTotal) override;
  HRESULT GetBytesWrittenCurrentFile(ULONGLONG* pnCurrent) override;
  HRESULT GetWriterState(WriterStateEnum* peState) override;

  // Filled by the writer only.
  [[nodiscard]] HRESULT SetCurrentFileName(BSTR name);
  [[nodiscard]] HRESULT SetCurrentFileIndex(ULONG index);
  [[nodiscard]] HRESULT SetWriterState(WriterStateEnum state);
  [[nodiscard]] HRESULT SetHasPassword(bool hasPassword);
  [[nodiscard]] HRESULT SetDescription(BSTR description);
  [[nodiscard]] HRESULT SetCreationTime(LONGLONG creationTime);
  [[nodiscard]] HRESULT SetFileSetGuid(const GUID* guid);
  [[nodiscard]] HRESULT SetBytesCurrentFile(ULONGLONG bytes);
  [[nodiscard]] HRESULT SetBytesTotal(ULONGLONG bytes);

 private:
  ~CQuorMediaFileRecordingStatus() override = default;

  DWORD m_loggerContext = 0;
  bool m_hasPassword = false;
  ULONG m_currentFileIndex = 0;
  // Unset before the writer has a file info block: the metadata then reports no GUID and no
  // creation time rather than made-up ones.
  std::optional<GUID> m_filesetGuid;
  CQuorBstr m_currentFileName;
  CQuorBstr m_description;
  std::optional<LONGLONG> m_creationTime;
  ULONGLONG m_bytesCurrentFile = 0;
  ULONGLONG m_bytesTotal = 0;
  WriterStateEnum m_writerState = wseCreated;
};
