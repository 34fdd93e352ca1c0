// CQuorClassFactory: the class object of one creatable class. It makes a new object per
// CreateInstance through the class's creator function and refuses aggregation. Class objects
// are cached by CQuorClassRegistry for the life of the process and so do not count as live
// objects of the module; LockServer counts the module lock up and down.
#pragma once

#include "platform/QuorClassRegistry.h"
#include "platform/QuorUnknownImpl.h"
#include "quormediafiles/platform/QuorDispatch.h"

class CQuorClassFactory final : public CQuorUnknownImpl<IClassFactory> {
 public:
  explicit CQuorClassFactory(QuorCreateInstanceFn create) noexcept;

  HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override;
  HRESULT LockServer(BOOL fLock) override;

 private:
  ~CQuorClassFactory() override;

  QuorCreateInstanceFn m_create;
};
