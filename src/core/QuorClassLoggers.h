// The class loggers of the instrumented classes, one per class with its class name, the number
// 1 and its component name. They are constant-initialized, so they exist before any other
// static object and live until the library is unloaded. Also the runtime's invalid-parameter
// handler.
#pragma once

#include <cstdint>

#include "platform/log/QuorLog.h"

// Function-logger levels: the reader object's methods log at 3, every other class at 4.
inline constexpr int kQuorReaderLogLevel = 3;
inline constexpr int kQuorDefaultLogLevel = 4;

const DXL_ClassLogger& QuorFileFinalizationBlockLogger() noexcept;
const DXL_ClassLogger& QuorFileInfoBlockLogger() noexcept;
const DXL_ClassLogger& QuorFileStorageLogger() noexcept;
const DXL_ClassLogger& QuorIndexBlockLogger() noexcept;
const DXL_ClassLogger& QuorMD5HashLogger() noexcept;
const DXL_ClassLogger& QuorMediaFileBlockLogger() noexcept;
const DXL_ClassLogger& QuorMediaFileReaderLogger() noexcept;
const DXL_ClassLogger& QuorMediaFileRecordingStatusLogger() noexcept;
const DXL_ClassLogger& QuorMediaFileWriterLogger() noexcept;
const DXL_ClassLogger& QuorTrackInfoBlockLogger() noexcept;

// Shaped like the runtime's invalid-parameter handler. Linux has no runtime that calls it; the
// module may install it where one exists. Makes sure the log exists, logs one entry (component
// "QuorMediaFiles", source "QuorMFInvalidParameterHandler", level text "Error", number 1, empty
// text) and returns.
void QuorInvalidParameterHandler(const wchar_t* expression, const wchar_t* function,
                                 const wchar_t* file, unsigned int line,
                                 std::uintptr_t reserved) noexcept;
