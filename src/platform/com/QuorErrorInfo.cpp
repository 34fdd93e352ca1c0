// The error information record and the per-thread slot that holds it.
#include "quormediafiles/platform/QuorErrorInfo.h"

#include <atomic>
#include <new>
#include <utility>

#include "quormediafiles/platform/QuorOleAuto.h"

namespace {

// One record with both faces: ICreateErrorInfo to fill it, IErrorInfo to read it. Reference
// counted by hand; the strings are owned copies.
class CQuorErrorInfoRecord final : public IErrorInfo, public ICreateErrorInfo {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppvObject) override {
    if (!ppvObject) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IErrorInfo) {
      *ppvObject = static_cast<IErrorInfo*>(this);
    } else if (riid == IID_ICreateErrorInfo) {
      *ppvObject = static_cast<ICreateErrorInfo*>(this);
    } else {
      *ppvObject = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return m_references.fetch_add(1, std::memory_order_relaxed) + 1; }
  ULONG Release() override {
    const ULONG remaining = m_references.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (remaining == 0) delete this;
    return remaining;
  }

  HRESULT GetGUID(GUID* pGUID) override {
    if (!pGUID) return E_INVALIDARG;
    *pGUID = m_guid;
    return S_OK;
  }
  HRESULT GetSource(BSTR* pBstrSource) override { return CopyOut(m_source, pBstrSource); }
  HRESULT GetDescription(BSTR* pBstrDescription) override {
    return CopyOut(m_description, pBstrDescription);
  }
  HRESULT GetHelpFile(BSTR* pBstrHelpFile) override { return CopyOut(m_helpFile, pBstrHelpFile); }
  HRESULT GetHelpContext(DWORD* pdwHelpContext) override {
    if (!pdwHelpContext) return E_INVALIDARG;
    *pdwHelpContext = m_helpContext;
    return S_OK;
  }

  HRESULT SetGUID(REFGUID rguid) override {
    m_guid = rguid;
    return S_OK;
  }
  HRESULT SetSource(LPOLESTR szSource) override { return CopyIn(szSource, m_source); }
  HRESULT SetDescription(LPOLESTR szDescription) override {
    return CopyIn(szDescription, m_description);
  }
  HRESULT SetHelpFile(LPOLESTR szHelpFile) override { return CopyIn(szHelpFile, m_helpFile); }
  HRESULT SetHelpContext(DWORD dwHelpContext) override {
    m_helpContext = dwHelpContext;
    return S_OK;
  }

 private:
  ~CQuorErrorInfoRecord() = default;

  static HRESULT CopyOut(const CQuorBstr& field, BSTR* out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (!field) return S_OK;
    *out = SysAllocStringLen(field.Get(), field.Length());
    return *out ? S_OK : E_OUTOFMEMORY;
  }
  static HRESULT CopyIn(LPOLESTR text, CQuorBstr& field) {
    CQuorBstr copy = CQuorBstr::Copy(static_cast<const OLECHAR*>(text));
    if (text && !copy) return E_OUTOFMEMORY;
    field = std::move(copy);
    return S_OK;
  }

  std::atomic<ULONG> m_references{1};
  GUID m_guid = GUID_NULL;
  CQuorBstr m_source;
  CQuorBstr m_description;
  CQuorBstr m_helpFile;
  DWORD m_helpContext = 0;
};

// The calling thread's record; released when the thread ends.
struct ThreadErrorSlot {
  IErrorInfo* record = nullptr;
  ~ThreadErrorSlot() {
    if (record) record->Release();
  }
};
thread_local ThreadErrorSlot t_errorSlot;

}  // namespace

HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo) noexcept {
  if (!pperrinfo) return E_INVALIDARG;
  auto* record = new (std::nothrow) CQuorErrorInfoRecord();
  *pperrinfo = record ? static_cast<ICreateErrorInfo*>(record) : nullptr;
  return record ? S_OK : E_OUTOFMEMORY;
}

HRESULT SetErrorInfo(ULONG /*dwReserved*/, IErrorInfo* perrinfo) noexcept {
  if (perrinfo) perrinfo->AddRef();
  IErrorInfo* previous = std::exchange(t_errorSlot.record, perrinfo);
  if (previous) previous->Release();
  return S_OK;
}

HRESULT GetErrorInfo(ULONG /*dwReserved*/, IErrorInfo** pperrinfo) noexcept {
  if (!pperrinfo) return E_INVALIDARG;
  *pperrinfo = std::exchange(t_errorSlot.record, nullptr);
  return *pperrinfo ? S_OK : S_FALSE;
}
