// The type description of dispatchable interfaces, written once as constant data: per
// interface its methods with dispatch ids, help strings and parameters, and per method the
// invoker that calls it (made by CQuorDispatchInvoker from the member-function pointer). The
// same data serves IDispatch (CQuorTypeDispatcher) and describes the type library.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <stdexcept>

#include "quormediafiles/platform/QuorDispatch.h"

enum class QuorParamDirection : std::uint8_t {
  kIn,
  kOut,
  kOutRetval,
  kUnattributed,  // a pointer without a direction attribute: passed by reference like [out]
};

// vt is the automation type of the value: VT_BSTR, VT_UI4, VT_UI8, VT_I2, VT_BOOL, VT_I4
// (enumerations), VT_ARRAY | element type, VT_DISPATCH or VT_UNKNOWN (interfaces). Outs are
// passed by reference (VT_BYREF | vt); an [in] array parameter may be either.
struct CQuorParamDesc {
  const char16_t* name = nullptr;
  VARTYPE vt = VT_EMPTY;
  QuorParamDirection direction = QuorParamDirection::kIn;
  const char16_t* typeName = nullptr;  // the interface or enumeration named; null otherwise
};

struct CQuorMethodDesc;

// Calls the method on pInterface with the arguments of params. Returns the dispatch result
// (S_OK once the method was called; DISP_E_TYPEMISMATCH and *puArgErr for an argument that does
// not convert) and the method's own result in *phrMethod.
using QuorDispatchInvokeFn = HRESULT (*)(void* pInterface, const CQuorMethodDesc& method,
                                         DISPPARAMS* params, VARIANT* pVarResult, UINT* puArgErr,
                                         HRESULT* phrMethod);

inline constexpr std::size_t kMaxDispatchParams = 6;

struct CQuorMethodDesc {
  const char16_t* name = nullptr;
  DISPID dispid = DISPID_UNKNOWN;
  const char16_t* helpString = nullptr;  // null: none
  std::array<CQuorParamDesc, kMaxDispatchParams> params{};
  UINT paramCount = 0;
  QuorDispatchInvokeFn invoke = nullptr;

  constexpr std::span<const CQuorParamDesc> Params() const noexcept {
    return {params.data(), paramCount};
  }
  constexpr bool HasRetval() const noexcept {
    return paramCount > 0 && params[paramCount - 1].direction == QuorParamDirection::kOutRetval;
  }
};

struct CQuorInterfaceDesc {
  const char16_t* name = nullptr;
  const IID* iid = nullptr;
  const char16_t* helpString = nullptr;
  std::span<const CQuorMethodDesc> methods;  // in operation-table order
  bool dual = true;                          // dual, automation-compatible, non-extensible

  const CQuorMethodDesc* FindMethod(DISPID dispid) const noexcept {
    for (const CQuorMethodDesc& m : methods) {
      if (m.dispid == dispid) return &m;
    }
    return nullptr;
  }
};

struct CQuorCoclassDesc {
  const char16_t* name = nullptr;
  const CLSID* clsid = nullptr;
  const char16_t* helpString = nullptr;
  const IID* defaultInterface = nullptr;
};

struct CQuorEnumValueDesc {
  const char16_t* name = nullptr;
  LONG value = 0;
};

struct CQuorEnumDesc {
  const char16_t* name = nullptr;
  std::span<const CQuorEnumValueDesc> values;
};

struct CQuorTypeLibraryDesc {
  const char16_t* name = nullptr;
  const GUID* libid = nullptr;
  const char16_t* helpString = nullptr;
  WORD majorVersion = 0;
  WORD minorVersion = 0;
  LCID lcid = 0;  // language neutral
  std::span<const CQuorInterfaceDesc> interfaces;
  std::span<const CQuorCoclassDesc> coclasses;
  std::span<const CQuorEnumDesc> enums;

  const CQuorInterfaceDesc* FindInterface(REFIID iid) const noexcept {
    for (const CQuorInterfaceDesc& i : interfaces) {
      if (*i.iid == iid) return &i;
    }
    return nullptr;
  }
};

constexpr CQuorParamDesc QuorIn(const char16_t* name, VARTYPE vt,
                                const char16_t* typeName = nullptr) noexcept {
  return {name, vt, QuorParamDirection::kIn, typeName};
}
constexpr CQuorParamDesc QuorOut(const char16_t* name, VARTYPE vt,
                                 const char16_t* typeName = nullptr) noexcept {
  return {name, vt, QuorParamDirection::kOut, typeName};
}
constexpr CQuorParamDesc QuorRetval(const char16_t* name, VARTYPE vt,
                                    const char16_t* typeName = nullptr) noexcept {
  return {name, vt, QuorParamDirection::kOutRetval, typeName};
}
constexpr CQuorParamDesc QuorUnattributed(const char16_t* name, VARTYPE vt) noexcept {
  return {name, vt, QuorParamDirection::kUnattributed, nullptr};
}

// Which interface a dispatch object serves through IDispatch: specialised next to the type
// library that describes TInterface.
template <class TInterface>
const CQuorInterfaceDesc& QuorInterfaceDescription() noexcept;
