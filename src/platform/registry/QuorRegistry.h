// The class registry functions with the Win32 names: keys under HKEY_CLASSES_ROOT holding
// string values, stored in the registry file of CQuorRegistryFile (which says where it lives and
// how to point it elsewhere). Only HKEY_CLASSES_ROOT exists, and only REG_SZ values.
//
// Sub-key paths separate key names with backslashes; a null or empty path names the key itself;
// a null or empty value name names its default value. Names match without regard to ASCII
// case. Every function returns a Win32 code: ERROR_SUCCESS, ERROR_FILE_NOT_FOUND for a missing
// key or value, ERROR_INVALID_PARAMETER, ERROR_MORE_DATA, ERROR_KEY_DELETED for a handle whose
// key was deleted since, ERROR_BADDB for a registry file that does not parse, or the code of
// the file operation that failed.
//
// An open key (HKEY) remembers its path only; it is closed with RegCloseKey. Any thread.
#pragma once

#include "platform/registry/QuorRegistryFile.h"
#include "quormediafiles/platform/QuorTypes.h"

struct HKEY__;
using HKEY = HKEY__*;
using REGSAM = DWORD;

extern HKEY const HKEY_CLASSES_ROOT;

inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;
// Access rights are accepted and not enforced: the file's own permissions apply.
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

// Creates the key lpSubKey below hKey with every missing key on its path, or opens it.
// lpClass, dwOptions, samDesired and lpSecurityAttributes are accepted and ignored.
LONG RegCreateKeyExW(HKEY hKey, LPCOLESTR lpSubKey, DWORD Reserved, LPOLESTR lpClass,
                     DWORD dwOptions, REGSAM samDesired, const void* lpSecurityAttributes,
                     HKEY* phkResult, DWORD* lpdwDisposition) noexcept;
// Opens an existing key.
LONG RegOpenKeyExW(HKEY hKey, LPCOLESTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                   HKEY* phkResult) noexcept;
// Closing HKEY_CLASSES_ROOT does nothing.
LONG RegCloseKey(HKEY hKey) noexcept;
// Sets a REG_SZ value: cbData bytes of UTF-16 at lpData, normally ending in a NUL (a missing
// NUL is added, as the system does).
LONG RegSetValueExW(HKEY hKey, LPCOLESTR lpValueName, DWORD Reserved, DWORD dwType,
                    const BYTE* lpData, DWORD cbData) noexcept;
// Reads a value as UTF-16 with its NUL. *lpcbData is the buffer size on entry and the value's
// size in bytes on return; with a null lpData only the size is reported; a buffer too small
// gives ERROR_MORE_DATA.
LONG RegQueryValueExW(HKEY hKey, LPCOLESTR lpValueName, DWORD* lpReserved, DWORD* lpType,
                      BYTE* lpData, DWORD* lpcbData) noexcept;
// Deletes lpSubKey with all its sub-keys and values (ERROR_FILE_NOT_FOUND when it is absent).
// With a null lpSubKey, deletes the sub-keys and values of hKey and keeps hKey.
LONG RegDeleteTreeW(HKEY hKey, LPCOLESTR lpSubKey) noexcept;

// The file behind these functions for this process (CQuorRegistryFile::DefaultPath).
CQuorRegistryFile QuorClassRegistryFile();
