// GUID services: random creation and the braced 38-character text form
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", with the Windows names, plus std::string helpers.
// Every function may be called from any thread.
#pragma once

#include <string>
#include <string_view>

#include "quormediafiles/platform/QuorTypes.h"

// Characters of the braced form, without and with its NUL.
inline constexpr int kGuidStringLength = 38;
inline constexpr int kGuidStringBufferSize = kGuidStringLength + 1;

// A random (version 4, RFC 4122 variant) GUID. E_POINTER for a null pointer, E_FAIL when the
// random source fails.
HRESULT CoCreateGuid(GUID* pguid) noexcept;

// Writes the upper-case braced form and a NUL; returns the number of characters written with
// the NUL (39), or 0 when cchMax is too small or lpsz is null.
int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) noexcept;

// Parse the braced form (hex digits in either case). A null string gives GUID_NULL.
// Bad text: IIDFromString E_INVALIDARG, CLSIDFromString CO_E_CLASSSTRING; a null out-pointer:
// E_INVALIDARG.
HRESULT IIDFromString(LPCOLESTR lpsz, IID* lpiid) noexcept;
HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid) noexcept;

// The braced upper-case form as UTF-8.
std::string QuorGuidToString(REFGUID guid);
// Parses the braced form; E_INVALIDARG on bad text or a null pointer.
[[nodiscard]] HRESULT QuorGuidFromString(std::string_view text, GUID* guid) noexcept;
