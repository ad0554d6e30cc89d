#include "modbus/number_format.h"

#include "evaluator/evaluation.h"
#include "platform/text.h"

#include <cmath>

namespace modbus {

std::string GeneralNumberText(double value, int precision, int exponentDigits) {
    return platform::FloatToStrGeneral(value, precision, '.', -5, exponentDigits);
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
    const std::string text =
        ReplaceValueMacro(expression, GeneralNumberText(value, precision, exponentDigits));
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
