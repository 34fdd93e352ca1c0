// The runtime's invalid-parameter report, with the names of the Windows C runtime: a runtime
// function that detects an invalid argument reports it through _invalid_parameter, which calls
// the handler installed by the process (or by a library loaded into it) and otherwise ends the
// process. The handler returning lets the detecting call fail with its usual error.
//
// The C library of this platform reports nothing this way; the platform layer's own checks may.
// Any thread; the handler is one process-wide pointer.
#pragma once

#include <cstdint>

using _invalid_parameter_handler = void (*)(const wchar_t* expression, const wchar_t* function,
                                            const wchar_t* file, unsigned int line,
                                            std::uintptr_t reserved);

// Installs pNew (null: none) and returns the handler it replaces.
_invalid_parameter_handler _set_invalid_parameter_handler(_invalid_parameter_handler pNew) noexcept;
_invalid_parameter_handler _get_invalid_parameter_handler() noexcept;

// Reports an invalid parameter: calls the installed handler and returns, or, without one, aborts
// the process.
void _invalid_parameter(const wchar_t* expression, const wchar_t* function, const wchar_t* file,
                        unsigned int line, std::uintptr_t reserved) noexcept;
