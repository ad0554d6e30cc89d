#include "modbus/number_format.h"

#include "evaluator/evaluation.h"
#include "platform/text.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace modbus {

std::string GeneralNumberText(double value, int precision, int exponentDigits) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    if (value == 0) return "0"; // also for -0: "2-%VALUE%" must not become "2--0"
    if (precision < 1) precision = 1;
    if (precision > 17) precision = 17;

    // Scientific notation with precision digits gives the correctly rounded digits and the exponent
    // of the rounded value, which decides the notation.
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, precision - 1);
    std::string_view sci(buf, static_cast<std::size_t>(r.ptr - buf));
    const bool negative = sci.front() == '-';
    if (negative) sci.remove_prefix(1);
    const std::size_t e = sci.find('e');
    std::string digits;
    for (char c : sci.substr(0, e))
        if (c != '.') digits.push_back(c);
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
    int exponent = 0;
    const char* expText = sci.data() + e + 1;
    if (*expText == '+') ++expText;
    std::from_chars(expText, sci.data() + sci.size(), exponent);

    std::string out = negative ? "-" : "";
    if (exponent >= -5 && exponent < precision) {
        if (exponent < 0) {
            out += "0.";
            out.append(static_cast<std::size_t>(-exponent - 1), '0');
            out += digits;
        } else {
            const auto intLength = static_cast<std::size_t>(exponent) + 1;
            if (digits.size() <= intLength) {
                out += digits;
                out.append(intLength - digits.size(), '0');
            } else {
                out += digits.substr(0, intLength);
                out += '.';
                out += digits.substr(intLength);
            }
        }
        return out;
    }
    out += digits[0];
    if (digits.size() > 1) {
        out += '.';
        out += digits.substr(1);
    }
    out += 'E';
    if (exponent < 0) out += '-';
    const std::string expDigits = platform::IntToStr(std::abs(exponent));
    if (static_cast<int>(expDigits.size()) < exponentDigits)
        out.append(static_cast<std::size_t>(exponentDigits) - expDigits.size(), '0');
    out += expDigits;
    return out;
}

std::string ReplaceValueMacro(std::string_view expression, std::string_view valueText) {
    static constexpr std::string_view kMacro = "%VALUE%";
    // Upper-casing keeps every byte in its place, so positions found in the copy hold in the original.
    const std::string upper = platform::UpperCase(expression);
    std::string out;
    std::size_t from = 0;
    for (std::size_t at = upper.find(kMacro); at != std::string::npos; at = upper.find(kMacro, from)) {
        out.append(expression.substr(from, at - from));
        out.append(valueText);
        from = at + kMacro.size();
    }
    out.append(expression.substr(from));
    return out;
}

bool ApplyFormula(evaluator::TEvaluation& evaluation, const std::string& expression, int precision,
                  int exponentDigits, double& value, std::string& message) {
    message.clear();
    const std::string text = ReplaceValueMacro(expression, GeneralNumberText(value, precision, exponentDigits));
    const evaluator::Variant result = evaluation.Evaluation(text, message);
    if (!message.empty() || result.IsNull()) return false;
    try {
        value = result.AsDouble();
    } catch (const evaluator::EVariantError& e) {
        // A text that is no number: the formula's fault, reported like its other errors.
        message = e.what();
        return false;
    }
    return true;
}

int32_t RoundToInt32(double value) {
    const double r = std::nearbyint(value);
    if (!(r >= -2147483648.0 && r <= 2147483647.0)) throw ERangeError();
    return static_cast<int32_t>(r);
}

int64_t RoundToInt64(double value) {
    const double r = std::nearbyint(value);
    if (!(r >= -9223372036854775808.0 && r < 9223372036854775808.0)) throw ERangeError();
    return static_cast<int64_t>(r);
}

float ToSingle(double value) {
    // From 2^128 - 2^103 on, a value rounds past the largest single.
    static constexpr double kLimit = 340282356779733661637539395458142568448.0;
    if (std::isfinite(value) && std::fabs(value) >= kLimit) throw ERangeError();
    return static_cast<float>(value);
}

} // namespace modbus
