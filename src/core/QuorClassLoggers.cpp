// The class loggers, constant-initialized at load, and the invalid-parameter handler.
#include "core/QuorClassLoggers.h"

namespace {

constexpr long kClassLoggerNumber = 1;

constinit DXL_ClassLogger g_fileFinalizationBlockLogger{
    "CQuorFileFinalizationBlock", kClassLoggerNumber, "CQuorMediaFileLibrary"};
constinit DXL_ClassLogger g_fileInfoBlockLogger{"CQuorFileInfoBlock", kClassLoggerNumber,
                                                "CQuorMediaFileLibrary"};
constinit DXL_ClassLogger g_fileStorageLogger{"CQuorFileStorage", kClassLoggerNumber,
                                              "CQuorMediaFileLibrary"};
constinit DXL_ClassLogger g_indexBlockLogger{"CQuorIndexBlock", kClassLoggerNumber,
                                             "CQuorMediaFileLibrary"};
constinit DXL_ClassLogger g_md5HashLogger{"CQuorMD5Hash", kClassLoggerNumber, "QuorMediaFiles"};
constinit DXL_ClassLogger g_mediaFileBlockLogger{"CQuorMediaFileBlock", kClassLoggerNumber,
                                                 "CQuorMediaFileLibrary"};
constinit DXL_ClassLogger g_mediaFileReaderLogger{"CQuorMediaFileReader", kClassLoggerNumber,
                                                  "CQuorMediaFileLibrary"};
constinit DXL_ClassLogger g_mediaFileRecordingStatusLogger{"CQuorMediaFileRecordingStatus",
                                                           kClassLoggerNumber, "QuorMediaFiles"};
// The writer's component name differs from the others' by design: log consumers filter on it.
constinit DXL_ClassLogger g_mediaFileWriterLogger{"CQuorMediaFileWriter", kClassLoggerNumber,
                                                  "QuorMediaFileLibrary"};
constinit DXL_ClassLogger g_trackInfoBlockLogger{"CQuorTrackInfoBlock", kClassLoggerNumber,
                                                 "CQuorMediaFileLibrary"};

}  // namespace

const DXL_ClassLogger& QuorFileFinalizationBlockLogger() noexcept {
  return g_fileFinalizationBlockLogger;
}
const DXL_ClassLogger& QuorFileInfoBlockLogger() noexcept { return g_fileInfoBlockLogger; }
const DXL_ClassLogger& QuorFileStorageLogger() noexcept { return g_fileStorageLogger; }
const DXL_ClassLogger& QuorIndexBlockLogger() noexcept { return g_indexBlockLogger; }
const DXL_ClassLogger& QuorMD5HashLogger() noexcept { return g_md5HashLogger; }
const DXL_ClassLogger& QuorMediaFileBlockLogger() noexcept { return g_mediaFileBlockLogger; }
const DXL_ClassLogger& QuorMediaFileReaderLogger() noexcept { return g_mediaFileReaderLogger; }
const DXL_ClassLogger& QuorMediaFileRecordingStatusLogger() noexcept {
  return g_mediaFileRecordingStatusLogger;
}
const DXL_ClassLogger& QuorMediaFileWriterLogger() noexcept { return g_mediaFileWriterLogger; }
const DXL_ClassLogger& QuorTrackInfoBlockLogger() noexcept { return g_trackInfoBlockLogger; }

void QuorInvalidParameterHandler(const wchar_t* /*expression*/, const wchar_t* /*function*/,
                                 const wchar_t* /*file*/, unsigned int /*line*/,
                                 std::uintptr_t /*reserved*/) noexcept {
  DXL_Log* log = DXL_Log::CreateInstance();
  log->LogMessageEx("QuorMediaFiles", "QuorMFInvalidParameterHandler", "Error", 1, "");
}
