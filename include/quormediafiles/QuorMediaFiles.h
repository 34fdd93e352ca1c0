// The library's public programming interface: the eight dual object interfaces, the writer
// state enumeration, the result codes, and the fixed class, interface, type library and
// application identifiers that callers create objects with.
//
// Every method returns an HRESULT. Out-parameters receive values that the caller owns: a BSTR
// to free with SysFreeString, a SAFEARRAY to destroy with SafeArrayDestroy, an interface
// reference to Release. Objects are created with CoCreateInstance and one class identifier.
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
struct IQuorMediaFileReader : IDispatch {
  virtual HRESULT OpenFileSet(BSTR bstrFileName, BSTR bstrPassword) = 0;
  virtual HRESULT GetFileSetMetadata(IQuorFileSetMetadata** ppiMetadata) = 0;
  virtual HRESULT GetFileNames(SAFEARRAY** ppsaFileNames) = 0;
  virtual HRESULT GetFileStatus(BSTR bstrFileName, IQuorMediaFileStatus** ppiStatus) = 0;
  virtual HRESULT GetTrackIds(SAFEARRAY** ppsaTrackIds) = 0;
  virtual HRESULT GetTrackMetadata(ULONG dwTrackId, IQuorTrackMetadata** ppiMetadata) = 0;
  virtual HRESULT GetFirstTimeStamp(ULONG dwTrackId, ULONGLONG* pnTime) = 0;
  virtual HRESULT GetLastTimeStamp(ULONG dwTrackId, ULONGLONG* pnTime) = 0;
  virtual HRESULT MoveTo(ULONG dwTrackId, ULONGLONG nTimestamp,
                         IQuorMediaFileSample** ppiSample) = 0;
  virtual HRESULT MoveNext(ULONG dwTrackId, IQuorMediaFileSample** ppiSample) = 0;
  virtual HRESULT MovePrevious(ULONG dwTrackId, IQuorMediaFileSample** ppiSample) = 0;
  virtual HRESULT IsAuthentic(VARIANT_BOOL* pvbAuthentic) = 0;
  virtual HRESULT IsCompleteFileSet(VARIANT_BOOL* pvbComplete) = 0;
  virtual HRESULT CancelAuthentication() = 0;
  virtual HRESULT GetAuthenticationProgress(SHORT* pwProgress) = 0;

 protected:
  ~IQuorMediaFileReader() = default;
};

// The description of a whole fileset (read-only to callers).
struct IQuorFileSetMetadata : IDispatch {
  virtual HRESULT GetFileSetGuid(BSTR* pbstrGuid) = 0;
  virtual HRESULT GetFileSetCreationTime(ULONGLONG* pnCreationTime) = 0;
  virtual HRESULT GetFileSetDescription(BSTR* pbstrDescription) = 0;
  virtual HRESULT IsPasswordProtected(VARIANT_BOOL* pvbProtected) = 0;
  virtual HRESULT IsFileSetComplete(VARIANT_BOOL* pvbComplete) = 0;

 protected:
  ~IQuorFileSetMetadata() = default;
};

// The status of one member file of a fileset.
struct IQuorMediaFileStatus : IDispatch {
  virtual HRESULT GetFileIndex(ULONG* pdwFileIndex) = 0;
  virtual HRESULT SetFileIndex(ULONG dwFileIndex) = 0;
  virtual HRESULT GetStatusFlags(ULONG* pdwFlags) = 0;
  virtual HRESULT SetStatusFlags(ULONG dwFlags) = 0;

 protected:
  ~IQuorMediaFileStatus() = default;
};

// The description of one track.
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

// One timestamped media sample with its payload.
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

// Records a fileset.
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

// A snapshot of a recording, taken by the writer.
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
QUOR_DECLARE_INTERFACE_IID(IQuorMediaFileWriterOptions, IID_IQuorMediaFileWriterOptions);
