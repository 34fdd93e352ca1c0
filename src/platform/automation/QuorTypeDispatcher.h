// CQuorTypeDispatcher: IDispatch served from a type description. GetIDsOfNames looks names up
// in an interface description; Invoke checks the call against the method's description, then
// lets the method's invoker convert the arguments and call it. Stateless; any thread.
//
// Invoke rules: riid must be IID_NULL (DISP_E_UNKNOWNINTERFACE); wFlags must include
// DISPATCH_METHOD or DISPATCH_PROPERTYGET (DISP_E_MEMBERNOTFOUND otherwise, as for an unknown
// dispid); named arguments are refused (DISP_E_NONAMEDARGS); cArgs must equal the number of
// parameters that are not [out,retval] (DISP_E_BADPARAMCOUNT). A method that fails gives
// DISP_E_EXCEPTION with its HRESULT in pExcepInfo->scode and the thread's error information
// as source and description; a method's success code is returned unchanged.
#pragma once

#include "platform/automation/QuorTypeDescription.h"
#include "quormediafiles/platform/QuorDispatch.h"

class CQuorTypeDispatcher {
 public:
  [[nodiscard]] static HRESULT GetIDsOfNames(const CQuorInterfaceDesc& desc, REFIID riid,
                                             LPOLESTR* rgszNames, UINT cNames,
                                             DISPID* rgDispId) noexcept;
  [[nodiscard]] static HRESULT Invoke(const CQuorInterfaceDesc& desc, void* pInterface,
                                      DISPID dispIdMember, REFIID riid, WORD wFlags,
                                      DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                      EXCEPINFO* pExcepInfo, UINT* puArgErr) noexcept;

  // Argument conversion used by the invokers. `arg` may be by value or by reference (also
  // through VT_BYREF | VT_VARIANT).
  //
  // An integer or truth value as vt (VT_UI4, VT_UI8, VT_I2, VT_I4, VT_BOOL), from any integer
  // type or VT_BOOL when it fits (DISP_E_OVERFLOW otherwise); a non-zero integer given for
  // VT_BOOL becomes VARIANT_TRUE. The result is the value's two's-complement bits.
  [[nodiscard]] static HRESULT ReadInteger(const VARIANT* arg, VARTYPE vt,
                                           ULONGLONG* pBits) noexcept;
  // A borrowed string: VT_BSTR, or VT_EMPTY as the null (empty) string.
  [[nodiscard]] static HRESULT ReadBstr(const VARIANT* arg, BSTR* pbstr) noexcept;
  // A borrowed array of type vt (VT_ARRAY | element type).
  [[nodiscard]] static HRESULT ReadArray(const VARIANT* arg, VARTYPE vt, SAFEARRAY** ppsa) noexcept;
  // A borrowed object reference: VT_UNKNOWN or VT_DISPATCH (possibly null), or VT_EMPTY.
  [[nodiscard]] static HRESULT ReadUnknown(const VARIANT* arg, IUnknown** ppunk) noexcept;
  // Whether arg can receive an out value of type vt: VT_BYREF | vt or VT_BYREF | VT_VARIANT.
  [[nodiscard]] static HRESULT CheckOutTarget(const VARIANT* arg, VARTYPE vt) noexcept;
  // Moves *pValue (whose vt is the parameter's) into the target that CheckOutTarget accepted.
  static void StoreOut(VARIANT* arg, VARIANT* pValue) noexcept;
};
