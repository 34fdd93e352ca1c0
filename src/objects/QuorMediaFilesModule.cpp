#include "objects/QuorMediaFilesModule.h"

#include <dlfcn.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <new>

#include "objects/QuorTypeLibrary.h"
#include "platform/automation/QuorTypeLibRegistration.h"
#include "platform/com/QuorClassRegistry.h"
#include "platform/registry/QuorRegistry.h"
#include "quormediafiles/platform/QuorGuid.h"

namespace {

// An address inside this module, for dladdr.
const char kModuleAnchor = 0;

std::u16string GuidText(REFGUID guid) { return QuorUtf8ToUtf16(QuorGuidToString(guid)); }

HRESULT FromRegistry(LONG error) { return HRESULT_FROM_WIN32(static_cast<DWORD>(error)); }

// Creates path (with its parents) and sets the named value (null: the default value).
[[nodiscard]] HRESULT SetValue(const std::u16string& path, const char16_t* name,
                               const std::u16string& value) {
  HKEY key = nullptr;
  LONG error = RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                               KEY_WRITE, nullptr, &key, nullptr);
  if (error != ERROR_SUCCESS) return FromRegistry(error);
  error = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                         static_cast<DWORD>((value.size() + 1) * sizeof(OLECHAR)));
  (void)RegCloseKey(key);  // closing forgets the path only; the value is already stored
  return FromRegistry(error);
}

[[nodiscard]] HRESULT CreateKey(const std::u16string& path) {
  HKEY key = nullptr;
  const LONG error = RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr,
                                     REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr);
  if (error == ERROR_SUCCESS) (void)RegCloseKey(key);  // the key exists now; the handle is spare
  return FromRegistry(error);
}

// Deletes path with everything below it; a missing key is already what unregistration wants.
[[nodiscard]] HRESULT DeleteKey(const std::u16string& path) {
  const LONG error = RegDeleteTreeW(HKEY_CLASSES_ROOT, path.c_str());
  return error == static_cast<LONG>(ERROR_FILE_NOT_FOUND) ? S_OK : FromRegistry(error);
}

std::u16string ProgId(const CQuorCoclassDesc& coclass) {
  return std::u16string(CQuorMediaFilesModule::kProgIdPrefix) + u"." + coclass.name;
}

}  // namespace

CQuorMediaFilesModule& CQuorMediaFilesModule::Instance() noexcept {
  static CQuorMediaFilesModule module;
  return module;
}

CQuorMediaFilesModule::CQuorMediaFilesModule() noexcept
    : m_typeLibrary(QuorMediaFilesTypeLibrary()),
      m_libId(LIBID_QuorMediaFilesLib),
      m_appId(APPID_QuorMediaFiles),
      m_coclasses(m_typeLibrary.coclasses) {}

LONG CQuorMediaFilesModule::Lock() noexcept {
  CQuorClassRegistry::LockModule();
  return CQuorClassRegistry::LockCount();
}

LONG CQuorMediaFilesModule::Unlock() noexcept {
  CQuorClassRegistry::UnlockModule();
  return CQuorClassRegistry::LockCount();
}

LONG CQuorMediaFilesModule::GetLockCount() const noexcept {
  return CQuorClassRegistry::LockCount();
}

HRESULT CQuorMediaFilesModule::GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) noexcept {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  for (const CQuorCoclassDesc& coclass : m_coclasses) {
    if (*coclass.clsid == rclsid) {
      return CQuorClassRegistry::Instance().GetClassObject(rclsid, riid, ppv);
    }
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CQuorMediaFilesModule::RegistrationPath(const std::string& loadedName,
                                                const std::string& soname, std::u16string* path) {
  namespace fs = std::filesystem;
  try {
    // The loader reports the name it was given, which may be relative to a directory the
    // process has left by the time it registers; the directory is resolved, the file name is
    // not (resolving it would name one release of the library for good).
    const fs::path loaded(loadedName);
    std::error_code error;
    fs::path directory = fs::canonical(fs::absolute(loaded).parent_path(), error);
    if (error) directory = fs::absolute(loaded).parent_path();
    fs::path file = directory / loaded.filename();
    if (!soname.empty() && fs::exists(directory / soname, error)) file = directory / soname;
    const std::string text = file.string();
    std::u16string wide = QuorUtf8ToUtf16(text);
    // Ill-formed UTF-8 comes back as replacement characters, which name another file.
    if (QuorUtf16ToUtf8(wide) != text) return HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
    *path = std::move(wide);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

void CQuorMediaFilesModule::ProcessAttach() noexcept {
  Dl_info info{};
  if (::dladdr(&kModuleAnchor, &info) == 0 || !info.dli_fname) return;
  std::u16string path;
  m_modulePathError = RegistrationPath(info.dli_fname, QUOR_MODULE_SONAME, &path);
  if (SUCCEEDED(m_modulePathError)) m_modulePath = std::move(path);
}

HRESULT CQuorMediaFilesModule::RegisterAppId() const {
  const std::u16string appId = GuidText(m_appId);
  HRESULT hr = SetValue(u"AppID\\" + appId, nullptr, kAppIdName);
  if (SUCCEEDED(hr)) {
    hr = SetValue(std::u16string(u"AppID\\") + kAppIdModuleKey, u"AppID", appId);
  }
  return hr;
}

HRESULT CQuorMediaFilesModule::RegisterCoclass(const CQuorCoclassDesc& coclass) const {
  const std::u16string clsid = GuidText(*coclass.clsid);
  const std::u16string description = coclass.helpString;
  const std::u16string independent = ProgId(coclass);
  const std::u16string versioned = independent + u".1";
  const std::u16string key = u"CLSID\\" + clsid;

  struct CEntry {
    std::u16string path;
    const char16_t* name;  // null: the default value
    std::u16string value;
  };
  const CEntry entries[] = {
      {versioned, nullptr, description},
      {versioned + u"\\CLSID", nullptr, clsid},
      {independent, nullptr, description},
      {independent + u"\\CLSID", nullptr, clsid},
      {independent + u"\\CurVer", nullptr, versioned},
      {key, nullptr, description},
      {key, u"AppID", GuidText(m_appId)},
      {key + u"\\ProgID", nullptr, versioned},
      {key + u"\\VersionIndependentProgID", nullptr, independent},
      {key + u"\\InprocServer32", nullptr, m_modulePath},
      {key + u"\\InprocServer32", u"ThreadingModel", kThreadingModel},
      {key + u"\\TypeLib", nullptr, GuidText(m_libId)},
  };
  for (const CEntry& entry : entries) {
    const HRESULT hr = SetValue(entry.path, entry.name, entry.value);
    if (FAILED(hr)) return hr;
  }
  return CreateKey(key + u"\\Programmable");
}

HRESULT CQuorMediaFilesModule::UnregisterAppId() const {
  HRESULT hr = DeleteKey(u"AppID\\" + GuidText(m_appId));
  if (SUCCEEDED(hr)) hr = DeleteKey(std::u16string(u"AppID\\") + kAppIdModuleKey);
  return hr;
}

HRESULT CQuorMediaFilesModule::UnregisterCoclass(const CQuorCoclassDesc& coclass) const {
  const std::u16string independent = ProgId(coclass);
  HRESULT hr = DeleteKey(independent + u".1");
  if (SUCCEEDED(hr)) hr = DeleteKey(independent);
  if (SUCCEEDED(hr)) hr = DeleteKey(u"CLSID\\" + GuidText(*coclass.clsid));
  return hr;
}

HRESULT CQuorMediaFilesModule::RegisterServer() noexcept {
  if (m_modulePath.empty()) return m_modulePathError;
  try {
    HRESULT hr = RegisterAppId();
    for (const CQuorCoclassDesc& coclass : m_coclasses) {
      if (SUCCEEDED(hr)) hr = RegisterCoclass(coclass);
    }
    if (FAILED(hr)) return hr;
    // The help directory is the module's own folder.
    const std::size_t slash = m_modulePath.find_last_of(u'/');
    const std::u16string helpDir =
        slash == std::u16string::npos ? std::u16string() : m_modulePath.substr(0, slash);
    return RegisterTypeLib(m_typeLibrary, m_modulePath.c_str(), helpDir.c_str());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CQuorMediaFilesModule::UnregisterServer() noexcept {
  try {
    HRESULT hr = UnRegisterTypeLib(m_libId, m_typeLibrary.majorVersion, m_typeLibrary.minorVersion,
                                   m_typeLibrary.lcid, SYS_WIN32);
    if (hr == TYPE_E_REGISTRYACCESS) hr = S_OK;  // not registered: nothing to undo
    for (const CQuorCoclassDesc& coclass : m_coclasses) {
      if (SUCCEEDED(hr)) hr = UnregisterCoclass(coclass);
    }
    if (SUCCEEDED(hr)) hr = UnregisterAppId();
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}
