// The message catalogue: numbered 8-bit message texts, some with printf-style placeholders
// (%i for an int, %s for a const char*, 0x%08X for an unsigned 32-bit value such as an
// HRESULT or a timestamp word). Each message is a named constant whose type lists the
// arguments its placeholders take, so a call that passes other arguments does not compile; the
// table behind QuorLoadMessage is built from the same list. Read-only data; callable from any
// thread.
#pragma once

#include <array>
#include <cstdarg>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/log/QuorFormatText.h"

using QuorMessageId = std::uint16_t;

// printf-style formatting of a format string; an empty string when format is null.
std::string QuorFormatText(const char* format, ...);

namespace quor_message_detail {

// The conversion character a placeholder for an argument of type T ends in.
template <typename T>
consteval char ConversionOf() {
  if constexpr (std::is_same_v<T, int>) {
    return 'i';
  } else if constexpr (std::is_same_v<T, const char*>) {
    return 's';
  } else {
    static_assert(std::is_same_v<T, std::uint32_t>, "message arguments: int, const char*, u32");
    return 'X';
  }
}

// Whether the placeholders of text, in order, end in the conversions given and are all there
// is ("%%" is a literal percent sign; flags and width before the conversion are allowed).
template <std::size_t N>
consteval bool PlaceholdersMatch(const char* text, const std::array<char, N>& conversions) {
  std::size_t next = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p != '%') continue;
    ++p;
    if (*p == '%') continue;
    while (*p == '0' || (*p >= '1' && *p <= '9')) ++p;
    if (next == N || *p != conversions[next]) return false;
    ++next;
  }
  return next == N;
}

}  // namespace quor_message_detail

// One catalogued message: its number, its exact text and the types of the arguments its
// placeholders take. Made only at compile time, where a text whose placeholders do not match
// Args is refused.
template <typename... Args>
class QuorMessage {
 public:
  consteval QuorMessage(QuorMessageId id, const char* text) : m_id(id), m_text(text) {
    if (!quor_message_detail::PlaceholdersMatch(
            text,
            std::array<char, sizeof...(Args)>{quor_message_detail::ConversionOf<Args>()...})) {
      throw "the text's placeholders do not match the message's argument types";
    }
  }

  constexpr QuorMessageId Id() const noexcept { return m_id; }
  // The text exactly as catalogued; NUL-terminated, valid for the life of the process.
  constexpr const char* Text() const noexcept { return m_text; }
  std::string Format(std::type_identity_t<Args>... args) const {
    return QuorFormatText(m_text, args...);
  }

 private:
  QuorMessageId m_id;
  const char* m_text;
};

// Raised by operations that have no catalogue message of their own; its text is empty.
inline constexpr QuorMessage<> kQuorNoMessage{0, ""};

// X(name, id, text, argument types...), sorted by id. Texts are exact: some end in a space or
// hold two spaces in a row, and some name another class or method than the one that fails.
// clang-format off
#define QUOR_MESSAGE_CATALOGUE(X) \
  X(kFileSizeLimitTooSmall, 102, "Error- Cannot perform this operation - File Size Limit too small or no file space") \
  X(kCleanupFailed, 10101, "Error during Cleanup method") \
  X(kStorageInitializeForReadingFailed, 10102, "Error during CQuorFileStorage::InitializeForReading method") \
  X(kStorageGetReaderFailed, 10103, "Error during CQuorFileStorage::GetReader method") \
  X(kNewFileInfoBlockFailed, 10104, "Error creating new CQuorFileInfoBlock") \
  X(kStorageGetFileNamesFailed, 10105, "Error during CQuorFileStorage::GetFileNames method") \
  X(kStorageGetFileIndexFailed, 10106, "Error during CQuorFileStorage::GetFileIndex") \
  X(kStorageSeekToBlockStartFailed, 10107, "Error during CQuorFileStorage::Seek to Block Start") \
  X(kNullFileName, 10108, "Error - NULL bstrFileName passed") \
  X(kReaderCreated, 10109, "CQuorMediaFileReader created") \
  X(kFileSetInfoReadFailed, 10110, "Error during CQuorFileSetInfo Read") \
  X(kPasswordHashAddStringFailed, 10111, "Error during CQuorMD5Hash::AddString method (password)") \
  X(kPasswordHashInvalid, 10112, "Error getting Valid Password Hash") \
  X(kNewMediaFileTrackFailed, 10113, "Error creating new CQuorMediaFileTrack") \
  X(kTrackInfoReadFailed, 10114, "Error CQuorMediaFileTrack::GetTrackInfo() Read Method failed with result 0x%08X", std::uint32_t) \
  X(kTrackInfoReadFlagsFailed, 10115, "Error CQuorMediaFileTrack::GetTrackInfo() Read Track Flags failed with result 0x%08X", std::uint32_t) \
  X(kTrackInfoReadIdFailed, 10116, "Error CQuorMediaFileTrack::GetTrackInfo() Read Track IDs  failed with result 0x%08X", std::uint32_t) \
  X(kTracksMapSaveTrackFailed, 10117, "Error CQuorMediaTracksMap Save Track Method failed with result 0x%08X", std::uint32_t) \
  X(kStorageGetPositionFailed, 10118, "Error during CQuorFileStorage::GetPosition method") \
  X(kStorageMoveToFinalizationSizeFailed, 10119, "Error during CQuorFileStorage - Move to Finalization Block Size") \
  X(kFinalizationSizeReadFailed, 10120, "Error during CQuorMediaFileField Read Final Block Size") \
  X(kReaderOpenFileSetSucceeded, 10121, "OpenFileset method succeeded-  filename: %s", const char*) \
  X(kFinalizationSizeFormatBad, 10122, "Error during CQuorMediaFileField  Final Block Format") \
  X(kStorageMoveToFinalizationFailed, 10123, "Error during CQuorFileStorage - Move to Finalization Block") \
  X(kFinalizationReadFailed, 10124, "Error during CQuorFileFinalizationBlock - Read Finalization Block") \
  X(kFinalizationReadLastFileFlagFailed, 10125, "Error during CQuorFileFinalizationBlock - Read Last File Flag") \
  X(kStorageMoveToLastIndexSizeFailed, 10126, "Error during CQuorFileStorage - Move to Last Index Size") \
  X(kLastIndexSizeReadFailed, 10127, "Error during CQuorMediaFileField Read Last Index Size") \
  X(kIndexSizeFormatBad, 10128, "Error during CQuorMediaFileField Index Block Format") \
  X(kStorageMoveToIndexBlockFailed, 10129, "Error during CQuorFileStorage - Move to Index Block") \
  X(kStorageGetIndexPositionFailed, 10130, "Error during CQuorFileStorage - Get Index Position") \
  X(kTracksMapAddIndexFailed, 10132, "Error during CQuorMediaTracksMap -Add Index To Tracks") \
  X(kIndexOffsetToPreviousFailed, 10133, "Error during CQuorIndexBlock - Offset To Previous Index") \
  X(kStorageMoveToPreviousIndexFailed, 10134, "Error during CQuorFileStorage - Move to Previous Index Block") \
  X(kNullFileNamesOut, 10135, "Error - Null ppsaFileNames Passed") \
  X(kStorageGetFileNamesMethodFailed, 10136, "Error during CQuorFileStorage - GetFileNames method") \
  X(kReaderGetFileNamesSucceeded, 10137, "CQuorMediaFileReader::GetFileNames method succeeded- file 1 of %i is %s", int, const char*) \
  X(kFileStatusNotFound, 10138, "Error during CQuorMediaFileStatusMap Find File Status") \
  X(kCreateFileStatusFailed, 10139, "Error during CoCreate of IQuorMediaFileStatus object") \
  X(kFileStatusSetFileIndexFailed, 10140, "Error during IQuorMediaFileStatus::SetFileIndex method") \
  X(kFileStatusSetStatusFlagsFailed, 10141, "Error during IQuorMediaFileStatus::SetStatusFlags method") \
  X(kReaderGetFileStatusSucceeded, 10142, "CQuorMediaFileReader::GetFileStatus method succeeded- for filename: %s", const char*) \
  X(kNullMetadata, 10143, "Error - Null ppiMetadata Passed") \
  X(kCreateFileSetMetadataFailed, 10144, "Error during CoCreate of IQuorFileSetMetadataInt object") \
  X(kFileSetMetadataSetGuidFailed, 10145, "Error during IQuorFileSetMetadataInt::SetFilesetGuid method") \
  X(kFileSetMetadataSetCreationTimeFailed, 10146, "Error during IQuorFileSetMetadataInt::SetFilesetCreationTime method") \
  X(kFileSetMetadataSetDescriptionFailed, 10147, "Error during IQuorFileSetMetadataInt::SetFilesetDescription method") \
  X(kFileSetMetadataSetPasswordFailed, 10148, "Error during IQuorFileSetMetadataInt::SetFilesetPassword method") \
  X(kReaderGetFileSetMetadataSucceeded, 10149, "CQuorMediaFileReader::GetFileSetMetadata method succeeded") \
  X(kTrackNotInMap, 10150, "Error during CQuorMediaTracksMap - Find dwTrack in Map") \
  X(kCreateTrackMetadataFailed, 10151, "Error during CoCreate of IQuorTrackMetadata object") \
  X(kTracksMapGetTrackInfoFailed, 10152, "Error during CQuorMediaTracksMap::GetTrackInfo method") \
  X(kTrackMetadataSetTrackIdFailed, 10153, "Error during IQuorTrackMetadata::SetTrackId method") \
  X(kTrackInfoGetNameFailed, 10154, "Error during CQuorTrackInfoBlock:GetName method") \
  X(kTrackMetadataSetTrackNameFailed, 10155, "Error during  IQuorTrackMetadata::SetTrackName method") \
  X(kTrackMetadataSetSourceIdFailed, 10156, "Error during  IQuorTrackMetadata::SetSourceId method") \
  X(kTrackMetadataSetSourceUrlFailed, 10157, "Error during  IQuorTrackMetadata::SetSourceUrl method") \
  X(kTrackMetadataSetPluginFailed, 10158, "Error during  IQuorTrackMetadata::SetMediaSessionPlugin method") \
  X(kTrackMetadataSetMediaTypeFailed, 10159, "Error during  IQuorTrackMetadata::SetMediaType method") \
  X(kTrackMetadataSetVideoFlagFailed, 10160, "Error during  IQuorTrackMetadata::SetVideoFlag method") \
  X(kTrackMetadataSetAudioFlagFailed, 10161, "Error during  IQuorTrackMetadata::SetAudioFlag method") \
  X(kTrackMetadataAddFilterFailed, 10162, "Error during  IQuorTrackMetadata::AddFilter method") \
  X(kTrackMetadataSetAuthenticFailed, 10163, "Error during  IQuorTrackMetadata::SetAuthentic method") \
  X(kReaderGetTrackMetadataSucceeded, 10164, "CQuorMediaFileReader::GetTrackMetadata method succeeded for track ID:%i", int) \
  X(kNullTimeOut, 10165, "Error - Null pnTime passed") \
  X(kReaderGetFirstTimeStampSucceeded, 10166, "CQuorMediaFileReader::GetFirstTimeStamp method succeeded for track ID:%i", int) \
  X(kTracksMapGetIndexBlockIdentifierFailed, 10167, "Error during CQuorMediaTracksMap::GetIndexBlockIdentifier method") \
  X(kIndexBlockReadFailed, 10168, "Error during CQuorIndexBlock - Read  Index Block") \
  X(kReaderGetLastTimeStampSucceeded, 10169, "CQuorMediaFileReader::GetLastTimeStamp method succeeded for track ID:%i", int) \
  X(kNullSampleOut, 10170, "Error - Null ppiSample passed") \
  X(kIndexBlockGetIndexesFailed, 10171, "Error during CQuorIndexBlock::GetIndexes method") \
  X(kTracksMapGetSampleIndexFailed, 10172, "Error during CQuorMediaTracksMap::GetSampleIndex method") \
  X(kReaderMoveToSucceeded, 10173, "CQuorMediaFileReader::MoveTo method succeeded for track ID:%i, Timestamp: 0x%08X", int, std::uint32_t) \
  X(kTracksMapGetNextSampleIndexFailed, 10174, "Error during CQuorMediaTracksMap::GetNextSampleIndex method") \
  X(kTracksMapGetNextIdentifierFailed, 10175, "Error during CQuorMediaTracksMap::GetNextIdentifier method") \
  X(kTracksMapGetMediaSampleIndexFailed, 10176, "Error during CQuorMediaTracksMap::GetMediaSampleIndex method") \
  X(kReaderMoveNextSucceeded, 10177, "CQuorMediaFileReader::MoveNext method succeeded for track ID:%i", int) \
  X(kTracksMapGetPreviousSampleIndexFailed, 10178, "Error during CQuorMediaTracksMap::GetPreviousSampleIndex method") \
  X(kTracksMapGetPreviousIdentifierFailed, 10179, "Error during CQuorMediaTracksMap::GetPreviousIdentifier method") \
  X(kReaderMovePreviousSucceeded, 10180, "CQuorMediaFileReader::MovePrevious method succeeded for track ID:%i", int) \
  X(kNullAuthenticOut, 10181, "Error - Null pvbAuthentic passed") \
  X(kFileNameCountZero, 10182, "Error - Fileset File Name Count is zero") \
  X(kBrokenFileNoIndexBlocks, 10185, "Error during broken file recovery- No Index Blocks") \
  X(kWriterCreated, 10186, "CQuorMediaFileWriter created") \
  X(kMaxFilesOutOfRange, 10187, "Error - Files in Set, dwMaxFiles, specified is under/over the min/max limits") \
  X(kMaxSizeOutOfRange, 10188, "Error - File Size, dwMaxSize, specified is under/over the min/max limits") \
  X(kStorageSetCreationTimeFailed, 10189, "Error during CQuorFileStorage::SetFileSetCreationTime method") \
  X(kWritingInProgress, 10190, "Error- Cannot perfom this operation- Writing is in progress") \
  X(kWriterCleanupFailed, 10191, "Error during CQuorMediaFileWriter::Cleanup method") \
  X(kNewFileStorageFailed, 10192, "Error- Creating new CQuorFileStorage") \
  X(kNewFileInfoBlockForWritingFailed, 10193, "Error- Creating new CQuorFileInfoBlock") \
  X(kStorageInitializeForWritingFailed, 10194, "Error during CQuorFileStorage::InitializeForWriting method") \
  X(kCreateFileSetGuidFailed, 10195, "Error- Creating Fileset GUID") \
  X(kStorageSetFileSetGuidFailed, 10196, "Error during CQuorFileStorage::SetFileSetGuid method") \
  X(kStorageSetFileSetIndexFailed, 10197, "Error during CQuorFileStorage::SetFileSetIndex method") \
  X(kNullDescription, 10198, "Error - NULL bstrDescription passed") \
  X(kOperationNotPossibleNow, 10199, "Error- Requested operation is not possible at this time") \
  X(kFileSetNotInitialized, 10200, "Error- Fileset is Not Initialized") \
  X(kSetDescriptionFailed, 10201, "Error- Set File Description Failed") \
  X(kNullPassword, 10202, "Error - NULL bstrPassword passed") \
  X(kGetHashBufferFailed, 10203, "Error during GetHashBuffer") \
  X(kFileSetInfoSetPasswordFailed, 10204, "Error during QUORFileSetInfo::SetPassword method") \
  X(kTrackIdAlreadyAdded, 10205, "Error - Track with this ID has already been created") \
  X(kTrackMetadataGetVideoFlagFailed, 10206, "Error during  IQuorTrackMetadata::GetVideoFlag method") \
  X(kTrackMetadataGetAudioFlagFailed, 10207, "Error during  IQuorTrackMetadata::GetAudioFlag method") \
  X(kNoMediaTypes, 10208, "Error - No Media Types are set ") \
  X(kNoTrackName, 10209, "Error - No Track Name is set") \
  X(kGetPluginFailed, 10210, "Error getting existing Media Session Plug-in ") \
  X(kNewTrackInfoBlockFailed, 10212, "Error- Creating new CQuorTrackInfoBlock") \
  X(kGetFilterFailed, 10213, "Error getting existing Filter CLSID's ") \
  X(kGetSourceIdFailed, 10214, "Error getting existing Source ID") \
  X(kGetSourceUrlFailed, 10215, "Error getting existing Source URL") \
  X(kSetLastTrackInfoFlagFailed, 10216, "Error setting last TrackInfo block flag") \
  X(kSaveTrackInfoFailed, 10217, "Error saving TrackInfo block") \
  X(kCannotStartRecording, 10218, "Error cannot start recording from existing state") \
  X(kStorageGetWriterFailed, 10219, "Error during CQuorFileStorage::GetWriter method") \
  X(kSetBlockIndexFailed, 10220, "Error cannot Set Block Index") \
  X(kWriteFileInfoFailed, 10221, "Error writing FileInfo block") \
  X(kUpdateFileHashFailed, 10222, "Error updating File Hash") \
  X(kWriteTrackInfoFailed, 10223, "Error writing a Track Info block to the file") \
  X(kCreateIndexBlockFailed, 10224, "Error creating an Index Block") \
  X(kSetOffsetToPreviousFailed, 10225, "Error setting Offset to previous block") \
  X(kClearOffsetToPreviousFailed, 10226, "Error setting previous index offset to 0") \
  X(kCreateFinalizationFailed, 10227, "Error creating a new finalization block") \
  X(kStopFileSizeControlFailed, 10228, "Error stopping File Size control flag") \
  X(kWriteLastIndexFailed, 10229, "Error writing Last Index block") \
  X(kWriteFinalizationFailed, 10230, "Error writing Finalization Block") \
  X(kFinalizeStorageFailed, 10231, "Error Finalizing Storage") \
  X(kSetLastFileFlagFailed, 10232, "Error setting Last File flag") \
  X(kNullSampleIn, 10233, "Error - Null piSample passed") \
  X(kTrackNotAdded, 10234, "Error - Specified Track does not exist") \
  X(kNotWriting, 10235, "Error- the StartWriting method must be called prior to this method") \
  X(kCreateSampleBlockFailed, 10238, "Error creating new MediaSample block") \
  X(kSetSamplePayloadFailed, 10239, "Error setting Media Sample payload in block") \
  X(kWriteSampleBlockFailed, 10242, "Error writing MediaSample block") \
  X(kAddSampleIndexFailed, 10243, "Error adding sample index to Index block") \
  X(kNullBlock, 10244, "Error- Null pBlock passed") \
  X(kGetBlockHashFailed, 10245, "Error getting Block hash") \
  X(kDuplicatedField, 10246, "Error Duplicated Field detected -Tag:%i", int) \
  X(kUnknownField, 10247, "Error Unknown Field detected -Tag:%i", int) \
  X(kNoBaselineGuid, 10248, "Error- Cannot get baseline Fileset GUID ") \
  X(kCannotAddFileName, 10249, "Error- Cannot add filename to map ") \
  X(kCannotOpenFile, 10250, "Error- Cannot open file") \
  X(kNotFormat2File, 10251, "Error- Not a Format 2 file") \
  X(kNoFileExtension, 10252, "Error- File Extension is missing") \
  X(kCannotSaveFileName, 10253, "Error- saving filename") \
  X(kFindFirstFailed, 10254, "Error- FindFirst can't find file") \
  X(kFileFinalizedWhenFull, 10255, "Trace- Maximum File/Disk Size reached -File Finalized") \
  X(kWriteSampleAfterRolloverFailed, 10256, "Error writing Media Sample ") \
  X(kFinalizeWhenFullFailed, 10257, "Error finalizing file on File/Disk Full") \
  X(kMaxFilesReached, 10258, "Trace- Maximum number of files reached") \
  X(kFileSetIndexMissing, 10259, "Error - Can't find file's Fileset Index") \
  X(kLastFileMissing, 10260, "Error - Last file in fileset is missing") \
  X(kSomeFileMissing, 10261, "Error - At least one file in fileset is missing") \
  X(kFileSetComplete, 10262, "Trace - Fileset is complete") \
  X(kAuthenticateFileFailed, 10263, "Error- AuthenticateFile method failed with result 0x%08X", std::uint32_t) \
  X(kIsCompleteFileSetFailed, 10264, "Error during CQuorMediaFileReader::IsCompleteFileSet method") \
  X(kFileSetMetadataSetCompleteFailed, 10265, "Error during IQuorFileSetMetadataInt::SetFileSetComplete method") \
  X(kTrackInfoReadAborted, 10266, "Error during read of Track Info- Abort and read next file") \
  X(kNoFileInfoBlock, 10267, "Error - Unexpected NULL FileSetInfo block") \
  X(kReinitializeFileHashFailed, 10268, "Error reinitializing File hash for next file") \
  X(kStartNextFileFailed, 10269, "Error starting to record next file") \
  X(kInitializeNextFileFailed, 10270, "Error Initializing next file to record") \
  X(kAuthBlockIndexNotSequential, 10271, "Trace - Authentication test failed due to no sequential BlockIndex in Block: %i", int) \
  X(kAuthFileHashFailed, 10272, "Trace - Authentication test failed test for File Level Hash") \
  X(kAuthBlockHashFailed, 10273, "Trace - Authentication test failed test for Block Level hash at BlockIndex: %i", int) \
  X(kAuthFileSetFailed, 10274, "Trace - Fileset Authentication Failed") \
  X(kAuthFileSetSucceeded, 10275, "Trace - Fileset Authentication Succeeded") \
  X(kAuthNotInProgress, 10276, "Error - Cannot cancel Authentication- it is not currently in progress") \
  X(kNextFileNotCreated, 10290, "Error- Next file cannot be created, recording ended with the last file: %s", const char*) \
  X(kSigningKeyUnreadable, 10400, "Error - Cannot read the signing key file") \
  X(kSigningKeyNotPrivate, 10401, "Error - The signing key file holds no Ed25519 private key") \
  X(kSigningKeyIsPublic, 10402, "Error - A public key was given where the private signing key is needed") \
  X(kSigningKeyReadableByOthers, 10403, "Error - The signing key file may be read by other users: allow its owner only (mode 0600)") \
  X(kSigningKeyAfterStart, 10404, "Error - The signing key must be set before recording starts") \
  X(kSealOfSealFile, 10405, "Error - Cannot seal member files whose extension is .seal") \
  X(kCreateSealFileFailed, 10406, "Error creating the seal file of a member file") \
  X(kKeyNotPublic, 10407, "Error - The key file holds no Ed25519 public key")
// clang-format on

#define QUOR_DEFINE_MESSAGE(name, id, text, ...) \
  inline constexpr QuorMessage<__VA_ARGS__> name{id, text};
QUOR_MESSAGE_CATALOGUE(QUOR_DEFINE_MESSAGE)
#undef QUOR_DEFINE_MESSAGE

// The text of id exactly as catalogued, or an empty view for an id without text, for an id
// known only at run time. The view stays valid for the life of the process and is
// NUL-terminated.
std::string_view QuorLoadMessage(QuorMessageId id) noexcept;
