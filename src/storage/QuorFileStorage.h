// CQuorFileStorage: the member files of one fileset on disk. For recording it creates one
// member file, writes its signature and takes the blocks' bytes under a per-file size limit;
// for playback it finds the member files of a fileset, keeps each open for reading, and reads
// from the file that Seek or GetPosition selected last.
//
// Owns its byte reader and writer and one open file per file index (the handles map: replacing
// an entry closes the old file; Reset and destruction close them all). No lock: its owner (one
// writer or reader object) serializes every call.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "format/QuorFormatLayout.h"
#include "format/QuorForwardBlockWalker.h"
#include "platform/io/QuorFile.h"
#include "platform/io/QuorFileSystem.h"
#include "quormediafiles/platform/QuorOleAuto.h"
#include "quormediafiles/platform/QuorTypes.h"
#include "storage/QuorFileStorageReader.h"
#include "storage/QuorFileStorageWriter.h"

enum StorageMode : std::uint32_t { smNone = 0, smReading = 1, smWriting = 2 };
enum SeekOrigin : std::uint32_t { soBegin = 1, soCurrent = 2, soEnd = 3 };

// Limits of InitializeForWriting's maximum size: 1 KiB to 5 GiB.
inline constexpr DWORD kQuorMinFileSizeKiB = 1;
inline constexpr DWORD kQuorMaxFileSizeKiB = 0x500000;
static_assert(static_cast<ULONGLONG>(kQuorMaxFileSizeKiB) * 1024 == 5ull << 30);

// Sees the bytes of every write that succeeded, with the offset in the member file where they
// went, on the thread of the storage's owner. Borrowed by the storage (SetWriteTap).
class CQuorWriteTap {
 public:
  virtual void OnWritten(ULONGLONG offset, const BYTE* bytes, DWORD count) noexcept = 0;

 protected:
  ~CQuorWriteTap() = default;
};

class CQuorFileStorage {
 public:
  // Every file the storage opens, creates or lists goes through fileSystem, which must outlive
  // it.
  explicit CQuorFileStorage(CQuorFileSystem& fileSystem = QuorPosixFileSystem()) noexcept;
  virtual ~CQuorFileStorage();
  CQuorFileStorage(const CQuorFileStorage&) = delete;
  CQuorFileStorage& operator=(const CQuorFileStorage&) = delete;

  // Writing: creates name (overwrite: an existing file is emptied; else it must not exist),
  // as file index 0, and writes the signature under the limit maxSizeKiB * 1024.
  [[nodiscard]] HRESULT InitializeForWriting(LPCOLESTR name, DWORD maxSizeKiB, bool overwrite);
  // Reading: every file beside name with its extension and its fileset GUID, name as index 0.
  [[nodiscard]] HRESULT InitializeForReading(LPCOLESTR name);
  // Reading one file as it is, as file index 0, positioned at 0: no signature or block check.
  [[nodiscard]] HRESULT OpenFileForInspection(LPCOLESTR name);
  // The candidate member files beside name (same directory, same extension), in search order.
  [[nodiscard]] HRESULT FindMediaFilesInLocation(LPCOLESTR name,
                                                 std::vector<std::u16string>* files);

  CQuorFileStorageReader* GetReader() const noexcept { return m_reader.get(); }
  CQuorFileStorageWriter* GetWriter() const noexcept { return m_writer.get(); }

  // The names by ascending file index, as a new array of BSTR (null when there are none); an
  // array that *names held before is destroyed.
  [[nodiscard]] HRESULT GetFileNames(SAFEARRAY** names);
  [[nodiscard]] HRESULT GetFileIndex(LPCOLESTR name, DWORD* index);

  // Both select fileIndex as the current file, opening it if it is known but not open yet.
  [[nodiscard]] HRESULT Seek(DWORD fileIndex, LONGLONG offset, SeekOrigin origin);
  [[nodiscard]] HRESULT GetPosition(DWORD fileIndex, ULONGLONG* position);
  // Bytes from the position of the current file to its end (0 beyond it).
  [[nodiscard]] HRESULT GetRemaining(ULONGLONG* remaining);

  [[nodiscard]] HRESULT Read(BYTE* buffer, DWORD n);
  [[nodiscard]] HRESULT Write(const BYTE* buffer, DWORD n);

  // maxFileSize += delta, wrapping. Room the writer holds back this way below the limit it
  // started with is also kept allocated on disk ahead of the data, so that the closing blocks
  // still fit when the disk fills up.
  [[nodiscard]] HRESULT ChangeMaxFileSize(const LONGLONG& delta);
  // No size limit from now on, and no room held back on disk: the closing blocks use it.
  [[nodiscard]] HRESULT StopFileSizeControl();
  // Extra room to keep allocated ahead of the data of the current file (on top of what
  // ChangeMaxFileSize holds back); ERROR_DISK_FULL's code when it cannot be had.
  [[nodiscard]] HRESULT SetReserve(ULONGLONG bytes);
  // Hands buffered bytes to the OS; the recorder calls it when its queue runs empty, so that a
  // killed process loses only what it had not yet asked to write.
  [[nodiscard]] HRESULT Flush();
  // Flush, and the open files' data through to the storage device.
  [[nodiscard]] HRESULT Sync();
  // Cuts the current file at its position, closes it and gives that size.
  [[nodiscard]] HRESULT Finalize(ULONGLONG* size);
  HRESULT Reset();

  // tap (may be null) sees every later write, the signature's included when it is set before
  // InitializeForWriting; it must outlive the storage or be replaced first.
  void SetWriteTap(CQuorWriteTap* tap) noexcept { m_writeTap = tap; }

  ULONGLONG GetMaxFileSize() const noexcept { return m_maxFileSize; }
  StorageMode GetMode() const noexcept { return m_mode; }
  DWORD GetLoggerContext() const noexcept { return m_loggerContext; }
  void SetLoggerContext(DWORD context) noexcept { m_loggerContext = context; }

 private:
  friend class CQuorFileStorageReader;  // reads, seeks and measures the current file

  [[nodiscard]] HRESULT AddFileForReading(LPCOLESTR name, GUID* fileSetGuid);
  [[nodiscard]] HRESULT OpenForReading(std::u16string_view name, CQuorFile* file);
  [[nodiscard]] HRESULT CheckSignature(CQuorFile& file);
  [[nodiscard]] HRESULT SelectFile(DWORD fileIndex, CQuorFile** file);
  [[nodiscard]] HRESULT UpdateDiskReserve();
  void UndoFile() noexcept;
  CQuorFile* CurrentFile() noexcept;
  // Makes fileIndex current, with file its handle.
  void SetCurrentFile(DWORD fileIndex, CQuorFile* file) noexcept;

  CQuorFileSystem* m_fileSystem;
  std::unique_ptr<CQuorFileStorageReader> m_reader;
  std::unique_ptr<CQuorFileStorageWriter> m_writer;
  bool m_sizeControl = true;
  ULONGLONG m_maxFileSize = 0;
  StorageMode m_mode = smNone;
  std::int32_t m_currentFileIndex = -1;
  // The handle of file index m_currentFileOf, kept so that every read does not look it up: a
  // handle stays at its address until Reset empties the map (replacing a file moves the new
  // one into the same entry).
  CQuorFile* m_currentFile = nullptr;
  std::int32_t m_currentFileOf = -1;
  std::map<DWORD, CQuorFile> m_handles;
  std::map<DWORD, std::u16string> m_fileNames;
  DWORD m_loggerContext = 0;
  ULONGLONG m_initialMaxFileSize = 0;  // the limit InitializeForWriting set
  ULONGLONG m_extraReserve = 0;
  CQuorWriteTap* m_writeTap = nullptr;
};

// Walks the member file at path (UTF-8) up to its first damage (QuorFindFirstDamage over its
// bytes); fails as that does, and when the file cannot be opened.
[[nodiscard]] HRESULT QuorFindFirstDamage(const std::string& path,
                                          std::optional<QuorFirstDamage>* damage);
