#include "platform/registry/QuorRegistry.h"

#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "quormediafiles/platform/QuorOleAuto.h"

// An open key: the names on its path below HKEY_CLASSES_ROOT.
struct HKEY__ {
  std::vector<std::string> path;
};

namespace {

using CKey = CQuorRegistryFile::CKey;

HKEY__ g_classesRoot;

// Splits a backslash-separated sub-key path onto base; false for an empty name inside it.
bool AppendPath(const std::vector<std::string>& base, LPCOLESTR lpSubKey,
                std::vector<std::string>* path) {
  *path = base;
  if (!lpSubKey || !*lpSubKey) return true;
  const std::string text = QuorUtf16ToUtf8(lpSubKey);
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find('\\', start);
    const std::string name = text.substr(start, end - start);
    if (name.empty()) return false;
    path->push_back(name);
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

const CKey* Find(const CKey& root, const std::vector<std::string>& path) {
  const CKey* key = &root;
  for (const std::string& name : path) {
    const auto it = key->subkeys.find(name);
    if (it == key->subkeys.end()) return nullptr;
    key = &it->second;
  }
  return key;
}

CKey* Find(CKey& root, const std::vector<std::string>& path) {
  return const_cast<CKey*>(Find(static_cast<const CKey&>(root), path));
}

// The registry code of a failure that escapes as an exception (out of memory).
template <class TBody>
LONG Guarded(TBody body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return static_cast<LONG>(ERROR_NOT_ENOUGH_MEMORY);
  } catch (...) {
    return static_cast<LONG>(ERROR_INVALID_PARAMETER);
  }
}

// Runs read on the user's tree, and on the system-wide tree when the user's lacks what read
// looks for.
LONG ReadUserThenSystem(const std::function<LONG(const CKey& root)>& read) {
  const CQuorRegistryFile user = QuorClassRegistryFile();
  const LONG error = user.Read(read);
  if (error != static_cast<LONG>(ERROR_FILE_NOT_FOUND) &&
      error != static_cast<LONG>(ERROR_KEY_DELETED)) {
    return error;
  }
  const std::string system = CQuorRegistryFile::SystemPath();
  if (system == user.Path()) return error;
  const LONG systemError = CQuorRegistryFile(system).Read(read);
  // A system file that is missing or unreadable hides nothing the user's file said.
  return systemError == ERROR_SUCCESS ? systemError : error;
}

std::string ValueName(LPCOLESTR lpValueName) {
  return lpValueName ? QuorUtf16ToUtf8(lpValueName) : std::string();
}

}  // namespace

HKEY const HKEY_CLASSES_ROOT = &g_classesRoot;

CQuorRegistryFile QuorClassRegistryFile() {
  return CQuorRegistryFile(CQuorRegistryFile::DefaultPath());
}

LONG RegCreateKeyExW(HKEY hKey, LPCOLESTR lpSubKey, DWORD Reserved, LPOLESTR lpClass,
                     DWORD dwOptions, REGSAM samDesired, const void* lpSecurityAttributes,
                     HKEY* phkResult, DWORD* lpdwDisposition) noexcept {
  (void)lpClass;  // key classes, options and security are not kept by this registry
  (void)dwOptions;
  (void)samDesired;
  (void)lpSecurityAttributes;
  if (!hKey || !phkResult || Reserved != 0) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
  *phkResult = nullptr;
  return Guarded([&]() -> LONG {
    auto handle = std::make_unique<HKEY__>();
    if (!AppendPath(hKey->path, lpSubKey, &handle->path)) {
      return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    }
    bool created = false;
    const LONG error = QuorClassRegistryFile().Update([&](CKey& root, bool* pChanged) -> LONG {
      CKey* key = Find(root, hKey->path);
      if (!key) return static_cast<LONG>(ERROR_KEY_DELETED);
      for (std::size_t i = hKey->path.size(); i < handle->path.size(); ++i) {
        auto [it, inserted] = key->subkeys.try_emplace(handle->path[i]);
        created = created || inserted;
        key = &it->second;
      }
      *pChanged = created;
      return ERROR_SUCCESS;
    });
    if (error != ERROR_SUCCESS) return error;
    if (lpdwDisposition) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *phkResult = handle.release();
    return ERROR_SUCCESS;
  });
}

LONG RegOpenKeyExW(HKEY hKey, LPCOLESTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                   HKEY* phkResult) noexcept {
  (void)ulOptions;  // only ordinary keys exist
  (void)samDesired;
  if (!hKey || !phkResult) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
  *phkResult = nullptr;
  return Guarded([&]() -> LONG {
    auto handle = std::make_unique<HKEY__>();
    if (!AppendPath(hKey->path, lpSubKey, &handle->path)) {
      return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    }
    const LONG error = ReadUserThenSystem([&](const CKey& root) -> LONG {
      return Find(root, handle->path) ? ERROR_SUCCESS : static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    });
    if (error != ERROR_SUCCESS) return error;
    *phkResult = handle.release();
    return ERROR_SUCCESS;
  });
}

LONG RegCloseKey(HKEY hKey) noexcept {
  if (!hKey) return static_cast<LONG>(ERROR_INVALID_HANDLE);
  if (hKey != HKEY_CLASSES_ROOT) delete hKey;
  return ERROR_SUCCESS;
}

LONG RegSetValueExW(HKEY hKey, LPCOLESTR lpValueName, DWORD Reserved, DWORD dwType,
                    const BYTE* lpData, DWORD cbData) noexcept {
  if (!hKey || Reserved != 0 || dwType != REG_SZ || (cbData % sizeof(OLECHAR)) != 0 ||
      (!lpData && cbData != 0)) {
    return static_cast<LONG>(ERROR_INVALID_PARAMETER);
  }
  return Guarded([&]() -> LONG {
    std::u16string wide(cbData / sizeof(OLECHAR), u'\0');
    if (cbData != 0) std::memcpy(wide.data(), lpData, cbData);
    while (!wide.empty() && wide.back() == u'\0') wide.pop_back();
    const std::string value = QuorUtf16ToUtf8(wide);
    const std::string name = ValueName(lpValueName);
    return QuorClassRegistryFile().Update([&](CKey& root, bool* pChanged) -> LONG {
      CKey* key = Find(root, hKey->path);
      if (!key) return static_cast<LONG>(ERROR_KEY_DELETED);
      if (key == &root) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
      auto [it, inserted] = key->values.try_emplace(name, value);
      *pChanged = inserted || it->second != value;
      it->second = value;
      return ERROR_SUCCESS;
    });
  });
}

LONG RegQueryValueExW(HKEY hKey, LPCOLESTR lpValueName, DWORD* lpReserved, DWORD* lpType,
                      BYTE* lpData, DWORD* lpcbData) noexcept {
  if (!hKey || lpReserved || (lpData && !lpcbData)) {
    return static_cast<LONG>(ERROR_INVALID_PARAMETER);
  }
  return Guarded([&]() -> LONG {
    const std::string name = ValueName(lpValueName);
    std::u16string value;
    const LONG error = ReadUserThenSystem([&](const CKey& root) -> LONG {
      const CKey* key = Find(root, hKey->path);
      if (!key) return static_cast<LONG>(ERROR_KEY_DELETED);
      const auto it = key->values.find(name);
      if (it == key->values.end()) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
      value = QuorUtf8ToUtf16(it->second);
      return ERROR_SUCCESS;
    });
    if (error != ERROR_SUCCESS) return error;
    if (lpType) *lpType = REG_SZ;
    const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(OLECHAR));
    if (!lpcbData) return ERROR_SUCCESS;
    const DWORD capacity = *lpcbData;
    *lpcbData = bytes;
    if (!lpData) return ERROR_SUCCESS;
    if (capacity < bytes) return static_cast<LONG>(ERROR_MORE_DATA);
    std::memcpy(lpData, value.c_str(), bytes);
    return ERROR_SUCCESS;
  });
}

LONG RegDeleteTreeW(HKEY hKey, LPCOLESTR lpSubKey) noexcept {
  if (!hKey) return static_cast<LONG>(ERROR_INVALID_HANDLE);
  return Guarded([&]() -> LONG {
    std::vector<std::string> path;
    if (!AppendPath(hKey->path, lpSubKey, &path)) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    return QuorClassRegistryFile().Update([&](CKey& root, bool* pChanged) -> LONG {
      if (path.size() == hKey->path.size()) {
        CKey* key = Find(root, path);
        if (!key) return static_cast<LONG>(ERROR_KEY_DELETED);
        *pChanged = !key->subkeys.empty() || !key->values.empty();
        key->subkeys.clear();
        key->values.clear();
        return ERROR_SUCCESS;
      }
      CKey* parent = Find(root, std::vector<std::string>(path.begin(), path.end() - 1));
      if (!parent || parent->subkeys.erase(path.back()) == 0) {
        return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
      }
      *pChanged = true;
      return ERROR_SUCCESS;
    });
  });
}
