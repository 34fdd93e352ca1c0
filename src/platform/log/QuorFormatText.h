// printf-style formatting into a std::string, shared by the logging library and the message
// catalogue. Callable from any thread.
#pragma once

#include <cstdarg>
#include <string>

// The formatted text; an empty string when format is null or formatting fails. Throws only
// std::bad_alloc.
std::string QuorFormatTextV(const char* format, std::va_list args);
