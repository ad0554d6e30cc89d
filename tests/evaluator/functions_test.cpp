#include "evaluator/evaluation.h"

#include "platform/text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>

using namespace evaluator;

namespace {

::testing::AssertionResult Gives(const std::string& formula, const Variant& expected) {
    auto e = TEvaluation::Create();
    std::string message;
    const Variant v = e->Evaluation(formula, message);
    if (!message.empty())
        return ::testing::AssertionFailure() << formula << " raised: " << platform::Utf8FromCp1251(message);
    if (!v.SameAs(expected))
        return ::testing::AssertionFailure()
               << formula << " gave " << v.Describe() << ", expected " << expected.Describe();
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult Fails(const std::string& formula, const std::string& utf8Message) {
    auto e = TEvaluation::Create();
    std::string message;
    const Variant v = e->Evaluation(formula, message);
    if (!v.IsNull() || platform::Utf8FromCp1251(message) != utf8Message)
        return ::testing::AssertionFailure()
               << formula << " gave " << v.Describe() << " \"" << platform::Utf8FromCp1251(message) << "\"";
    return ::testing::AssertionSuccess();
}

const std::string kInvalid = "Invalid floating point operation";
const std::string kOverflow = "Floating point overflow";
const std::string kVarOverflow = "Variant overflow";

} // namespace

TEST(ByteAndWordFunctions, SwapsKeepTheirWordsAsStated) {
    EXPECT_TRUE(Gives("Swap16(4660)", int32_t{13330}));
    EXPECT_TRUE(Gives("Swap16(65536+4660)", int32_t{65536 + 13330}));
    EXPECT_TRUE(Gives("Swap16(-1)", int32_t{-1}));
    EXPECT_TRUE(Gives("Swap32(4660)", int32_t{4660 * 65536}));
    EXPECT_TRUE(Gives("Swap32(305419896)", int32_t{0x56781234}));
    EXPECT_TRUE(Gives("Swap32(32768)", int32_t{INT32_MIN})); // the sign bit arrives from the low word
    EXPECT_TRUE(Gives("Swap16(4659.5)", int32_t{13330}));    // a double is rounded, halves to even
    EXPECT_TRUE(Gives("Swap16(4660.5)", int32_t{13330}));
}

TEST(ByteAndWordFunctions, BytesAndWordsOfA32BitValue) {
    EXPECT_TRUE(Gives("GetByteFromInt32(305419896, 0)", uint8_t{0x78}));
    EXPECT_TRUE(Gives("GetByteFromInt32(305419896, 1)", uint8_t{0x56}));
    EXPECT_TRUE(Gives("GetByteFromInt32(305419896, 3)", uint8_t{0x12}));
    EXPECT_TRUE(Gives("GetByteFromInt32(305419896, 4)", Variant()));
    EXPECT_TRUE(Gives("GetByteFromInt32(-1, 3)", uint8_t{0xFF}));
    EXPECT_TRUE(Gives("GetWordFromInt32(305419896, 0)", uint16_t{0x5678}));
    EXPECT_TRUE(Gives("GetWordFromInt32(305419896, 1)", uint16_t{0x1234}));
    EXPECT_TRUE(Gives("GetWordFromInt32(305419896, 2)", Variant()));
    // Unsigned 32-bit readings keep their bits.
    EXPECT_TRUE(Gives("GetWordFromInt32(4294967295, 1)", uint16_t{0xFFFF}));
    EXPECT_TRUE(Gives("GetWordFromInt32(4294901760, 1)", uint16_t{0xFFFF}));
    EXPECT_TRUE(Gives("GetWordFromInt32(4294901760, 0)", uint16_t{0}));
    // A Word parameter keeps the low 16 bits: 65536 is 0, -1 is 65535 (so Null).
    EXPECT_TRUE(Gives("GetWordFromInt32(305419896, 65537)", uint16_t{0x1234}));
    EXPECT_TRUE(Gives("GetByteFromInt32(305419896, -1)", Variant()));
}

TEST(ByteAndWordFunctions, IsBitSetLooksAtTheLow16BitsOnly) {
    EXPECT_TRUE(Gives("IsBitSet(5, 2)", uint8_t{1}));
    EXPECT_TRUE(Gives("IsBitSet(5, 1)", uint8_t{0}));
    EXPECT_TRUE(Gives("IsBitSet(5, 0)", uint8_t{1}));
    EXPECT_TRUE(Gives("IsBitSet(65536, 16)", uint8_t{0}));
    EXPECT_TRUE(Gives("IsBitSet(-1, 16)", uint8_t{0}));
    EXPECT_TRUE(Gives("IsBitSet(-1, 31)", uint8_t{0}));
    EXPECT_TRUE(Gives("IsBitSet(-1, 15)", uint8_t{1}));
    EXPECT_TRUE(Gives("IsBitSet(1, 32)", uint8_t{1})); // bit number mod 32
    EXPECT_TRUE(Gives("IsBitSet(32768, 47)", uint8_t{1}));
    EXPECT_TRUE(Gives("iif(IsBitSet(5,2),1,0)", 1.0));
}

TEST(ByteAndWordFunctions, ShiftsWorkOnWords) {
    EXPECT_TRUE(Gives("ShiftLeft(1, 16)", uint16_t{0}));
    EXPECT_TRUE(Gives("ShiftLeft(1, 15)", uint16_t{32768}));
    EXPECT_TRUE(Gives("ShiftLeft(3, 33)", uint16_t{6}));    // N mod 32
    EXPECT_TRUE(Gives("ShiftLeft(65537, 1)", uint16_t{2})); // D is a Word
    EXPECT_TRUE(Gives("ShiftRight(32768, 15)", uint16_t{1}));
    EXPECT_TRUE(Gives("ShiftRight(32768, 16)", uint16_t{0}));
    EXPECT_TRUE(Gives("ShiftRight(32768, 47)", uint16_t{1}));
}

TEST(RoundFunction, RoundsUpFromAFractionAboveZeroPoint45) {
    EXPECT_TRUE(Gives("Round(2.46, 0)", 3.0));
    EXPECT_TRUE(Gives("Round(2.44, 0)", 2.0));
    EXPECT_TRUE(Gives("Round(-2.46, 0)", -3.0));
    EXPECT_TRUE(Gives("Round(2.449, 0)", 2.0));
    EXPECT_TRUE(Gives("Round(2.451, 0)", 3.0));
    EXPECT_TRUE(Gives("Round(2.45, 0)", 3.0)); // the double is a little above 2.45
    EXPECT_TRUE(Gives("Round(0.45, 0)", 0.0)); // its first decimal is 4.5 exactly, which rounds to 4
    EXPECT_TRUE(Gives("Round(0.55, 0)", 1.0)); // 5.5 rounds to 6
    EXPECT_TRUE(Gives("Round(2.5, 0)", 3.0));
    EXPECT_TRUE(Gives("Round(1234, -2)", 1200.0));
    EXPECT_TRUE(Gives("Round(1250, -2)", 1300.0));
    EXPECT_TRUE(Gives("Round(1.006, 2)", 1.01));
    EXPECT_TRUE(Gives("Round(1234/10, 1)", 123.4));
    EXPECT_TRUE(Gives("Round(0, 3)", 0.0));
    EXPECT_TRUE(Gives("Round(2.46, 0.4)", 3.0)); // N is an Integer, rounded
}

TEST(RoundFunction, StaysInFloatingPoint) {
    EXPECT_TRUE(Gives("Round(1e20, 0)", 1e20));
    EXPECT_TRUE(Gives("Round(-1e300, 2)", -1e300));
    EXPECT_TRUE(Gives("Round(1e300, -5)", 1e300));
    EXPECT_TRUE(Fails("Round(1, 400)", kOverflow));
    EXPECT_TRUE(Fails("Round(1, -400)", kOverflow));
    EXPECT_TRUE(Fails("Round(1e300, 10)", kOverflow));
    EXPECT_TRUE(Fails("Round(1, 2147483647)", kOverflow));
    EXPECT_TRUE(Fails("Round(1, -2147483648)", kOverflow));
}

TEST(MathFunctions, Values) {
    EXPECT_TRUE(Gives("PI", std::numbers::pi));
    EXPECT_TRUE(Gives("Exp(1)", std::exp(1.0)));
    EXPECT_TRUE(Gives("Exp(-1000)", 0.0));
    EXPECT_TRUE(Gives("Ln(Exp(2))", 2.0));
    EXPECT_TRUE(Gives("Abs(-2.5)", 2.5));
    EXPECT_TRUE(Gives("Int(-2.7)", -2.0));
    EXPECT_TRUE(Gives("Int(2.7)", 2.0));
    EXPECT_TRUE(Gives("Cos(0)", 1.0));
    EXPECT_TRUE(Gives("Sin(PI/2)", 1.0));
    EXPECT_TRUE(Gives("Tan(0)", 0.0));
    EXPECT_TRUE(Gives("Cosh(0)", 1.0));
    EXPECT_TRUE(Gives("Sinh(0)", 0.0));
    EXPECT_TRUE(Gives("Tanh(1000)", 1.0));
    EXPECT_TRUE(Gives("Arccos(1)", 0.0));
    EXPECT_TRUE(Gives("Arcsin(1)", std::numbers::pi / 2));
    EXPECT_TRUE(Gives("Arctan(1)", std::numbers::pi / 4));
    EXPECT_TRUE(Gives("Log2(1024)", 10.0));
    EXPECT_TRUE(Gives("log10(1000)", 3.0));
    EXPECT_TRUE(Gives("LOG10(0.01)", -2.0));
}

TEST(MathFunctions, DomainErrorsAndOverflowsAreErrors) {
    EXPECT_TRUE(Fails("Ln(0)", kInvalid));
    EXPECT_TRUE(Fails("Ln(-1)", kInvalid));
    EXPECT_TRUE(Fails("Log2(0)", kInvalid));
    EXPECT_TRUE(Fails("log10(-5)", kInvalid));
    EXPECT_TRUE(Fails("Arcsin(1.0001)", kInvalid));
    EXPECT_TRUE(Fails("Arccos(-2)", kInvalid));
    EXPECT_TRUE(Fails("Exp(710)", kOverflow));
    EXPECT_TRUE(Fails("Cosh(1000)", kOverflow));
    EXPECT_TRUE(Fails("Sinh(-1000)", kOverflow));
}

TEST(VariantFunctions, MaxMinAndIif) {
    EXPECT_TRUE(Gives("Max(2, 3)", 3.0));
    EXPECT_TRUE(Gives("Max(3, 2)", 3.0));
    EXPECT_TRUE(Gives("Min(2, 3)", 2.0));
    // Equal: the second argument, of its own kind.
    EXPECT_TRUE(Gives("Max(2, '2')", Variant("2")));
    EXPECT_TRUE(Gives("Min(2, '2')", Variant("2")));
    EXPECT_TRUE(Gives("Max(Swap16(512), 2)", 2.0));
    EXPECT_TRUE(Gives("Max('a', 'b')", Variant("b")));
    EXPECT_TRUE(Gives("iif(False, 1, 2)", 2.0));
    EXPECT_TRUE(Gives("iif(True, 'x', 2)", Variant("x")));
    EXPECT_TRUE(Gives("iif(5, 1, 2)", 1.0)); // a number is True when not 0
    EXPECT_TRUE(Gives("iif('false', 1, 2)", 2.0));
    // Both arguments are always evaluated.
    EXPECT_TRUE(Fails("iif(True, 1, 1/0)", "TEvaluation:: TEvaluation:: Ошибка деления на ноль."));
}

TEST(Conversions, IntegerParametersTakeTheLowBitsOfFiniteValues) {
    EXPECT_TRUE(Gives("Swap32(4294967296+4660)", int32_t{4660 * 65536}));
    EXPECT_TRUE(Gives("GetWordFromInt32(9e18, 0)", uint16_t{0}));
    EXPECT_TRUE(Gives("GetWordFromInt32(-9e18, 1)", uint16_t{7548}));
    EXPECT_TRUE(Gives("IsBitSet(True, 15)", uint8_t{1}));
    EXPECT_TRUE(Fails("GetWordFromInt32(1e19, 0)", kVarOverflow));
    EXPECT_TRUE(Fails("Swap16(-1e19)", kVarOverflow));
    EXPECT_TRUE(Fails("ShiftLeft(1e300, 1)", kVarOverflow));
}

TEST(Conversions, ArgumentsThatDoNotConvert) {
    EXPECT_TRUE(Gives("Exp('0')", 1.0));
    EXPECT_TRUE(Gives("Round('2,46', '0')", 3.0));
    EXPECT_TRUE(Fails("sin('x')", "Could not convert variant of type (String) into type (Double)"));
    EXPECT_TRUE(Fails("Round(1, 'x')", "Could not convert variant of type (String) into type (Integer)"));
    EXPECT_TRUE(Fails("iif([x], 1, 2)", "Could not convert variant of type (Null) into type (Boolean)"));
    EXPECT_TRUE(Fails("ShiftLeft(,1)", "Could not convert variant of type (Null) into type (Word)"));
    EXPECT_TRUE(Fails("Swap16([x])", "Could not convert variant of type (Null) into type (Integer)"));
}
