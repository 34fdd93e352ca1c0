// Reads one value through a getter that returns an HRESULT and stores through its last
// parameter: Got(object, &CClass::GetValue, leading arguments...) expects S_OK and returns the
// value (a default value when the getter failed). A string comes back as UTF-8 and an interface
// pointer or an array in its owner, so that nothing leaks. Beside it, the other ways a test takes
// something from the component runtime: a new object, and the thread's error text.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <type_traits>

#include "quormediafiles/platform/QuorComPtr.h"
#include "quormediafiles/platform/QuorDispatch.h"
#include "quormediafiles/platform/QuorErrorInfo.h"
#include "quormediafiles/platform/QuorOleAuto.h"

template <class Method>
struct QuorGetterOf;
template <class Object, class... Parameters>
struct QuorGetterOf<HRESULT (Object::*)(Parameters...)> {
  using Out = std::tuple_element_t<sizeof...(Parameters) - 1, std::tuple<Parameters...>>;
  using Value = std::remove_pointer_t<Out>;
};
template <class Object, class... Parameters>
struct QuorGetterOf<HRESULT (Object::*)(Parameters...) const>
    : QuorGetterOf<HRESULT (Object::*)(Parameters...)> {};

template <class Object, class Method, class... Arguments>
auto Got(Object* object, Method get, Arguments... arguments) {
  typename QuorGetterOf<Method>::Value value{};
  EXPECT_EQ((object->*get)(arguments..., &value), S_OK);
  if constexpr (std::is_same_v<decltype(value), BSTR>) {
    CQuorBstr owned;
    owned.Attach(value);
    return owned.ToUtf8();
  } else if constexpr (std::is_same_v<decltype(value), SAFEARRAY*>) {
    CQuorSafeArray owned;
    owned.Attach(value);
    return owned;
  } else if constexpr (std::is_convertible_v<decltype(value), IUnknown*>) {
    CQuorComPtr<std::remove_pointer_t<decltype(value)>> owned;
    owned.Attach(value);
    return owned;
  } else {
    return value;
  }
}

// A new object of a class, as its interface T (null when it cannot be made).
template <class T>
CQuorComPtr<T> CreateObject(REFCLSID clsid) {
  CQuorComPtr<T> object;
  EXPECT_EQ(CoCreateInstance(clsid, &object), S_OK);
  return object;
}

// The object's interface T (null, and a failure, when it has none).
template <class T, class Object>
CQuorComPtr<T> QueryAs(const CQuorComPtr<Object>& object) {
  CQuorComPtr<T> answer;
  EXPECT_EQ(object.As(&answer), S_OK);
  return answer;
}

// The description of the calling thread's error record, which this takes; "" when there is none.
inline std::string LastErrorText() {
  CQuorComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.AddressOf()) != S_OK || !info) return "";
  CQuorBstr text;
  (void)info->GetDescription(text.AddressOf());  // "" when it fails
  return text.ToUtf8();
}
