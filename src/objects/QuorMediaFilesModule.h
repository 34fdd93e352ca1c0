// CQuorMediaFilesModule: the library as a component server, one per process. It holds the
// module's lock count, the type library and application identifiers, the table of the six
// creatable coclasses with their registration scripts, and the library's own path.
//
// The coclass table is the type library's coclass list; their class objects are the cached
// class factories of the class table (CQuorClassRegistry), which the reader, the writer and the
// value objects register into at static construction. The class table and the lock count are the
// module's own (the platform runtime is shared with the client): every live object, every
// reference to a class object and every LockServer lock holds it up. The recording status object
// has no class identifier and so no class object.
//
// Constructed on first use, at the latest when the library is loaded; the class table's cached
// class objects are released when the library is unloaded. Thread-safe.
#pragma once

#include <span>
#include <string>

#include "platform/automation/QuorTypeDescription.h"
#include "quormediafiles/QuorMediaFiles.h"

// A path with bytes that are not UTF-8 (Win32's code for text that cannot be translated).
inline constexpr DWORD ERROR_NO_UNICODE_TRANSLATION = 1113;

class CQuorMediaFilesModule {
 public:
  // The application identifier's registration name and the key of the library's file name.
  static constexpr char16_t kAppIdName[] = u"QuorMediaFiles";
  static constexpr char16_t kAppIdModuleKey[] = u"QuorMediaFiles.DLL";
  // Program identifiers are this prefix, a dot and the coclass name; version 1 adds ".1".
  static constexpr char16_t kProgIdPrefix[] = u"QuorMediaFiles";
  static constexpr char16_t kThreadingModel[] = u"Apartment";

  static CQuorMediaFilesModule& Instance() noexcept;

  CQuorMediaFilesModule(const CQuorMediaFilesModule&) = delete;
  CQuorMediaFilesModule& operator=(const CQuorMediaFilesModule&) = delete;

  const GUID& LibId() const noexcept { return m_libId; }
  const GUID& AppId() const noexcept { return m_appId; }
  std::span<const CQuorCoclassDesc> Coclasses() const noexcept { return m_coclasses; }

  LONG Lock() noexcept;
  LONG Unlock() noexcept;
  LONG GetLockCount() const noexcept;

  // The class object of one of the six coclasses; CLASS_E_CLASSNOTAVAILABLE for any other
  // identifier and for a coclass whose code is not in this module.
  [[nodiscard]] HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) noexcept;

  // Records the library's path on load; the registration scripts name it as the server.
  void ProcessAttach() noexcept;
  // The path that registration records for a module the loader knows as loadedName: its
  // directory made absolute with symbolic links resolved, and in it soname (the versioned name
  // the loader looks for) when that file is there, else the file name as loaded; so that an
  // upgrade that replaces the file behind the versioned name keeps the registration working.
  // A path that is not valid UTF-8 cannot be recorded:
  // HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION).
  [[nodiscard]] static HRESULT RegistrationPath(const std::string& loadedName,
                                                const std::string& soname, std::u16string* path);
  // The registered path of the module this code was loaded from, UTF-16 (see above).
  const std::u16string& ModulePath() const noexcept { return m_modulePath; }

  // The application identifier script, the six coclass scripts and the type library. The first
  // failure is returned as it came from the registry or the type library registration.
  [[nodiscard]] HRESULT RegisterServer() noexcept;
  // Removes what RegisterServer wrote and nothing else; entries already missing are no error.
  [[nodiscard]] HRESULT UnregisterServer() noexcept;

 private:
  CQuorMediaFilesModule() noexcept;

  [[nodiscard]] HRESULT RegisterAppId() const;
  [[nodiscard]] HRESULT RegisterCoclass(const CQuorCoclassDesc& coclass) const;
  [[nodiscard]] HRESULT UnregisterAppId() const;
  [[nodiscard]] HRESULT UnregisterCoclass(const CQuorCoclassDesc& coclass) const;

  const CQuorTypeLibraryDesc& m_typeLibrary;
  const GUID m_libId;
  const GUID m_appId;
  const std::span<const CQuorCoclassDesc> m_coclasses;
  std::u16string m_modulePath;
  HRESULT m_modulePathError = E_UNEXPECTED;  // why m_modulePath is empty
};
