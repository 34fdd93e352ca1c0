#include "objects/QuorTypeLibrary.h"

#include "platform/automation/QuorDispatchInvoker.h"

namespace {

constexpr VARTYPE kArrayOfBstr = VT_ARRAY | VT_BSTR;
constexpr VARTYPE kArrayOfUlong = VT_ARRAY | VT_UI4;
constexpr VARTYPE kArrayOfBytes = VT_ARRAY | VT_UI1;

#define M QUOR_DISPATCH_METHOD

constexpr CQuorMethodDesc kReaderMethods[] = {
    M(IQuorMediaFileReader, OpenFileSet, 1, QuorIn(u"bstrFileName", VT_BSTR),
      QuorIn(u"bstrPassword", VT_BSTR)),
    M(IQuorMediaFileReader, GetFileSetMetadata, 2,
      QuorRetval(u"ppiMetadata", VT_DISPATCH, u"IQuorFileSetMetadata")),
    M(IQuorMediaFileReader, GetFileNames, 3, QuorRetval(u"ppsaFileNames", kArrayOfBstr)),
    M(IQuorMediaFileReader, GetFileStatus, 4, QuorIn(u"bstrFileName", VT_BSTR),
      QuorRetval(u"ppiStatus", VT_DISPATCH, u"IQuorMediaFileStatus")),
    M(IQuorMediaFileReader, GetTrackIds, 5, QuorRetval(u"ppsaTrackIds", kArrayOfUlong)),
    M(IQuorMediaFileReader, GetTrackMetadata, 6, QuorIn(u"dwTrackId", VT_UI4),
      QuorRetval(u"ppiMetadata", VT_DISPATCH, u"IQuorTrackMetadata")),
    M(IQuorMediaFileReader, GetFirstTimeStamp, 7, QuorIn(u"dwTrackId", VT_UI4),
      QuorRetval(u"pnTime", VT_UI8)),
    M(IQuorMediaFileReader, GetLastTimeStamp, 8, QuorIn(u"dwTrackId", VT_UI4),
      QuorRetval(u"pnTime", VT_UI8)),
    M(IQuorMediaFileReader, MoveTo, 9, QuorIn(u"dwTrackId", VT_UI4), QuorIn(u"nTimestamp", VT_UI8),
      QuorRetval(u"ppiSample", VT_DISPATCH, u"IQuorMediaFileSample")),
    M(IQuorMediaFileReader, MoveNext, 10, QuorIn(u"dwTrackId", VT_UI4),
      QuorRetval(u"ppiSample", VT_DISPATCH, u"IQuorMediaFileSample")),
    M(IQuorMediaFileReader, MovePrevious, 11, QuorIn(u"dwTrackId", VT_UI4),
      QuorRetval(u"ppiSample", VT_DISPATCH, u"IQuorMediaFileSample")),
    M(IQuorMediaFileReader, IsAuthentic, 12, QuorRetval(u"pvbAuthentic", VT_BOOL)),
    M(IQuorMediaFileReader, IsCompleteFileSet, 13, QuorRetval(u"pvbComplete", VT_BOOL)),
    M(IQuorMediaFileReader, CancelAuthentication, 14),
    M(IQuorMediaFileReader, GetAuthenticationProgress, 15, QuorUnattributed(u"pwProgress", VT_I2)),
};

constexpr CQuorMethodDesc kFileSetMetadataMethods[] = {
    M(IQuorFileSetMetadata, GetFileSetGuid, 1, QuorRetval(u"pbstrGuid", VT_BSTR)),
    M(IQuorFileSetMetadata, GetFileSetCreationTime, 2, QuorRetval(u"pnCreationTime", VT_UI8)),
    M(IQuorFileSetMetadata, GetFileSetDescription, 3, QuorRetval(u"pbstrDescription", VT_BSTR)),
    M(IQuorFileSetMetadata, IsPasswordProtected, 4, QuorRetval(u"pvbProtected", VT_BOOL)),
    M(IQuorFileSetMetadata, IsFileSetComplete, 5, QuorRetval(u"pvbComplete", VT_BOOL)),
};

constexpr CQuorMethodDesc kFileStatusMethods[] = {
    M(IQuorMediaFileStatus, GetFileIndex, 1, QuorRetval(u"pdwFileIndex", VT_UI4)),
    M(IQuorMediaFileStatus, SetFileIndex, 2, QuorIn(u"dwFileIndex", VT_UI4)),
    M(IQuorMediaFileStatus, GetStatusFlags, 3, QuorRetval(u"pdwFlags", VT_UI4)),
    M(IQuorMediaFileStatus, SetStatusFlags, 4, QuorIn(u"dwFlags", VT_UI4)),
};

constexpr CQuorMethodDesc kTrackMetadataMethods[] = {
    M(IQuorTrackMetadata, GetTrackId, 1, QuorRetval(u"pdwTrackId", VT_UI4)),
    M(IQuorTrackMetadata, SetTrackId, 2, QuorIn(u"dwTrackId", VT_UI4)),
    M(IQuorTrackMetadata, GetSourceId, 3, QuorRetval(u"pdwSourceId", VT_UI4)),
    M(IQuorTrackMetadata, SetSourceId, 4, QuorIn(u"dwSourceId", VT_UI4)),
    M(IQuorTrackMetadata, GetTrackName, 5, QuorRetval(u"pbstrName", VT_BSTR)),
    M(IQuorTrackMetadata, SetTrackName, 6, QuorIn(u"bstrName", VT_BSTR)),
    M(IQuorTrackMetadata, GetSourceUrl, 7, QuorRetval(u"pbstrSourceUrl", VT_BSTR)),
    M(IQuorTrackMetadata, SetSourceUrl, 8, QuorIn(u"bstrSourceUrl", VT_BSTR)),
    M(IQuorTrackMetadata, GetVideoFlag, 9, QuorRetval(u"pvbHasVideo", VT_BOOL)),
    M(IQuorTrackMetadata, SetVideoFlag, 10, QuorIn(u"vbHasVideo", VT_BOOL)),
    M(IQuorTrackMetadata, GetAudioFlag, 11, QuorRetval(u"pvbHasAudio", VT_BOOL)),
    M(IQuorTrackMetadata, SetAudioFlag, 12, QuorIn(u"vbHasAudio", VT_BOOL)),
    M(IQuorTrackMetadata, GetMediaSessionPlugin, 13, QuorRetval(u"pbstrClsid", VT_BSTR)),
    M(IQuorTrackMetadata, SetMediaSessionPlugin, 14, QuorIn(u"bstrClsid", VT_BSTR)),
    M(IQuorTrackMetadata, GetFilters, 15, QuorRetval(u"ppsaFilters", kArrayOfBstr)),
    M(IQuorTrackMetadata, AddFilter, 16, QuorIn(u"bstrFilterClsid", VT_BSTR)),
    M(IQuorTrackMetadata, IsAuthentic, 17, QuorRetval(u"pvbValue", VT_BOOL)),
    M(IQuorTrackMetadata, SetAuthentic, 18, QuorIn(u"vbValue", VT_BOOL)),
    M(IQuorTrackMetadata, GetVideoFormatIdentifier, 19, QuorRetval(u"pbstrIdentifier", VT_BSTR)),
    M(IQuorTrackMetadata, SetVideoFormatIdentifier, 20, QuorIn(u"bstrIdentifier", VT_BSTR)),
    M(IQuorTrackMetadata, GetAudioFormatIdentifier, 21, QuorRetval(u"pbstrIdentifier", VT_BSTR)),
    M(IQuorTrackMetadata, SetAudioFormatIdentifier, 22, QuorIn(u"bstrIdentifier", VT_BSTR)),
    M(IQuorTrackMetadata, GetPairId, 23, QuorRetval(u"pdwId", VT_UI4)),
    M(IQuorTrackMetadata, SetPairId, 24, QuorIn(u"dwId", VT_UI4)),
};

constexpr CQuorMethodDesc kSampleMethods[] = {
    M(IQuorMediaFileSample, GetTimestamp, 1, QuorRetval(u"pnTime", VT_UI8)),
    M(IQuorMediaFileSample, SetTimestamp, 2, QuorIn(u"nTime", VT_UI8)),
    M(IQuorMediaFileSample, GetFlags, 3, QuorOut(u"pvbIsKeyFrame", VT_BOOL),
      QuorOut(u"pvbHasVideo", VT_BOOL), QuorOut(u"pvbHasAudio", VT_BOOL)),
    M(IQuorMediaFileSample, SetFlags, 4, QuorIn(u"vbIsKeyFrame", VT_BOOL),
      QuorIn(u"vbHasVideo", VT_BOOL), QuorIn(u"vbHasAudio", VT_BOOL)),
    M(IQuorMediaFileSample, GetPayloadData, 5, QuorRetval(u"ppsaData", kArrayOfBytes)),
    M(IQuorMediaFileSample, SetPayloadData, 6, QuorIn(u"ppsaData", kArrayOfBytes)),
    QUOR_DISPATCH_METHOD_NO_HELP(IQuorMediaFileSample, GetSampleFlags, 7,
                                 QuorOut(u"pnFlags", VT_UI4)),
    QUOR_DISPATCH_METHOD_NO_HELP(IQuorMediaFileSample, SetSampleFlags, 8,
                                 QuorIn(u"nFlags", VT_UI4)),
};

constexpr CQuorMethodDesc kWriterMethods[] = {
    M(IQuorMediaFileWriter, Initialize, 1, QuorIn(u"bstrFileName", VT_BSTR),
      QuorIn(u"dwMaxSize", VT_UI4), QuorIn(u"dwMaxFiles", VT_UI4), QuorIn(u"vbOverwrite", VT_BOOL)),
    M(IQuorMediaFileWriter, SetDescription, 2, QuorIn(u"bstrDescription", VT_BSTR)),
    M(IQuorMediaFileWriter, SetPassword, 3, QuorIn(u"bstrPassword", VT_BSTR)),
    M(IQuorMediaFileWriter, AddTrack, 4, QuorIn(u"piMetadata", VT_DISPATCH, u"IQuorTrackMetadata")),
    M(IQuorMediaFileWriter, StartRecording, 5),
    M(IQuorMediaFileWriter, StopRecording, 6),
    M(IQuorMediaFileWriter, Write, 7, QuorIn(u"dwTrackId", VT_UI4),
      QuorIn(u"piSample", VT_DISPATCH, u"IQuorMediaFileSample")),
    M(IQuorMediaFileWriter, GetRecordingStatus, 8,
      QuorRetval(u"ppiStatus", VT_DISPATCH, u"IQuorMediaFileRecordingStatus")),
};

constexpr CQuorMethodDesc kRecordingStatusMethods[] = {
    M(IQuorMediaFileRecordingStatus, GetFileSetMetadata, 1,
      QuorRetval(u"ppiMetadata", VT_DISPATCH, u"IQuorFileSetMetadata")),
    M(IQuorMediaFileRecordingStatus, GetCurrentFileIndex, 2, QuorRetval(u"pdwIndex", VT_UI4)),
    M(IQuorMediaFileRecordingStatus, GetCurrentFileName, 3, QuorRetval(u"pbstrFilename", VT_BSTR)),
    M(IQuorMediaFileRecordingStatus, GetBytesWrittenTotal, 4, QuorRetval(u"pnTotal", VT_UI8)),
    M(IQuorMediaFileRecordingStatus, GetBytesWrittenCurrentFile, 5,
      QuorRetval(u"pnCurrent", VT_UI8)),
    M(IQuorMediaFileRecordingStatus, GetWriterState, 6,
      QuorRetval(u"peState", VT_I4, u"WriterStateEnum")),
};

constexpr CQuorMethodDesc kWriterOptionsMethods[] = {
    M(IQuorMediaFileWriterOptions, SetDurable, 1, QuorIn(u"vbDurable", VT_BOOL)),
    M(IQuorMediaFileWriterOptions, GetDurable, 2, QuorRetval(u"pvbDurable", VT_BOOL)),
    M(IQuorMediaFileWriterOptions, SetIndexPeriod, 3, QuorIn(u"dwSeconds", VT_UI4)),
    M(IQuorMediaFileWriterOptions, GetIndexPeriod, 4, QuorRetval(u"pdwSeconds", VT_UI4)),
    M(IQuorMediaFileWriterOptions, GetDroppedSampleCount, 5, QuorRetval(u"pnDropped", VT_UI8)),
};

constexpr CQuorMethodDesc kWriterSealMethods[] = {
    M(IQuorMediaFileWriterSeal, SetSigningKey, 1, QuorIn(u"bstrPrivateKeyFile", VT_BSTR)),
};

#undef M

// Type-library order.
constexpr CQuorInterfaceDesc kInterfaces[] = {
    {u"IQuorMediaFileReader", &IID_IQuorMediaFileReader, u"IQuorMediaFileReader Interface",
     kReaderMethods},
    {u"IQuorFileSetMetadata", &IID_IQuorFileSetMetadata, u"IQuorFileSetMetadata Interface",
     kFileSetMetadataMethods},
    {u"IQuorMediaFileStatus", &IID_IQuorMediaFileStatus, u"IQuorMediaFileStatus Interface",
     kFileStatusMethods},
    {u"IQuorTrackMetadata", &IID_IQuorTrackMetadata, u"IQuorTrackMetadata Interface",
     kTrackMetadataMethods},
    {u"IQuorMediaFileSample", &IID_IQuorMediaFileSample, u"IQuorMediaFileSample Interface",
     kSampleMethods},
    {u"IQuorMediaFileWriter", &IID_IQuorMediaFileWriter, u"IQuorMediaFileWriter Interface",
     kWriterMethods},
    {u"IQuorMediaFileRecordingStatus", &IID_IQuorMediaFileRecordingStatus,
     u"IQuorMediaFileRecordingStatus Interface", kRecordingStatusMethods},
    {u"IQuorMediaFileWriterOptions", &IID_IQuorMediaFileWriterOptions,
     u"IQuorMediaFileWriterOptions Interface", kWriterOptionsMethods},
    {u"IQuorMediaFileWriterSeal", &IID_IQuorMediaFileWriterSeal,
     u"IQuorMediaFileWriterSeal Interface", kWriterSealMethods},
};

constexpr CQuorCoclassDesc kCoclasses[] = {
    {u"QuorMediaFileReader", &CLSID_QuorMediaFileReader, u"QuorMediaFileReader Class",
     &IID_IQuorMediaFileReader},
    {u"QuorMediaFileWriter", &CLSID_QuorMediaFileWriter, u"QuorMediaFileWriter Class",
     &IID_IQuorMediaFileWriter},
    {u"QuorFileSetMetadata", &CLSID_QuorFileSetMetadata, u"QuorFileSetMetadata Class",
     &IID_IQuorFileSetMetadata},
    {u"QuorTrackMetadata", &CLSID_QuorTrackMetadata, u"QuorTrackMetadata Class",
     &IID_IQuorTrackMetadata},
    {u"QuorMediaFileSample", &CLSID_QuorMediaFileSample, u"QuorMediaFileSample Class",
     &IID_IQuorMediaFileSample},
    {u"QuorMediaFileStatus", &CLSID_QuorMediaFileStatus, u"QuorMediaFileStatus Class",
     &IID_IQuorMediaFileStatus},
};

constexpr CQuorEnumValueDesc kWriterStates[] = {
    {u"wseCreated", wseCreated},           {u"wseInitialized", wseInitialized},
    {u"wseReadyToStart", wseReadyToStart}, {u"wseStarted", wseStarted},
    {u"wseFinished", wseFinished},
};

constexpr CQuorEnumDesc kEnums[] = {{u"WriterStateEnum", kWriterStates}};

constexpr CQuorTypeLibraryDesc kTypeLibrary = {u"QuorMediaFilesLib",
                                               &LIBID_QuorMediaFilesLib,
                                               u"QuorMediaFiles 1.0 Type Library",
                                               1,
                                               0,
                                               0,
                                               kInterfaces,
                                               kCoclasses,
                                               kEnums};

}  // namespace

const CQuorTypeLibraryDesc& QuorMediaFilesTypeLibrary() noexcept { return kTypeLibrary; }

template <>
const CQuorInterfaceDesc& QuorInterfaceDescription<IQuorMediaFileReader>() noexcept {
  return kInterfaces[0];
}
template <>
const CQuorInterfaceDesc& QuorInterfaceDescription<IQuorFileSetMetadata>() noexcept {
  return kInterfaces[1];
}
template <>
const CQuorInterfaceDesc& QuorInterfaceDescription<IQuorMediaFileStatus>() noexcept {
  return kInterfaces[2];
}
template <>
const CQuorInterfaceDesc& QuorInterfaceDescription<IQuorTrackMetadata>() noexcept {
  return kInterfaces[3];
}
template <>
const CQuorInterfaceDesc& QuorInterfaceDescription<IQuorMediaFileSample>() noexcept {
  return kInterfaces[4];
}
template <>
const CQuorInterfaceDesc& QuorInterfaceDescription<IQuorMediaFileWriter>() noexcept {
  return kInterfaces[5];
}
template <>
const CQuorInterfaceDesc& QuorInterfaceDescription<IQuorMediaFileRecordingStatus>() noexcept {
  return kInterfaces[6];
}
template <>
const CQuorInterfaceDesc& QuorInterfaceDescription<IQuorMediaFileWriterOptions>() noexcept {
  return kInterfaces[7];
}
template <>
const CQuorInterfaceDesc& QuorInterfaceDescription<IQuorMediaFileWriterSeal>() noexcept {
  return kInterfaces[8];
}
