// The system clock as a file time: 100-ns units since 1601-01-01 UTC, the unit of the fileset's
// creation times and of the timers' absolute due times.
#pragma once

#include <chrono>

#include "quormediafiles/platform/QuorTypes.h"

// 100-ns intervals between 1601-01-01 and 1970-01-01.
inline constexpr LONGLONG kFileTimeUnixEpoch = 116444736000000000LL;
using QuorFileTimeUnits = std::chrono::duration<LONGLONG, std::ratio<1, 10000000>>;

// The system time as a file time.
[[nodiscard]] HRESULT CoFileTimeNow(LONGLONG* fileTime) noexcept;
