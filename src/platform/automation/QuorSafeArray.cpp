// One-dimensional SAFEARRAY functions and the array owner.
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "quormediafiles/platform/QuorOleAuto.h"

namespace {

// The array descriptor and the element type live in one allocation; callers see the
// descriptor, the element type sits right after it.
struct SafeArrayBlock {
  SAFEARRAY descriptor;
  VARTYPE vt;
};
static_assert(offsetof(SafeArrayBlock, descriptor) == 0);

VARTYPE VartypeOf(const SAFEARRAY* psa) noexcept {
  return reinterpret_cast<const SafeArrayBlock*>(psa)->vt;
}

// Element size of a supported element type, 0 for an unsupported one.
ULONG ElementSizeOf(VARTYPE vt) noexcept {
  switch (vt) {
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_ERROR:
      return 4;
    case VT_I8:
    case VT_UI8:
      return 8;
    case VT_BSTR:
      return sizeof(BSTR);
    case VT_UNKNOWN:
      return sizeof(IUnknown*);
    default:
      return 0;
  }
}

void* AllocateData(ULONG count, ULONG elementSize) noexcept {
  // At least one byte, so that AccessData of an empty array still yields a pointer.
  return std::calloc(count ? count : 1, elementSize);
}

// Frees the owned contents (strings, references) of elements [first, last).
void ClearElements(SAFEARRAY* psa, ULONG first, ULONG last) noexcept {
  const VARTYPE vt = VartypeOf(psa);
  if (vt != VT_BSTR && vt != VT_UNKNOWN) return;  // plain values own nothing
  for (ULONG i = first; i < last; ++i) {
    if (vt == VT_BSTR) {
      BSTR& element = static_cast<BSTR*>(psa->pvData)[i];
      SysFreeString(element);
      element = nullptr;
    } else if (vt == VT_UNKNOWN) {
      IUnknown*& element = static_cast<IUnknown**>(psa->pvData)[i];
      if (element) element->Release();
      element = nullptr;
    }
  }
}

// The offset of the element at index, or false when the index is outside the bounds.
bool OffsetOf(const SAFEARRAY* psa, const LONG* rgIndices, ULONG* offset) noexcept {
  const long long relative =
      static_cast<long long>(rgIndices[0]) - static_cast<long long>(psa->rgsabound[0].lLbound);
  if (relative < 0 || relative >= static_cast<long long>(psa->rgsabound[0].cElements)) return false;
  *offset = static_cast<ULONG>(relative);
  return true;
}

}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) noexcept {
  if (cDims != 1 || !rgsabound) return nullptr;
  const ULONG elementSize = ElementSizeOf(vt);
  if (elementSize == 0) return nullptr;
  auto* block = new (std::nothrow) SafeArrayBlock{};
  if (!block) return nullptr;
  SAFEARRAY& sa = block->descriptor;
  sa.cDims = 1;
  sa.fFeatures = FADF_HAVEVARTYPE;
  if (vt == VT_BSTR) sa.fFeatures |= FADF_BSTR;
  if (vt == VT_UNKNOWN) sa.fFeatures |= FADF_UNKNOWN;
  sa.cbElements = elementSize;
  sa.rgsabound[0] = rgsabound[0];
  sa.pvData = AllocateData(rgsabound[0].cElements, elementSize);
  block->vt = vt;
  if (!sa.pvData) {
    delete block;
    return nullptr;
  }
  return &block->descriptor;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) noexcept {
  SAFEARRAYBOUND bound{cElements, lLbound};
  return SafeArrayCreate(vt, 1, &bound);
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) noexcept {
  if (!psa) return S_OK;
  if (psa->cLocks > 0) return DISP_E_ARRAYISLOCKED;
  ClearElements(psa, 0, psa->rgsabound[0].cElements);
  std::free(psa->pvData);
  delete reinterpret_cast<SafeArrayBlock*>(psa);
  return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* psa) noexcept {
  if (!psa) return E_INVALIDARG;
  ++psa->cLocks;
  return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* psa) noexcept {
  if (!psa) return E_INVALIDARG;
  if (psa->cLocks == 0) return E_UNEXPECTED;
  --psa->cLocks;
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) noexcept {
  if (!psa || !ppvData) return E_INVALIDARG;
  ++psa->cLocks;
  *ppvData = psa->pvData;
  return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) noexcept { return SafeArrayUnlock(psa); }

HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) noexcept {
  if (!psa || !rgIndices || !pv) return E_INVALIDARG;
  ULONG index = 0;
  if (!OffsetOf(psa, rgIndices, &index)) return DISP_E_BADINDEX;
  const VARTYPE vt = VartypeOf(psa);
  if (vt == VT_BSTR) {
    const BSTR source = static_cast<BSTR*>(psa->pvData)[index];
    BSTR copy = nullptr;
    if (source) {
      copy = SysAllocStringLen(source, SysStringLen(source));
      if (!copy) return E_OUTOFMEMORY;
    }
    *static_cast<BSTR*>(pv) = copy;
  } else if (vt == VT_UNKNOWN) {
    IUnknown* source = static_cast<IUnknown**>(psa->pvData)[index];
    if (source) source->AddRef();
    *static_cast<IUnknown**>(pv) = source;
  } else {
    std::memcpy(pv, static_cast<BYTE*>(psa->pvData) + std::size_t{index} * psa->cbElements,
                psa->cbElements);
  }
  return S_OK;
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) noexcept {
  if (!psa || !rgIndices) return E_INVALIDARG;
  ULONG index = 0;
  if (!OffsetOf(psa, rgIndices, &index)) return DISP_E_BADINDEX;
  const VARTYPE vt = VartypeOf(psa);
  if (vt == VT_BSTR) {
    const auto source = static_cast<BSTR>(pv);
    BSTR copy = nullptr;
    if (source) {
      copy = SysAllocStringLen(source, SysStringLen(source));
      if (!copy) return E_OUTOFMEMORY;
    }
    BSTR& element = static_cast<BSTR*>(psa->pvData)[index];
    SysFreeString(element);
    element = copy;
  } else if (vt == VT_UNKNOWN) {
    auto* source = static_cast<IUnknown*>(pv);
    if (source) source->AddRef();
    IUnknown*& element = static_cast<IUnknown**>(psa->pvData)[index];
    if (element) element->Release();
    element = source;
  } else {
    if (!pv) return E_INVALIDARG;
    std::memcpy(static_cast<BYTE*>(psa->pvData) + std::size_t{index} * psa->cbElements, pv,
                psa->cbElements);
  }
  return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) noexcept {
  if (!ppsaOut) return E_INVALIDARG;
  *ppsaOut = nullptr;
  if (!psa) return S_OK;
  SAFEARRAY* copy = SafeArrayCreate(VartypeOf(psa), 1, psa->rgsabound);
  if (!copy) return E_OUTOFMEMORY;
  const ULONG count = psa->rgsabound[0].cElements;
  const VARTYPE vt = VartypeOf(psa);
  if (vt != VT_BSTR && vt != VT_UNKNOWN) {
    std::memcpy(copy->pvData, psa->pvData, std::size_t{count} * psa->cbElements);
    *ppsaOut = copy;
    return S_OK;
  }
  // Strings and interfaces are copied one element at a time.
  for (ULONG i = 0; i < count; ++i) {
    if (vt == VT_BSTR) {
      const BSTR source = static_cast<BSTR*>(psa->pvData)[i];
      if (!source) continue;
      BSTR element = SysAllocStringLen(source, SysStringLen(source));
      if (!element) {
        (void)SafeArrayDestroy(copy);  // unlocked and ours: cannot fail
        return E_OUTOFMEMORY;
      }
      static_cast<BSTR*>(copy->pvData)[i] = element;
    } else if (vt == VT_UNKNOWN) {
      IUnknown* source = static_cast<IUnknown**>(psa->pvData)[i];
      if (source) source->AddRef();
      static_cast<IUnknown**>(copy->pvData)[i] = source;
    }
  }
  *ppsaOut = copy;
  return S_OK;
}

HRESULT SafeArrayRedim(SAFEARRAY* psa, SAFEARRAYBOUND* psaboundNew) noexcept {
  if (!psa || !psaboundNew) return E_INVALIDARG;
  if (psa->cLocks > 0) return DISP_E_ARRAYISLOCKED;
  const ULONG oldCount = psa->rgsabound[0].cElements;
  const ULONG newCount = psaboundNew->cElements;
  if (newCount != oldCount) {
    void* data = AllocateData(newCount, psa->cbElements);
    if (!data) return E_OUTOFMEMORY;
    const ULONG kept = newCount < oldCount ? newCount : oldCount;
    ClearElements(psa, kept, oldCount);
    std::memcpy(data, psa->pvData, std::size_t{kept} * psa->cbElements);
    std::free(psa->pvData);
    psa->pvData = data;
  }
  psa->rgsabound[0] = *psaboundNew;
  return S_OK;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) noexcept {
  if (!psa || !plLbound) return E_INVALIDARG;
  if (nDim != 1) return DISP_E_BADINDEX;
  *plLbound = psa->rgsabound[0].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) noexcept {
  if (!psa || !plUbound) return E_INVALIDARG;
  if (nDim != 1) return DISP_E_BADINDEX;
  *plUbound = static_cast<LONG>(static_cast<long long>(psa->rgsabound[0].lLbound) +
                                static_cast<long long>(psa->rgsabound[0].cElements) - 1);
  return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* psa) noexcept { return psa ? psa->cDims : 0; }

UINT SafeArrayGetElemsize(SAFEARRAY* psa) noexcept { return psa ? psa->cbElements : 0; }

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) noexcept {
  if (!psa || !pvt) return E_INVALIDARG;
  *pvt = VartypeOf(psa);
  return S_OK;
}

CQuorSafeArray::CQuorSafeArray(CQuorSafeArray&& other) noexcept
    : m_psa(std::exchange(other.m_psa, nullptr)) {}

CQuorSafeArray& CQuorSafeArray::operator=(CQuorSafeArray&& other) noexcept {
  if (this != &other) Attach(std::exchange(other.m_psa, nullptr));
  return *this;
}

CQuorSafeArray::~CQuorSafeArray() { Reset(); }

void CQuorSafeArray::Attach(SAFEARRAY* psa) noexcept {
  if (psa == m_psa) return;
  Reset();
  m_psa = psa;
}

SAFEARRAY* CQuorSafeArray::Detach() noexcept { return std::exchange(m_psa, nullptr); }

SAFEARRAY** CQuorSafeArray::AddressOf() noexcept {
  Reset();
  return &m_psa;
}

void CQuorSafeArray::Reset() noexcept {
  if (!m_psa) return;
  // The owner ends the array whatever locks were left on it.
  m_psa->cLocks = 0;
  (void)SafeArrayDestroy(m_psa);  // unlocked above: cannot fail
  m_psa = nullptr;
}
