// The calling thread's last error code, Win32 style, and the one translation of errno values
// into Win32 error codes that the file layer reports through it.
#pragma once

#include <cerrno>

#include "quormediafiles/platform/QuorTypes.h"

// Per-thread, as the Win32 functions of the same names.
DWORD GetLastError() noexcept;
void SetLastError(DWORD code) noexcept;

// ENOSPC -> ERROR_DISK_FULL, EWOULDBLOCK (a refused flock) -> ERROR_SHARING_VIOLATION, and so on;
// an errno without a closer match gives ERROR_IO_DEVICE.
DWORD Win32ErrorFromErrno(int error) noexcept;

// Sets the last error from an errno value and returns false, so that a failing call can end
// with `return FailWithErrno(errno);`.
bool FailWithErrno(int error) noexcept;
bool FailWithWin32(DWORD code) noexcept;

// The HRESULT of the last error: 0 stays S_OK, anything else lands in the Win32 facility.
inline HRESULT HResultFromLastError() noexcept { return HRESULT_FROM_WIN32(GetLastError()); }

// Repeats a POSIX call for as long as a signal interrupts it.
template <typename Call>
auto RetryOnEintr(Call call) noexcept(noexcept(call())) {
  for (;;) {
    auto result = call();
    if (!(result == -1 && errno == EINTR)) return result;
  }
}
