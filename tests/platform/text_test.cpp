#include "platform/text.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <clocale>

using namespace platform;

namespace {

// glibc's own converter is the independent reference for the code page.
std::string IconvToUtf8(const std::string& cp) {
    iconv_t cd = iconv_open("UTF-8", "CP1251");
    EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
    std::string in = cp, out(cp.size() * 4 + 4, '\0');
    char* ip = in.data();
    char* op = out.data();
    size_t il = in.size(), ol = out.size();
    const size_t r = iconv(cd, &ip, &il, &op, &ol);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1)) return "<invalid>";
    out.resize(out.size() - ol);
    return out;
}

} // namespace

TEST(Cp1251, EveryByteMatchesTheSystemConverterBothWays) {
    for (int b = 1; b < 256; ++b) {
        if (b == 0x98) continue; // unassigned in the code page
        const std::string one(1, static_cast<char>(b));
        const std::string utf8 = Utf8FromCp1251(one);
        EXPECT_EQ(utf8, IconvToUtf8(one)) << "byte " << b;
        EXPECT_EQ(Cp1251FromUtf8(utf8), one) << "byte " << b;
    }
}

TEST(Cp1251, LiteralsAndUnmappable) {
    EXPECT_EQ("Имя"_cp, std::string("\xC8\xEC\xFF"));
    EXPECT_EQ(Cp("ёЁ№"), std::string("\xB8\xA8\xB9"));
    EXPECT_EQ(Cp1251FromUtf8("a\xE4\xB8\x80"
                             "b"),
              "a?b");                         // a CJK letter has no byte
    EXPECT_EQ(Cp1251FromUtf8("\xC8"), "?");   // cut sequence
    EXPECT_EQ(Cp1251FromUtf8("\x80z"), "?z"); // stray continuation byte
}

TEST(TextCase, CyrillicAtBothEndsAndOutsideTheMainBlock) {
    EXPECT_EQ(UpperCase("ёжик in туманеъ"_cp), "ЁЖИК IN ТУМАНЕЪ"_cp);
    EXPECT_EQ(LowerCase("ЯБЛОКО Abc Ё"_cp), "яблоко abc ё"_cp);
    EXPECT_EQ(UpperCase("ђѓљњќћџўјґєїіѕ"_cp), "ЂЃЉЊЌЋЏЎЈҐЄЇІЅ"_cp);
    EXPECT_EQ(LowerCase("ЂЃЉЊЌЋЏЎЈҐЄЇІЅ"_cp), "ђѓљњќћџўјґєїіѕ"_cp);
    EXPECT_EQ(UpperCase("µ№"_cp), "µ№"_cp); // no upper case in the code page
    EXPECT_TRUE(SameText("Привет"_cp, "пРИВЕТ"_cp));
    EXPECT_LT(CompareText("АБ"_cp, "абв"_cp), 0);
    EXPECT_EQ(CompareText("", ""), 0);
}

TEST(TextCase, IndependentOfTheCLocale) {
    const char* old = std::setlocale(LC_ALL, nullptr);
    const std::string saved = old ? old : "C";
    std::setlocale(LC_ALL, "C.UTF-8");
    EXPECT_EQ(UpperCase("я"_cp), "Я"_cp);
    EXPECT_EQ(FloatToStrGeneral(1.5), "1.5");
    std::setlocale(LC_ALL, saved.c_str());
}

TEST(TextTrim, BlanksAndControlsButNeverCyrillic) {
    EXPECT_EQ(Trim(" \t\r\n\x01Яблоко я\x1F "_cp), "Яблоко я"_cp);
    EXPECT_EQ(Trim("яблоко"_cp), "яблоко"_cp); // 0xFF at the end is a letter
    EXPECT_EQ(Trim("\xA0x\xA0"), "\xA0x\xA0"); // no-break space is not <= 0x20
    EXPECT_EQ(TrimLeft("  a  "), "a  ");
    EXPECT_EQ(TrimRight("  a  "), "  a");
    EXPECT_EQ(Trim("   "), "");
}

TEST(IntegerTexts, DecimalHexAndFailures) {
    int32_t v = 0;
    EXPECT_TRUE(TryStrToInt("0", v));
    EXPECT_EQ(v, 0);
    EXPECT_TRUE(TryStrToInt("-17", v));
    EXPECT_EQ(v, -17);
    EXPECT_TRUE(TryStrToInt("+42", v));
    EXPECT_EQ(v, 42);
    EXPECT_TRUE(TryStrToInt("2147483647", v));
    EXPECT_EQ(v, 2147483647);
    EXPECT_TRUE(TryStrToInt("-2147483648", v));
    EXPECT_EQ(v, INT32_MIN);
    EXPECT_TRUE(TryStrToInt("$FF", v));
    EXPECT_EQ(v, 255);
    EXPECT_TRUE(TryStrToInt("$ffffffff", v));
    EXPECT_EQ(v, -1);
    EXPECT_TRUE(TryStrToInt("-$10", v));
    EXPECT_EQ(v, -16);
    EXPECT_TRUE(TryStrToInt("00012", v));
    EXPECT_EQ(v, 12);
    for (const char* bad : {"", "-", "+", "$", "2147483648", "-2147483649", "99999999999999999999",
                            "$123456789", " 1", "1 ", "1a", "0x10", "$G", "1.0", "--1"}) {
        v = 77;
        EXPECT_FALSE(TryStrToInt(bad, v)) << bad;
        EXPECT_EQ(v, 77) << bad;
    }
    EXPECT_EQ(StrToIntDef("abc", 1000), 1000);
    EXPECT_EQ(IntToStr(-9223372036854775807LL - 1), "-9223372036854775808");
    EXPECT_EQ(IntToHex(10, 2), "0A");
    EXPECT_EQ(IntToHex(0x1F2, 2), "1F2");
}

TEST(BooleanTexts, WordsAndNumbers) {
    bool b = false;
    EXPECT_TRUE(TryStrToBool("true", b));
    EXPECT_TRUE(b);
    EXPECT_TRUE(TryStrToBool("False", b));
    EXPECT_FALSE(b);
    EXPECT_TRUE(TryStrToBool("2", b));
    EXPECT_TRUE(b);
    EXPECT_TRUE(TryStrToBool("0", b));
    EXPECT_FALSE(b);
    EXPECT_FALSE(TryStrToBool("yes", b));
}

TEST(FloatTexts, GeneralFormatAndParsing) {
    EXPECT_EQ(FloatToStrGeneral(0.0), "0");
    EXPECT_EQ(FloatToStrGeneral(12.5), "12.5");
    EXPECT_EQ(FloatToStrGeneral(-0.1), "-0.1");
    EXPECT_EQ(FloatToStrGeneral(0.0001), "0.0001");
    EXPECT_EQ(FloatToStrGeneral(0.00001), "1E-5");
    EXPECT_EQ(FloatToStrGeneral(1.5e-7), "1.5E-7");
    EXPECT_EQ(FloatToStrGeneral(1e14), "100000000000000");
    EXPECT_EQ(FloatToStrGeneral(1e15), "1E15");
    EXPECT_EQ(FloatToStrGeneral(1e20), "1E20");
    EXPECT_EQ(FloatToStrGeneral(0.1 + 0.2), "0.3");
    EXPECT_EQ(FloatToStrGeneral(2.5, 15, ','), "2,5");
    // The threshold of fixed notation and the exponent's width are the caller's; the point is too.
    EXPECT_EQ(FloatToStrGeneral(-1.5e-5, 15, ',', -5, 2), "-0,000015");
    EXPECT_EQ(FloatToStrGeneral(1.5e-6, 15, ',', -5, 2), "1,5E-06");
    EXPECT_EQ(FloatToStrGeneral(1.5e123, 3, '.', -4, 2), "1.5E123");
    EXPECT_EQ(FloatToStrShortest(0.1 + 0.2), "0.30000000000000004");
    double d = 0;
    EXPECT_TRUE(TryStrToFloat("1.25e2", d));
    EXPECT_EQ(d, 125.0);
    EXPECT_TRUE(TryStrToFloat("3,5", d, ','));
    EXPECT_EQ(d, 3.5);
    EXPECT_FALSE(TryStrToFloat("inf", d));
    EXPECT_FALSE(TryStrToFloat("nan", d));
    EXPECT_FALSE(TryStrToFloat("1.5x", d));
    EXPECT_FALSE(TryStrToFloat("", d));
}
