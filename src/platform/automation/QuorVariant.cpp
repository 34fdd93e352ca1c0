// VARIANT lifetime functions.
#include "quormediafiles/platform/QuorDispatch.h"

namespace {

bool IsKnownScalar(VARTYPE vt) noexcept {
  switch (vt) {
    case VT_EMPTY:
    case VT_I2:
    case VT_I4:
    case VT_I8:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_UI8:
    case VT_BOOL:
    case VT_ERROR:
      return true;
    default:
      return false;
  }
}

}  // namespace

void VariantInit(VARIANTARG* pvarg) noexcept {
  pvarg->vt = VT_EMPTY;
  pvarg->wReserved1 = pvarg->wReserved2 = pvarg->wReserved3 = 0;
  pvarg->ullVal = 0;
}

HRESULT VariantClear(VARIANTARG* pvarg) noexcept {
  if (!pvarg) return E_INVALIDARG;
  const VARTYPE vt = pvarg->vt;
  if (vt & VT_BYREF) {
    // By-reference forms point at storage that the variant does not own.
  } else if (vt & VT_ARRAY) {
    const HRESULT hr = SafeArrayDestroy(pvarg->parray);
    if (FAILED(hr)) return hr;
  } else if (vt == VT_BSTR) {
    SysFreeString(pvarg->bstrVal);
  } else if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
    IUnknown* unknown = vt == VT_DISPATCH ? pvarg->pdispVal : pvarg->punkVal;
    if (unknown) unknown->Release();
  } else if (!IsKnownScalar(vt)) {
    return DISP_E_BADVARTYPE;
  }
  VariantInit(pvarg);
  return S_OK;
}

HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) noexcept {
  if (!pvargDest || !pvargSrc) return E_INVALIDARG;
  if (pvargDest == pvargSrc) return S_OK;
  const VARTYPE vt = pvargSrc->vt;
  if (!(vt & (VT_BYREF | VT_ARRAY)) && !IsKnownScalar(vt) && vt != VT_BSTR && vt != VT_UNKNOWN &&
      vt != VT_DISPATCH) {
    return DISP_E_BADVARTYPE;
  }
  HRESULT hr = VariantClear(pvargDest);
  if (FAILED(hr)) return hr;
  VARIANT copy = *pvargSrc;
  if (!(vt & VT_BYREF)) {
    if (vt & VT_ARRAY) {
      copy.parray = nullptr;
      if (pvargSrc->parray) {
        hr = SafeArrayCopy(pvargSrc->parray, &copy.parray);
        if (FAILED(hr)) return hr;
      }
    } else if (vt == VT_BSTR && pvargSrc->bstrVal) {
      copy.bstrVal = SysAllocStringLen(pvargSrc->bstrVal, SysStringLen(pvargSrc->bstrVal));
      if (!copy.bstrVal) return E_OUTOFMEMORY;
    } else if (vt == VT_UNKNOWN && copy.punkVal) {
      copy.punkVal->AddRef();
    } else if (vt == VT_DISPATCH && copy.pdispVal) {
      copy.pdispVal->AddRef();
    }
  }
  *pvargDest = copy;
  return S_OK;
}
