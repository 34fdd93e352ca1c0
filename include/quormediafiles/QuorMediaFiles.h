// The library's public programming interface: the eight dual object interfaces, the writer
// state enumeration, the result codes, and the fixed class, interface, type library and
// application identifiers that callers create objects with.
//
// Every method returns an HRESULT. Out-parameters receive values that the caller owns: a BSTR
// to free with SysFreeString, a SAFEARRAY to destroy with SafeArrayDestroy, an interface
// reference to Release. Objects are created with CoCreateInstance and one class identifier.
// A null out-pointer gives E_POINTER. Methods that fail leave a description in the calling
// thread's error information (GetErrorInfo), except the value objects' accessors, which return
// their code alone.
//
// Units: timestamps are the recording application's unsigned 64-bit values, stored and
// compared, never interpreted; the creation time is in seconds since 1970-01-01 00:00 UTC;
// sizes are in bytes except the writer's dwMaxSize (KiB). Strings are UTF-16 BSTRs; an empty
// string counts as absent.
//
// Threads: the reader and the writer may be called from any thread (each serializes its calls
// with its own lock; see each interface for the calls that do not wait); a value object has no
// lock and is used by one thread at a time. For C++ code, quormediafiles/quor.hpp wraps all of
// this in standard types and exceptions.
#pragma once

#include "quormediafiles/QuorResultCodes.h"
#include "quormediafiles/platform/QuorComPtr.h"
#include "quormediafiles/platform/QuorDispatch.h"
#include "quormediafiles/platform/QuorOleAuto.h"
#include "quormediafiles/platform/QuorTypes.h"

enum WriterStateEnum : std::int32_t {
  wseCreated = 0,
  wseInitialized = 1,
  wseReadyToStart = 2,
  wseStarted = 3,
  wseFinished = 4,
};
static_assert(sizeof(WriterStateEnum) == 4);

// {279ADA38-26C6-4DDE-8F02-375F56121344}
inline constexpr GUID LIBID_QuorMediaFilesLib = {
    0x279ADA38, 0x26C6, 0x4DDE, {0x8F, 0x02, 0x37, 0x5F, 0x56, 0x12, 0x13, 0x44}};
// {0A1FD3C2-E778-4858-8030-AE5329D5CE14}
inline constexpr GUID APPID_QuorMediaFiles = {
    0x0A1FD3C2, 0xE778, 0x4858, {0x80, 0x30, 0xAE, 0x53, 0x29, 0xD5, 0xCE, 0x14}};
// {57DD7F7D-04A0-446D-B0F1-7A98404AA571}
inline constexpr GUID IID_IQuorMediaFileReader = {
    0x57DD7F7D, 0x04A0, 0x446D, {0xB0, 0xF1, 0x7A, 0x98, 0x40, 0x4A, 0xA5, 0x71}};
// {5F1C6DF5-BF59-47FC-AE04-2DC2520E87A7}
inline constexpr GUID IID_IQuorFileSetMetadata = {
    0x5F1C6DF5, 0xBF59, 0x47FC, {0xAE, 0x04, 0x2D, 0xC2, 0x52, 0x0E, 0x87, 0xA7}};
// {CF24376C-68A4-4AB3-A7BF-CA1952847E4F}
inline constexpr GUID IID_IQuorMediaFileStatus = {
    0xCF24376C, 0x68A4, 0x4AB3, {0xA7, 0xBF, 0xCA, 0x19, 0x52, 0x84, 0x7E, 0x4F}};
// {5A823C45-8FEE-4E5B-9480-6D7B823FAEDF}
inline constexpr GUID IID_IQuorTrackMetadata = {
    0x5A823C45, 0x8FEE, 0x4E5B, {0x94, 0x80, 0x6D, 0x7B, 0x82, 0x3F, 0xAE, 0xDF}};
// {D906FCBD-41C7-4D5E-B923-F80F2D8A8DE3}
inline constexpr GUID IID_IQuorMediaFileSample = {
    0xD906FCBD, 0x41C7, 0x4D5E, {0xB9, 0x23, 0xF8, 0x0F, 0x2D, 0x8A, 0x8D, 0xE3}};
// {9491588C-4E47-4BBD-8F0B-C2F7BF1DC083}
inline constexpr GUID IID_IQuorMediaFileWriter = {
    0x9491588C, 0x4E47, 0x4BBD, {0x8F, 0x0B, 0xC2, 0xF7, 0xBF, 0x1D, 0xC0, 0x83}};
// {DE084210-58D3-442C-BEAF-F8AAFE171EFE}
inline constexpr GUID IID_IQuorMediaFileRecordingStatus = {
    0xDE084210, 0x58D3, 0x442C, {0xBE, 0xAF, 0xF8, 0xAA, 0xFE, 0x17, 0x1E, 0xFE}};
// {8C1E3B52-7D0A-4F6E-9B43-2E5D71A0C9F4}
inline constexpr GUID IID_IQuorMediaFileWriterSeal = {
    0x8C1E3B52, 0x7D0A, 0x4F6E, {0x9B, 0x43, 0x2E, 0x5D, 0x71, 0xA0, 0xC9, 0xF4}};
// {1DB4E675-41A0-40A7-AEE8-EDE0B36C5BE4}
inline constexpr GUID IID_IQuorMediaFileSampleAccess = {
    0x1DB4E675, 0x41A0, 0x40A7, {0xAE, 0xE8, 0xED, 0xE0, 0xB3, 0x6C, 0x5B, 0xE4}};
// {89421C1E-832C-4CE3-9D39-5F27FBFA92F9}
inline constexpr GUID IID_IQuorMediaFileWriterOptions = {
    0x89421C1E, 0x832C, 0x4CE3, {0x9D, 0x39, 0x5F, 0x27, 0xFB, 0xFA, 0x92, 0xF9}};
// {6EFDDF73-CE71-45ED-BFE2-78DA03DE73D0}
inline constexpr GUID CLSID_QuorMediaFileReader = {
    0x6EFDDF73, 0xCE71, 0x45ED, {0xBF, 0xE2, 0x78, 0xDA, 0x03, 0xDE, 0x73, 0xD0}};
// {3435DDB1-3D98-4CAE-AF39-1CBB28F5DA5A}
inline constexpr GUID CLSID_QuorMediaFileWriter = {
    0x3435DDB1, 0x3D98, 0x4CAE, {0xAF, 0x39, 0x1C, 0xBB, 0x28, 0xF5, 0xDA, 0x5A}};
// {5796CE59-4977-4842-998E-26A09AFFB629}
inline constexpr GUID CLSID_QuorFileSetMetadata = {
    0x5796CE59, 0x4977, 0x4842, {0x99, 0x8E, 0x26, 0xA0, 0x9A, 0xFF, 0xB6, 0x29}};
// {F2E9FDBC-76D3-4F2A-9ABC-BB3998537F21}
inline constexpr GUID CLSID_QuorTrackMetadata = {
    0xF2E9FDBC, 0x76D3, 0x4F2A, {0x9A, 0xBC, 0xBB, 0x39, 0x98, 0x53, 0x7F, 0x21}};
// {0A3183DC-E59B-49B7-9E8E-4DB1FBE35C80}
inline constexpr GUID CLSID_QuorMediaFileSample = {
    0x0A3183DC, 0xE59B, 0x49B7, {0x9E, 0x8E, 0x4D, 0xB1, 0xFB, 0xE3, 0x5C, 0x80}};
// {DD0F0965-0E6A-48EF-AE4E-3CBDFCC7394D}
inline constexpr GUID CLSID_QuorMediaFileStatus = {
    0xDD0F0965, 0x0E6A, 0x48EF, {0xAE, 0x4E, 0x3C, 0xBD, 0xFC, 0xC7, 0x39, 0x4D}};

struct IQuorFileSetMetadata;
struct IQuorMediaFileStatus;
struct IQuorTrackMetadata;
struct IQuorMediaFileSample;
struct IQuorMediaFileRecordingStatus;

// Opens a fileset for playback, reads its metadata, navigates its tracks and authenticates it.
// Every method holds the reader's lock for its whole run, except CancelAuthentication and
// GetAuthenticationProgress, which another thread may call while IsAuthentic runs.
struct IQuorMediaFileReader : IDispatch {
  // Opens the fileset of bstrFileName (any member file): every file beside it with the same
  // extension and fileset GUID, numbered from 0 (the named file). bstrPassword null or empty
  // for none. A file cut off while recording is recovered by walking its blocks (status 0x10).
  // A missing file: HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND); a wrong password:
  // MFS_E_BAD_PASSWORD; another format: MFS_E_BAD_FORMAT. Closes what was open before. The
  // member files stay open until the next OpenFileSet or the last Release.
  virtual HRESULT OpenFileSet(BSTR bstrFileName, BSTR bstrPassword) = 0;
  // A new fileset metadata object (GUID, creation time, description, password flag,
  // completeness). Fails before a successful open.
  virtual HRESULT GetFileSetMetadata(IQuorFileSetMetadata** ppiMetadata) = 0;
  // A new array of the member files' paths (VT_BSTR), in the reader's numbering.
  virtual HRESULT GetFileNames(SAFEARRAY** ppsaFileNames) = 0;
  // A new status object for a name as GetFileNames lists it: its fileset index
  // (MFS_E_NOT_SET when its file info block has none) and status bits (0x01 last file,
  // 0x02 finalized, 0x04 authentic, 0x08 authentication tested, 0x10 recovered, 0x20 track
  // information unreadable). An unlisted name: E_INVALIDARG.
  virtual HRESULT GetFileStatus(BSTR bstrFileName, IQuorMediaFileStatus** ppiStatus) = 0;
  // A new array (VT_UI4) of the track ids; MFS_E_NO_VALUE before an open.
  virtual HRESULT GetTrackIds(SAFEARRAY** ppsaTrackIds) = 0;
  // A new metadata object of track dwTrackId: E_INVALIDARG for an unknown id, MFS_E_BAD_FORMAT
  // when its filter identifiers name more than one video or audio format.
  virtual HRESULT GetTrackMetadata(ULONG dwTrackId, IQuorTrackMetadata** ppiMetadata) = 0;
  // The track's first and last sample timestamps; MFS_E_NO_VALUE for a track without samples,
  // E_INVALIDARG for an unknown id.
  virtual HRESULT GetFirstTimeStamp(ULONG dwTrackId, ULONGLONG* pnTime) = 0;
  virtual HRESULT GetLastTimeStamp(ULONG dwTrackId, ULONGLONG* pnTime) = 0;
  // Positions the track at the sample at or just before nTimestamp and hands out a new sample
  // object with its payload. Each track has one position per reader, shared by the three moves.
  virtual HRESULT MoveTo(ULONG dwTrackId, ULONGLONG nTimestamp,
                         IQuorMediaFileSample** ppiSample) = 0;
  // Steps the track's position forward or back, across index blocks and member files, and
  // hands out a new sample object. MFS_E_NO_VALUE at the end (the beginning) of the track.
  virtual HRESULT MoveNext(ULONG dwTrackId, IQuorMediaFileSample** ppiSample) = 0;
  virtual HRESULT MovePrevious(ULONG dwTrackId, IQuorMediaFileSample** ppiSample) = 0;
  // Re-reads every block of every file in fileset order and checks block indexes, block hashes
  // and file hashes; -1 only when all pass and the fileset is complete. A damaged file is an
  // answer (0 and its status bits), not a failure. Blocks the caller for the whole walk;
  // MFS_E_AUTH_CANCELLED after CancelAuthentication. Sets status bits 0x04 and 0x08.
  virtual HRESULT IsAuthentic(VARIANT_BOOL* pvbAuthentic) = 0;
  // -1 when the files with fileset indexes 0 to the last file's are all there and finalized.
  virtual HRESULT IsCompleteFileSet(VARIANT_BOOL* pvbComplete) = 0;
  // Any thread: asks a running IsAuthentic to stop before its next block. MFS_E_WRONG_STATE
  // when no walk runs.
  virtual HRESULT CancelAuthentication() = 0;
  // Any thread: the running walk's progress in percent of the fileset's blocks (0 when none
  // runs; it can pass 100 when the last file's block count could not be read).
  virtual HRESULT GetAuthenticationProgress(SHORT* pwProgress) = 0;

 protected:
  ~IQuorMediaFileReader() = default;
};

// The description of a whole fileset (read-only to callers). Getters answer MFS_E_NO_VALUE for
// a value that is absent; strings come back as new BSTRs.
struct IQuorFileSetMetadata : IDispatch {
  // The fileset GUID in its 38-character braced form (the null GUID for a fileset of one file).
  virtual HRESULT GetFileSetGuid(BSTR* pbstrGuid) = 0;
  // Seconds since 1970-01-01 00:00 UTC.
  virtual HRESULT GetFileSetCreationTime(ULONGLONG* pnCreationTime) = 0;
  virtual HRESULT GetFileSetDescription(BSTR* pbstrDescription) = 0;
  virtual HRESULT IsPasswordProtected(VARIANT_BOOL* pvbProtected) = 0;
  // False on an object nobody set; never MFS_E_NO_VALUE.
  virtual HRESULT IsFileSetComplete(VARIANT_BOOL* pvbComplete) = 0;

 protected:
  ~IQuorFileSetMetadata() = default;
};

// The status of one member file of a fileset: its fileset index (MFS_E_NOT_SET while it is
// 0xFFFFFFFF, the value of a new object) and its status bits (MFS_E_NOT_SET until set; the bits
// are listed at IQuorMediaFileReader::GetFileStatus).
struct IQuorMediaFileStatus : IDispatch {
  virtual HRESULT GetFileIndex(ULONG* pdwFileIndex) = 0;
  virtual HRESULT SetFileIndex(ULONG dwFileIndex) = 0;
  virtual HRESULT GetStatusFlags(ULONG* pdwFlags) = 0;
  virtual HRESULT SetStatusFlags(ULONG dwFlags) = 0;

 protected:
  ~IQuorMediaFileStatus() = default;
};

// The description of one track, filled by the recording application for AddTrack and by the
// reader for GetTrackMetadata. Number and truth getters answer MFS_E_NO_VALUE until set and
// give a stored VARIANT_BOOL back as it was set; string getters answer MFS_E_NO_VALUE for an
// empty string and otherwise a new copy; string setters copy up to the first zero character
// and refuse a null BSTR (E_POINTER). Format identifiers are braced GUIDs of
// QuorFormatIds.h. IsAuthentic: the track info block passed its hash check at open.
struct IQuorTrackMetadata : IDispatch {
  virtual HRESULT GetTrackId(ULONG* pdwTrackId) = 0;
  virtual HRESULT SetTrackId(ULONG dwTrackId) = 0;
  virtual HRESULT GetSourceId(ULONG* pdwSourceId) = 0;
  virtual HRESULT SetSourceId(ULONG dwSourceId) = 0;
  virtual HRESULT GetTrackName(BSTR* pbstrName) = 0;
  virtual HRESULT SetTrackName(BSTR bstrName) = 0;
  virtual HRESULT GetSourceUrl(BSTR* pbstrSourceUrl) = 0;
  virtual HRESULT SetSourceUrl(BSTR bstrSourceUrl) = 0;
  virtual HRESULT GetVideoFlag(VARIANT_BOOL* pvbHasVideo) = 0;
  virtual HRESULT SetVideoFlag(VARIANT_BOOL vbHasVideo) = 0;
  virtual HRESULT GetAudioFlag(VARIANT_BOOL* pvbHasAudio) = 0;
  virtual HRESULT SetAudioFlag(VARIANT_BOOL vbHasAudio) = 0;
  virtual HRESULT GetMediaSessionPlugin(BSTR* pbstrClsid) = 0;
  virtual HRESULT SetMediaSessionPlugin(BSTR bstrClsid) = 0;
  virtual HRESULT GetFilters(SAFEARRAY** ppsaFilters) = 0;
  virtual HRESULT AddFilter(BSTR bstrFilterClsid) = 0;
  virtual HRESULT IsAuthentic(VARIANT_BOOL* pvbValue) = 0;
  virtual HRESULT SetAuthentic(VARIANT_BOOL vbValue) = 0;
  virtual HRESULT GetVideoFormatIdentifier(BSTR* pbstrIdentifier) = 0;
  virtual HRESULT SetVideoFormatIdentifier(BSTR bstrIdentifier) = 0;
  virtual HRESULT GetAudioFormatIdentifier(BSTR* pbstrIdentifier) = 0;
  virtual HRESULT SetAudioFormatIdentifier(BSTR bstrIdentifier) = 0;
  virtual HRESULT GetPairId(ULONG* pdwId) = 0;
  virtual HRESULT SetPairId(ULONG dwId) = 0;

 protected:
  ~IQuorTrackMetadata() = default;
};

// One timestamped media sample with its payload. Getters answer MFS_E_NO_VALUE until set.
// Sample flags: 0x01 key frame, 0x02 video, 0x04 audio, 0x08 not a key frame, 0x10 a further
// frame mark; SetSampleFlags refuses (E_INVALIDARG) a value without 0x02 or 0x04 or without one
// of 0x01, 0x08, 0x10. SetFlags sets 0x01 or 0x08 and the media bits, replacing all others.
// GetPayloadData hands out a new copy; SetPayloadData stores a copy (VT_UI1 only, else
// E_INVALIDARG). The payload without a copy: IQuorMediaFileSampleAccess.
struct IQuorMediaFileSample : IDispatch {
  virtual HRESULT GetTimestamp(ULONGLONG* pnTime) = 0;
  virtual HRESULT SetTimestamp(ULONGLONG nTime) = 0;
  virtual HRESULT GetFlags(VARIANT_BOOL* pvbIsKeyFrame, VARIANT_BOOL* pvbHasVideo,
                           VARIANT_BOOL* pvbHasAudio) = 0;
  virtual HRESULT SetFlags(VARIANT_BOOL vbIsKeyFrame, VARIANT_BOOL vbHasVideo,
                           VARIANT_BOOL vbHasAudio) = 0;
  virtual HRESULT GetPayloadData(SAFEARRAY** ppsaData) = 0;
  virtual HRESULT SetPayloadData(SAFEARRAY** ppsaData) = 0;
  virtual HRESULT GetSampleFlags(ULONG* pnFlags) = 0;
  virtual HRESULT SetSampleFlags(ULONG nFlags) = 0;

 protected:
  ~IQuorMediaFileSample() = default;
};

// The payload of the library's own sample objects without a copy. Reached by QueryInterface on
// a sample that the library made (every sample the reader hands out, and any made with
// CLSID_QuorMediaFileSample); a sample object implemented by a caller does not have it (use
// GetPayloadData then). Same threading as the sample: one thread at a time.
struct IQuorMediaFileSampleAccess : IUnknown {
  // The stored payload, borrowed: valid until the next SetPayloadData or TakePayload on the
  // sample, or its last Release. MFS_E_NO_VALUE when no payload was set; E_FAIL when it was
  // set but no array is held (a failed copy); E_POINTER for null out-pointers.
  virtual HRESULT GetPayloadView(const BYTE** ppData, ULONG* pcbData) = 0;
  // Takes ownership of psaData (a one-dimensional VT_UI1 array) as the payload, freeing the
  // stored one. E_POINTER for null, E_INVALIDARG for another element type; on failure the
  // caller keeps the array.
  virtual HRESULT TakePayload(SAFEARRAY* psaData) = 0;

 protected:
  ~IQuorMediaFileSampleAccess() = default;
};

// Records a fileset: Initialize, SetDescription and SetPassword, AddTrack per track,
// StartRecording, Write per sample, StopRecording. Any thread may call it (AddTrack not at the
// same time as Write).
//
// Initialize creates the first member file: dwMaxSize is the size limit of each file in KiB,
// dwMaxFiles how many files the recording may fill (it ends when the last is full);
// HRESULT_FROM_WIN32(ERROR_FILE_EXISTS) for an existing file without vbOverwrite. AddTrack
// copies the metadata (a track id and a name are required, E_INVALIDARG otherwise).
// Write copies the sample into a queue for the writer's worker thread and returns at once;
// MFS_S_NEXT_FILE (a success) once after the recording moved to its next member file;
// MFS_E_WRONG_STATE after StopRecording; S_OK for samples dropped because the fileset or the
// disk is full. StopRecording writes the closing blocks and ends the recording at once:
// samples still queued are dropped (IQuorMediaFileWriter2::Drain waits for them first).
struct IQuorMediaFileWriter : IDispatch {
  virtual HRESULT Initialize(BSTR bstrFileName, ULONG dwMaxSize, ULONG dwMaxFiles,
                             VARIANT_BOOL vbOverwrite) = 0;
  virtual HRESULT SetDescription(BSTR bstrDescription) = 0;
  virtual HRESULT SetPassword(BSTR bstrPassword) = 0;
  virtual HRESULT AddTrack(IQuorTrackMetadata* piMetadata) = 0;
  virtual HRESULT StartRecording() = 0;
  virtual HRESULT StopRecording() = 0;
  virtual HRESULT Write(ULONG dwTrackId, IQuorMediaFileSample* piSample) = 0;
  virtual HRESULT GetRecordingStatus(IQuorMediaFileRecordingStatus** ppiStatus) = 0;

 protected:
  ~IQuorMediaFileWriter() = default;
};

// Seals on the writer object (QueryInterface from IQuorMediaFileWriter): with a signing key set,
// the writer appends a signed seal record to "<member file>.seal" each time it writes an index
// block and when it finalizes a member file. The records are signed and written by a thread of
// the writer's own, in order; StopRecording returns once all of them are written.
struct IQuorMediaFileWriterSeal : IDispatch {
  // bstrPrivateKeyFile: a PEM file holding an Ed25519 private key that only its owner may read.
  // Allowed until StartRecording; takes effect for the member file already created by
  // Initialize too. An empty name turns sealing off. Failures: E_POINTER; MFS_E_WRONG_STATE
  // once recording has started; E_INVALIDARG for member files with the extension ".seal" or a
  // public key file; E_ACCESSDENIED for a key file that others may read; MFS_E_BAD_FORMAT for a
  // file without an Ed25519 private key; the file's Win32 code when it cannot be read.
  virtual HRESULT SetSigningKey(BSTR bstrPrivateKeyFile) = 0;

 protected:
  ~IQuorMediaFileWriterSeal() = default;
};

// A snapshot of a recording, taken by GetRecordingStatus; its values do not change afterwards.
// Byte counts are bytes on disk: all member files so far, and the current file (0 once the
// recording has finished).
struct IQuorMediaFileRecordingStatus : IDispatch {
  virtual HRESULT GetFileSetMetadata(IQuorFileSetMetadata** ppiMetadata) = 0;
  virtual HRESULT GetCurrentFileIndex(ULONG* pdwIndex) = 0;
  virtual HRESULT GetCurrentFileName(BSTR* pbstrFilename) = 0;
  virtual HRESULT GetBytesWrittenTotal(ULONGLONG* pnTotal) = 0;
  virtual HRESULT GetBytesWrittenCurrentFile(ULONGLONG* pnCurrent) = 0;
  virtual HRESULT GetWriterState(WriterStateEnum* peState) = 0;

 protected:
  ~IQuorMediaFileRecordingStatus() = default;
};

// The writer's recording options and counters, reached by QueryInterface on a writer. A setting
// may be changed in any state; a recording uses the values it found at StartRecording.
struct IQuorMediaFileWriterOptions : IDispatch {
  // VARIANT_TRUE: every head, index and finalization block is synced to the storage device
  // (fdatasync) once written, so that a power cut loses at most the samples after the last
  // index block. Off by default: blocks reach the operating system, which survives a killed
  // process but not a power cut.
  virtual HRESULT SetDurable(VARIANT_BOOL vbDurable) = 0;
  virtual HRESULT GetDurable(VARIANT_BOOL* pvbDurable) = 0;
  // Seconds between two index blocks, 1 to 86400 (E_INVALIDARG otherwise); 60 by default.
  // Samples after the last index block of a file cut off by a crash are in the file but reach
  // the reader without track or timestamp: a shorter period bounds that loss.
  virtual HRESULT SetIndexPeriod(ULONG dwSeconds) = 0;
  virtual HRESULT GetIndexPeriod(ULONG* pdwSeconds) = 0;
  // Samples that Write accepted with a success code and that no file holds, since the last
  // Initialize: samples larger than an empty member file, samples handed in after the fileset
  // or the disk became full, samples still queued when the recording stopped, and samples
  // whose write failed.
  virtual HRESULT GetDroppedSampleCount(ULONGLONG* pnDropped) = 0;

 protected:
  ~IQuorMediaFileWriterOptions() = default;
};

QUOR_DECLARE_INTERFACE_IID(IQuorMediaFileReader, IID_IQuorMediaFileReader);
QUOR_DECLARE_INTERFACE_IID(IQuorFileSetMetadata, IID_IQuorFileSetMetadata);
QUOR_DECLARE_INTERFACE_IID(IQuorMediaFileStatus, IID_IQuorMediaFileStatus);
QUOR_DECLARE_INTERFACE_IID(IQuorTrackMetadata, IID_IQuorTrackMetadata);
QUOR_DECLARE_INTERFACE_IID(IQuorMediaFileSample, IID_IQuorMediaFileSample);
QUOR_DECLARE_INTERFACE_IID(IQuorMediaFileSampleAccess, IID_IQuorMediaFileSampleAccess);
QUOR_DECLARE_INTERFACE_IID(IQuorMediaFileWriter, IID_IQuorMediaFileWriter);
QUOR_DECLARE_INTERFACE_IID(IQuorMediaFileRecordingStatus, IID_IQuorMediaFileRecordingStatus);
QUOR_DECLARE_INTERFACE_IID(IQuorMediaFileWriterSeal, IID_IQuorMediaFileWriterSeal);
QUOR_DECLARE_INTERFACE_IID(IQuorMediaFileWriterOptions, IID_IQuorMediaFileWriterOptions);
