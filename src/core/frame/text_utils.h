#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "frame/date_time.h"

// Whole-text number parsing: success only when the conversion takes the entire text.
bool TryStrToIntBase(const std::string& text, int base, int32_t& value);
// Accepts "," or "." as the decimal separator: "1,5" and "1.5" both give 1.5.
bool TryStrToFloatAnyComma(const std::string& text, double& value);

std::string ReplaceChar(std::string text, char from, char to);
// Replaces every occurrence; the search resumes after the text just inserted.
std::string ReplaceAll(const std::string& text, const std::string& what, const std::string& with);

// The input-error box of the dialogs (owner-less, caption "Некорректный ввод!").
void ShowInputError(const std::string& fieldName, const std::string& text);

// Measures the pixel width of a text in the font the caller draws with.
using TextWidthFn = std::function<int(const std::string&)>;
// Shortens text with "..." so that it fits width pixels. Works on UTF-8 characters.
std::string FitTextToWidth(const std::string& text, const TextWidthFn& measure, int width);

// "[a, 5, ff]": lower-case hexadecimal without leading zeros.
std::string BytesToHexList(const uint8_t* first, const uint8_t* last);
// Lines of 16 bytes: prefix, address padded to addressDigits, a tab, "XX " per byte.
std::string HexDump(const uint8_t* first, const uint8_t* last, const std::string& prefix,
                    uint32_t address, int addressDigits);

// "dd.mm.yy, hh:nn"; the date reads "00.00.00" when the date part is 0.
std::string DateTimeText(TDateTime dt);

// The general numeric form of the platform: up to 15 significant digits, no trailing zeros.
std::string FloatToStr(double v, char decimalSeparator = '.');

// The decimal separator of the user's locale (LC_ALL / LC_NUMERIC / LANG); "." without one.
char SystemDecimalSeparator();

// Case-insensitive comparison of UTF-8 texts for ASCII and Cyrillic letters, as the
// platform's ini look-up compares names.
bool SameTextCI(const std::string& a, const std::string& b);
std::string LowerCaseCI(const std::string& s);
