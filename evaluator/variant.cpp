#include "evaluator/variant.h"

#include "platform/text.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace evaluator {

const char* const kInvalidFloatOp = "Invalid floating point operation";
const char* const kFloatOverflow = "Floating point overflow";

namespace {

const char* const kVariantOverflow = "Variant overflow";

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Integers of the Double and Date kinds: nearest, halves to even; the low 32 bits of the 64-bit value.
int64_t RoundToInt64(double d) {
    if (!std::isfinite(d)) throw EVariantError(kVariantOverflow);
    const double r = std::nearbyint(d);
    // 2^63 is exact in a double; every double below it converts without overflow.
    if (r < -9223372036854775808.0 || r >= 9223372036854775808.0) throw EVariantError(kVariantOverflow);
    return static_cast<int64_t>(r);
}

int32_t Low32(int64_t v) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v)));
}

// An integer-kind result: Integer when it fits, Double otherwise.
Variant IntegerResult(int64_t v) {
    if (v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max())
        return Variant(static_cast<int32_t>(v));
    return Variant(static_cast<double>(v));
}

enum class Op { Add, Sub, Mul };

Variant Arithmetic(const Variant& a, const Variant& b, Op op, int64_t (*intOp)(int64_t, int64_t),
                   double (*floatOp)(double, double));

} // namespace

const char* VarTypeName(VarType t) {
    switch (t) {
    case VarType::Null:
        return "Null";
    case VarType::Boolean:
        return "Boolean";
    case VarType::Byte:
        return "Byte";
    case VarType::Word:
        return "Word";
    case VarType::Integer:
        return "Integer";
    case VarType::Double:
        return "Double";
    case VarType::String:
        return "String";
    case VarType::Date:
        return "Date";
    }
    return "Unknown";
}

void RaiseConversion(VarType from, VarType to) {
    throw EVariantError(std::string("Could not convert variant of type (") + VarTypeName(from) +
                        ") into type (" + VarTypeName(to) + ")");
}

double CheckFloat(double v) {
    if (std::isnan(v)) throw EVariantError(kInvalidFloatOp);
    if (std::isinf(v)) throw EVariantError(kFloatOverflow);
    return v;
}

namespace {

// Without the control characters and blanks (code 32 and below) at either end.
std::string_view TrimControls(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && static_cast<unsigned char>(text[i]) <= 32)
        ++i;
    std::size_t end = text.size();
    while (end > i && static_cast<unsigned char>(text[end - 1]) <= 32)
        --end;
    return text.substr(i, end - i);
}

// The common text (digits, ".", exponent) goes to from_chars as it stands; it too takes the longest
// well-formed beginning. Its "inf" and "nan" are kept out by the first character. False when the
// text is not of that kind; whole then says whether all of it was read.
bool ReadCommonNumber(std::string_view text, double& value, bool& whole) {
    const std::size_t first = !text.empty() && text[0] == '-' ? 1 : 0;
    if (first >= text.size() || !(IsDigit(text[first]) || text[first] == '.') ||
        text.find(',') != std::string_view::npos)
        return false;
    double v = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (r.ec != std::errc()) return false;
    value = v;
    whole = r.ptr == text.data() + text.size();
    return true;
}

// The digits of a number with its decimal point ("." or ","), from p up to the first other character.
struct TMantissa {
    std::string Text; // digits with '.', for from_chars
    int Digits = 0;
    // Decimal position of the first significant digit, for the range decision.
    int64_t Magnitude = 0;
    bool Significant = false;
};

TMantissa ScanMantissa(std::string_view text, std::size_t& p) {
    TMantissa m;
    bool point = false;
    for (; p < text.size(); ++p) {
        const char c = text[p];
        if (IsDigit(c)) {
            ++m.Digits;
            if (c != '0') m.Significant = true;
            if (!point && m.Significant) ++m.Magnitude;
            if (point && !m.Significant) --m.Magnitude;
            m.Text.push_back(c);
        } else if ((c == '.' || c == ',') && !point) {
            point = true;
            m.Text.push_back('.');
        } else {
            break;
        }
    }
    return m;
}

// An exponent "e [sign] digits" at p: its value (capped in size), p moved past it; 0 and p left
// where it was when there are no digits.
int64_t ScanExponent(std::string_view text, std::size_t& p) {
    std::size_t q = p;
    if (q >= text.size() || (text[q] != 'e' && text[q] != 'E')) return 0;
    ++q;
    bool negative = false;
    if (q < text.size() && (text[q] == '+' || text[q] == '-')) negative = text[q++] == '-';
    const std::size_t start = q;
    int64_t exponent = 0;
    while (q < text.size() && IsDigit(text[q])) {
        if (exponent < 100000) exponent = exponent * 10 + (text[q] - '0');
        ++q;
    }
    if (q == start) return 0;
    p = q;
    return negative ? -exponent : exponent;
}

} // namespace

bool ReadNumber(std::string_view text, double& value) {
    text = TrimControls(text);
    bool whole = false;
    if (ReadCommonNumber(text, value, whole)) return whole;

    // The longest beginning of the form [sign] digits [. digits] [e [sign] digits].
    std::size_t p = 0;
    bool negative = false;
    if (p < text.size() && (text[p] == '+' || text[p] == '-')) negative = text[p++] == '-';
    const TMantissa mantissa = ScanMantissa(text, p);
    value = 0;
    if (mantissa.Digits == 0) return false;
    const int64_t exponent = ScanExponent(text, p);
    std::string number = mantissa.Text + "e" + platform::IntToStr(exponent);
    double v = 0;
    const auto r = std::from_chars(number.data(), number.data() + number.size(), v);
    if (r.ec == std::errc::result_out_of_range) {
        if (mantissa.Significant && mantissa.Magnitude + exponent > 0) throw EVariantError(kFloatOverflow);
        v = 0;
    }
    value = negative ? -v : v;
    return p == text.size();
}

bool EncodeDate(int32_t day, int32_t month, int32_t year, double& value) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (day > kDays[month - 1] + (month == 2 && leap ? 1 : 0)) return false;
    // Days from the civil date (proleptic Gregorian), counted from 1899-12-30.
    const int64_t y = month <= 2 ? year - 1 : year;
    const int64_t era = y / 400;
    const int64_t yoe = y - era * 400;
    const int64_t mp = (month + 9) % 12;
    const int64_t doy = (153 * mp + 2) / 5 + day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t daysFrom1970 = era * 146097 + doe - 719468;
    value = static_cast<double>(daysFrom1970 + 25569);
    return true;
}

std::string DateTimeToStr(double value) {
    // Only the days of the years 1 to 9999 have a text (and fit the integer steps below).
    constexpr double kFirstDay = -693593, kPastLastDay = 2958466;
    if (!(value >= kFirstDay && value < kPastLastDay)) RaiseConversion(VarType::Date, VarType::String);
    const double dayPart = std::floor(value);
    const int64_t z = static_cast<int64_t>(dayPart) - 25569 + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const int64_t m = mp < 10 ? mp + 3 : mp - 9;
    const int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
    auto two = [](int64_t v) { return (v < 10 ? "0" : "") + platform::IntToStr(v); };
    std::string out = two(d) + "." + two(m) + "." + platform::IntToStr(y);
    const int64_t seconds = static_cast<int64_t>(std::nearbyint((value - dayPart) * 86400.0));
    if (seconds > 0 && seconds < 86400)
        out += " " + two(seconds / 3600) + ":" + two(seconds / 60 % 60) + ":" + two(seconds % 60);
    return out;
}

double Variant::AsDouble() const {
    switch (type_) {
    case VarType::Boolean:
        return b_ ? -1.0 : 0.0;
    case VarType::Byte:
    case VarType::Word:
    case VarType::Integer:
        return i_;
    case VarType::Double:
    case VarType::Date:
        return d_;
    case VarType::String: {
        double v = 0;
        if (!ReadNumber(s_, v) || platform::Trim(s_).empty()) RaiseConversion(type_, VarType::Double);
        return v;
    }
    case VarType::Null:
        break;
    }
    RaiseConversion(type_, VarType::Double);
}

int32_t Variant::AsInteger() const {
    switch (type_) {
    case VarType::Boolean:
        return b_ ? -1 : 0;
    case VarType::Byte:
    case VarType::Word:
    case VarType::Integer:
        return i_;
    case VarType::Double:
    case VarType::Date:
        return Low32(RoundToInt64(d_));
    case VarType::String: {
        double v = 0;
        if (!ReadNumber(s_, v) || platform::Trim(s_).empty()) RaiseConversion(type_, VarType::Integer);
        return Low32(RoundToInt64(v));
    }
    case VarType::Null:
        break;
    }
    RaiseConversion(type_, VarType::Integer);
}

uint16_t Variant::AsWord() const {
    if (type_ == VarType::Null) RaiseConversion(type_, VarType::Word);
    return static_cast<uint16_t>(static_cast<uint32_t>(AsInteger()));
}

bool Variant::AsBoolean() const {
    switch (type_) {
    case VarType::Boolean:
        return b_;
    case VarType::Byte:
    case VarType::Word:
    case VarType::Integer:
        return i_ != 0;
    case VarType::Double:
    case VarType::Date:
        return d_ != 0;
    case VarType::String: {
        if (platform::SameText(platform::Trim(s_), "True")) return true;
        if (platform::SameText(platform::Trim(s_), "False")) return false;
        double v = 0;
        if (!ReadNumber(s_, v) || platform::Trim(s_).empty()) RaiseConversion(type_, VarType::Boolean);
        return v != 0;
    }
    case VarType::Null:
        break;
    }
    RaiseConversion(type_, VarType::Boolean);
}

std::string Variant::AsString() const {
    switch (type_) {
    case VarType::Boolean:
        return b_ ? "True" : "False";
    case VarType::Byte:
    case VarType::Word:
    case VarType::Integer:
        return platform::IntToStr(i_);
    case VarType::Double:
        return platform::FloatToStrGeneral(d_, 15);
    case VarType::Date:
        return DateTimeToStr(d_);
    case VarType::String:
        return s_;
    case VarType::Null:
        break;
    }
    RaiseConversion(type_, VarType::String);
}

bool Variant::SameAs(const Variant& o) const {
    if (type_ != o.type_) return false;
    switch (type_) {
    case VarType::Null:
        return true;
    case VarType::Boolean:
        return b_ == o.b_;
    case VarType::Byte:
    case VarType::Word:
    case VarType::Integer:
        return i_ == o.i_;
    case VarType::Double:
    case VarType::Date:
        return d_ == o.d_ || (std::isnan(d_) && std::isnan(o.d_));
    case VarType::String:
        return s_ == o.s_;
    }
    return false;
}

std::string Variant::Describe() const {
    std::string out = VarTypeName(type_);
    switch (type_) {
    case VarType::Null:
        return out;
    case VarType::Double:
    case VarType::Date:
        return out + " " + platform::FloatToStrShortest(d_);
    case VarType::String:
        return out + " '" + platform::Utf8FromCp1251(s_) + "'";
    default:
        return out + " " + AsString();
    }
}

namespace {

Variant Arithmetic(const Variant& a, const Variant& b, Op op, int64_t (*intOp)(int64_t, int64_t),
                   double (*floatOp)(double, double)) {
    if (a.IsNull() || b.IsNull()) return Variant();
    if (a.IsIntegerKind() && b.IsIntegerKind()) {
        // 32-bit operands: the exact result fits in 64 bits.
        const int64_t x = a.IsBoolean() ? (a.BoolValue() ? -1 : 0) : a.IntValue();
        const int64_t y = b.IsBoolean() ? (b.BoolValue() ? -1 : 0) : b.IntValue();
        return IntegerResult(intOp(x, y));
    }
    const double r = CheckFloat(floatOp(a.AsDouble(), b.AsDouble()));
    const bool aDate = a.Type() == VarType::Date, bDate = b.Type() == VarType::Date;
    if (op != Op::Mul && (aDate != bDate) && (aDate || op == Op::Add)) return Variant::Date(r);
    return Variant(r);
}

} // namespace

Variant VarAdd(const Variant& a, const Variant& b) {
    if (a.IsString() && b.IsString()) return Variant(a.StringValue() + b.StringValue());
    return Arithmetic(
        a, b, Op::Add, [](int64_t x, int64_t y) { return x + y; }, [](double x, double y) { return x + y; });
}

Variant VarSub(const Variant& a, const Variant& b) {
    return Arithmetic(
        a, b, Op::Sub, [](int64_t x, int64_t y) { return x - y; }, [](double x, double y) { return x - y; });
}

Variant VarMul(const Variant& a, const Variant& b) {
    return Arithmetic(
        a, b, Op::Mul, [](int64_t x, int64_t y) { return x * y; }, [](double x, double y) { return x * y; });
}

Variant VarDiv(const Variant& a, const Variant& b) {
    if (a.IsNull() || b.IsNull()) return Variant();
    return Variant(CheckFloat(a.AsDouble() / b.AsDouble()));
}

Variant VarNeg(const Variant& a) {
    switch (a.type_) {
    case VarType::Null:
        return a;
    case VarType::Double:
        return Variant(-a.d_);
    case VarType::Date:
        return Variant::Date(-a.d_);
    case VarType::String:
        return Variant(-a.AsDouble());
    default:
        return IntegerResult(-a.IntegerKindValue());
    }
}

Variant VarNot(const Variant& a) {
    if (a.IsNull()) return a;
    if (a.IsBoolean()) return Variant(!a.BoolValue());
    return Variant(static_cast<int32_t>(~static_cast<uint32_t>(a.AsInteger())));
}

Variant VarAnd(const Variant& a, const Variant& b) {
    if (a.IsNull() || b.IsNull()) return Variant();
    if (a.IsBoolean() && b.IsBoolean()) return Variant(a.BoolValue() && b.BoolValue());
    return Variant(
        static_cast<int32_t>(static_cast<uint32_t>(a.AsInteger()) & static_cast<uint32_t>(b.AsInteger())));
}

Variant VarOr(const Variant& a, const Variant& b) {
    if (a.IsNull() || b.IsNull()) return Variant();
    if (a.IsBoolean() && b.IsBoolean()) return Variant(a.BoolValue() || b.BoolValue());
    return Variant(
        static_cast<int32_t>(static_cast<uint32_t>(a.AsInteger()) | static_cast<uint32_t>(b.AsInteger())));
}

int VarCompare(const Variant& a, const Variant& b) {
    if (a.IsNull() || b.IsNull()) return (a.IsNull() ? 0 : 1) - (b.IsNull() ? 0 : 1);
    if (a.IsString() && b.IsString()) {
        const int c = a.s_.compare(b.s_); // std::string compares its chars as unsigned bytes
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    if (a.IsIntegerKind() && b.IsIntegerKind()) {
        const int64_t x = a.IntegerKindValue(), y = b.IntegerKindValue();
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    const double x = a.AsDouble(), y = b.AsDouble();
    return x < y ? -1 : (x > y ? 1 : 0);
}

} // namespace evaluator
