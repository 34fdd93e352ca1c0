#include "platform/crt/QuorInvalidParameter.h"

#include <atomic>
#include <cstdlib>

namespace {

std::atomic<_invalid_parameter_handler> g_handler{nullptr};

}  // namespace

_invalid_parameter_handler _set_invalid_parameter_handler(
    _invalid_parameter_handler pNew) noexcept {
  return g_handler.exchange(pNew, std::memory_order_acq_rel);
}

_invalid_parameter_handler _get_invalid_parameter_handler() noexcept {
  return g_handler.load(std::memory_order_acquire);
}

void _invalid_parameter(const wchar_t* expression, const wchar_t* function, const wchar_t* file,
                        unsigned int line, std::uintptr_t reserved) noexcept {
  const _invalid_parameter_handler handler = g_handler.load(std::memory_order_acquire);
  if (!handler) std::abort();
  handler(expression, function, file, line, reserved);
}
