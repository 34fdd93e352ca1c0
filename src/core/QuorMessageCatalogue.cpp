// The message catalogue as data, and the formatting of its texts.
#include "core/QuorMessageCatalogue.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace {

struct CatalogueEntry {
  QuorMessageId id;
  const char* text;
};

// Sorted by id. Texts are exact: some end in a space or hold two spaces in a row.
// clang-format off
constexpr CatalogueEntry kCatalogue[] = {
    {102, "Error- Cannot perform this operation - File Size Limit too small or no file space"},
    {10101, "Error during Cleanup method"},
    {10102, "Error during CQuorFileStorage::InitializeForReading method"},
    {10103, "Error during CQuorFileStorage::GetReader method"},
    {10104, "Error creating new CQuorFileInfoBlock"},
    {10105, "Error during CQuorFileStorage::GetFileNames method"},
    {10106, "Error during CQuorFileStorage::GetFileIndex"},
    {10107, "Error during CQuorFileStorage::Seek to Block Start"},
    {10108, "Error - NULL bstrFileName passed"},
    {10109, "CQuorMediaFileReader created"},
    {10110, "Error during CQuorFileSetInfo Read"},
    {10111, "Error during CQuorMD5Hash::AddString method (password)"},
    {10112, "Error getting Valid Password Hash"},
    {10113, "Error creating new CQuorMediaFileTrack"},
    {10114, "Error CQuorMediaFileTrack::GetTrackInfo() Read Method failed with result 0x%08X"},
    {10115, "Error CQuorMediaFileTrack::GetTrackInfo() Read Track Flags failed with result 0x%08X"},
    {10116, "Error CQuorMediaFileTrack::GetTrackInfo() Read Track IDs  failed with result 0x%08X"},
    {10117, "Error CQuorMediaTracksMap Save Track Method failed with result 0x%08X"},
    {10118, "Error during CQuorFileStorage::GetPosition method"},
    {10119, "Error during CQuorFileStorage - Move to Finalization Block Size"},
    {10120, "Error during CQuorMediaFileField Read Final Block Size"},
    {10121, "OpenFileset method succeeded-  filename: %s"},
    {10122, "Error during CQuorMediaFileField  Final Block Format"},
    {10123, "Error during CQuorFileStorage - Move to Finalization Block"},
    {10124, "Error during CQuorFileFinalizationBlock - Read Finalization Block"},
    {10125, "Error during CQuorFileFinalizationBlock - Read Last File Flag"},
    {10126, "Error during CQuorFileStorage - Move to Last Index Size"},
    {10127, "Error during CQuorMediaFileField Read Last Index Size"},
    {10128, "Error during CQuorMediaFileField Index Block Format"},
    {10129, "Error during CQuorFileStorage - Move to Index Block"},
    {10130, "Error during CQuorFileStorage - Get Index Position"},
    {10132, "Error during CQuorMediaTracksMap -Add Index To Tracks"},
    {10133, "Error during CQuorIndexBlock - Offset To Previous Index"},
    {10134, "Error during CQuorFileStorage - Move to Previous Index Block"},
    {10135, "Error - Null ppsaFileNames Passed"},
    {10136, "Error during CQuorFileStorage - GetFileNames method"},
    {10137, "CQuorMediaFileReader::GetFileNames method succeeded- file 1 of %i is %s"},
    {10138, "Error during CQuorMediaFileStatusMap Find File Status"},
    {10139, "Error during CoCreate of IQuorMediaFileStatus object"},
    {10140, "Error during IQuorMediaFileStatus::SetFileIndex method"},
    {10141, "Error during IQuorMediaFileStatus::SetStatusFlags method"},
    {10142, "CQuorMediaFileReader::GetFileStatus method succeeded- for filename: %s"},
    {10143, "Error - Null ppiMetadata Passed"},
    {10144, "Error during CoCreate of IQuorFileSetMetadataInt object"},
    {10145, "Error during IQuorFileSetMetadataInt::SetFilesetGuid method"},
    {10146, "Error during IQuorFileSetMetadataInt::SetFilesetCreationTime method"},
    {10147, "Error during IQuorFileSetMetadataInt::SetFilesetDescription method"},
    {10148, "Error during IQuorFileSetMetadataInt::SetFilesetPassword method"},
    {10149, "CQuorMediaFileReader::GetFileSetMetadata method succeeded"},
    {10150, "Error during CQuorMediaTracksMap - Find dwTrack in Map"},
    {10151, "Error during CoCreate of IQuorTrackMetadata object"},
    {10152, "Error during CQuorMediaTracksMap::GetTrackInfo method"},
    {10153, "Error during IQuorTrackMetadata::SetTrackId method"},
    {10154, "Error during CQuorTrackInfoBlock:GetName method"},
    {10155, "Error during  IQuorTrackMetadata::SetTrackName method"},
    {10156, "Error during  IQuorTrackMetadata::SetSourceId method"},
    {10157, "Error during  IQuorTrackMetadata::SetSourceUrl method"},
    {10158, "Error during  IQuorTrackMetadata::SetMediaSessionPlugin method"},
    {10159, "Error during  IQuorTrackMetadata::SetMediaType method"},
    {10160, "Error during  IQuorTrackMetadata::SetVideoFlag method"},
    {10161, "Error during  IQuorTrackMetadata::SetAudioFlag method"},
    {10162, "Error during  IQuorTrackMetadata::AddFilter method"},
    {10163, "Error during  IQuorTrackMetadata::SetAuthentic method"},
    {10164, "CQuorMediaFileReader::GetTrackMetadata method succeeded for track ID:%i"},
    {10165, "Error - Null pnTime passed"},
    {10166, "CQuorMediaFileReader::GetFirstTimeStamp method succeeded for track ID:%i"},
    {10167, "Error during CQuorMediaTracksMap::GetIndexBlockIdentifier method"},
    {10168, "Error during CQuorIndexBlock - Read  Index Block"},
    {10169, "CQuorMediaFileReader::GetLastTimeStamp method succeeded for track ID:%i"},
    {10170, "Error - Null ppiSample passed"},
    {10171, "Error during CQuorIndexBlock::GetIndexes method"},
    {10172, "Error during CQuorMediaTracksMap::GetSampleIndex method"},
    {10173, "CQuorMediaFileReader::MoveTo method succeeded for track ID:%i, Timestamp: 0x%08X"},
    {10174, "Error during CQuorMediaTracksMap::GetNextSampleIndex method"},
    {10175, "Error during CQuorMediaTracksMap::GetNextIdentifier method"},
    {10176, "Error during CQuorMediaTracksMap::GetMediaSampleIndex method"},
    {10177, "CQuorMediaFileReader::MoveNext method succeeded for track ID:%i"},
    {10178, "Error during CQuorMediaTracksMap::GetPreviousSampleIndex method"},
    {10179, "Error during CQuorMediaTracksMap::GetPreviousIdentifier method"},
    {10180, "CQuorMediaFileReader::MovePrevious method succeeded for track ID:%i"},
    {10181, "Error - Null pvbAuthentic passed"},
    {10182, "Error - Fileset File Name Count is zero"},
    {10185, "Error during broken file recovery- No Index Blocks"},
    {10186, "CQuorMediaFileWriter created"},
    {10187, "Error - Files in Set, dwMaxFiles, specified is under/over the min/max limits"},
    {10188, "Error - File Size, dwMaxSize, specified is under/over the min/max limits"},
    {10189, "Error during CQuorFileStorage::SetFileSetCreationTime method"},
    {10190, "Error- Cannot perfom this operation- Writing is in progress"},
    {10191, "Error during CQuorMediaFileWriter::Cleanup method"},
    {10192, "Error- Creating new CQuorFileStorage"},
    {10193, "Error- Creating new CQuorFileInfoBlock"},
    {10194, "Error during CQuorFileStorage::InitializeForWriting method"},
    {10195, "Error- Creating Fileset GUID"},
    {10196, "Error during CQuorFileStorage::SetFileSetGuid method"},
    {10197, "Error during CQuorFileStorage::SetFileSetIndex method"},
    {10198, "Error - NULL bstrDescription passed"},
    {10199, "Error- Requested operation is not possible at this time"},
    {10200, "Error- Fileset is Not Initialized"},
    {10201, "Error- Set File Description Failed"},
    {10202, "Error - NULL bstrPassword passed"},
    {10203, "Error during GetHashBuffer"},
    {10204, "Error during QUORFileSetInfo::SetPassword method"},
    {10205, "Error - Track with this ID has already been created"},
    {10206, "Error during  IQuorTrackMetadata::GetVideoFlag method"},
    {10207, "Error during  IQuorTrackMetadata::GetAudioFlag method"},
    {10208, "Error - No Media Types are set "},
    {10209, "Error - No Track Name is set"},
    {10210, "Error getting existing Media Session Plug-in "},
    {10212, "Error- Creating new CQuorTrackInfoBlock"},
    {10213, "Error getting existing Filter CLSID's "},
    {10214, "Error getting existing Source ID"},
    {10215, "Error getting existing Source URL"},
    {10216, "Error setting last TrackInfo block flag"},
    {10217, "Error saving TrackInfo block"},
    {10218, "Error cannot start recording from existing state"},
    {10219, "Error during CQuorFileStorage::GetWriter method"},
    {10220, "Error cannot Set Block Index"},
    {10221, "Error writing FileInfo block"},
    {10222, "Error updating File Hash"},
    {10223, "Error writing a Track Info block to the file"},
    {10224, "Error creating an Index Block"},
    {10225, "Error setting Offset to previous block"},
    {10226, "Error setting previous index offset to 0"},
    {10227, "Error creating a new finalization block"},
    {10228, "Error stopping File Size control flag"},
    {10229, "Error writing Last Index block"},
    {10230, "Error writing Finalization Block"},
    {10231, "Error Finalizing Storage"},
    {10232, "Error setting Last File flag"},
    {10233, "Error - Null piSample passed"},
    {10234, "Error - Specified Track does not exist"},
    {10235, "Error- the StartWriting method must be called prior to this method"},
    {10238, "Error creating new MediaSample block"},
    {10239, "Error setting Media Sample payload in block"},
    {10242, "Error writing MediaSample block"},
    {10243, "Error adding sample index to Index block"},
    {10244, "Error- Null pBlock passed"},
    {10245, "Error getting Block hash"},
    {10246, "Error Duplicated Field detected -Tag:%i"},
    {10247, "Error Unknown Field detected -Tag:%i"},
    {10248, "Error- Cannot get baseline Fileset GUID "},
    {10249, "Error- Cannot add filename to map "},
    {10250, "Error- Cannot open file"},
    {10251, "Error- Not a Format 2 file"},
    {10252, "Error- File Extension is missing"},
    {10253, "Error- saving filename"},
    {10254, "Error- FindFirst can't find file"},
    {10255, "Trace- Maximum File/Disk Size reached -File Finalized"},
    {10256, "Error writing Media Sample "},
    {10257, "Error finalizing file on File/Disk Full"},
    {10258, "Trace- Maximum number of files reached"},
    {10259, "Error - Can't find file's Fileset Index"},
    {10260, "Error - Last file in fileset is missing"},
    {10261, "Error - At least one file in fileset is missing"},
    {10262, "Trace - Fileset is complete"},
    {10263, "Error- AuthenticateFile method failed with result 0x%08X"},
    {10264, "Error during CQuorMediaFileReader::IsCompleteFileSet method"},
    {10265, "Error during IQuorFileSetMetadataInt::SetFileSetComplete method"},
    {10266, "Error during read of Track Info- Abort and read next file"},
    {10267, "Error - Unexpected NULL FileSetInfo block"},
    {10268, "Error reinitializing File hash for next file"},
    {10269, "Error starting to record next file"},
    {10270, "Error Initializing next file to record"},
    {10271, "Trace - Authentication test failed due to no sequential BlockIndex in Block: %i"},
    {10272, "Trace - Authentication test failed test for File Level Hash"},
    {10273, "Trace - Authentication test failed test for Block Level hash at BlockIndex: %i"},
    {10274, "Trace - Fileset Authentication Failed"},
    {10275, "Trace - Fileset Authentication Succeeded"},
    {10276, "Error - Cannot cancel Authentication- it is not currently in progress"},
    {10290, "Error- Next file cannot be created, recording ended with the last file: %s"},
};
// clang-format on

constexpr bool IsSortedById() {
  for (std::size_t i = 1; i < std::size(kCatalogue); ++i) {
    if (kCatalogue[i - 1].id >= kCatalogue[i].id) return false;
  }
  return true;
}
static_assert(IsSortedById(), "the lookup is a binary search");
static_assert(std::size(kCatalogue) == 170);

}  // namespace

std::string_view QuorLoadMessage(QuorMessageId id) noexcept {
  const auto* found = std::lower_bound(
      std::begin(kCatalogue), std::end(kCatalogue), id,
      [](const CatalogueEntry& entry, QuorMessageId wanted) { return entry.id < wanted; });
  if (found == std::end(kCatalogue) || found->id != id) return {};
  return found->text;
}

std::string QuorFormatText(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::string text;
  try {
    text = QuorFormatTextV(format, args);
  } catch (...) {
    va_end(args);
    throw;
  }
  va_end(args);
  return text;
}

std::string QuorFormatMessage(unsigned int id, ...) {
  const std::string_view format = QuorLoadMessage(static_cast<QuorMessageId>(id));
  if (id > 0xFFFF || format.empty()) return {};
  std::va_list args;
  va_start(args, id);
  std::string text;
  try {
    text = QuorFormatTextV(format.data(), args);
  } catch (...) {
    va_end(args);
    throw;
  }
  va_end(args);
  return text;
}
