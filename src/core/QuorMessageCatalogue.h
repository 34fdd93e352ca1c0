// The message catalogue: numbered 8-bit message texts, some with printf-style placeholders
// (%i for an int, %s for a const char*, 0x%08X for an unsigned 32-bit value such as an
// HRESULT or a timestamp word). Read-only data; callable from any thread.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/log/QuorFormatText.h"

using QuorMessageId = std::uint16_t;

// Raised by operations that have no catalogue message of their own; its text is empty.
inline constexpr QuorMessageId kQuorNoMessage = 0;

// The text of id exactly as catalogued, or an empty view for an id without text. The view
// stays valid for the life of the process and is NUL-terminated.
std::string_view QuorLoadMessage(QuorMessageId id) noexcept;

// printf-style formatting of a format string; an empty string when format is null.
std::string QuorFormatText(const char* format, ...);
// The catalogue text of id (a QuorMessageId; a promoted type, as variadic functions need)
// formatted with the arguments; empty for an id without text.
std::string QuorFormatMessage(unsigned int id, ...);
