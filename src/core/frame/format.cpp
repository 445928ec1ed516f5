#include "frame/format.h"

#include <locale.h>

#include <cstdio>

namespace {
// Texts are formatted in the "C" locale whatever the process locale says: a GUI toolkit may
// switch LC_NUMERIC to a locale with a decimal comma, and the program's texts use the point.
locale_t CLocale() {
    static locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return loc;
}

struct CLocaleScope {
    CLocaleScope() : prev(uselocale(CLocale())) {}
    ~CLocaleScope() { uselocale(prev); }
    locale_t prev;
};
}  // namespace

std::string FormatV(const char* fmt, va_list args) {
    CLocaleScope cLocale;
    char small[256];
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(small, sizeof small, fmt, copy);
    va_end(copy);
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
    std::string out(static_cast<size_t>(n), '\0');
    std::vsnprintf(out.data(), out.size() + 1, fmt, args);
    return out;
}

std::string Format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string s = FormatV(fmt, args);
    va_end(args);
    return s;
}
