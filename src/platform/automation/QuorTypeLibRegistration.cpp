#include "platform/automation/QuorTypeLibRegistration.h"

#include <cstdio>
#include <string>

#include "platform/registry/QuorRegistry.h"
#include "quormediafiles/platform/QuorGuid.h"

namespace {

// The platform name under the language key: the system writes win32 or win64.
constexpr char16_t kPlatformKey[] = u"linux";

std::u16string Hex(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", value);
  return QuorUtf8ToUtf16(text);
}

std::u16string LibraryKey(REFGUID libid) {
  return u"TypeLib\\" + QuorUtf8ToUtf16(QuorGuidToString(libid));
}

std::u16string VersionName(WORD major, WORD minor) { return Hex(major) + u"." + Hex(minor); }

// Creates the key and sets its default value.
LONG SetDefault(const std::u16string& path, const std::u16string& value) {
  HKEY key = nullptr;
  LONG error = RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                               KEY_WRITE, nullptr, &key, nullptr);
  if (error != ERROR_SUCCESS) return error;
  error = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                         static_cast<DWORD>((value.size() + 1) * sizeof(OLECHAR)));
  (void)RegCloseKey(key);  // closing forgets the path only; the value is already in the file
  return error;
}

}  // namespace

HRESULT RegisterTypeLib(const CQuorTypeLibraryDesc& ptlib, LPCOLESTR szFullPath,
                        LPCOLESTR szHelpDir) noexcept {
  if (!ptlib.libid || !szFullPath) return E_INVALIDARG;
  try {
    const std::u16string version =
        LibraryKey(*ptlib.libid) + u"\\" + VersionName(ptlib.majorVersion, ptlib.minorVersion);
    const std::u16string helpDir = szHelpDir ? szHelpDir : u"";
    const std::pair<std::u16string, std::u16string> entries[] = {
        {version, ptlib.helpString ? ptlib.helpString : u""},
        {version + u"\\" + Hex(ptlib.lcid) + u"\\" + kPlatformKey, szFullPath},
        {version + u"\\FLAGS", u"0"},
        {version + u"\\HELPDIR", helpDir},
    };
    for (const auto& [path, value] : entries) {
      const LONG error = SetDefault(path, value);
      if (error != ERROR_SUCCESS) return HRESULT_FROM_WIN32(static_cast<DWORD>(error));
    }
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                          SYSKIND syskind) noexcept {
  (void)lcid;  // one language-neutral registration per version
  (void)syskind;
  try {
    const std::u16string library = LibraryKey(libID);
    HKEY key = nullptr;
    LONG error = RegOpenKeyExW(HKEY_CLASSES_ROOT, library.c_str(), 0, KEY_ALL_ACCESS, &key);
    if (error == static_cast<LONG>(ERROR_FILE_NOT_FOUND)) return TYPE_E_REGISTRYACCESS;
    if (error != ERROR_SUCCESS) return HRESULT_FROM_WIN32(static_cast<DWORD>(error));
    error = RegDeleteTreeW(key, VersionName(wVerMajor, wVerMinor).c_str());
    (void)RegCloseKey(key);  // only the path is forgotten
    if (error == static_cast<LONG>(ERROR_FILE_NOT_FOUND)) return TYPE_E_REGISTRYACCESS;
    if (error != ERROR_SUCCESS) return HRESULT_FROM_WIN32(static_cast<DWORD>(error));

    // The library identifier's key goes when its last version went.
    const CQuorRegistryFile file = QuorClassRegistryFile();
    bool empty = false;
    error = file.Read([&](const CQuorRegistryFile::CKey& root) -> LONG {
      const auto typeLib = root.subkeys.find("TypeLib");
      if (typeLib == root.subkeys.end()) return ERROR_SUCCESS;
      const auto it = typeLib->second.subkeys.find(QuorGuidToString(libID));
      empty = it != typeLib->second.subkeys.end() && it->second.subkeys.empty() &&
              it->second.values.empty();
      return ERROR_SUCCESS;
    });
    if (error == ERROR_SUCCESS && empty) error = RegDeleteTreeW(HKEY_CLASSES_ROOT, library.c_str());
    if (error != ERROR_SUCCESS) return HRESULT_FROM_WIN32(static_cast<DWORD>(error));
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT QueryPathOfRegTypeLib(REFGUID guid, USHORT wMaj, USHORT wMin, LCID lcid,
                              BSTR* lpbstrPathName) noexcept {
  if (!lpbstrPathName) return E_INVALIDARG;
  *lpbstrPathName = nullptr;
  try {
    const std::u16string path = LibraryKey(guid) + u"\\" + VersionName(wMaj, wMin) + u"\\" +
                                Hex(lcid) + u"\\" + kPlatformKey;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
      return TYPE_E_LIBNOTREGISTERED;
    }
    char16_t buffer[4096];
    DWORD bytes = sizeof buffer;
    const LONG error =
        RegQueryValueExW(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &bytes);
    (void)RegCloseKey(key);  // a read-only handle
    if (error != ERROR_SUCCESS) return TYPE_E_LIBNOTREGISTERED;
    *lpbstrPathName = SysAllocString(buffer);
    return *lpbstrPathName ? S_OK : E_OUTOFMEMORY;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}
