// The runtime's list of published class tables, and creation by class identifier.
#include "platform/com/QuorClassRegistry.h"

#include <algorithm>
#include <shared_mutex>

#include "platform/com/QuorInprocServerTable.h"

namespace {

struct CPublishedTable {
  QuorClassTableFn lookup;
  std::uint64_t server;  // the in-process server that published it; 0: linked into the program
};

// The server this thread is loading (CQuorServerLoadScope), 0 when none.
thread_local std::uint64_t t_loadingServer = 0;

class CPublishedTables {
 public:
  static CPublishedTables& Instance() noexcept {
    // Constructed at the first publication, so destroyed after every table that published.
    static CPublishedTables tables;
    return tables;
  }

  void Publish(QuorClassTableFn lookup) noexcept {
    std::unique_lock lock(m_mutex);
    try {
      m_tables.push_back(CPublishedTable{lookup, t_loadingServer});
    } catch (const std::bad_alloc&) {
      // (void): at static construction there is nobody to report to; the table's classes are
      // then reached only through its module's entry points.
      (void)lookup;
    }
  }

  void Withdraw(QuorClassTableFn lookup) noexcept {
    std::unique_lock lock(m_mutex);
    std::erase_if(m_tables, [lookup](const CPublishedTable& t) { return t.lookup == lookup; });
  }

  bool WithdrawServer(std::uint64_t server, LPFNCANUNLOADNOW canUnloadNow) noexcept {
    // Exclusive: no lookup can hand out one of the server's class objects between its answer
    // and the withdrawal.
    std::unique_lock lock(m_mutex);
    if (canUnloadNow() != S_OK) return false;
    std::erase_if(m_tables, [server](const CPublishedTable& t) { return t.server == server; });
    return true;
  }

  HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) noexcept {
    std::shared_lock lock(m_mutex);
    for (const CPublishedTable& table : m_tables) {
      const HRESULT hr = table.lookup(rclsid, riid, ppv);
      if (hr != CLASS_E_CLASSNOTAVAILABLE) return hr;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
  }

 private:
  CPublishedTables() = default;

  std::shared_mutex m_mutex;
  std::vector<CPublishedTable> m_tables;
};

}  // namespace

void QuorPublishClassTable(QuorClassTableFn lookup) noexcept {
  CPublishedTables::Instance().Publish(lookup);
}

void QuorWithdrawClassTable(QuorClassTableFn lookup) noexcept {
  CPublishedTables::Instance().Withdraw(lookup);
}

CQuorServerLoadScope::CQuorServerLoadScope(std::uint64_t server) noexcept
    : m_previous(std::exchange(t_loadingServer, server)) {}

CQuorServerLoadScope::~CQuorServerLoadScope() { t_loadingServer = m_previous; }

bool QuorWithdrawServerClassTables(std::uint64_t server, LPFNCANUNLOADNOW canUnloadNow) noexcept {
  return CPublishedTables::Instance().WithdrawServer(server, canUnloadNow);
}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, void* pvReserved, REFIID riid,
                         void** ppv) noexcept {
  (void)pvReserved;  // reserved: the server-information of remote activation
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if ((dwClsContext & CLSCTX_INPROC) == 0) return CLASS_E_CLASSNOTAVAILABLE;
  // Lookup order: the published class tables first (the program's, then those of the loaded
  // modules), then the server that the class registry names.
  const HRESULT hr = CPublishedTables::Instance().GetClassObject(rclsid, riid, ppv);
  if (hr != CLASS_E_CLASSNOTAVAILABLE) return hr;
  return CQuorInprocServerTable::Instance().GetClassObject(rclsid, riid, ppv);
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         void** ppv) noexcept {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  CQuorComPtr<IClassFactory> factory;
  HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory,
                                reinterpret_cast<void**>(factory.AddressOf()));
  if (FAILED(hr)) return hr;
  return factory->CreateInstance(pUnkOuter, riid, ppv);
}
