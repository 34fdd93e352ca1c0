// CQuorInprocServerTable: the in-process servers that this process loaded because the class
// registry named them: creation by class identifier of classes that are not linked into the
// program, creation by program identifier, and the unloading of servers nobody uses.
//
// CoGetClassObject asks the published class tables first (CQuorClassRegistry) and this table
// second: it reads CLSID\{clsid}\InprocServer32 from the class registry, loads that library
// once with dlopen, and asks its DllGetClassObject. CoFreeUnusedLibraries asks each loaded
// server's DllCanUnloadNow and unloads those that answer S_OK, after withdrawing the class
// tables that the server published while it was loading.
//
// Thread-safe; one table per process (the runtime is one shared library).
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "quormediafiles/platform/QuorDispatch.h"

// The entry points of an in-process server, found by name in the loaded library.
using LPFNGETCLASSOBJECT = HRESULT (*)(REFCLSID rclsid, REFIID riid, void** ppv);
using LPFNCANUNLOADNOW = HRESULT (*)();

// Completes the codes of dynamic creation.
inline constexpr HRESULT CO_E_ERRORINDLL = static_cast<HRESULT>(0x800401F9u);

class CQuorInprocServerTable {
 public:
  static CQuorInprocServerTable& Instance() noexcept;

  // The class object of rclsid from its registered server. CLASS_E_CLASSNOTAVAILABLE when the
  // registry names no server for it, CO_E_DLLNOTFOUND when the library does not load,
  // CO_E_ERRORINDLL when it lacks the entry points, or the server's own answer.
  [[nodiscard]] HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) noexcept;
  // Unloads every server whose DllCanUnloadNow answers S_OK.
  void FreeUnusedLibraries() noexcept;
  // Whether a server of that path is loaded through this table.
  bool IsLoaded(const std::string& path) noexcept;

 private:
  struct CServer {
    std::uint64_t id;  // the owner of the class tables it published
    std::string path;
    void* handle;
    LPFNGETCLASSOBJECT getClassObject;
    LPFNCANUNLOADNOW canUnloadNow;
  };

  CQuorInprocServerTable() = default;
  // The loaded server of path, loading it if needed; m_mutex is held.
  [[nodiscard]] HRESULT Load(const std::string& path, CServer** ppServer) noexcept;

  std::mutex m_mutex;
  std::vector<CServer> m_servers;  // loaded servers are never unloaded at process exit
  std::uint64_t m_nextId = 1;
};

// Marks the class tables that this thread publishes while it lives as the given server's.
class CQuorServerLoadScope {
 public:
  explicit CQuorServerLoadScope(std::uint64_t server) noexcept;
  ~CQuorServerLoadScope();
  CQuorServerLoadScope(const CQuorServerLoadScope&) = delete;
  CQuorServerLoadScope& operator=(const CQuorServerLoadScope&) = delete;

 private:
  std::uint64_t m_previous;
};

// Asks canUnloadNow while no class object can be handed out from a published table and, when it
// answers S_OK, withdraws the tables that server published. True when the server may be unloaded.
[[nodiscard]] bool QuorWithdrawServerClassTables(std::uint64_t server,
                                                 LPFNCANUNLOADNOW canUnloadNow) noexcept;

// The class identifier that the class registry holds for a program identifier (its CLSID key,
// or the CLSID key of its current version named by CurVer). CO_E_CLASSSTRING when the program
// identifier is not registered, E_INVALIDARG for null pointers.
HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, CLSID* lpclsid) noexcept;
// Unloads the loaded servers that can unload now.
void CoFreeUnusedLibraries() noexcept;
