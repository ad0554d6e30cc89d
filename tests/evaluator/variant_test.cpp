#include "evaluator/variant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace evaluator;

namespace {

std::string ErrorOf(auto f) {
    try {
        f();
    } catch (const EVariantError& e) {
        return e.what();
    }
    return "";
}

} // namespace

TEST(Variant, BooleanTrueIsMinusOne) {
    EXPECT_EQ(Variant(true).AsInteger(), -1);
    EXPECT_EQ(Variant(true).AsDouble(), -1.0);
    EXPECT_EQ(Variant(false).AsInteger(), 0);
    EXPECT_EQ(Variant(true).AsWord(), 0xFFFF);
    EXPECT_TRUE(VarAdd(Variant(true), Variant(true)).SameAs(int32_t{-2}));
    EXPECT_EQ(Variant(true).AsString(), "True");
}

TEST(Variant, DoublesBecomeIntegersByRoundingHalvesToEven) {
    EXPECT_EQ(Variant(0.5).AsInteger(), 0);
    EXPECT_EQ(Variant(1.5).AsInteger(), 2);
    EXPECT_EQ(Variant(2.5).AsInteger(), 2);
    EXPECT_EQ(Variant(-2.5).AsInteger(), -2);
    EXPECT_EQ(Variant(-3.5).AsInteger(), -4);
    EXPECT_EQ(Variant(2.4999).AsInteger(), 2);
    // Beyond 32 bits the low 32 bits stay; beyond 64 bits, NaN and infinities fail.
    EXPECT_EQ(Variant(4294967295.0).AsInteger(), -1);
    EXPECT_EQ(Variant(4294967296.0 + 7).AsInteger(), 7);
    EXPECT_EQ(Variant(-9223372036854775808.0).AsInteger(), 0);
    EXPECT_EQ(Variant(65536.0 + 3).AsWord(), 3);
    for (double bad : {9223372036854775808.0, -1e19, std::numeric_limits<double>::infinity(),
                       std::numeric_limits<double>::quiet_NaN()})
        EXPECT_EQ(ErrorOf([&] { Variant(bad).AsInteger(); }), "Variant overflow") << bad;
}

TEST(Variant, StringsAsNumbersAndBooleans) {
    EXPECT_EQ(Variant(" 1,5 ").AsDouble(), 1.5);
    EXPECT_EQ(Variant("1.5e1").AsDouble(), 15.0);
    EXPECT_EQ(Variant("-2").AsInteger(), -2);
    EXPECT_TRUE(Variant("TRUE").AsBoolean());
    EXPECT_FALSE(Variant("false").AsBoolean());
    EXPECT_TRUE(Variant("2").AsBoolean());
    for (const char* bad : {"", "abc", "1.5x", "inf", "nan", "1,2,3"})
        EXPECT_EQ(ErrorOf([&] { Variant(bad).AsDouble(); }),
                  "Could not convert variant of type (String) into type (Double)")
            << bad;
    EXPECT_EQ(ErrorOf([] { Variant().AsBoolean(); }),
              "Could not convert variant of type (Null) into type (Boolean)");
    EXPECT_EQ(ErrorOf([] { Variant().AsString(); }),
              "Could not convert variant of type (Null) into type (String)");
}

TEST(Variant, ArithmeticKindsAndOverflow) {
    EXPECT_TRUE(VarAdd(Variant(int32_t{2}), Variant(uint8_t{3})).SameAs(int32_t{5}));
    EXPECT_TRUE(VarAdd(Variant(int32_t{2}), Variant(3.0)).SameAs(5.0));
    EXPECT_TRUE(VarAdd(Variant(INT32_MAX), Variant(int32_t{1})).SameAs(2147483648.0));
    EXPECT_TRUE(VarMul(Variant(INT32_MIN), Variant(INT32_MIN)).SameAs(4611686018427387904.0));
    EXPECT_TRUE(VarNeg(Variant(INT32_MIN)).SameAs(2147483648.0));
    EXPECT_TRUE(VarSub(Variant("5"), Variant("2")).SameAs(3.0));
    EXPECT_TRUE(VarAdd(Variant("5"), Variant("2")).SameAs(Variant("52")));
    EXPECT_TRUE(VarAdd(Variant(), Variant(1.0)).IsNull());
    EXPECT_TRUE(VarDiv(Variant(int32_t{1}), Variant(int32_t{4})).SameAs(0.25));
    EXPECT_TRUE(VarAdd(Variant::Date(10), Variant(1.0)).SameAs(Variant::Date(11)));
    EXPECT_TRUE(VarSub(Variant::Date(10), Variant::Date(4)).SameAs(6.0));
    EXPECT_EQ(ErrorOf([] { VarMul(Variant(1e200), Variant(1e200)); }), "Floating point overflow");
}

TEST(Variant, LogicalAndBitwise) {
    EXPECT_TRUE(VarNot(Variant(true)).SameAs(false));
    EXPECT_TRUE(VarNot(Variant(uint16_t{0})).SameAs(int32_t{-1}));
    EXPECT_TRUE(VarAnd(Variant(true), Variant(false)).SameAs(false));
    EXPECT_TRUE(VarOr(Variant(12.0), Variant(int32_t{3})).SameAs(int32_t{15}));
    EXPECT_TRUE(VarAnd(Variant(), Variant(true)).IsNull());
}

TEST(Variant, Comparison) {
    EXPECT_EQ(VarCompare(Variant(), Variant()), 0);
    EXPECT_LT(VarCompare(Variant(), Variant(-1e300)), 0);
    EXPECT_GT(VarCompare(Variant(""), Variant()), 0);
    EXPECT_LT(VarCompare(Variant("B"), Variant("a")), 0);    // by bytes
    EXPECT_GT(VarCompare(Variant("\xC0"), Variant("z")), 0); // cp1251 letters above ASCII
    EXPECT_EQ(VarCompare(Variant("2"), Variant(2.0)), 0);
    EXPECT_LT(VarCompare(Variant(true), Variant(false)), 0); // -1 < 0
    EXPECT_EQ(VarCompare(Variant(uint16_t{65535}), Variant(65535.0)), 0);
}

TEST(Variant, Dates) {
    double v = 0;
    ASSERT_TRUE(EncodeDate(1, 1, 1900, v));
    EXPECT_EQ(v, 2.0);
    ASSERT_TRUE(EncodeDate(29, 2, 2000, v));
    EXPECT_EQ(DateTimeToStr(v), "29.02.2000");
    EXPECT_FALSE(EncodeDate(29, 2, 1900, v));
    EXPECT_FALSE(EncodeDate(1, 1, 0, v));
    EXPECT_EQ(DateTimeToStr(39569.75), "01.05.2008 18:00:00");
    EXPECT_EQ(Variant::Date(39569).AsString(), "01.05.2008");

    // The first and last day that have a text; beyond them the conversion fails.
    EXPECT_EQ(DateTimeToStr(-693593), "01.01.1");
    EXPECT_EQ(DateTimeToStr(2958465.5), "31.12.9999 12:00:00");
    for (const double outside : {-693594.0, 2958466.0, 8.9e53, -8.9e53, std::nan("")})
        EXPECT_EQ(ErrorOf([outside] { Variant::Date(outside).AsString(); }),
                  "Could not convert variant of type (Date) into type (String)")
            << outside;
}
