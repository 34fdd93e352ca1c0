#include "storage/QuorFileStorage.h"

#include <new>
#include <string_view>

#include "core/LoggedException.h"
#include "core/QuorClassLoggers.h"
#include "core/QuorMethodFrame.h"
#include "format/QuorFileInfoBlock.h"
#include "platform/io/QuorFindFile.h"
#include "platform/io/QuorLastError.h"
#include "quormediafiles/QuorResultCodes.h"
#include "storage/QuorMemberFileName.h"

namespace {

// The wide names of the interfaces go to the OS as UTF-8.
HRESULT ToUtf8(std::u16string_view name, std::string* utf8) noexcept {
  try {
    *utf8 = QuorUtf16ToUtf8(name);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

}  // namespace

CQuorFileStorage::CQuorFileStorage(CQuorFileSystem& fileSystem) noexcept
    : m_fileSystem(&fileSystem) {}

CQuorFileStorage::~CQuorFileStorage() { (void)Reset(); }

HRESULT CQuorFileStorage::Reset() {
  m_mode = smNone;
  m_sizeControl = true;
  m_maxFileSize = 0;
  m_initialMaxFileSize = 0;
  m_extraReserve = 0;
  m_reader.reset();
  m_writer.reset();
  m_currentFileIndex = -1;
  m_currentFile = nullptr;
  m_handles.clear();
  m_fileNames.clear();
  return S_OK;
}

HRESULT CQuorFileStorage::InitializeForWriting(LPCOLESTR name, DWORD maxSizeKiB, bool overwrite) {
  if (name == nullptr) return E_POINTER;
  if (maxSizeKiB < kQuorMinFileSizeKiB || maxSizeKiB > kQuorMaxFileSizeKiB) return E_INVALIDARG;
  (void)Reset();  // always S_OK

  std::string path;
  QUOR_RETURN_IF_FAILED(ToUtf8(name, &path));
  CQuorFile file;
  if (!file.Create(path, GENERIC_WRITE, 0, overwrite ? CREATE_ALWAYS : CREATE_NEW, 0,
                   *m_fileSystem)) {
    return HResultFromLastError();
  }
  try {
    m_writer = std::make_unique<CQuorFileStorageWriter>(this);
    m_handles[0] = std::move(file);
  } catch (const std::bad_alloc&) {
    m_writer.reset();
    return E_OUTOFMEMORY;  // the file closes with its owner
  }
  m_mode = smWriting;
  m_currentFileIndex = 0;
  m_sizeControl = true;
  m_maxFileSize = static_cast<ULONGLONG>(maxSizeKiB) * 1024;
  m_initialMaxFileSize = m_maxFileSize;

  const std::array<BYTE, kQuorFileSignatureSize> signature = QuorFileSignatureBytes();
  return m_writer->Write(signature.data(), static_cast<DWORD>(signature.size()));
}

HRESULT CQuorFileStorage::OpenFileForInspection(LPCOLESTR name) {
  if (name == nullptr) return E_POINTER;
  (void)Reset();  // always S_OK
  CQuorFile file;
  QUOR_RETURN_IF_FAILED(OpenForReading(name, &file));
  try {
    m_reader = std::make_unique<CQuorFileStorageReader>(this);
    m_fileNames[0] = name;
    m_handles[0] = std::move(file);
  } catch (const std::bad_alloc&) {
    (void)Reset();
    return E_OUTOFMEMORY;
  }
  m_currentFileIndex = 0;
  m_mode = smReading;
  return S_OK;
}

CQuorFile* CQuorFileStorage::CurrentFile() noexcept {
  if (m_currentFileIndex < 0) return nullptr;
  if (m_currentFile == nullptr || m_currentFileOf != m_currentFileIndex) {
    const auto it = m_handles.find(static_cast<DWORD>(m_currentFileIndex));
    if (it == m_handles.end()) return nullptr;
    SetCurrentFile(it->first, &it->second);
  }
  return m_currentFile;
}

void CQuorFileStorage::SetCurrentFile(DWORD fileIndex, CQuorFile* file) noexcept {
  m_currentFileIndex = static_cast<std::int32_t>(fileIndex);
  m_currentFile = file;
  m_currentFileOf = m_currentFileIndex;
}

HRESULT CQuorFileStorage::SelectFile(DWORD fileIndex, CQuorFile** file) {
  if (m_currentFile != nullptr && m_currentFileOf == static_cast<std::int32_t>(fileIndex)) {
    *file = m_currentFile;
    return S_OK;
  }
  auto it = m_handles.find(fileIndex);
  if (it == m_handles.end()) {
    const auto name = m_fileNames.find(fileIndex);
    if (name == m_fileNames.end()) return E_INVALIDARG;
    CQuorFile opened;
    QUOR_RETURN_IF_FAILED(OpenForReading(name->second, &opened));
    try {
      it = m_handles.emplace(fileIndex, std::move(opened)).first;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }
  *file = &it->second;
  return S_OK;
}

HRESULT CQuorFileStorage::Seek(DWORD fileIndex, LONGLONG offset, SeekOrigin origin) {
  CQuorFile* file = nullptr;
  QUOR_RETURN_IF_FAILED(SelectFile(fileIndex, &file));
  DWORD method = FILE_BEGIN;
  switch (origin) {
    case soBegin:
      method = FILE_BEGIN;
      break;
    case soCurrent:
      method = FILE_CURRENT;
      break;
    case soEnd:
      method = FILE_END;
      break;
    default:
      return E_INVALIDARG;
  }
  SetCurrentFile(fileIndex, file);
  if (!file->SetPointer(offset, nullptr, method)) return HResultFromLastError();
  return S_OK;
}

HRESULT CQuorFileStorage::GetPosition(DWORD fileIndex, ULONGLONG* position) {
  if (position == nullptr) return E_POINTER;
  CQuorFile* file = nullptr;
  QUOR_RETURN_IF_FAILED(SelectFile(fileIndex, &file));
  SetCurrentFile(fileIndex, file);
  if (!file->GetPosition(position)) return HResultFromLastError();
  return S_OK;
}

HRESULT CQuorFileStorage::GetRemaining(ULONGLONG* remaining) {
  if (remaining == nullptr) return E_POINTER;
  CQuorFile* file = CurrentFile();
  if (file == nullptr) return MFS_E_NO_VALUE;
  ULONGLONG position = 0;
  ULONGLONG size = 0;
  if (!file->GetPosition(&position) || !file->GetSize(&size)) return HResultFromLastError();
  *remaining = size > position ? size - position : 0;
  return S_OK;
}

HRESULT CQuorFileStorage::Read(BYTE* buffer, DWORD n) {
  if (buffer == nullptr) return E_POINTER;
  if (n == 0) return E_INVALIDARG;
  if (m_mode != smReading) return MFS_E_WRONG_STATE;
  CQuorFile* file = CurrentFile();
  if (file == nullptr) return MFS_E_NO_VALUE;
  DWORD read = 0;
  if (!file->Read(buffer, n, &read)) return HResultFromLastError();
  return read < n ? HRESULT_FROM_WIN32(ERROR_HANDLE_EOF) : S_OK;
}

HRESULT CQuorFileStorage::Write(const BYTE* buffer, DWORD n) {
  if (buffer == nullptr) return E_POINTER;
  if (n == 0) return E_INVALIDARG;
  if (m_mode != smWriting) return MFS_E_WRONG_STATE;
  CQuorFile* file = CurrentFile();
  if (file == nullptr) return MFS_E_NO_VALUE;
  ULONGLONG position = 0;
  if (m_sizeControl || m_writeTap != nullptr) {
    if (!file->GetPosition(&position)) return HResultFromLastError();
  }
  if (m_sizeControl && position + n > m_maxFileSize) return MFS_E_FILE_FULL;
  if (!file->Write(buffer, n, nullptr)) return HResultFromLastError();
  if (m_writeTap != nullptr) m_writeTap->OnWritten(position, buffer, n);
  return S_OK;
}

HRESULT CQuorFileStorage::ChangeMaxFileSize(const LONGLONG& delta) {
  return QuorInternalMethodFrame(
      QuorFrameInfo{QuorFileStorageLogger(), "CQuorFileStorage::ChangeMaxFileSize", this,
                    kQuorDefaultLogLevel, m_loggerContext},
      [&] {
        m_maxFileSize += static_cast<ULONGLONG>(delta);
        // A full disk met here is met again, and reported, by the next write.
        (void)UpdateDiskReserve();
        return S_OK;
      });
}

HRESULT CQuorFileStorage::StopFileSizeControl() {
  if (m_mode != smWriting) return MFS_E_WRONG_STATE;
  m_sizeControl = false;
  m_extraReserve = 0;
  if (CQuorFile* file = CurrentFile(); file != nullptr && file->IsOpen()) {
    (void)file->SetReserve(0);  // dropping the reserve allocates nothing, so it cannot fail
  }
  return S_OK;
}

HRESULT CQuorFileStorage::SetReserve(ULONGLONG bytes) {
  if (m_mode != smWriting) return MFS_E_WRONG_STATE;
  m_extraReserve = bytes;
  return UpdateDiskReserve();
}

HRESULT CQuorFileStorage::UpdateDiskReserve() {
  if (m_mode != smWriting || !m_sizeControl) return S_OK;
  CQuorFile* file = CurrentFile();
  if (file == nullptr || !file->IsOpen()) return S_OK;
  // What the writer holds back below its starting limit is the room its closing blocks need.
  const ULONGLONG heldBack =
      m_maxFileSize < m_initialMaxFileSize ? m_initialMaxFileSize - m_maxFileSize : 0;
  if (!file->SetReserve(heldBack + m_extraReserve)) return HResultFromLastError();
  return S_OK;
}

HRESULT CQuorFileStorage::Flush() {
  for (auto& [index, file] : m_handles) {
    if (file.IsOpen() && !file.Flush()) return HResultFromLastError();
  }
  return S_OK;
}

HRESULT CQuorFileStorage::Sync() {
  for (auto& [index, file] : m_handles) {
    if (file.IsOpen() && !file.Sync()) return HResultFromLastError();
  }
  return S_OK;
}

HRESULT CQuorFileStorage::Finalize(ULONGLONG* size) {
  if (size == nullptr) return E_POINTER;
  if (m_mode != smWriting) return MFS_E_WRONG_STATE;
  CQuorFile* file = CurrentFile();
  if (file == nullptr) return MFS_E_NO_VALUE;
  ULONGLONG position = 0;
  if (!file->GetPosition(&position)) return HResultFromLastError();
  if (!file->SetPointer(static_cast<LONGLONG>(position), nullptr, FILE_BEGIN) ||
      !file->SetEndOfFile()) {
    return HResultFromLastError();
  }
  if (!file->Close()) return HResultFromLastError();
  *size = position;
  return S_OK;
}

HRESULT CQuorFileStorage::OpenForReading(std::u16string_view name, CQuorFile* file) {
  std::string path;
  QUOR_RETURN_IF_FAILED(ToUtf8(name, &path));
  // Discovery and opening read a few blocks at the start of a member file and then go to its
  // end, so the first read need not fill the whole buffer; a forward walk widens it as it goes.
  if (!file->Create(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_FLAG_RANDOM_ACCESS,
                    *m_fileSystem)) {
    return HResultFromLastError();
  }
  return S_OK;
}

HRESULT CQuorFileStorage::CheckSignature(CQuorFile& file) {
  std::array<BYTE, kQuorFileSignatureSize> bytes{};
  DWORD read = 0;
  if (!file.Read(bytes.data(), static_cast<DWORD>(bytes.size()), &read)) {
    return HResultFromLastError();
  }
  if (read < bytes.size()) return HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
  return bytes == QuorFileSignatureBytes() ? S_OK : MFS_E_BAD_FORMAT;
}

HRESULT CQuorFileStorage::FindMediaFilesInLocation(LPCOLESTR name,
                                                   std::vector<std::u16string>* files) {
  return QuorInternalMethodFrame(
      QuorFrameInfo{QuorFileStorageLogger(), "CQuorFileStorage::FindMediaFilesInLocation", this,
                    kQuorDefaultLogLevel, m_loggerContext},
      [&] {
        if (name == nullptr) Raise(E_POINTER, kNullFileName);
        if (files == nullptr) Raise(E_POINTER, kQuorNoMessage);
        files->clear();

        CQuorFile named;
        QUOR_RAISE_IF_FAILED(OpenForReading(name, &named), kCannotOpenFile);
        QUOR_RAISE_IF_FAILED(CheckSignature(named), kNotFormat2File);

        QuorFileNameParts parts;
        QUOR_RAISE_IF_FAILED(QuorSplitFileName(name, &parts), kNoFileExtension);
        const std::u16string& directory = parts.directory;
        const std::string directoryUtf8 = QuorUtf16ToUtf8(directory);
        const std::string pattern = directoryUtf8 + "*" + QuorUtf16ToUtf8(parts.extension);

        CQuorFindFile search;
        std::string match;
        if (!search.FindFirst(pattern, &match, *m_fileSystem))
          Raise(E_INVALIDARG, kFindFirstFailed);
        auto append = [&](const std::string& fileName) {
          try {
            files->push_back(directory + QuorUtf8ToUtf16(fileName));
          } catch (const std::bad_alloc&) {
            Raise(E_OUTOFMEMORY, kCannotSaveFileName);
          }
        };
        append(match);
        // A later match that cannot be opened or is no member file ends the scan.
        while (search.FindNext(&match)) {
          CQuorFile candidate;
          if (FAILED(OpenForReading(QuorUtf8ToUtf16(directoryUtf8 + match), &candidate)) ||
              FAILED(CheckSignature(candidate))) {
            break;
          }
          append(match);
        }
        return S_OK;
      });
}

HRESULT CQuorFileStorage::InitializeForReading(LPCOLESTR name) {
  return QuorInternalMethodFrame(
      QuorFrameInfo{QuorFileStorageLogger(), "CQuorFileStorage::InitializeForReading", this,
                    kQuorDefaultLogLevel, m_loggerContext},
      [&](DXL_FunctionLogger& log) {
        if (name == nullptr) return E_POINTER;
        (void)Reset();  // always S_OK
        std::vector<std::u16string> candidates;
        QUOR_RETURN_IF_FAILED(FindMediaFilesInLocation(name, &candidates));
        m_reader = std::make_unique<CQuorFileStorageReader>(this);
        m_mode = smReading;

        GUID baseline = GUID_NULL;
        QUOR_RETURN_IF_FAILED(AddFileForReading(name, &baseline));
        if (!m_fileNames.try_emplace(static_cast<DWORD>(m_currentFileIndex), name).second) {
          UndoFile();
          return E_FAIL;
        }
        if (baseline == GUID_NULL) return S_OK;

        const std::u16string_view given(name);
        for (const std::u16string& candidate : candidates) {
          if (candidate == given) continue;
          GUID guid = GUID_NULL;
          if (FAILED(AddFileForReading(candidate.c_str(), &guid))) {
            QuorLogDebug(log, kNoBaselineGuid);
            continue;
          }
          if (guid != baseline) {
            UndoFile();
            continue;
          }
          if (!m_fileNames.try_emplace(static_cast<DWORD>(m_currentFileIndex), candidate).second) {
            UndoFile();
            QuorLogDebug(log, kCannotAddFileName);
          }
        }
        return S_OK;
      });
}

HRESULT CQuorFileStorage::AddFileForReading(LPCOLESTR name, GUID* fileSetGuid) {
  if (name == nullptr || fileSetGuid == nullptr) return E_POINTER;
  CQuorFile file;
  QUOR_RETURN_IF_FAILED(OpenForReading(name, &file));
  QUOR_RETURN_IF_FAILED(CheckSignature(file));  // the file closes with its owner

  ++m_currentFileIndex;
  m_handles[static_cast<DWORD>(m_currentFileIndex)] = std::move(file);

  // The file info block follows the signature, where the reader now stands.
  CQuorFileInfoBlock fileInfo;
  HRESULT hr = fileInfo.Read(m_reader.get());
  if (FAILED(hr)) {
    UndoFile();
    return hr;
  }
  GUID guid = GUID_NULL;
  hr = fileInfo.GetFileSetGuid(&guid);
  if (hr == MFS_E_NO_VALUE) {
    guid = GUID_NULL;  // a fileset of one file records no GUID
  } else if (FAILED(hr)) {
    UndoFile();
    return hr;
  }
  *fileSetGuid = guid;
  return S_OK;
}

void CQuorFileStorage::UndoFile() noexcept {
  const auto it = m_handles.find(static_cast<DWORD>(m_currentFileIndex));
  if (it != m_handles.end()) (void)it->second.Close();  // read-only: nothing to lose
  --m_currentFileIndex;
}

HRESULT CQuorFileStorage::GetFileNames(SAFEARRAY** names) {
  if (names == nullptr) return E_POINTER;
  if (*names != nullptr) {
    (void)SafeArrayDestroy(*names);  // the caller's old array goes whatever its state
    *names = nullptr;
  }
  LONG count = 0;
  for (const auto& [index, name] : m_fileNames) {
    CQuorBstr copy = CQuorBstr::Copy(std::u16string_view(name));
    if (!copy) return E_OUTOFMEMORY;
    if (*names == nullptr) {
      *names = SafeArrayCreateVector(VT_BSTR, 0, 1);
      if (*names == nullptr) return E_OUTOFMEMORY;
    } else {
      SAFEARRAYBOUND bound{static_cast<ULONG>(count + 1), 0};
      QUOR_RETURN_IF_FAILED(SafeArrayRedim(*names, &bound));
    }
    QUOR_RETURN_IF_FAILED(SafeArrayPutElement(*names, &count, copy.Get()));
    ++count;
  }
  return S_OK;
}

HRESULT CQuorFileStorage::GetFileIndex(LPCOLESTR name, DWORD* index) {
  if (name == nullptr || index == nullptr) return E_POINTER;
  const std::u16string_view wanted(name);
  for (const auto& [fileIndex, fileName] : m_fileNames) {
    if (fileName == wanted) {
      *index = fileIndex;
      return S_OK;
    }
  }
  return E_INVALIDARG;
}

HRESULT QuorFindFirstDamage(const std::string& path, std::optional<QuorFirstDamage>* damage) {
  if (damage == nullptr) return E_POINTER;
  damage->reset();
  CQuorBstr name = CQuorBstr::FromUtf8(path);
  if (!name) return E_INVALIDARG;
  CQuorFileStorage storage;
  QUOR_RETURN_IF_FAILED(storage.OpenFileForInspection(name.Get()));
  return QuorFindFirstDamage(*storage.GetReader(), damage);
}
