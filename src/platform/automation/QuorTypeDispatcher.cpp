#include "platform/automation/QuorTypeDispatcher.h"

#include <limits>

namespace {

// ASCII case-insensitive comparison of a name with a description's name.
bool NamesEqual(const OLECHAR* a, const char16_t* b) noexcept {
  auto fold = [](char16_t c) -> char16_t {
    return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c;
  };
  for (; *a && *b; ++a, ++b) {
    if (fold(*a) != fold(*b)) return false;
  }
  return *a == *b;
}

const VARIANT* Deref(const VARIANT* arg) noexcept {
  if (arg && arg->vt == (VT_BYREF | VT_VARIANT) && arg->pvarVal) return arg->pvarVal;
  return arg;
}

// The value of an integer-like argument, widened; false when it is no integer.
bool ReadWide(const VARIANT* v, bool* pNegative, ULONGLONG* pMagnitude) noexcept {
  const bool byRef = (v->vt & VT_BYREF) != 0;
  LONGLONG s = 0;
  ULONGLONG u = 0;
  bool isSigned = true;
  switch (v->vt & ~VT_BYREF) {
    case VT_I2:
      s = byRef ? *v->piVal : v->iVal;
      break;
    case VT_BOOL:
      s = byRef ? *v->pboolVal : v->boolVal;
      break;
    case VT_I4:
      s = byRef ? *v->plVal : v->lVal;
      break;
    case VT_I8:
      s = byRef ? *v->pllVal : v->llVal;
      break;
    case VT_UI1:
      u = byRef ? *v->pbVal : v->bVal;
      isSigned = false;
      break;
    case VT_UI2:
      u = byRef ? *v->puiVal : v->uiVal;
      isSigned = false;
      break;
    case VT_UI4:
      u = byRef ? *v->pulVal : v->ulVal;
      isSigned = false;
      break;
    case VT_UI8:
      u = byRef ? *v->pullVal : v->ullVal;
      isSigned = false;
      break;
    default:
      return false;
  }
  if (isSigned) {
    *pNegative = s < 0;
    *pMagnitude = s < 0 ? 0 - static_cast<ULONGLONG>(s) : static_cast<ULONGLONG>(s);
  } else {
    *pNegative = false;
    *pMagnitude = u;
  }
  return true;
}

bool IsNull(const void* p) noexcept { return p == nullptr; }

}  // namespace

HRESULT CQuorTypeDispatcher::GetIDsOfNames(const CQuorInterfaceDesc& desc, REFIID riid,
                                           LPOLESTR* rgszNames, UINT cNames,
                                           DISPID* rgDispId) noexcept {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  if (cNames == 0) return S_OK;
  if (!rgszNames || !rgDispId) return E_POINTER;
  for (UINT i = 0; i < cNames; ++i) rgDispId[i] = DISPID_UNKNOWN;
  const CQuorMethodDesc* method = nullptr;
  if (rgszNames[0]) {
    for (const CQuorMethodDesc& m : desc.methods) {
      if (NamesEqual(rgszNames[0], m.name)) {
        method = &m;
        break;
      }
    }
  }
  if (!method) return DISP_E_UNKNOWNNAME;
  rgDispId[0] = method->dispid;
  HRESULT hr = S_OK;
  for (UINT i = 1; i < cNames; ++i) {
    const std::span<const CQuorParamDesc> params = method->Params();
    for (std::size_t p = 0; p < params.size(); ++p) {
      if (rgszNames[i] && NamesEqual(rgszNames[i], params[p].name)) {
        rgDispId[i] = static_cast<DISPID>(p);
      }
    }
    if (rgDispId[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT CQuorTypeDispatcher::Invoke(const CQuorInterfaceDesc& desc, void* pInterface,
                                    DISPID dispIdMember, REFIID riid, WORD wFlags,
                                    DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                    EXCEPINFO* pExcepInfo, UINT* puArgErr) noexcept {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  const CQuorMethodDesc* method = desc.FindMethod(dispIdMember);
  if (!method || (wFlags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)) == 0) {
    return DISP_E_MEMBERNOTFOUND;
  }
  DISPPARAMS noArgs{nullptr, nullptr, 0, 0};
  if (!pDispParams) pDispParams = &noArgs;
  if (pDispParams->cNamedArgs > 0) return DISP_E_NONAMEDARGS;
  const UINT expected = method->paramCount - (method->HasRetval() ? 1 : 0);
  if (pDispParams->cArgs != expected) return DISP_E_BADPARAMCOUNT;
  if (expected > 0 && !pDispParams->rgvarg) return E_INVALIDARG;
  if (pVarResult) VariantInit(pVarResult);

  // A method that fails without a record of its own must not report one an earlier call left.
  (void)SetErrorInfo(0, nullptr);  // always S_OK
  HRESULT hrMethod = S_OK;
  const HRESULT hr =
      method->invoke(pInterface, *method, pDispParams, pVarResult, puArgErr, &hrMethod);
  if (FAILED(hr)) return hr;
  if (SUCCEEDED(hrMethod)) return hrMethod;

  if (pExcepInfo) {
    *pExcepInfo = EXCEPINFO{};
    pExcepInfo->scode = hrMethod;
    // The method's frame left its message as the thread's error information.
    CQuorComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.AddressOf()) == S_OK && info) {
      (void)info->GetSource(&pExcepInfo->bstrSource);  // (void): absent fields stay null
      (void)info->GetDescription(&pExcepInfo->bstrDescription);
    }
  }
  return DISP_E_EXCEPTION;
}

HRESULT CQuorTypeDispatcher::ReadInteger(const VARIANT* arg, VARTYPE vt,
                                         ULONGLONG* pBits) noexcept {
  arg = Deref(arg);
  if (IsNull(arg) || IsNull(pBits)) return E_POINTER;
  *pBits = 0;
  bool negative = false;
  ULONGLONG magnitude = 0;
  if (!ReadWide(arg, &negative, &magnitude)) return DISP_E_TYPEMISMATCH;
  if (vt == VT_BOOL) {
    // A truth value given as VT_BOOL keeps its exact bits; other integers mean true or false.
    if ((arg->vt & ~VT_BYREF) == VT_BOOL) {
      *pBits = static_cast<ULONGLONG>(
          static_cast<LONGLONG>((arg->vt & VT_BYREF) ? *arg->pboolVal : arg->boolVal));
    } else {
      *pBits = static_cast<ULONGLONG>(static_cast<LONGLONG>(magnitude != 0 ? VARIANT_TRUE : 0));
    }
    return S_OK;
  }
  LONGLONG minimum = 0;
  ULONGLONG maximum = 0;
  switch (vt) {
    case VT_I2:
      minimum = std::numeric_limits<SHORT>::min();
      maximum = static_cast<ULONGLONG>(std::numeric_limits<SHORT>::max());
      break;
    case VT_I4:
      minimum = std::numeric_limits<LONG>::min();
      maximum = static_cast<ULONGLONG>(std::numeric_limits<LONG>::max());
      break;
    case VT_UI4:
      maximum = std::numeric_limits<ULONG>::max();
      break;
    case VT_UI8:
      maximum = std::numeric_limits<ULONGLONG>::max();
      break;
    default:
      return DISP_E_TYPEMISMATCH;
  }
  if (negative) {
    if (magnitude > 0 - static_cast<ULONGLONG>(minimum)) return DISP_E_OVERFLOW;
    *pBits = 0 - magnitude;
  } else {
    if (magnitude > maximum) return DISP_E_OVERFLOW;
    *pBits = magnitude;
  }
  return S_OK;
}

HRESULT CQuorTypeDispatcher::ReadBstr(const VARIANT* arg, BSTR* pbstr) noexcept {
  arg = Deref(arg);
  if (IsNull(arg) || IsNull(pbstr)) return E_POINTER;
  *pbstr = nullptr;
  if (arg->vt == VT_EMPTY) return S_OK;
  if (arg->vt == VT_BSTR) {
    *pbstr = arg->bstrVal;
  } else if (arg->vt == (VT_BYREF | VT_BSTR)) {
    *pbstr = *arg->pbstrVal;
  } else {
    return DISP_E_TYPEMISMATCH;
  }
  return S_OK;
}

HRESULT CQuorTypeDispatcher::ReadArray(const VARIANT* arg, VARTYPE vt, SAFEARRAY** ppsa) noexcept {
  arg = Deref(arg);
  if (IsNull(arg) || IsNull(ppsa)) return E_POINTER;
  *ppsa = nullptr;
  if (arg->vt == vt) {
    *ppsa = arg->parray;
  } else if (arg->vt == (VT_BYREF | vt)) {
    *ppsa = *arg->pparray;
  } else {
    return DISP_E_TYPEMISMATCH;
  }
  return S_OK;
}

HRESULT CQuorTypeDispatcher::ReadUnknown(const VARIANT* arg, IUnknown** ppunk) noexcept {
  arg = Deref(arg);
  if (IsNull(arg) || IsNull(ppunk)) return E_POINTER;
  *ppunk = nullptr;
  switch (arg->vt) {
    case VT_EMPTY:
      return S_OK;
    case VT_UNKNOWN:
      *ppunk = arg->punkVal;
      return S_OK;
    case VT_DISPATCH:
      *ppunk = arg->pdispVal;
      return S_OK;
    case VT_BYREF | VT_UNKNOWN:
      *ppunk = *arg->ppunkVal;
      return S_OK;
    case VT_BYREF | VT_DISPATCH:
      *ppunk = *arg->ppdispVal;
      return S_OK;
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

HRESULT CQuorTypeDispatcher::CheckOutTarget(const VARIANT* arg, VARTYPE vt) noexcept {
  if (!arg) return E_POINTER;
  if (arg->vt == (VT_BYREF | VT_VARIANT)) return arg->pvarVal ? S_OK : E_POINTER;
  // An interface out may land in an IUnknown or an IDispatch reference alike.
  const bool isObject = vt == VT_DISPATCH || vt == VT_UNKNOWN;
  const bool fits =
      arg->vt == (VT_BYREF | vt) ||
      (isObject && (arg->vt == (VT_BYREF | VT_DISPATCH) || arg->vt == (VT_BYREF | VT_UNKNOWN)));
  if (!fits) return DISP_E_TYPEMISMATCH;
  return arg->byref ? S_OK : E_POINTER;
}

void CQuorTypeDispatcher::StoreOut(VARIANT* arg, VARIANT* pValue) noexcept {
  if (arg->vt == (VT_BYREF | VT_VARIANT)) {
    // (void): whatever the target held is replaced; a failure to free it leaks nothing of ours
    (void)VariantClear(arg->pvarVal);
    *arg->pvarVal = *pValue;
    VariantInit(pValue);
    return;
  }
  // [out] semantics: the callee writes without freeing what the target held.
  switch (arg->vt & ~VT_BYREF) {
    case VT_UI4:
      *arg->pulVal = pValue->ulVal;
      break;
    case VT_UI8:
      *arg->pullVal = pValue->ullVal;
      break;
    case VT_I2:
      *arg->piVal = pValue->iVal;
      break;
    case VT_BOOL:
      *arg->pboolVal = pValue->boolVal;
      break;
    case VT_I4:
      *arg->plVal = pValue->lVal;
      break;
    case VT_BSTR:
      *arg->pbstrVal = pValue->bstrVal;
      break;
    case VT_UNKNOWN:
      *arg->ppunkVal =
          pValue->vt == VT_DISPATCH ? static_cast<IUnknown*>(pValue->pdispVal) : pValue->punkVal;
      break;
    case VT_DISPATCH:
      if (pValue->vt == VT_DISPATCH) {
        *arg->ppdispVal = pValue->pdispVal;
      } else {
        *arg->ppdispVal = nullptr;
        (void)VariantClear(pValue);  // (void): releasing a reference cannot fail
      }
      break;
    default:
      if (arg->vt & VT_ARRAY) *arg->pparray = pValue->parray;
      break;
  }
  VariantInit(pValue);
}
