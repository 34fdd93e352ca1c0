#include "writer/QuorMediaFileRecordingStatus.h"

#include "core/LoggedException.h"
#include "core/QuorClassLoggers.h"
#include "core/QuorMethodFrame.h"
#include "objects/QuorTypeLibrary.h"
#include "quormediafiles/QuorMediaFilesInternal.h"
#include "quormediafiles/platform/QuorDispatch.h"
#include "quormediafiles/platform/QuorGuid.h"

namespace {

QuorFrameInfo StatusFrame(const CQuorMediaFileRecordingStatus* status, const char* name,
                          DWORD context) {
  return QuorFrameInfo{
      QuorMediaFileRecordingStatusLogger(), name, status, kQuorDefaultLogLevel, context, nullptr,
      &IID_IQuorMediaFileRecordingStatus};
}

// The frame of a getter of a plain value: E_POINTER for a null out-pointer.
template <typename T>
HRESULT GetValue(const CQuorMediaFileRecordingStatus* status, const char* name, DWORD context,
                 T* out, const T& value) {
  return QuorMethodFrame(StatusFrame(status, name, context), [&] {
    if (out == nullptr) Raise(E_POINTER, kQuorNoMessage);
    *out = value;
    return S_OK;
  });
}

}  // namespace

HRESULT CQuorMediaFileRecordingStatus::GetFileSetMetadata(IQuorFileSetMetadata** ppiMetadata) {
  return QuorMethodFrame(
      StatusFrame(this, "CQuorMediaFileRecordingStatus::GetFileSetMetadata", m_loggerContext), [&] {
        if (ppiMetadata == nullptr) Raise(E_POINTER, kQuorNoMessage);
        *ppiMetadata = nullptr;
        CQuorComPtr<IQuorFileSetMetadata> metadata;
        QUOR_RAISE_IF_FAILED(CoCreateInstance(CLSID_QuorFileSetMetadata, &metadata),
                             kQuorNoMessage);
        CQuorComPtr<IQuorFileSetMetadataInt> setters;
        if (FAILED(metadata.As(&setters))) Raise(E_NOINTERFACE, kQuorNoMessage);
        if (m_filesetGuid) {
          const CQuorBstr text = CQuorBstr::FromUtf8(QuorGuidToString(*m_filesetGuid));
          if (!text) Raise(E_OUTOFMEMORY, kQuorNoMessage);
          QUOR_RAISE_IF_FAILED(setters->SetFilesetGuid(text.Get()), kQuorNoMessage);
        }
        if (m_creationTime) {
          QUOR_RAISE_IF_FAILED(
              setters->SetFilesetCreationTime(static_cast<ULONGLONG>(*m_creationTime)),
              kQuorNoMessage);
        }
        if (m_description) {
          QUOR_RAISE_IF_FAILED(setters->SetFilesetDescription(m_description.Get()), kQuorNoMessage);
        }
        QUOR_RAISE_IF_FAILED(
            setters->SetFilesetPassword(m_hasPassword ? VARIANT_TRUE : VARIANT_FALSE),
            kQuorNoMessage);
        QUOR_RAISE_IF_FAILED(setters->SetFileSetComplete(
                                 m_writerState == wseFinished ? VARIANT_TRUE : VARIANT_FALSE),
                             kQuorNoMessage);
        *ppiMetadata = metadata.Detach();
        return S_OK;
      });
}

HRESULT CQuorMediaFileRecordingStatus::GetCurrentFileIndex(ULONG* pdwIndex) {
  return GetValue(this, "CQuorMediaFileRecordingStatus::GetCurrentFileIndex", m_loggerContext,
                  pdwIndex, m_currentFileIndex);
}

HRESULT CQuorMediaFileRecordingStatus::GetCurrentFileName(BSTR* pbstrFilename) {
  return QuorMethodFrame(
      StatusFrame(this, "CQuorMediaFileRecordingStatus::GetCurrentFileName", m_loggerContext), [&] {
        if (pbstrFilename == nullptr) Raise(E_POINTER, kQuorNoMessage);
        *pbstrFilename = nullptr;
        if (m_currentFileName) {
          CQuorBstr copy = CQuorBstr::Copy(m_currentFileName.View());
          if (!copy) Raise(E_OUTOFMEMORY, kQuorNoMessage);
          *pbstrFilename = copy.Detach();
        }
        return S_OK;
      });
}

HRESULT CQuorMediaFileRecordingStatus::GetBytesWrittenTotal(ULONGLONG* pnTotal) {
  return GetValue(this, "CQuorMediaFileRecordingStatus::GetBytesWrittenTotal", m_loggerContext,
                  pnTotal, m_bytesTotal);
}

HRESULT CQuorMediaFileRecordingStatus::GetBytesWrittenCurrentFile(ULONGLONG* pnCurrent) {
  return GetValue(this, "CQuorMediaFileRecordingStatus::GetBytesWrittenCurrentFile",
                  m_loggerContext, pnCurrent, m_bytesCurrentFile);
}

HRESULT CQuorMediaFileRecordingStatus::GetWriterState(WriterStateEnum* peState) {
  return GetValue(this, "CQuorMediaFileRecordingStatus::GetWriterState", m_loggerContext, peState,
                  m_writerState);
}

namespace {
// The frame of a setter: logged under its name, no error information (only the writer calls).
template <typename Body>
HRESULT Setter(const CQuorMediaFileRecordingStatus* status, const char* name, DWORD context,
               Body&& body) {
  return QuorInternalMethodFrame(StatusFrame(status, name, context), [&] {
    body();
    return S_OK;
  });
}
}  // namespace

HRESULT CQuorMediaFileRecordingStatus::SetCurrentFileName(BSTR name) {
  return Setter(this, "CQuorMediaFileRecordingStatus::SetCurrentFileName", m_loggerContext, [&] {
    if (name == nullptr) Raise(E_POINTER, kQuorNoMessage);
    if (SysStringLen(name) == 0) Raise(E_INVALIDARG, kQuorNoMessage);
    CQuorBstr copy = CQuorBstr::Copy(std::u16string_view(name, SysStringLen(name)));
    if (!copy) Raise(E_OUTOFMEMORY, kQuorNoMessage);
    m_currentFileName = std::move(copy);
  });
}

HRESULT CQuorMediaFileRecordingStatus::SetCurrentFileIndex(ULONG index) {
  return Setter(this, "CQuorMediaFileRecordingStatus::SetCurrentFileIndex", m_loggerContext,
                [&] { m_currentFileIndex = index; });
}

HRESULT CQuorMediaFileRecordingStatus::SetWriterState(WriterStateEnum state) {
  return Setter(this, "CQuorMediaFileRecordingStatus::SetWriterState", m_loggerContext,
                [&] { m_writerState = state; });
}

HRESULT CQuorMediaFileRecordingStatus::SetHasPassword(bool hasPassword) {
  return Setter(this, "CQuorMediaFileRecordingStatus::SetHasPassword", m_loggerContext,
                [&] { m_hasPassword = hasPassword; });
}

HRESULT CQuorMediaFileRecordingStatus::SetDescription(BSTR description) {
  return Setter(this, "CQuorMediaFileRecordingStatus::SetDescription", m_loggerContext, [&] {
    if (description == nullptr) Raise(E_POINTER, kQuorNoMessage);
    CQuorBstr copy = CQuorBstr::Copy(std::u16string_view(description, SysStringLen(description)));
    if (!copy) Raise(E_OUTOFMEMORY, kQuorNoMessage);
    m_description = std::move(copy);
  });
}

HRESULT CQuorMediaFileRecordingStatus::SetCreationTime(LONGLONG creationTime) {
  return Setter(this, "CQuorMediaFileRecordingStatus::SetCreationTime", m_loggerContext,
                [&] { m_creationTime = creationTime; });
}

HRESULT CQuorMediaFileRecordingStatus::SetFileSetGuid(const GUID* guid) {
  return Setter(this, "CQuorMediaFileRecordingStatus::SetFileSetGuid", m_loggerContext, [&] {
    if (guid == nullptr) Raise(E_POINTER, kQuorNoMessage);
    m_filesetGuid = *guid;
  });
}

HRESULT CQuorMediaFileRecordingStatus::SetBytesCurrentFile(ULONGLONG bytes) {
  return Setter(this, "CQuorMediaFileRecordingStatus::SetBytesCurrentFile", m_loggerContext,
                [&] { m_bytesCurrentFile = bytes; });
}

HRESULT CQuorMediaFileRecordingStatus::SetBytesTotal(ULONGLONG bytes) {
  return Setter(this, "CQuorMediaFileRecordingStatus::SetBytesTotal", m_loggerContext,
                [&] { m_bytesTotal = bytes; });
}
