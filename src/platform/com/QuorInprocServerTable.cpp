#include "platform/com/QuorInprocServerTable.h"

#include <dlfcn.h>

#include <new>

#include "platform/registry/QuorRegistry.h"
#include "quormediafiles/platform/QuorGuid.h"

namespace {

// The default value of a key as UTF-16; false when the key or value is missing.
bool ReadDefault(const std::u16string& path, std::u16string* value) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  DWORD bytes = 0;
  LONG error = RegQueryValueExW(key, nullptr, nullptr, nullptr, nullptr, &bytes);
  if (error == ERROR_SUCCESS && bytes >= sizeof(OLECHAR)) {
    value->assign(bytes / sizeof(OLECHAR), u'\0');
    error = RegQueryValueExW(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value->data()),
                             &bytes);
    value->resize(bytes / sizeof(OLECHAR) - 1);
  }
  (void)RegCloseKey(key);  // a read-only handle
  return error == ERROR_SUCCESS;
}

}  // namespace

CQuorInprocServerTable& CQuorInprocServerTable::Instance() noexcept {
  static CQuorInprocServerTable table;
  return table;
}

HRESULT CQuorInprocServerTable::Load(const std::string& path, CServer** ppServer) noexcept {
  for (CServer& server : m_servers) {
    if (server.path == path) {
      *ppServer = &server;
      return S_OK;
    }
  }
  const std::uint64_t id = m_nextId++;
  void* handle = nullptr;
  {
    // The library's static construction publishes its class table as this server's.
    CQuorServerLoadScope loading(id);
    handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  if (!handle) return CO_E_DLLNOTFOUND;
  auto getClassObject = reinterpret_cast<LPFNGETCLASSOBJECT>(::dlsym(handle, "DllGetClassObject"));
  auto canUnloadNow = reinterpret_cast<LPFNCANUNLOADNOW>(::dlsym(handle, "DllCanUnloadNow"));
  if (!getClassObject || !canUnloadNow) {
    ::dlclose(handle);
    return CO_E_ERRORINDLL;
  }
  try {
    m_servers.push_back(CServer{id, path, handle, getClassObject, canUnloadNow});
  } catch (const std::bad_alloc&) {
    ::dlclose(handle);
    return E_OUTOFMEMORY;
  }
  *ppServer = &m_servers.back();
  return S_OK;
}

HRESULT CQuorInprocServerTable::GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) noexcept {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  try {
    std::u16string path;
    const std::u16string key =
        u"CLSID\\" + QuorUtf8ToUtf16(QuorGuidToString(rclsid)) + u"\\InprocServer32";
    if (!ReadDefault(key, &path) || path.empty()) return CLASS_E_CLASSNOTAVAILABLE;
    std::scoped_lock lock(m_mutex);
    CServer* server = nullptr;
    const HRESULT hr = Load(QuorUtf16ToUtf8(path), &server);
    if (FAILED(hr)) return hr;
    return server->getClassObject(rclsid, riid, ppv);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

void CQuorInprocServerTable::FreeUnusedLibraries() noexcept {
  std::scoped_lock lock(m_mutex);
  for (auto it = m_servers.begin(); it != m_servers.end();) {
    if (QuorWithdrawServerClassTables(it->id, it->canUnloadNow)) {
      // (void): a library that fails to unload stays mapped; nothing here can use it again.
      (void)::dlclose(it->handle);
      it = m_servers.erase(it);
    } else {
      ++it;
    }
  }
}

bool CQuorInprocServerTable::IsLoaded(const std::string& path) noexcept {
  std::scoped_lock lock(m_mutex);
  for (const CServer& server : m_servers) {
    if (server.path == path) return true;
  }
  return false;
}

HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, CLSID* lpclsid) noexcept {
  if (!lpszProgID || !lpclsid) return E_INVALIDARG;
  *lpclsid = GUID_NULL;
  try {
    std::u16string progId = lpszProgID;
    std::u16string text;
    if (!ReadDefault(progId + u"\\CLSID", &text)) {
      // A version-independent identifier without a class of its own names its current version.
      std::u16string current;
      if (!ReadDefault(progId + u"\\CurVer", &current) ||
          !ReadDefault(current + u"\\CLSID", &text)) {
        return CO_E_CLASSSTRING;
      }
    }
    return FAILED(CLSIDFromString(text.c_str(), lpclsid)) ? CO_E_CLASSSTRING : S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

void CoFreeUnusedLibraries() noexcept { CQuorInprocServerTable::Instance().FreeUnusedLibraries(); }
