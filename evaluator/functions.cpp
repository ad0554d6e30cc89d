// The published methods of TEvaluation: the function library of formulas.
#include "evaluator/evaluation.h"

#include <cmath>
#include <numbers>

namespace evaluator {

namespace {

// Logarithms and arc functions outside their domain.
double Domain(bool inside, double v) {
    if (!inside) throw EVariantError(kInvalidFloatOp);
    return CheckFloat(v);
}

uint32_t Bits32(const Variant& v) {
    return static_cast<uint32_t>(v.AsInteger());
}

// 10 to the power k; exact up to 10^22.
double Pow10(int64_t k) {
    static const double kExact[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    if (k <= 22) return kExact[k];
    return CheckFloat(std::pow(10.0, static_cast<double>(k)));
}

} // namespace

const TMethodTable& TEvaluation::EvaluationMethods() {
    static const TMethodTable table = [] {
        TMethodTable t;
        t.Publish<&TEvaluation::EvaluationFunction>("Evaluation")
            .Publish<&TEvaluation::PI>("PI")
            .Publish<&TEvaluation::Exp>("Exp")
            .Publish<&TEvaluation::True>("True")
            .Publish<&TEvaluation::False>("False")
            .Publish<&TEvaluation::ShiftLeft>("ShiftLeft")
            .Publish<&TEvaluation::ShiftRight>("ShiftRight")
            .Publish<&TEvaluation::Ln>("Ln")
            .Publish<&TEvaluation::Abs>("Abs")
            .Publish<&TEvaluation::Int>("Int")
            .Publish<&TEvaluation::Cos>("Cos")
            .Publish<&TEvaluation::Sin>("Sin")
            .Publish<&TEvaluation::Tan>("Tan")
            .Publish<&TEvaluation::Cosh>("Cosh")
            .Publish<&TEvaluation::Sinh>("Sinh")
            .Publish<&TEvaluation::Tanh>("Tanh")
            .Publish<&TEvaluation::Arccos>("Arccos")
            .Publish<&TEvaluation::Arcsin>("Arcsin")
            .Publish<&TEvaluation::Arctan>("Arctan")
            .Publish<&TEvaluation::Log2>("Log2")
            .Publish<&TEvaluation::log10>("log10")
            .Publish<&TEvaluation::Max>("Max")
            .Publish<&TEvaluation::Min>("Min")
            .Publish<&TEvaluation::Swap16>("Swap16")
            .Publish<&TEvaluation::Swap32>("Swap32")
            .Publish<&TEvaluation::GetByteFromInt32>("GetByteFromInt32")
            .Publish<&TEvaluation::GetWordFromInt32>("GetWordFromInt32")
            .Publish<&TEvaluation::IsBitSet>("IsBitSet")
            .Publish<&TEvaluation::Round>("Round")
            .Publish<&TEvaluation::iif>("iif");
        return t;
    }();
    return table;
}

double TEvaluation::PI() {
    return std::numbers::pi;
}
double TEvaluation::Exp(double D) {
    return CheckFloat(std::exp(D));
}
bool TEvaluation::True() {
    return true;
}
bool TEvaluation::False() {
    return false;
}

uint16_t TEvaluation::ShiftLeft(uint16_t D, uint16_t N) {
    return static_cast<uint16_t>((static_cast<uint32_t>(D) << (N % 32)) & 0xFFFF);
}

uint16_t TEvaluation::ShiftRight(uint16_t D, uint16_t N) {
    return static_cast<uint16_t>(static_cast<uint32_t>(D) >> (N % 32));
}

double TEvaluation::Ln(double D) {
    return Domain(D > 0, std::log(D));
}
double TEvaluation::Abs(double D) {
    return std::fabs(D);
}
double TEvaluation::Int(double D) {
    return std::trunc(D);
}
double TEvaluation::Cos(double D) {
    return CheckFloat(std::cos(D));
}
double TEvaluation::Sin(double D) {
    return CheckFloat(std::sin(D));
}
double TEvaluation::Tan(double D) {
    return CheckFloat(std::tan(D));
}
double TEvaluation::Cosh(double D) {
    return CheckFloat(std::cosh(D));
}
double TEvaluation::Sinh(double D) {
    return CheckFloat(std::sinh(D));
}
double TEvaluation::Tanh(double D) {
    return CheckFloat(std::tanh(D));
}
double TEvaluation::Arccos(double D) {
    return Domain(D >= -1 && D <= 1, std::acos(D));
}
double TEvaluation::Arcsin(double D) {
    return Domain(D >= -1 && D <= 1, std::asin(D));
}
double TEvaluation::Arctan(double D) {
    return std::atan2(D, 1.0);
}
double TEvaluation::Log2(double D) {
    return Domain(D > 0, std::log2(D));
}
double TEvaluation::log10(double D) {
    return Domain(D > 0, std::log10(D));
}

Variant TEvaluation::Max(const Variant& V1, const Variant& V2) {
    return VarCompare(V1, V2) > 0 ? V1 : V2;
}
Variant TEvaluation::Min(const Variant& V1, const Variant& V2) {
    return VarCompare(V1, V2) < 0 ? V1 : V2;
}

Variant TEvaluation::Swap16(const Variant& V1) {
    const uint32_t v = Bits32(V1);
    return Variant(static_cast<int32_t>((v & 0xFFFF0000u) | ((v & 0xFFu) << 8) | ((v >> 8) & 0xFFu)));
}

Variant TEvaluation::Swap32(const Variant& V1) {
    const uint32_t v = Bits32(V1);
    return Variant(static_cast<int32_t>((v << 16) | (v >> 16)));
}

Variant TEvaluation::GetByteFromInt32(const Variant& V1, uint16_t AByteNum) {
    const uint32_t v = Bits32(V1);
    if (AByteNum > 3) return Variant();
    return Variant(static_cast<uint8_t>((v >> (8 * AByteNum)) & 0xFFu));
}

Variant TEvaluation::GetWordFromInt32(const Variant& V1, uint16_t AWordNum) {
    const uint32_t v = Bits32(V1);
    switch (AWordNum) {
    case 0:
        return Variant(static_cast<uint16_t>(v & 0xFFFFu));
    case 1:
        return Variant(static_cast<uint16_t>(v >> 16));
    default:
        return Variant();
    }
}

Variant TEvaluation::IsBitSet(const Variant& V1, uint16_t ABit) {
    const uint32_t low = Bits32(V1) & 0xFFFFu;
    return Variant(static_cast<uint8_t>((low >> (ABit % 32)) & 1u));
}

// Rounds away from zero from a first decimal of 5 on, itself rounded: a fraction above 0.45 rounds up.
// All in floating point, so that no magnitude meets an integer type.
double TEvaluation::Round(double D, int32_t N) {
    const bool negative = D < 0;
    const double x = std::fabs(D);
    double scale = 1;
    if (N > 0)
        scale = Pow10(N);
    else if (N < 0)
        scale = 1 / Pow10(-static_cast<int64_t>(N));
    const double b = CheckFloat(x * scale);
    const double whole = std::trunc(b);
    const double c = std::nearbyint((b - whole) * 10); // ties to even: 4.5 gives 4, 5.5 gives 6
    const double up = c >= 5 ? 1 : 0;
    const double result = CheckFloat((whole + up) / scale);
    return negative ? -result : result;
}

Variant TEvaluation::iif(bool C, const Variant& V1, const Variant& V2) {
    return C ? V1 : V2;
}

} // namespace evaluator
