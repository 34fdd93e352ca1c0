// Automation strings and arrays: BSTR and one-dimensional SAFEARRAY functions with the Windows
// names and semantics, UTF-8 <-> UTF-16 conversions, and move-only owners for both.
//
// A BSTR points at UTF-16 code units that follow a 4-byte byte length and end in a NUL; the
// null BSTR counts as the empty string everywhere. Arrays hold elements of one fixed-size
// type (VT_UI1, VT_I2, VT_UI2, VT_I4, VT_UI4, VT_I8, VT_UI8, VT_BOOL, VT_ERROR), or VT_BSTR
// (each element an owned BSTR) or VT_UNKNOWN (each element holds one reference). All functions
// may be called from any thread; one array must not be changed by two threads at once.
#pragma once

#include <string>
#include <string_view>

#include "quormediafiles/platform/QuorTypes.h"
#include "quormediafiles/platform/QuorUnknown.h"

using VARTYPE = std::uint16_t;
inline constexpr VARTYPE VT_EMPTY = 0;
inline constexpr VARTYPE VT_I2 = 2;
inline constexpr VARTYPE VT_I4 = 3;
inline constexpr VARTYPE VT_BSTR = 8;
inline constexpr VARTYPE VT_DISPATCH = 9;
inline constexpr VARTYPE VT_ERROR = 10;
inline constexpr VARTYPE VT_BOOL = 11;
inline constexpr VARTYPE VT_VARIANT = 12;
inline constexpr VARTYPE VT_UNKNOWN = 13;
inline constexpr VARTYPE VT_UI1 = 17;
inline constexpr VARTYPE VT_UI2 = 18;
inline constexpr VARTYPE VT_UI4 = 19;
inline constexpr VARTYPE VT_I8 = 20;
inline constexpr VARTYPE VT_UI8 = 21;
inline constexpr VARTYPE VT_ARRAY = 0x2000;
inline constexpr VARTYPE VT_BYREF = 0x4000;

// BSTR functions. Allocation failure gives a null BSTR.
BSTR SysAllocString(const OLECHAR* psz) noexcept;
// Copies cch units from pch (pch may be null: the characters are then zero); adds the NUL.
BSTR SysAllocStringLen(const OLECHAR* pch, UINT cch) noexcept;
void SysFreeString(BSTR bstrString) noexcept;
UINT SysStringLen(BSTR pbstr) noexcept;
UINT SysStringByteLen(BSTR bstr) noexcept;

// Comparison results of VarBstrCmp.
inline constexpr HRESULT VARCMP_LT = 0;
inline constexpr HRESULT VARCMP_EQ = 1;
inline constexpr HRESULT VARCMP_GT = 2;
inline constexpr HRESULT VARCMP_NULL = 3;
inline constexpr ULONG NORM_IGNORECASE = 0x00000001;
// Compares code unit by code unit, case-sensitive unless dwFlags has NORM_IGNORECASE (which
// folds ASCII letters only); lcid is ignored. A null BSTR equals the empty string.
HRESULT VarBstrCmp(BSTR bstrLeft, BSTR bstrRight, LCID lcid, ULONG dwFlags) noexcept;

// UTF-8 <-> UTF-16. Ill-formed input becomes U+FFFD; these allocate and may throw bad_alloc.
std::u16string QuorUtf8ToUtf16(std::string_view text);
std::string QuorUtf16ToUtf8(std::u16string_view text);
// A null BSTR gives "".
std::string QuorBstrToUtf8(BSTR bstr);
// A new BSTR (the caller frees it with SysFreeString), or null when out of memory.
BSTR QuorBstrFromUtf8(std::string_view text) noexcept;

// SAFEARRAY: one dimension in this implementation (cDims is always 1).
struct SAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
};

struct SAFEARRAY {
  USHORT cDims;
  USHORT fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  void* pvData;
  SAFEARRAYBOUND rgsabound[1];
};

inline constexpr USHORT FADF_BSTR = 0x0100;
inline constexpr USHORT FADF_UNKNOWN = 0x0200;
inline constexpr USHORT FADF_HAVEVARTYPE = 0x0080;

// Null on a bad vartype, cDims other than 1, or no memory.
SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) noexcept;
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) noexcept;
// Frees the elements (BSTRs freed, interfaces released) and the array;
// DISP_E_ARRAYISLOCKED while locked. A null array is S_OK.
HRESULT SafeArrayDestroy(SAFEARRAY* psa) noexcept;
HRESULT SafeArrayLock(SAFEARRAY* psa) noexcept;
HRESULT SafeArrayUnlock(SAFEARRAY* psa) noexcept;  // E_UNEXPECTED when not locked
HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) noexcept;
HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) noexcept;
// For VT_BSTR, pv of GetElement points to a BSTR that receives a new copy, and pv of
// PutElement is the BSTR itself, which is copied in (the old element is freed). For
// VT_UNKNOWN likewise with an IUnknown* (references taken). Otherwise pv points to the value.
HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) noexcept;
HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) noexcept;
HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) noexcept;  // deep copy
// New element count and lower bound; new elements are zero, dropped ones are freed.
HRESULT SafeArrayRedim(SAFEARRAY* psa, SAFEARRAYBOUND* psaboundNew) noexcept;
HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) noexcept;
HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) noexcept;
UINT SafeArrayGetDim(SAFEARRAY* psa) noexcept;
UINT SafeArrayGetElemsize(SAFEARRAY* psa) noexcept;
HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) noexcept;

// Owns one BSTR and frees it exactly once.
class CQuorBstr {
 public:
  CQuorBstr() noexcept = default;
  CQuorBstr(CQuorBstr&& other) noexcept;
  CQuorBstr& operator=(CQuorBstr&& other) noexcept;
  CQuorBstr(const CQuorBstr&) = delete;
  CQuorBstr& operator=(const CQuorBstr&) = delete;
  ~CQuorBstr();

  // A copy of text (null when out of memory).
  static CQuorBstr Copy(const OLECHAR* text) noexcept;
  static CQuorBstr Copy(std::u16string_view text) noexcept;
  static CQuorBstr FromUtf8(std::string_view text) noexcept;

  BSTR Get() const noexcept { return m_bstr; }
  void Attach(BSTR bstr) noexcept;  // frees the current string, takes ownership of bstr
  [[nodiscard]] BSTR Detach() noexcept;
  // Frees the current string and returns where an out-parameter may store a new one.
  BSTR* AddressOf() noexcept;
  UINT Length() const noexcept { return SysStringLen(m_bstr); }
  std::u16string_view View() const noexcept { return {m_bstr ? m_bstr : u"", Length()}; }
  std::string ToUtf8() const { return QuorBstrToUtf8(m_bstr); }
  explicit operator bool() const noexcept { return m_bstr != nullptr; }

 private:
  BSTR m_bstr = nullptr;
};

// Owns one SAFEARRAY and destroys it exactly once (an array still locked when the owner ends
// is unlocked first).
class CQuorSafeArray {
 public:
  CQuorSafeArray() noexcept = default;
  explicit CQuorSafeArray(SAFEARRAY* psa) noexcept : m_psa(psa) {}
  CQuorSafeArray(CQuorSafeArray&& other) noexcept;
  CQuorSafeArray& operator=(CQuorSafeArray&& other) noexcept;
  CQuorSafeArray(const CQuorSafeArray&) = delete;
  CQuorSafeArray& operator=(const CQuorSafeArray&) = delete;
  ~CQuorSafeArray();

  static CQuorSafeArray CreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) noexcept {
    return CQuorSafeArray(SafeArrayCreateVector(vt, lLbound, cElements));
  }

  SAFEARRAY* Get() const noexcept { return m_psa; }
  void Attach(SAFEARRAY* psa) noexcept;
  [[nodiscard]] SAFEARRAY* Detach() noexcept;
  SAFEARRAY** AddressOf() noexcept;
  ULONG Count() const noexcept { return m_psa ? m_psa->rgsabound[0].cElements : 0; }
  explicit operator bool() const noexcept { return m_psa != nullptr; }

 private:
  void Reset() noexcept;

  SAFEARRAY* m_psa = nullptr;
};
