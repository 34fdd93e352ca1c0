// What the quor implementation shares: turning result codes and the thread's error information
// into quor::Error, and strings into BSTRs. Used only inside the quor library.
#pragma once

#include <string>
#include <string_view>

#include "quormediafiles/QuorMediaFilesCpp.h"
#include "quormediafiles/quor.hpp"

namespace quor::detail {

// Throws Error for a failed hr, with the description the failing object left on this thread.
inline HRESULT Check(HRESULT hr, const char* operation) {
  if (SUCCEEDED(hr)) return hr;
  throw Error(hr, operation, QuorTakeErrorDescription());
}

// Runs body, turning the C++ layer's CQuorError into Error.
template <class Body>
decltype(auto) Translate(Body&& body) {
  try {
    return body();
  } catch (const CQuorError& e) {
    throw Error(e.Code(), e.Operation(), e.Description());
  }
}

// text as a BSTR; Error (E_INVALIDARG) when it is not valid UTF-8, since the objects take
// UTF-16 and a path that does not survive the round trip would name another file.
CQuorBstr Utf8Bstr(std::string_view text, const char* what);

}  // namespace quor::detail
