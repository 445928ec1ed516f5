#include "frame/text_utils.h"

#include <langinfo.h>
#include <locale.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "frame/format.h"
#include "frame/message_box.h"

namespace {

// Numbers are parsed in the "C" locale whatever the process locale says (a GUI toolkit may
// switch LC_NUMERIC to one with a decimal comma).
locale_t CLocale() {
    static locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return loc;
}

size_t Utf8Len(unsigned char lead) {
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    if ((lead & 0xF8) == 0xF0) return 4;
    return 1;
}

}  // namespace

bool TryStrToIntBase(const std::string& text, int base, int32_t& value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    long long v = strtoll_l(text.c_str(), &end, base, CLocale());
    if (end == text.c_str() || *end != '\0' || errno == ERANGE || errno == EINVAL) return false;
    // Embedded NULs would end the C string early.
    if (static_cast<size_t>(end - text.c_str()) != text.size()) return false;
    if (v < INT32_MIN || v > INT32_MAX) return false;
    value = static_cast<int32_t>(v);
    return true;
}

bool TryStrToFloatAnyComma(const std::string& text, double& value) {
    if (text.empty()) return false;
    const std::string s = ReplaceChar(text, ',', '.');
    errno = 0;
    char* end = nullptr;
    double v = strtod_l(s.c_str(), &end, CLocale());
    if (end == s.c_str() || *end != '\0') return false;
    if (static_cast<size_t>(end - s.c_str()) != s.size()) return false;
    // "inf", "nan" and overflowing inputs are not numbers a user means to enter.
    if (!std::isfinite(v)) return false;
    value = v;
    return true;
}

std::string ReplaceChar(std::string text, char from, char to) {
    for (char& ch : text)
        if (ch == from) ch = to;
    return text;
}

std::string ReplaceAll(const std::string& text, const std::string& what, const std::string& with) {
    if (what.empty()) return text;
    std::string out;
    out.reserve(text.size());
    size_t pos = 0;
    for (;;) {
        size_t hit = text.find(what, pos);
        if (hit == std::string::npos) break;
        out.append(text, pos, hit - pos);
        out += with;
        pos = hit + what.size();
    }
    out.append(text, pos, std::string::npos);
    return out;
}

void ShowInputError(const std::string& fieldName, const std::string& text) {
    const std::string msg =
        text.empty()
            ? Format("Отсутствуют данные в поле \"%s\"!", fieldName.c_str())
            : Format("Не корректные данные \"%s\" в поле \"%s\"!", text.c_str(), fieldName.c_str());
    MyMessageBox(nullptr, msg, "Некорректный ввод!", MB_ICONERROR);
}

std::string FitTextToWidth(const std::string& text, const TextWidthFn& measure, int width) {
    if (measure(text) < width) return text;
    const int dots = measure("...");
    std::string kept;
    size_t i = 0;
    while (i < text.size()) {
        size_t len = Utf8Len(static_cast<unsigned char>(text[i]));
        std::string candidate = kept + text.substr(i, len);
        if (width < measure(candidate) + dots + 3) break;
        kept = std::move(candidate);
        i += len;
    }
    return kept + "...";
}

std::string BytesToHexList(const uint8_t* first, const uint8_t* last) {
    std::string out = "[";
    for (const uint8_t* p = first; p != last; ++p) {
        if (p != first) out += ", ";
        out += Format("%x", static_cast<unsigned>(*p));
    }
    out += "]";
    return out;
}

std::string HexDump(const uint8_t* first, const uint8_t* last, const std::string& prefix,
                    uint32_t address, int addressDigits) {
    std::string out;
    const size_t n = static_cast<size_t>(last - first);
    for (size_t line = 0; line * 16 < n; ++line) {
        if (line) out += "\n";
        out += prefix;
        out += Format("%0*X", addressDigits, static_cast<unsigned>(address + line * 16));
        out += "\t";
        for (size_t k = line * 16; k < n && k < line * 16 + 16; ++k)
            out += Format("%02X ", static_cast<unsigned>(first[k]));
    }
    return out;
}

std::string DateTimeText(TDateTime dt) {
    std::string date = DatePart(dt) == 0 ? "00.00.00" : FormatDateTime("dd.mm.yy", dt);
    return date + ", " + FormatDateTime("hh:nn", dt);
}

std::string FloatToStr(double v, char decimalSeparator) {
    char buf[64];
    // snprintf_l does not exist in glibc; switch this thread to "C" for the conversion.
    locale_t prev = uselocale(CLocale());
    std::snprintf(buf, sizeof buf, "%.15g", v);
    uselocale(prev);
    std::string s(buf);
    if (decimalSeparator != '.') s = ReplaceChar(s, '.', decimalSeparator);
    return s;
}

char SystemDecimalSeparator() {
    static const char sep = [] {
        char c = '.';
        locale_t loc = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
        if (loc != static_cast<locale_t>(0)) {
            const char* r = nl_langinfo_l(RADIXCHAR, loc);
            if (r && r[0] && !r[1]) c = r[0];
            freelocale(loc);
        }
        return c;
    }();
    return sep;
}

std::string LowerCaseCI(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c >= 'A' && c <= 'Z') {
            out += static_cast<char>(c + 32);
        } else if ((c == 0xD0 || c == 0xD1) && i + 1 < s.size()) {
            unsigned char d = static_cast<unsigned char>(s[i + 1]);
            // Cyrillic capitals: U+0410..U+042F (D0 90..D0 AF), U+0400..U+040F (D0 80..D0 8F).
            if (c == 0xD0 && d >= 0x90 && d <= 0x9F) {
                out += static_cast<char>(0xD0);
                out += static_cast<char>(d + 0x20);  // а..п = D0 B0..D0 BF
            } else if (c == 0xD0 && d >= 0xA0 && d <= 0xAF) {
                out += static_cast<char>(0xD1);
                out += static_cast<char>(d - 0x20);  // р..я = D1 80..D1 8F
            } else if (c == 0xD0 && d >= 0x80 && d <= 0x8F) {
                out += static_cast<char>(0xD1);
                out += static_cast<char>(d + 0x10);  // ѐ..џ = D1 90..D1 9F (Ё → ё)
            } else {
                out += static_cast<char>(c);
                out += static_cast<char>(d);
            }
            ++i;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

bool SameTextCI(const std::string& a, const std::string& b) {
    if (a == b) return true;
    return LowerCaseCI(a) == LowerCaseCI(b);
}
