// The frame every public method, and every internal method that names itself in the log, runs
// in. It creates the call's function logger, runs the body (a callable taking
// DXL_FunctionLogger& and returning HRESULT; a body taking no argument is accepted too) and
// turns what the body throws into an HRESULT:
//   - CLoggedException: logged as an error with its hr and message; the public frame also sets
//     the thread's error information (source, description = message, interface id); its hr
//     is returned.
//   - anything else: E_UNEXPECTED, logged with that hr alone; the public frame sets error
//     information without description.
//   - no throw: the body's HRESULT. The body logs its own success text through the logger.
// The frame holds no lock and never throws.
//
// Inside a body a failure takes one of two paths, chosen by what the method promises its caller,
// never both for one failure:
//   - a failure the method reports (logged as an error, error information set) is raised:
//     Raise, or QUOR_RAISE_IF_FAILED on a helper's [[nodiscard]] HRESULT, with its message;
//   - a code the method hands back unchanged as an answer, without a message or error
//     information (a track without samples, the end of a track, the last file's failed recovery,
//     a cancelled walk, a full fileset), is returned, through QUOR_RETURN_IF_FAILED where it
//     comes from a helper.
//
//   HRESULT CQuorMediaFileReader::GetFileNames(SAFEARRAY** ppsaFileNames) {
//     return QuorMethodFrame(FrameInfo("CQuorMediaFileReader::GetFileNames"),
//                            [&](DXL_FunctionLogger& log) {
//       if (!ppsaFileNames) Raise(E_POINTER, kNullFileNamesOut);
//       QUOR_RAISE_IF_FAILED(m_storage.GetFileNames(ppsaFileNames), kStorageGetFileNamesFailed);
//       ...
//       QuorLogDebug(log, kReaderGetFileNamesSucceeded, count, firstName);
//       return S_OK;
//     });
//   }
#pragma once

#include <cstdint>
#include <type_traits>
#include <utility>

#include "core/LoggedException.h"
#include "platform/log/QuorLog.h"
#include "quormediafiles/platform/QuorTypes.h"

struct QuorFrameInfo {
  const DXL_ClassLogger& classLogger;
  const char* methodName;        // "CQuorMediaFileReader::OpenFileSet"; borrowed
  const void* objectIdentity;    // the object's address
  int level;                     // kQuorReaderLogLevel or kQuorDefaultLogLevel
  std::uint32_t objectValue;     // the object's 32-bit logger value
  const CLSID* clsid = nullptr;  // the coclass, for error information (may be null)
  const IID* iid = nullptr;      // the interface, for error information (may be null)
  // The error source; null gives the coclass's braced CLSID text (or the method name).
  const char* source = nullptr;
};

// Sets the calling thread's error information: GUID = iid (GUID_NULL when null), source as
// given (or the braced CLSID text, or empty), description (none when null). Never fails.
void QuorSetErrorInfo(const CLSID* clsid, const IID* iid, const char* source,
                      const char* description) noexcept;

namespace quor_frame_detail {
// Log (and for the public frame set error information); return the HRESULT to hand back.
HRESULT OnLoggedException(const QuorFrameInfo& info, DXL_FunctionLogger& logger,
                          const CLoggedException& e, bool setErrorInfo) noexcept;
HRESULT OnUnexpectedException(const QuorFrameInfo& info, DXL_FunctionLogger& logger,
                              bool setErrorInfo) noexcept;

template <typename Body>
HRESULT Run(const QuorFrameInfo& info, Body&& body, bool setErrorInfo) noexcept {
  DXL_FunctionLogger logger(info.classLogger, info.methodName, info.objectIdentity, 0, nullptr,
                            info.level, info.objectValue);
  try {
    if constexpr (std::is_invocable_v<Body, DXL_FunctionLogger&>) {
      return std::forward<Body>(body)(logger);
    } else {
      return std::forward<Body>(body)();
    }
  } catch (const CLoggedException& e) {
    return OnLoggedException(info, logger, e, setErrorInfo);
  } catch (...) {
    return OnUnexpectedException(info, logger, setErrorInfo);
  }
}
}  // namespace quor_frame_detail

// The frame of a public method of the object interfaces.
template <typename Body>
[[nodiscard]] HRESULT QuorMethodFrame(const QuorFrameInfo& info, Body&& body) noexcept {
  return quor_frame_detail::Run(info, std::forward<Body>(body), true);
}

// The frame of an internal method that names itself in the log: logs like QuorMethodFrame but
// leaves the thread's error information alone (clsid, iid and source are ignored).
template <typename Body>
[[nodiscard]] HRESULT QuorInternalMethodFrame(const QuorFrameInfo& info, Body&& body) noexcept {
  return quor_frame_detail::Run(info, std::forward<Body>(body), false);
}

// A catalogued message written to a function logger at release or debug level, its arguments
// checked against the message's placeholders.
template <typename... Params>
void QuorLogRelease(DXL_FunctionLogger& log, const QuorMessage<Params...>& message,
                    std::type_identity_t<Params>... args) noexcept {
  log.LogReleaseMessage(message.Text(), args...);
}
template <typename... Params>
void QuorLogDebug(DXL_FunctionLogger& log, const QuorMessage<Params...>& message,
                  std::type_identity_t<Params>... args) noexcept {
  log.LogDebugMessage(message.Text(), args...);
}
