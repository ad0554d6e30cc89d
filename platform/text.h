// Text of the system: single-byte code page 1251 in std::string.
//
// Source files are UTF-8; a Russian literal becomes cp1251 through Cp() (or the _cp suffix) where it
// is defined. Case, trimming and number texts follow the original platform's rules and never depend
// on the C locale.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace platform {

// UTF-8 -> cp1251. Characters that cp1251 cannot hold, and malformed UTF-8, become '?'.
std::string Cp1251FromUtf8(std::string_view utf8);
// cp1251 -> UTF-8, for consoles, Qt widgets and test diagnostics only.
std::string Utf8FromCp1251(std::string_view cp);

// The helper for source literals: Cp("Имя устройства:") is the cp1251 text.
inline std::string Cp(std::string_view utf8) {
    return Cp1251FromUtf8(utf8);
}

char UpperChar(char c);
char LowerChar(char c);
std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);
// Case-insensitive comparison by the same rules (result < 0, 0, > 0 over the upper-cased bytes).
int CompareText(std::string_view a, std::string_view b);
bool SameText(std::string_view a, std::string_view b);

// Trimming removes blanks and control characters: bytes up to and including 0x20, unsigned.
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);

// Integer texts: an optional sign, then decimal digits, or "$" and hexadecimal digits. Any other
// character fails. Decimal texts outside the signed 32-bit range fail; up to 8 hexadecimal digits give
// their 32-bit pattern ("$FFFFFFFF" is -1), more fail.
bool TryStrToInt(std::string_view s, int32_t& value);
int32_t StrToIntDef(std::string_view s, int32_t def);

// Boolean texts: "TRUE"/"FALSE" in any letter case, or an integer text (0 False, other True).
bool TryStrToBool(std::string_view s, bool& value);
// "True" or "False", as the system writes a yes/no.
const char* BoolToStr(bool value);

std::string IntToStr(int64_t v);
// Hexadecimal digits, upper case, at least `digits` of them.
std::string IntToHex(uint64_t v, int digits);

// Floating-point texts with '.' as the decimal point (or the given one), optional exponent.
bool TryStrToFloat(std::string_view s, double& value, char decimalPoint = '.');
// The general format: up to `precision` significant digits, trailing zeros removed, fixed notation
// while the decimal exponent lies within lowestFixedExponent .. precision-1, scientific otherwise,
// with at least `exponentDigits` exponent digits and a sign only when negative ("1.5E-7", "1E20";
// "1.5E-07" with two digits). NaN and infinities give "NAN", "INF" and "-INF"; zero, also -0, "0".
std::string FloatToStrGeneral(double v, int precision = 15, char decimalPoint = '.',
                              int lowestFixedExponent = -4, int exponentDigits = 1);
// The shortest text that reads back as the same double.
std::string FloatToStrShortest(double v);

// A zero-terminated field of a record as text; a field without its zero ends at its width.
template <std::size_t N> std::string FieldText(const char (&field)[N]) {
    const void* end = std::memchr(field, 0, N);
    return std::string(field, end ? static_cast<const char*>(end) - field : N);
}

// Stores text into a zero-terminated field, cut so that the zero fits.
template <std::size_t N> void SetFieldText(char (&field)[N], const std::string& text) {
    const std::size_t n = text.size() < N - 1 ? text.size() : N - 1;
    std::memcpy(field, text.data(), n);
    std::memset(field + n, 0, N - n);
}

} // namespace platform

inline std::string operator""_cp(const char* s, std::size_t n) {
    return platform::Cp1251FromUtf8(std::string_view(s, n));
}
