// Type library registration with the OLE Automation names. A type library here is its constant
// description (CQuorTypeLibraryDesc) compiled into the library that serves it, so registration
// records where that library is under the class registry's TypeLib key:
//
//   TypeLib\{libid}\<major>.<minor>           default value: the help string
//   TypeLib\{libid}\<major>.<minor>\<lcid>\linux   default value: the library's path
//   TypeLib\{libid}\<major>.<minor>\FLAGS     "0"
//   TypeLib\{libid}\<major>.<minor>\HELPDIR   the help directory
//
// with the version and language identifier in hexadecimal, as the system writes them. The
// interfaces' own keys belong to their proxy code and are not written here.
//
// Failures are the registry's Win32 codes as HRESULTs (HRESULT_FROM_WIN32). Any thread.
#pragma once

#include "platform/automation/QuorTypeDescription.h"
#include "quormediafiles/platform/QuorOleAuto.h"

enum SYSKIND : std::int32_t {
  SYS_WIN16 = 0,
  SYS_WIN32 = 1,
  SYS_MAC = 2,
  SYS_WIN64 = 3,
};

// Records ptlib as served by the library at szFullPath (UTF-16, as the registry stores it).
HRESULT RegisterTypeLib(const CQuorTypeLibraryDesc& ptlib, LPCOLESTR szFullPath,
                        LPCOLESTR szHelpDir) noexcept;
// Removes the version's key, and the library identifier's key when no other version remains.
// A type library that is not registered gives TYPE_E_REGISTRYACCESS.
HRESULT UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                          SYSKIND syskind) noexcept;
// The registered path of a type library (a new BSTR); TYPE_E_LIBNOTREGISTERED when absent.
HRESULT QueryPathOfRegTypeLib(REFGUID guid, USHORT wMaj, USHORT wMin, LCID lcid,
                              BSTR* lpbstrPathName) noexcept;

inline constexpr HRESULT TYPE_E_REGISTRYACCESS = static_cast<HRESULT>(0x8002801Cu);
inline constexpr HRESULT TYPE_E_LIBNOTREGISTERED = static_cast<HRESULT>(0x8002801Du);
