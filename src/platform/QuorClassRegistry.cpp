#include "platform/QuorClassRegistry.h"

#include <new>

#include "platform/QuorClassFactory.h"
#include "platform/QuorInprocServerTable.h"

CQuorClassRegistry& CQuorClassRegistry::Instance() noexcept {
  // Constructed on first use, so registrars in any translation unit may run before others.
  static CQuorClassRegistry registry;
  return registry;
}

void CQuorClassRegistry::Register(const CQuorClassEntry& entry) noexcept {
  std::scoped_lock lock(m_mutex);
  for (CSlot& slot : m_slots) {
    if (*slot.entry.clsid == *entry.clsid) {
      slot.entry = entry;
      slot.factory.Reset();
      return;
    }
  }
  try {
    m_slots.push_back(CSlot{entry, nullptr});
  } catch (const std::bad_alloc&) {
    // (void): at static construction there is nobody to report to; the class then reports
    // CLASS_E_CLASSNOTAVAILABLE when asked for.
    (void)entry;
  }
}

HRESULT CQuorClassRegistry::GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) noexcept {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  std::scoped_lock lock(m_mutex);
  for (CSlot& slot : m_slots) {
    if (*slot.entry.clsid != rclsid) continue;
    if (!slot.factory) {
      CQuorClassFactory* factory = new (std::nothrow) CQuorClassFactory(slot.entry.create);
      if (!factory) return E_OUTOFMEMORY;
      slot.factory = CQuorComPtr<IClassFactory>(factory);
    }
    return slot.factory->QueryInterface(riid, ppv);
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, void* pvReserved, REFIID riid,
                         void** ppv) noexcept {
  (void)pvReserved;  // reserved: the server-information of remote activation
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if ((dwClsContext & CLSCTX_INPROC) == 0) return CLASS_E_CLASSNOTAVAILABLE;
  // Lookup order: the classes linked into this process first, then the server that the class
  // registry names.
  const HRESULT hr = CQuorClassRegistry::Instance().GetClassObject(rclsid, riid, ppv);
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
