// CQuorComPtr<T>: a smart interface pointer that holds one reference and releases it exactly
// once. The interface identifier of T comes from QuorInterfaceTraits<T>, so QueryInterface is
// typed: `CQuorComPtr<IQuorTrackMetadata> track; unknown.As(&track);`.
//
// Every interface that a CQuorComPtr holds or asks for declares its identifier once with
// QUOR_DECLARE_INTERFACE_IID(Interface, IID_Interface) after the interface.
#pragma once

#include <utility>

#include "quormediafiles/platform/QuorTypes.h"
#include "quormediafiles/platform/QuorUnknown.h"

template <class TInterface>
struct QuorInterfaceTraits;  // specialised per interface: static constexpr const IID& kIid

#define QUOR_DECLARE_INTERFACE_IID(TInterface, iid) \
  template <>                                       \
  struct QuorInterfaceTraits<TInterface> {          \
    static constexpr const IID& kIid = iid;         \
  }

QUOR_DECLARE_INTERFACE_IID(IUnknown, IID_IUnknown);

template <class TInterface>
inline constexpr const IID& QuorIidOf() noexcept {
  return QuorInterfaceTraits<TInterface>::kIid;
}

template <class T>
class CQuorComPtr {
 public:
  CQuorComPtr() noexcept = default;
  CQuorComPtr(std::nullptr_t) noexcept {}
  // Takes a new reference on p.
  explicit CQuorComPtr(T* p) noexcept : m_p(p) {
    if (m_p) m_p->AddRef();
  }
  CQuorComPtr(const CQuorComPtr& other) noexcept : CQuorComPtr(other.m_p) {}
  CQuorComPtr(CQuorComPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
  CQuorComPtr& operator=(const CQuorComPtr& other) noexcept {
    CQuorComPtr(other).Swap(*this);
    return *this;
  }
  CQuorComPtr& operator=(CQuorComPtr&& other) noexcept {
    CQuorComPtr(std::move(other)).Swap(*this);
    return *this;
  }
  ~CQuorComPtr() { Reset(); }

  T* Get() const noexcept { return m_p; }
  T* operator->() const noexcept { return m_p; }
  explicit operator bool() const noexcept { return m_p != nullptr; }

  // Takes over a reference that the caller already owns.
  void Attach(T* p) noexcept {
    Reset();
    m_p = p;
  }
  // Hands the reference to the caller.
  [[nodiscard]] T* Detach() noexcept { return std::exchange(m_p, nullptr); }
  // Releases the current reference and returns where an out-parameter stores a new one.
  T** AddressOf() noexcept {
    Reset();
    return &m_p;
  }
  void Reset() noexcept {
    if (T* p = std::exchange(m_p, nullptr)) p->Release();
  }
  void Swap(CQuorComPtr& other) noexcept { std::swap(m_p, other.m_p); }

  // QueryInterface for TOther's identifier; E_POINTER on an empty pointer.
  template <class TOther>
  [[nodiscard]] HRESULT As(CQuorComPtr<TOther>* pOther) const noexcept {
    if (!m_p) return E_POINTER;
    return m_p->QueryInterface(QuorIidOf<TOther>(), reinterpret_cast<void**>(pOther->AddressOf()));
  }
  // Hands out a new reference, as an [out,retval] interface parameter does.
  [[nodiscard]] HRESULT CopyTo(T** pp) const noexcept {
    if (!pp) return E_POINTER;
    *pp = m_p;
    if (m_p) m_p->AddRef();
    return S_OK;
  }

 private:
  T* m_p = nullptr;
};
