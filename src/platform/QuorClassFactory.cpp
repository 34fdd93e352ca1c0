#include "platform/QuorClassFactory.h"

CQuorClassFactory::CQuorClassFactory(QuorCreateInstanceFn create) noexcept : m_create(create) {
  // The registry keeps class objects for the whole process; they must not hold the module.
  CQuorClassRegistry::UnlockModule();
}

CQuorClassFactory::~CQuorClassFactory() { CQuorClassRegistry::LockModule(); }

HRESULT CQuorClassFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) {
  if (!ppvObject) return E_POINTER;
  *ppvObject = nullptr;
  if (pUnkOuter) return CLASS_E_NOAGGREGATION;
  return m_create(riid, ppvObject);
}

HRESULT CQuorClassFactory::LockServer(BOOL fLock) {
  if (fLock) {
    CQuorClassRegistry::LockModule();
  } else {
    CQuorClassRegistry::UnlockModule();
  }
  return S_OK;
}
