// Number texts of formulas and logs, the %VALUE% macro, and the range of the integer conversions.
#include "modbus/number_format.h"

#include "evaluator/evaluation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace modbus {
namespace {

TEST(GeneralNumberText, FixedAndScientificNotation) {
    const struct {
        double value;
        int precision, digits;
        const char* text;
    } cases[] = {
        {0.0, 8, 2, "0"},
        {-0.0, 8, 2, "0"},
        {12.5, 8, 2, "12.5"},
        {-2.5, 15, 0, "-2.5"},
        {1.0 / 3, 8, 2, "0.33333333"},
        {12345678, 8, 2, "12345678"},
        {123456789, 8, 2, "1.2345679E08"},
        {123456789, 8, 4, "1.2345679E0008"},
        {123456789, 15, 0, "123456789"},
        {99999999.5, 8, 2, "1E08"}, // rounding adds an integer digit
        {0.00001, 8, 2, "0.00001"},
        {0.0000099, 8, 2, "9.9E-06"},
        {0.0000099, 8, 4, "9.9E-0006"},
        {1e-7, 15, 0, "1E-7"},
        {1e20, 15, 0, "1E20"},
        {-1.5e300, 15, 0, "-1.5E300"},
        {4294967295.0, 15, 0, "4294967295"},
        {0.1f, 15, 0, "0.100000001490116"},
        {0.1f, 8, 2, "0.1"},
        {1e15, 15, 0, "1E15"},
        {999999999999999.0, 15, 0, "999999999999999"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GeneralNumberText(c.value, c.precision, c.digits), c.text)
            << c.value << " " << c.precision << " " << c.digits;
    EXPECT_EQ(GeneralNumberText(std::numeric_limits<double>::quiet_NaN(), 8, 2), "NAN");
    EXPECT_EQ(GeneralNumberText(-std::numeric_limits<double>::infinity(), 8, 2), "-INF");
}

TEST(GeneralNumberText, EvaluatorReadsEveryTextBackAsOneNumber) {
    const double values[] = {1e-7, -3.25e-12, 3e9, 123456.789, 0.1f, -65538, 1.5e-5, 6.02e23, 2147483647.0};
    evaluator::TEvaluation evaluation;
    for (const double v : values) {
        for (const auto& [precision, digits] : {std::pair{15, 0}, std::pair{8, 4}, std::pair{8, 2}}) {
            const std::string text = GeneralNumberText(v, precision, digits);
            std::string message;
            // Inside a function call a "," would have split the number into two arguments.
            const evaluator::Variant r = evaluation.Evaluation("Max(" + text + "," + text + ")", message);
            ASSERT_TRUE(message.empty()) << text << ": " << message;
            const double tolerance = std::fabs(v) * (precision == 15 ? 1e-14 : 1e-7);
            EXPECT_NEAR(r.AsDouble(), v, tolerance) << text;
        }
    }
}

TEST(ReplaceValueMacro, EveryOccurrenceInAnyLetterCase) {
    EXPECT_EQ(ReplaceValueMacro("%value%+%VALUE%*%Value%", "-2.5"), "-2.5+-2.5*-2.5");
    EXPECT_EQ(ReplaceValueMacro("%VALUE", "1"), "%VALUE");
    EXPECT_EQ(ReplaceValueMacro("%%VALUE%%", "1"), "%1%");
    EXPECT_EQ(ReplaceValueMacro("", "1"), "");
    EXPECT_EQ(ReplaceValueMacro("Abs(1)", "1"), "Abs(1)");
}

TEST(IntegerConversions, RoundHalvesToEvenAndRefuseWhatDoesNotFit) {
    EXPECT_EQ(RoundToInt32(2.5), 2);
    EXPECT_EQ(RoundToInt32(3.5), 4);
    EXPECT_EQ(RoundToInt32(-2.5), -2);
    EXPECT_EQ(RoundToInt32(2147483647.4), 2147483647);
    EXPECT_EQ(RoundToInt32(-2147483648.5), INT32_MIN); // halves to even stay inside
    EXPECT_THROW(RoundToInt32(2147483647.5), ERangeError);
    EXPECT_THROW(RoundToInt32(-2147483649.0), ERangeError);
    EXPECT_THROW(RoundToInt32(std::numeric_limits<double>::quiet_NaN()), ERangeError);
    EXPECT_THROW(RoundToInt32(std::numeric_limits<double>::infinity()), ERangeError);

    EXPECT_EQ(RoundToInt64(4294967296.5), INT64_C(4294967296));
    EXPECT_EQ(RoundToInt64(-9223372036854775808.0), INT64_MIN);
    EXPECT_THROW(RoundToInt64(9223372036854775808.0), ERangeError);
    EXPECT_THROW(RoundToInt64(-std::numeric_limits<double>::infinity()), ERangeError);

    EXPECT_EQ(ToSingle(3.4e38), 3.4e38f);
    EXPECT_THROW(ToSingle(1e39), ERangeError);
    EXPECT_THROW(ToSingle(-1e300), ERangeError);
    EXPECT_TRUE(std::isnan(ToSingle(std::numeric_limits<double>::quiet_NaN())));
    EXPECT_TRUE(std::isinf(ToSingle(std::numeric_limits<double>::infinity())));
}

} // namespace
} // namespace modbus
