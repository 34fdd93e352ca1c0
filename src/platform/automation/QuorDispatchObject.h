// CQuorDispatchObject<TMain, TExtra...>: the base of every object of the library. It adds to
// CQuorUnknownImpl the dual interface's IDispatch, served from the type description of TMain
// (QuorInterfaceDescription<TMain>()), and ISupportErrorInfo, which answers S_OK for TMain only.
//
//   class CQuorTrackMetadata final : public CQuorDispatchObject<IQuorTrackMetadata> { ... };
//   class CQuorMediaFileWriter final
//       : public CQuorDispatchObject<IQuorMediaFileWriter, IQuorMediaFileWriter2> { ... };
//
// The derived class implements TMain's and TExtra's own methods and nothing of IUnknown,
// IDispatch or ISupportErrorInfo. It is created with QuorCreateObject<T> (class table entries
// use that), which may call its FinalConstruct().
#pragma once

#include "platform/automation/QuorTypeDescription.h"
#include "platform/automation/QuorTypeDispatcher.h"
#include "platform/com/QuorUnknownImpl.h"
#include "quormediafiles/platform/QuorDispatch.h"
#include "quormediafiles/platform/QuorErrorInfo.h"

template <class TMain, class... TExtra>
class CQuorDispatchObject : public CQuorUnknownImpl<TMain, TExtra..., ISupportErrorInfo> {
  static_assert(std::is_base_of_v<IDispatch, TMain>, "the main interface is a dual interface");

 public:
  HRESULT GetTypeInfoCount(UINT* pctinfo) override {
    if (!pctinfo) return E_POINTER;
    *pctinfo = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override {
    (void)iTInfo;  // no type information objects are published
    (void)lcid;
    if (!ppTInfo) return E_POINTER;
    *ppTInfo = nullptr;
    return DISP_E_BADINDEX;
  }
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                        DISPID* rgDispId) override {
    (void)lcid;  // names are not localised
    return CQuorTypeDispatcher::GetIDsOfNames(QuorInterfaceDescription<TMain>(), riid, rgszNames,
                                              cNames, rgDispId);
  }
  HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                 VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override {
    (void)lcid;
    return CQuorTypeDispatcher::Invoke(QuorInterfaceDescription<TMain>(), static_cast<TMain*>(this),
                                       dispIdMember, riid, wFlags, pDispParams, pVarResult,
                                       pExcepInfo, puArgErr);
  }

  HRESULT InterfaceSupportsErrorInfo(REFIID riid) override {
    return riid == QuorIidOf<TMain>() ? S_OK : S_FALSE;
  }

 protected:
  CQuorDispatchObject() noexcept = default;
  ~CQuorDispatchObject() override = default;
};
