#pragma once

#include <cstdarg>
#include <string>

// printf-style formatting into a std::string (g++ 12 has no <format>). Every user-visible
// text with "%d"/"%s" placeholders goes through here so the texts stay exactly as written.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* fmt, va_list args);
