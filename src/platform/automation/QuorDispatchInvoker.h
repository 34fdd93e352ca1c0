// CQuorDispatchInvoker<&IInterface::Method>: the dispatch invoker of one method, generated from
// its member-function pointer. It converts the VARIANT arguments to the method's C++ parameter
// types as the method's description says (direction and automation type), calls the method,
// and hands out values: the [out,retval] value into pVarResult, [out] values through their
// by-reference arguments.
//
// QUOR_DISPATCH_METHOD(IInterface, Method, dispid, params...) makes one description row with
// the help string "method Method"; QUOR_DISPATCH_METHOD_NO_HELP the same without help string.
// The row is checked at compile time against the member function: one description per
// parameter, each with a type and direction that the C++ parameter can carry.
#pragma once

#include <cstddef>
#include <tuple>
#include <type_traits>
#include <utility>

#include "platform/automation/QuorTypeDescription.h"
#include "platform/automation/QuorTypeDispatcher.h"
#include "quormediafiles/platform/QuorComPtr.h"
#include "quormediafiles/platform/QuorDispatch.h"

namespace quor_dispatch_detail {

template <class T>
inline constexpr bool kIsInterfacePtr =
    std::is_pointer_v<T>&& std::is_base_of_v<IUnknown, std::remove_pointer_t<T>>;

template <class T>
inline constexpr bool kIsScalar = std::is_integral_v<T> || std::is_enum_v<T>;

// Whether a value of C++ type T can be carried as automation type vt.
template <class T>
constexpr bool ValueMatches(VARTYPE vt) noexcept {
  if constexpr (std::is_same_v<T, BSTR>) {
    return vt == VT_BSTR;
  } else if constexpr (std::is_same_v<T, SAFEARRAY*>) {
    return (vt & VT_ARRAY) != 0;
  } else if constexpr (kIsInterfacePtr<T>) {
    return vt == VT_DISPATCH || vt == VT_UNKNOWN;
  } else if constexpr (std::is_enum_v<T> || std::is_same_v<T, LONG>) {
    return vt == VT_I4;
  } else if constexpr (std::is_same_v<T, ULONG>) {
    return vt == VT_UI4;
  } else if constexpr (std::is_same_v<T, ULONGLONG>) {
    return vt == VT_UI8;
  } else if constexpr (std::is_same_v<T, SHORT>) {  // also VARIANT_BOOL
    return vt == VT_I2 || vt == VT_BOOL;
  } else {
    return false;
  }
}

template <class T>
constexpr bool ParamMatches(const CQuorParamDesc& p) noexcept {
  if (p.direction == QuorParamDirection::kIn) {
    if constexpr (std::is_same_v<T, SAFEARRAY**>) return (p.vt & VT_ARRAY) != 0;
    return ValueMatches<T>(p.vt);
  }
  if constexpr (std::is_pointer_v<T> && !std::is_same_v<T, BSTR> && !kIsInterfacePtr<T>) {
    return ValueMatches<std::remove_pointer_t<T>>(p.vt);
  } else {
    return false;
  }
}

// Frees a value that an out-parameter received but nobody took.
template <class U>
void FreeValue(U& value) noexcept {
  if constexpr (std::is_same_v<U, BSTR>) {
    SysFreeString(value);
  } else if constexpr (std::is_same_v<U, SAFEARRAY*>) {
    (void)SafeArrayDestroy(value);  // (void): an array we own is never locked
  } else if constexpr (kIsInterfacePtr<U>) {
    if (value) value->Release();
  }
  value = U{};
}

// Moves value into *v as automation type vt.
template <class U>
void PutValue(U& value, VARTYPE vt, VARIANT* v) noexcept {
  VariantInit(v);
  v->vt = vt;
  if constexpr (std::is_same_v<U, BSTR>) {
    v->bstrVal = value;
  } else if constexpr (std::is_same_v<U, SAFEARRAY*>) {
    v->parray = value;
  } else if constexpr (kIsInterfacePtr<U>) {
    if constexpr (std::is_base_of_v<IDispatch, std::remove_pointer_t<U>>) {
      v->vt = VT_DISPATCH;
      v->pdispVal = value;
    } else {
      v->vt = VT_UNKNOWN;
      v->punkVal = value;
    }
  } else if (vt == VT_UI8) {
    v->ullVal = static_cast<ULONGLONG>(value);
  } else if (vt == VT_UI4) {
    v->ulVal = static_cast<ULONG>(value);
  } else if (vt == VT_I2) {
    v->iVal = static_cast<SHORT>(value);
  } else if (vt == VT_BOOL) {
    v->boolVal = static_cast<VARIANT_BOOL>(value);
  } else {
    v->lVal = static_cast<LONG>(value);
  }
  value = U{};
}

// One argument of one call: converted before the call, handed out after it.
template <class T>
class CArgSlot {
 public:
  CArgSlot() = default;
  CArgSlot(const CArgSlot&) = delete;
  CArgSlot& operator=(const CArgSlot&) = delete;
  ~CArgSlot() {
    if constexpr (kIsOut) FreeValue(m_out);
  }

  // arg is null for the [out,retval] parameter.
  HRESULT Bind(const CQuorParamDesc& param, VARIANT* arg) noexcept {
    if constexpr (std::is_same_v<T, BSTR>) {
      return CQuorTypeDispatcher::ReadBstr(arg, &m_in);
    } else if constexpr (std::is_same_v<T, SAFEARRAY*>) {
      return CQuorTypeDispatcher::ReadArray(arg, param.vt, &m_in);
    } else if constexpr (kIsInterfacePtr<T>) {
      IUnknown* unknown = nullptr;
      HRESULT hr = CQuorTypeDispatcher::ReadUnknown(arg, &unknown);
      if (FAILED(hr)) return hr;
      if (!unknown) return S_OK;
      using I = std::remove_pointer_t<T>;
      hr = unknown->QueryInterface(QuorIidOf<I>(), reinterpret_cast<void**>(m_ref.AddressOf()));
      return FAILED(hr) ? DISP_E_TYPEMISMATCH : S_OK;
    } else if constexpr (kIsScalar<T>) {
      ULONGLONG bits = 0;
      const HRESULT hr = CQuorTypeDispatcher::ReadInteger(arg, param.vt, &bits);
      m_in = static_cast<T>(bits);
      return hr;
    } else {
      if (param.direction == QuorParamDirection::kIn) {
        if constexpr (std::is_same_v<T, SAFEARRAY**>) {
          return CQuorTypeDispatcher::ReadArray(arg, param.vt, &m_array);
        }
        return DISP_E_TYPEMISMATCH;
      }
      return arg ? CQuorTypeDispatcher::CheckOutTarget(arg, param.vt) : S_OK;
    }
  }

  T Get() noexcept {
    if constexpr (kIsInterfacePtr<T>) {
      return m_ref.Get();
    } else if constexpr (kIsOut) {
      if constexpr (std::is_same_v<T, SAFEARRAY**>) {
        if (m_array) return &m_array;
      }
      return &m_out;
    } else {
      return m_in;
    }
  }

  // After a successful call: hands an out value to its target (arg, or pVarResult for the
  // retval); a retval without pVarResult is freed.
  void Finish(const CQuorParamDesc& param, VARIANT* arg, VARIANT* pVarResult) noexcept {
    if constexpr (kIsOut) {
      if (param.direction == QuorParamDirection::kIn) return;
      VARIANT value;
      if (param.direction == QuorParamDirection::kOutRetval) {
        if (pVarResult) PutValue(m_out, param.vt, pVarResult);
        return;
      }
      PutValue(m_out, param.vt, &value);
      CQuorTypeDispatcher::StoreOut(arg, &value);
    }
  }

 private:
  static constexpr bool kIsOut = std::is_pointer_v<T> && !std::is_same_v<T, BSTR> &&
                                 !std::is_same_v<T, SAFEARRAY*> && !kIsInterfacePtr<T>;
  using TOut = std::conditional_t<kIsOut, std::remove_pointer_t<T>, int>;
  using TIn = std::conditional_t<kIsOut || kIsInterfacePtr<T>, int, T>;
  using TRef = std::conditional_t<kIsInterfacePtr<T>, std::remove_pointer_t<T>, IUnknown>;

  TIn m_in{};
  TOut m_out{};
  SAFEARRAY* m_array = nullptr;  // an [in] array passed by pointer
  CQuorComPtr<TRef> m_ref;
};

}  // namespace quor_dispatch_detail

template <auto Method>
struct CQuorDispatchInvoker;

template <class TInterface, class... TArgs, HRESULT (TInterface::*Method)(TArgs...)>
struct CQuorDispatchInvoker<Method> {
  using Interface = TInterface;
  static constexpr UINT kArity = sizeof...(TArgs);

  static constexpr bool Matches(std::span<const CQuorParamDesc> params) noexcept {
    if (params.size() != kArity) return false;
    return MatchesAt(params, std::index_sequence_for<TArgs...>{});
  }

  static HRESULT Invoke(void* pInterface, const CQuorMethodDesc& method, DISPPARAMS* params,
                        VARIANT* pVarResult, UINT* puArgErr, HRESULT* phrMethod) noexcept {
    return InvokeAt(static_cast<TInterface*>(pInterface), method, params, pVarResult, puArgErr,
                    phrMethod, std::index_sequence_for<TArgs...>{});
  }

 private:
  template <std::size_t... kIndex>
  static constexpr bool MatchesAt([[maybe_unused]] std::span<const CQuorParamDesc> params,
                                  std::index_sequence<kIndex...>) noexcept {
    return (quor_dispatch_detail::ParamMatches<TArgs>(params[kIndex]) && ...);
  }

  template <std::size_t... kIndex>
  static HRESULT InvokeAt(TInterface* object, const CQuorMethodDesc& method, DISPPARAMS* params,
                          [[maybe_unused]] VARIANT* pVarResult, UINT* puArgErr, HRESULT* phrMethod,
                          std::index_sequence<kIndex...>) noexcept {
    std::tuple<quor_dispatch_detail::CArgSlot<TArgs>...> slots;
    // Arguments arrive last-first; the retval (always the last parameter) has none.
    [[maybe_unused]] auto argOf = [&](std::size_t index) -> VARIANT* {
      if (method.params[index].direction == QuorParamDirection::kOutRetval) return nullptr;
      return &params->rgvarg[params->cArgs - 1 - index];
    };
    HRESULT hr = S_OK;
    [[maybe_unused]] auto bind = [&](auto& slot, std::size_t index) {
      if (FAILED(hr)) return;
      hr = slot.Bind(method.params[index], argOf(index));
      if (FAILED(hr) && puArgErr) *puArgErr = static_cast<UINT>(params->cArgs - 1 - index);
    };
    (bind(std::get<kIndex>(slots), kIndex), ...);
    if (FAILED(hr)) return hr;
    *phrMethod = (object->*Method)(std::get<kIndex>(slots).Get()...);
    if (SUCCEEDED(*phrMethod)) {
      (std::get<kIndex>(slots).Finish(method.params[kIndex], argOf(kIndex), pVarResult), ...);
    }
    return S_OK;
  }
};

template <auto Method>
constexpr CQuorMethodDesc QuorDescribeMethod(const char16_t* name, DISPID dispid,
                                             const char16_t* helpString,
                                             std::initializer_list<CQuorParamDesc> params) {
  using TInvoker = CQuorDispatchInvoker<Method>;
  CQuorMethodDesc method{name, dispid, helpString, {}, 0, &TInvoker::Invoke};
  if (params.size() > kMaxDispatchParams) throw std::logic_error("too many parameters");
  for (const CQuorParamDesc& p : params) method.params[method.paramCount++] = p;
  if (!TInvoker::Matches(method.Params())) {
    throw std::logic_error("description does not fit the member function");
  }
  for (UINT i = 0; i + 1 < method.paramCount; ++i) {
    if (method.params[i].direction == QuorParamDirection::kOutRetval) {
      throw std::logic_error("[out,retval] must be the last parameter");
    }
  }
  return method;
}

#define QUOR_DISPATCH_METHOD(TInterface, Name, dispid, ...) \
  QuorDescribeMethod<&TInterface::Name>(u"" #Name, dispid, u"method " #Name, {__VA_ARGS__})
#define QUOR_DISPATCH_METHOD_NO_HELP(TInterface, Name, dispid, ...) \
  QuorDescribeMethod<&TInterface::Name>(u"" #Name, dispid, nullptr, {__VA_ARGS__})
