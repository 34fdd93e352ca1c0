// CQuorUnknownImpl<TFirst, TRest...>: reference counting and QueryInterface for an object that
// implements the listed interfaces. The derived class implements the interfaces' own methods;
// IUnknown is answered here once for all of them.
//
// QueryInterface answers IID_IUnknown (always the same pointer, through TFirst), IID_IDispatch
// when TFirst derives from IDispatch, and the identifier of each listed interface
// (QuorInterfaceTraits). The count is atomic; the object deletes itself on the last Release.
// Every live object holds the module lock count up (CQuorClassRegistry::LockModule).
#pragma once

#include <atomic>
#include <type_traits>
#include <utility>

#include "platform/com/QuorClassRegistry.h"
#include "quormediafiles/platform/QuorComPtr.h"
#include "quormediafiles/platform/QuorDispatch.h"

template <class TFirst, class... TRest>
class CQuorUnknownImpl : public TFirst, public TRest... {
 public:
  CQuorUnknownImpl(const CQuorUnknownImpl&) = delete;
  CQuorUnknownImpl& operator=(const CQuorUnknownImpl&) = delete;

  HRESULT QueryInterface(REFIID riid, void** ppvObject) override {
    if (!ppvObject) return E_POINTER;
    *ppvObject = nullptr;
    IUnknown* found = nullptr;
    if (riid == IID_IUnknown) {
      found = static_cast<TFirst*>(this);
    } else if constexpr (std::is_base_of_v<IDispatch, TFirst>) {
      if (riid == IID_IDispatch) found = static_cast<TFirst*>(this);
    }
    if (!found) found = Find<TFirst, TRest...>(riid);
    if (!found) return E_NOINTERFACE;
    found->AddRef();
    *ppvObject = found;
    return S_OK;
  }
  ULONG AddRef() override { return m_refCount.fetch_add(1, std::memory_order_relaxed) + 1; }
  ULONG Release() override {
    const ULONG remaining = m_refCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (remaining == 0) delete this;
    return remaining;
  }

  // Runs after construction with one reference held; a failure destroys the new object.
  // Derived classes that need a second construction step declare their own.
  [[nodiscard]] HRESULT FinalConstruct() noexcept { return S_OK; }

 protected:
  CQuorUnknownImpl() noexcept { CQuorClassRegistry::LockModule(); }
  virtual ~CQuorUnknownImpl() { CQuorClassRegistry::UnlockModule(); }

 private:
  template <class T, class... TMore>
  IUnknown* Find(REFIID riid) noexcept {
    if (riid == QuorIidOf<T>()) return static_cast<T*>(this);
    if constexpr (sizeof...(TMore) > 0) {
      return Find<TMore...>(riid);
    } else {
      return nullptr;
    }
  }

  std::atomic<ULONG> m_refCount{0};
};

// Creates a TObject (a CQuorUnknownImpl descendant) from args and keeps the concrete class (for
// objects that the library fills before handing them out, such as a status snapshot).
// E_OUTOFMEMORY when the object cannot be made.
template <class TObject, class... TArgs>
[[nodiscard]] HRESULT QuorCreateObject(CQuorComPtr<TObject>* pp, TArgs&&... args) noexcept {
  if (!pp) return E_POINTER;
  pp->Reset();
  CQuorComPtr<TObject> object;
  try {
    object = CQuorComPtr<TObject>(new TObject(std::forward<TArgs>(args)...));
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  const HRESULT hr = object->FinalConstruct();
  if (FAILED(hr)) return hr;
  *pp = std::move(object);
  return S_OK;
}

// The same, handing out the object's riid interface: the creator function of a class table
// entry.
template <class TObject>
HRESULT QuorCreateObject(REFIID riid, void** ppv) noexcept {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  CQuorComPtr<TObject> object;
  const HRESULT hr = QuorCreateObject(&object);
  if (FAILED(hr)) return hr;
  return object->QueryInterface(riid, ppv);
}
