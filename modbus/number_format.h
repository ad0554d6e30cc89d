// Numbers as the Modbus texts write them, and the conversions of decoded and written values.
//
// Formula texts must read back as one number whatever the machine's locale: "." is always the decimal
// point (a "," would split a function's arguments) and an exponent carries no "+".
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace evaluator {
class TEvaluation;
}

namespace modbus {

// The general number format (platform::FloatToStrGeneral) as the Modbus texts write it: at most
// `precision` significant digits, fixed notation down to 0.00001 in magnitude, scientific ("1.5E-07")
// with at least `exponentDigits` exponent digits otherwise, "." as the decimal point.
std::string GeneralNumberText(double value, int precision, int exponentDigits);

// Every "%VALUE%" of a formula, in any letter case, replaced by `valueText`.
std::string ReplaceValueMacro(std::string_view expression, std::string_view valueText);

// Evaluates a formula over "%VALUE%", the value written with `precision` digits and `exponentDigits`
// exponent digits. True with the new value; false with the message (possibly empty) when the formula
// gives an error, Null or something that is not a number. Errors other than the evaluator's own
// pass through.
bool ApplyFormula(evaluator::TEvaluation& evaluation, const std::string& expression, int precision,
                  int exponentDigits, double& value, std::string& message);

// The error a conversion to an integer (or to single precision) raises for a value outside its range.
class ERangeError : public std::range_error {
public:
    ERangeError() : std::range_error("Range check error") {}
};

// To the nearest integer, halves to even; NaN, infinities and results outside the type raise ERangeError.
int32_t RoundToInt32(double value);
int64_t RoundToInt64(double value);
// To single precision; a finite value beyond the single range raises ERangeError.
float ToSingle(double value);

} // namespace modbus
