// CLoggedException: the one exception the library raises inside an operation. It carries the
// HRESULT to return and the formatted catalogue message; the operation's method frame catches
// it, logs it and turns it into error information and the returned HRESULT. Also the raise
// helper and the propagation macros.
#pragma once

#include <exception>
#include <string>
#include <type_traits>
#include <utility>

#include "core/QuorMessageCatalogue.h"
#include "quormediafiles/platform/QuorTypes.h"

class CLoggedException : public std::exception {
 public:
  CLoggedException(HRESULT hr, std::string message) noexcept
      : m_hr(hr), m_message(std::move(message)) {}

  HRESULT Hr() const noexcept { return m_hr; }
  const std::string& Message() const noexcept { return m_message; }
  const char* what() const noexcept override { return m_message.c_str(); }

 private:
  HRESULT m_hr;
  std::string m_message;
};

// Throws a CLoggedException with hr and the text of message formatted with args, whose types
// the message fixes.
template <typename... Params>
[[noreturn]] void Raise(HRESULT hr, const QuorMessage<Params...>& message,
                        std::type_identity_t<Params>... args) {
  std::string text;
  try {
    text = message.Format(args...);
  } catch (...) {
    // Raising never fails for want of a message: the HRESULT still travels.
  }
  throw CLoggedException(hr, std::move(text));
}

// Returns the HRESULT of expr from the enclosing function when it is a failure.
#define QUOR_RETURN_IF_FAILED(expr)      \
  do {                                   \
    const HRESULT quorHr_ = (expr);      \
    if (FAILED(quorHr_)) return quorHr_; \
  } while (false)

// Raises the HRESULT of expr with message (one without arguments) when it is a failure: how a
// method frame's body turns a helper's failure into its own.
#define QUOR_RAISE_IF_FAILED(expr, message)           \
  do {                                                \
    const HRESULT quorHr_ = (expr);                   \
    if (FAILED(quorHr_)) ::Raise(quorHr_, (message)); \
  } while (false)
