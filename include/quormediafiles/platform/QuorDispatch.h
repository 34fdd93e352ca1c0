// The automation half of the component model: VARIANT, late binding through IDispatch, class
// objects (IClassFactory) and in-process creation by class identifier (CoCreateInstance), with
// the Windows names, layouts and semantics as far as the library's objects use them.
//
// VARIANT holds the types that the object interfaces pass: VT_EMPTY, VT_I2, VT_I4, VT_UI1,
// VT_UI2, VT_UI4, VT_I8, VT_UI8, VT_BOOL, VT_ERROR, VT_BSTR, VT_UNKNOWN, VT_DISPATCH,
// VT_ARRAY | element type, and VT_BYREF forms of each (including VT_BYREF | VT_VARIANT).
#pragma once

#include "quormediafiles/platform/QuorComPtr.h"
#include "quormediafiles/platform/QuorErrorInfo.h"
#include "quormediafiles/platform/QuorOleAuto.h"
#include "quormediafiles/platform/QuorTypes.h"
#include "quormediafiles/platform/QuorUnknown.h"

using SCODE = LONG;
using DISPID = LONG;

inline constexpr IID IID_NULL = GUID_NULL;

// Dispatch results beyond the array and coercion codes of the base types.
inline constexpr HRESULT DISP_E_UNKNOWNINTERFACE = static_cast<HRESULT>(0x80020001u);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = static_cast<HRESULT>(0x80020003u);
inline constexpr HRESULT DISP_E_PARAMNOTFOUND = static_cast<HRESULT>(0x80020004u);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = static_cast<HRESULT>(0x80020006u);
inline constexpr HRESULT DISP_E_NONAMEDARGS = static_cast<HRESULT>(0x80020007u);
inline constexpr HRESULT DISP_E_EXCEPTION = static_cast<HRESULT>(0x80020009u);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = static_cast<HRESULT>(0x8002000Eu);
inline constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = static_cast<HRESULT>(0x8002000Fu);

inline constexpr DISPID DISPID_UNKNOWN = -1;
inline constexpr DISPID DISPID_PROPERTYPUT = -3;

// wFlags of IDispatch::Invoke.
inline constexpr WORD DISPATCH_METHOD = 0x1;
inline constexpr WORD DISPATCH_PROPERTYGET = 0x2;
inline constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
inline constexpr WORD DISPATCH_PROPERTYPUTREF = 0x8;

// Creation contexts; only in-process servers exist here.
inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
inline constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
inline constexpr DWORD CLSCTX_ALL =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

// {00020400-0000-0000-C000-000000000046}
inline constexpr IID IID_IDispatch = {
    0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {00000001-0000-0000-C000-000000000046}
inline constexpr IID IID_IClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct IDispatch;

// A tagged value. The union member that is valid is the one that vt names; VT_BYREF forms
// point at storage that the VARIANT does not own.
struct VARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LONGLONG llVal;          // VT_I8
    ULONGLONG ullVal;        // VT_UI8
    LONG lVal;               // VT_I4
    ULONG ulVal;             // VT_UI4
    SHORT iVal;              // VT_I2
    USHORT uiVal;            // VT_UI2
    BYTE bVal;               // VT_UI1
    VARIANT_BOOL boolVal;    // VT_BOOL
    SCODE scode;             // VT_ERROR
    BSTR bstrVal;            // VT_BSTR
    IUnknown* punkVal;       // VT_UNKNOWN
    IDispatch* pdispVal;     // VT_DISPATCH
    SAFEARRAY* parray;       // VT_ARRAY | *
    LONGLONG* pllVal;        // VT_BYREF | VT_I8
    ULONGLONG* pullVal;      // VT_BYREF | VT_UI8
    LONG* plVal;             // VT_BYREF | VT_I4
    ULONG* pulVal;           // VT_BYREF | VT_UI4
    SHORT* piVal;            // VT_BYREF | VT_I2
    USHORT* puiVal;          // VT_BYREF | VT_UI2
    BYTE* pbVal;             // VT_BYREF | VT_UI1
    VARIANT_BOOL* pboolVal;  // VT_BYREF | VT_BOOL
    SCODE* pscode;           // VT_BYREF | VT_ERROR
    BSTR* pbstrVal;          // VT_BYREF | VT_BSTR
    IUnknown** ppunkVal;     // VT_BYREF | VT_UNKNOWN
    IDispatch** ppdispVal;   // VT_BYREF | VT_DISPATCH
    SAFEARRAY** pparray;     // VT_BYREF | VT_ARRAY | *
    VARIANT* pvarVal;        // VT_BYREF | VT_VARIANT
    void* byref;             // any VT_BYREF form
  };
};
using VARIANTARG = VARIANT;

// Sets vt to VT_EMPTY without looking at the old contents.
void VariantInit(VARIANTARG* pvarg) noexcept;
// Frees what the variant owns (string, array, reference), then VT_EMPTY. By-reference forms
// own nothing. E_INVALIDARG for null, DISP_E_BADVARTYPE for a type it does not know,
// DISP_E_ARRAYISLOCKED for a locked array.
HRESULT VariantClear(VARIANTARG* pvarg) noexcept;
// Clears pvargDest, then copies pvargSrc into it deeply (new string, new array, one more
// reference); by-reference forms copy the pointer.
HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) noexcept;

// Arguments of IDispatch::Invoke, in reverse order: rgvarg[cArgs - 1] is the first parameter.
struct DISPPARAMS {
  VARIANTARG* rgvarg;
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
};

// Filled by Invoke when the method itself fails (DISP_E_EXCEPTION): scode holds its HRESULT;
// the strings are the caller's to free.
struct EXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  void* pvReserved;
  HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
  SCODE scode;
};

// Type information is not published as objects; GetTypeInfoCount reports none.
struct ITypeInfo;

struct IDispatch : IUnknown {
  virtual HRESULT GetTypeInfoCount(UINT* pctinfo) = 0;
  virtual HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
  // Names are matched without regard to ASCII case; rgszNames[0] names the method, further
  // names its parameters (their ids are their zero-based positions).
  virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                DISPID* rgDispId) = 0;
  virtual HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                         DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                         UINT* puArgErr) = 0;

 protected:
  ~IDispatch() = default;
};

struct IClassFactory : IUnknown {
  // A new object; pUnkOuter must be null (CLASS_E_NOAGGREGATION otherwise).
  virtual HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
  // Holds the module loaded while fLock is counted up.
  // fLock is a Windows BOOL; declared INT so that X11's BOOL (an unsigned char) can coexist.
  virtual HRESULT LockServer(INT fLock) = 0;

 protected:
  ~IClassFactory() = default;
};

QUOR_DECLARE_INTERFACE_IID(IDispatch, IID_IDispatch);
QUOR_DECLARE_INTERFACE_IID(IClassFactory, IID_IClassFactory);
QUOR_DECLARE_INTERFACE_IID(ISupportErrorInfo, IID_ISupportErrorInfo);
QUOR_DECLARE_INTERFACE_IID(IErrorInfo, IID_IErrorInfo);
QUOR_DECLARE_INTERFACE_IID(ICreateErrorInfo, IID_ICreateErrorInfo);

// The class object of a class identifier: first the in-process class table that the library's
// subsystems register into, then the in-process server that the class registry names for it.
// CLASS_E_CLASSNOTAVAILABLE when nobody knows rclsid.
HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, void* pvReserved, REFIID riid,
                         void** ppv) noexcept;
// A new object of class rclsid through its class object. *ppv is null on failure.
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         void** ppv) noexcept;

// Typed creation: CQuorComPtr<IQuorTrackMetadata> track; CoCreateInstance(CLSID_..., &track).
template <class T>
[[nodiscard]] inline HRESULT CoCreateInstance(REFCLSID rclsid, CQuorComPtr<T>* pp) noexcept {
  return CoCreateInstance(rclsid, nullptr, CLSCTX_INPROC_SERVER, QuorIidOf<T>(),
                          reinterpret_cast<void**>(pp->AddressOf()));
}
