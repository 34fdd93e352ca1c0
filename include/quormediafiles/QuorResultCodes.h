// The library's own result codes: failures in the interface facility from code 0xF001 upward,
// and one success code that Write returns once after a rollover to the next member file.
#pragma once

#include "quormediafiles/platform/QuorTypes.h"

inline constexpr HRESULT MFS_E_NOT_SET = static_cast<HRESULT>(0x8004F001u);
inline constexpr HRESULT MFS_E_WRONG_STATE = static_cast<HRESULT>(0x8004F002u);
inline constexpr HRESULT MFS_S_NEXT_FILE = static_cast<HRESULT>(0x0004F003u);
inline constexpr HRESULT MFS_E_NO_VALUE = static_cast<HRESULT>(0x8004F007u);
inline constexpr HRESULT MFS_E_BAD_PASSWORD = static_cast<HRESULT>(0x8004F008u);
inline constexpr HRESULT MFS_E_BAD_FORMAT = static_cast<HRESULT>(0x8004F009u);
inline constexpr HRESULT MFS_E_FILE_FULL = static_cast<HRESULT>(0x8004F00Au);
inline constexpr HRESULT MFS_E_AUTH_CANCELLED = static_cast<HRESULT>(0x8004F00Du);

static_assert(MFS_E_FILE_FULL == MAKE_HRESULT(1, FACILITY_ITF, 0xF00A));
static_assert(MFS_S_NEXT_FILE == MAKE_HRESULT(0, FACILITY_ITF, 0xF003));
