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

// Throws a CLoggedException with hr and the catalogue text of messageId formatted with args
// (ints, unsigned values and const char* only: they are passed to printf). An id without
// text gives an empty message.
template <typename... Args>
[[noreturn]] void Raise(HRESULT hr, QuorMessageId messageId, Args... args) {
  static_assert(((std::is_arithmetic_v<Args> || std::is_pointer_v<Args>)&&...),
                "message arguments are printf arguments");
  std::string message;
  try {
    message = QuorFormatMessage(messageId, args...);
  } catch (...) {
    // Raising never fails for want of a message: the HRESULT still travels.
  }
  throw CLoggedException(hr, std::move(message));
}

// Returns the HRESULT of expr from the enclosing function when it is a failure.
#define QUOR_RETURN_IF_FAILED(expr)      \
  do {                                   \
    const HRESULT quorHr_ = (expr);      \
    if (FAILED(quorHr_)) return quorHr_; \
  } while (false)

// Raises the HRESULT of expr with the catalogue message messageId when it is a failure.
#define QUOR_RAISE_IF_FAILED(expr, messageId)           \
  do {                                                  \
    const HRESULT quorHr_ = (expr);                     \
    if (FAILED(quorHr_)) ::Raise(quorHr_, (messageId)); \
  } while (false)
