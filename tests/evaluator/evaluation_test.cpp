#include "evaluator/evaluation.h"

#include "platform/text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>

using namespace evaluator;

namespace {

struct Outcome {
    Variant value;
    std::string message; // UTF-8
};

Outcome RunOn(TEvaluation& e, const std::string& utf8Formula) {
    std::string message = "stale";
    Variant v = e.Evaluation(platform::Cp(utf8Formula), message);
    return {v, platform::Utf8FromCp1251(message)};
}

Outcome Eval(const std::string& utf8Formula) {
    auto e = TEvaluation::Create();
    return RunOn(*e, utf8Formula);
}

// The value must be the given kind and value, with no error.
::testing::AssertionResult Gives(const std::string& formula, const Variant& expected) {
    const Outcome o = Eval(formula);
    if (!o.message.empty()) return ::testing::AssertionFailure() << formula << " raised: " << o.message;
    if (!o.value.SameAs(expected))
        return ::testing::AssertionFailure()
               << formula << " gave " << o.value.Describe() << ", expected " << expected.Describe();
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult Fails(const std::string& formula, const std::string& utf8Message) {
    const Outcome o = Eval(formula);
    if (!o.value.IsNull()) return ::testing::AssertionFailure() << formula << " gave " << o.value.Describe();
    if (o.message != utf8Message)
        return ::testing::AssertionFailure()
               << formula << " raised \"" << o.message << "\", expected \"" << utf8Message << "\"";
    return ::testing::AssertionSuccess();
}

const std::string P = "TEvaluation:: ";

// A derived evaluator: a function that counts its calls, a property, bracket variables.
class TCountingEvaluation : public TEvaluation {
public:
    static int calls;
    TCountingEvaluation() = default;
    explicit TCountingEvaluation(bool shortCircuit) { ShortCircuit = shortCircuit; }

    double Count() { return ++calls; }
    Variant Twice(const Variant& V) { return VarMul(V, Variant(2.0)); }
    // Replaces the library's Abs, to show that the class's own table comes first.
    double Abs(double D) { return -D; }

    void GetBracketVariable(const std::string& Name, Variant& Value) override {
        if (Name == "[x]")
            Value = Variant(42.0);
        else
            TEvaluation::GetBracketVariable(Name, Value);
    }

protected:
    const TMethodTable& Methods() const override {
        static const TMethodTable table = [] {
            TMethodTable t(&EvaluationMethods());
            t.Publish<&TCountingEvaluation::Count>("Count")
                .Publish<&TCountingEvaluation::Twice>("Twice")
                .Publish<&TCountingEvaluation::Abs>("Abs");
            return t;
        }();
        return table;
    }
    std::unique_ptr<TEvaluation> NewEvaluation() const override {
        return std::make_unique<TCountingEvaluation>();
    }
    bool GetPublishedProperty(const std::string& UpperName, Variant& Value) override {
        if (UpperName != "VALUE") return false;
        Value = Variant(int32_t{7});
        return true;
    }
};
int TCountingEvaluation::calls = 0;

Outcome Counted(const std::string& formula, int& calls) {
    TCountingEvaluation e(true);
    TCountingEvaluation::calls = 0;
    Outcome o = RunOn(e, formula);
    calls = TCountingEvaluation::calls;
    return o;
}

} // namespace

// --- Evaluation as a whole -------------------------------------------------------------------------

TEST(Evaluation, TheWorkedExamples) {
    EXPECT_TRUE(Gives("2+3*4", 14.0));
    EXPECT_TRUE(Gives("(2+3)*4", 20.0));
    EXPECT_TRUE(Gives("7/2", 3.5));
    EXPECT_TRUE(Gives("2^10", 1024.0));
    EXPECT_TRUE(Gives("1E-3*1000", 1.0));
    EXPECT_TRUE(Gives("1,5+1", 2.5));
    EXPECT_TRUE(Gives("3 4", 34.0));
    EXPECT_TRUE(Gives("2>1 & 3>2", true));
    EXPECT_TRUE(Gives("(1=1 | 2=2) & 3=3", true));
    EXPECT_TRUE(Gives("if(1>0, 10, 20)", 10.0));
    EXPECT_TRUE(Gives("-2^2", 0.0));
    EXPECT_TRUE(Gives("0^0", 0.0));
}

TEST(Evaluation, EmptyAndBlankFormulasGiveNullWithoutMessage) {
    for (const char* f : {"", "   ", "\t \r\n"}) {
        const Outcome o = Eval(f);
        EXPECT_TRUE(o.value.IsNull()) << f;
        EXPECT_EQ(o.message, "") << f;
    }
}

TEST(Evaluation, BlanksGoExceptInsideQuotes) {
    EXPECT_TRUE(Gives("'a b'", Variant("a b")));
    EXPECT_TRUE(Gives("\" a\tb \"", Variant(" a\tb ")));
    // Either quote closes: the blank after 'x" is outside again.
    EXPECT_TRUE(Gives("'x\" + 'y'", Variant("xy")));
    EXPECT_TRUE(Gives("1 2 . 5", 12.5));
}

TEST(Evaluation, TheObjectIsUsableAgainAfterAnError) {
    auto e = TEvaluation::Create();
    EXPECT_EQ(RunOn(*e, "1/0").message, P + "Ошибка деления на ноль.");
    const Outcome o = RunOn(*e, "1+1");
    EXPECT_EQ(o.message, "");
    EXPECT_TRUE(o.value.SameAs(2.0));
    EXPECT_EQ(RunOn(*e, "max(1,(").message, ") не найдена");
    EXPECT_TRUE(RunOn(*e, "Round(2.5,0)").value.SameAs(3.0));
}

TEST(Evaluation, TheExpressionMayBeTheMessageOrTheFormulaItself) {
    auto e = TEvaluation::Create();
    std::string text = "1+2";
    EXPECT_TRUE(e->Evaluation(text, text).SameAs(3.0));
    EXPECT_EQ(text, "");
    EXPECT_TRUE(e->Evaluation(e->Formula, text).SameAs(3.0));
}

// --- Tokenizer -------------------------------------------------------------------------------------

TEST(Tokenizer, LongerOperatorsWinFromTheMatchedIndexOn) {
    EXPECT_TRUE(Gives("1<=1", true));
    EXPECT_TRUE(Gives("1=<1", true));
    EXPECT_TRUE(Gives("1>=1", true));
    EXPECT_TRUE(Gives("1=>1", true));
    EXPECT_TRUE(Gives("1<>1", false));
    EXPECT_TRUE(Gives("1#1", false));
    EXPECT_TRUE(Gives("1!=1", false)); // "!=" comes before "!"
    EXPECT_TRUE(Gives("2<3", true));
    EXPECT_TRUE(Gives("2>3", false));
    EXPECT_TRUE(Gives("2=-2", false)); // "=" then a unary minus
    // "<" then "=>" would be wrong: "<=" is taken, then ">" has no operand.
    EXPECT_TRUE(Fails("1<=>1", P + "Синтаксическая ошибка."));
    EXPECT_TRUE(Fails("1==1", P + "Синтаксическая ошибка."));
}

TEST(Tokenizer, MinusAfterEDoesNotSplit) {
    EXPECT_TRUE(Gives("1E-5", 1e-5));
    EXPECT_TRUE(Gives("2,5e-1", 0.25));
    EXPECT_TRUE(Gives("1e-2-1", 1e-2 - 1));
    // So a name ending in e takes the minus into the name.
    EXPECT_TRUE(Fails("True-1", P + "Неизвестная переменная True-1"));
    EXPECT_TRUE(Fails("False-1", P + "Неизвестная переменная False-1"));
    EXPECT_TRUE(Gives("(True)-1", -2.0)); // True is -1
    EXPECT_TRUE(Gives("PI-PI", 0.0));
    // "+" after E always splits: 1E is read as 1.
    EXPECT_TRUE(Gives("1E+5", 6.0));
}

TEST(Tokenizer, NothingInsideQuotesOrBracketsIsAnOperator) {
    EXPECT_TRUE(Gives("'1+2'", Variant("1+2")));
    EXPECT_TRUE(Gives("'(' + \")\"", Variant("()")));
    EXPECT_TRUE(Gives("[a+b(c]", Variant()));
    EXPECT_TRUE(Fails("'abc", P + "Отсутствует завершающий символ в константе."));
    EXPECT_TRUE(Fails("1+\"abc", P + "Отсутствует завершающий символ в константе."));
    EXPECT_TRUE(Fails("[abc", P + "Отсутствует завершающий символ в константе."));
}

// --- Levels ----------------------------------------------------------------------------------------

TEST(LogicalLevel, AndAndOrShareOneLevelLeftToRight) {
    EXPECT_TRUE(Gives("1=1 | 0=1 & 0=1", false)); // (True | False) & False
    EXPECT_TRUE(Gives("0=1 & 0=1 | 1=1", true));
    EXPECT_TRUE(Gives("1=1 & 0=1", false));
    EXPECT_TRUE(Gives("0=1 | 0=1", false));
}

TEST(LogicalLevel, BitwiseOnNonBooleans) {
    EXPECT_TRUE(Gives("5 & 3", int32_t{1}));
    EXPECT_TRUE(Gives("5 | 3", int32_t{7}));
    EXPECT_TRUE(Gives("(1=1) & 6", int32_t{6})); // True is -1
    EXPECT_TRUE(Gives("4294967295 & 255", int32_t{255}));
    EXPECT_TRUE(Gives("2,5 | 0", int32_t{2})); // halves to even
    EXPECT_TRUE(Gives("3,5 | 0", int32_t{4}));
}

TEST(LogicalLevel, ShortCircuitPassesOverTheDecidedOperand) {
    EXPECT_TRUE(Gives("1=1 | 5/0", true));
    EXPECT_TRUE(Gives("1=0 & 5/0", false));
    EXPECT_TRUE(Gives("1=1 | foo(1) | bar | [32.13.2008] | 'a'*2", true));
    EXPECT_TRUE(Gives("1=0 & sin(1/0)", false));
    // Without short-circuit (the root constructor, as for arguments) the right operand is evaluated.
    TEvaluation root;
    EXPECT_EQ(RunOn(root, "1=1 | 5/0").message, P + "Ошибка деления на ноль.");
    EXPECT_TRUE(Fails("iif(1=1 | 5/0, 1, 2)", P + P + "Ошибка деления на ноль."));
    // Only a Boolean left operand decides.
    EXPECT_TRUE(Fails("1 | 5/0", P + "Ошибка деления на ноль."));
    EXPECT_TRUE(Fails("1=0 | 5/0", P + "Ошибка деления на ноль."));
}

TEST(LogicalLevel, ThePassedOverOperandIsParsedButNothingInItRuns) {
    int calls = -1;
    EXPECT_TRUE(Counted("1=1 | Count()=1", calls).value.SameAs(true));
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(Counted("1=1 | max(Count(), Count()) + Count", calls).value.SameAs(true));
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(Counted("0=1 & -(!(Count()))", calls).value.SameAs(false));
    EXPECT_EQ(calls, 0);
    // Evaluated when not decided: in the formula and in an argument's own evaluator.
    EXPECT_TRUE(Counted("0=1 | Count()=1", calls).value.SameAs(true));
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(Counted("1=1 & max(Count(), 0)=1", calls).value.SameAs(true));
    EXPECT_EQ(calls, 1);
    // (A | B) & C gives A & C: the parse goes on after B exactly.
    EXPECT_TRUE(Counted("(1=1 | Count()=9) & 2=3", calls).value.SameAs(false));
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(Counted("(1=1 | Count()=9) & Count()=1", calls).value.SameAs(true));
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(Counted("(1=1 | Count()) & 5=5 | Count()", calls).value.SameAs(true));
    EXPECT_EQ(calls, 0);
    // Its syntax is still the formula's: the errors of parsing are reported.
    EXPECT_EQ(Counted("1=1 | (2", calls).message, P + ") отсутствует");
    EXPECT_EQ(Counted("1=1 | 2+", calls).message, P + "Синтаксическая ошибка.");
    EXPECT_EQ(Counted("1=1 | max(1", calls).message, ") не найдена");
    EXPECT_EQ(Counted("1=1 | 2)", calls).message, P + "Незавершенная формула");
}

TEST(ComparisonLevel, ResultsAreBooleansAndChainsCompareTheBoolean) {
    EXPECT_TRUE(Gives("1<2", true));
    EXPECT_TRUE(Gives("1+1=2", true));
    EXPECT_TRUE(Gives("3>2>1", false)); // True (-1) > 1 is False
    EXPECT_TRUE(Gives("1<2<3", true));  // True (-1) < 3
    EXPECT_TRUE(Gives("1=1=1", false)); // True = 1 is False: True is -1
    EXPECT_TRUE(Gives("1=1=(2=2)", true));
    EXPECT_TRUE(Gives("'abc'='abc'", true));
    EXPECT_TRUE(Gives("'abc'<'abd'", true));
    EXPECT_TRUE(Gives("'a'='A'", false));
    EXPECT_TRUE(Gives("'10'=10", true));
    EXPECT_TRUE(Gives("[x]=[y]", true)); // Null equals Null
    EXPECT_TRUE(Gives("[x]<0", true));   // Null is below everything
}

TEST(AdditiveLevel, SumsAndDifferences) {
    EXPECT_TRUE(Gives("1-2-3", -4.0)); // left-associative
    EXPECT_TRUE(Gives("1+-2", -1.0));
    EXPECT_TRUE(Gives("0,1+0,2", 0.1 + 0.2));
    EXPECT_TRUE(Gives("'ab'+'cd'", Variant("abcd")));
    EXPECT_TRUE(Gives("'10'+1", 11.0));
    EXPECT_TRUE(Gives("[x]+1", Variant()));
    EXPECT_TRUE(Gives("Swap16(1)+Swap16(2)", int32_t{768}));
    EXPECT_TRUE(Gives("Swap32(32767)+Swap32(32767)", 4294836224.0)); // beyond 32 bits: a Double
    EXPECT_TRUE(Fails("1E308+1E308", "Floating point overflow"));
    EXPECT_TRUE(Fails("-1E308-1E308", "Floating point overflow"));
    EXPECT_TRUE(Fails("'abc'+1", "Could not convert variant of type (String) into type (Double)"));
}

TEST(MultiplicativeLevel, RealDivisionAndTheZeroDivisor) {
    EXPECT_TRUE(Gives("7/2", 3.5));
    EXPECT_TRUE(Gives("8/2/2", 2.0));
    EXPECT_TRUE(Gives("2*3/4", 1.5));
    EXPECT_TRUE(Gives("Swap16(1)/Swap16(2)", 0.5));
    EXPECT_TRUE(Fails("1/0", P + "Ошибка деления на ноль."));
    EXPECT_TRUE(Fails("1/(1-1)", P + "Ошибка деления на ноль."));
    EXPECT_TRUE(Fails("1/(0=1)", P + "Ошибка деления на ноль.")); // False is 0
    EXPECT_TRUE(Fails("0/0", P + "Ошибка деления на ноль."));
    EXPECT_TRUE(Fails("1E308*10", "Floating point overflow"));
    EXPECT_TRUE(Fails("1E308/1E-10", "Floating point overflow"));
}

TEST(PowerLevel, ExactForTheExamplesAndZeroForBasesOfZeroOrBelow) {
    EXPECT_TRUE(Gives("2^3", 8.0));
    EXPECT_TRUE(Gives("Int(2^3)", 8.0));
    EXPECT_TRUE(Gives("2^3^2", 64.0)); // left-associative: (2^3)^2
    EXPECT_TRUE(Gives("10^3", 1000.0));
    EXPECT_TRUE(Gives("2^-1", 0.5));
    EXPECT_TRUE(Gives("4^0,5", 2.0));
    EXPECT_TRUE(Gives("2*3^2", 18.0));
    EXPECT_TRUE(Gives("-2^2", 0.0));
    EXPECT_TRUE(Gives("(-2)^2", 0.0));
    EXPECT_TRUE(Gives("(-8)^(1/3)", 0.0));
    EXPECT_TRUE(Gives("0^5", 0.0));
    EXPECT_TRUE(Gives("0^-1", 0.0));
    EXPECT_TRUE(Fails("10^400", "Floating point overflow"));
    EXPECT_TRUE(Gives("10^-400", 0.0));
    EXPECT_TRUE(Fails("[x]^2", "Could not convert variant of type (Null) into type (Double)"));
}

TEST(FactorLevel, UnaryOperatorsAndBrackets) {
    EXPECT_TRUE(Gives("+5", 5.0));
    EXPECT_TRUE(Gives("--5", 5.0));
    EXPECT_TRUE(Gives("-+-5", 5.0));
    EXPECT_TRUE(Gives("!(1=1)", false));
    EXPECT_TRUE(Gives("!0", int32_t{-1}));
    EXPECT_TRUE(Gives("!5", int32_t{-6}));
    EXPECT_TRUE(Gives("-(1=1)", int32_t{1}));
    EXPECT_TRUE(Gives("((((1))))", 1.0));
    EXPECT_TRUE(Fails("(2", P + ") отсутствует"));
    EXPECT_TRUE(Fails("((2)", P + ") отсутствует"));
    EXPECT_TRUE(Fails("2)", P + "Незавершенная формула"));
    EXPECT_TRUE(Fails("2(3)", P + "Незавершенная формула"));
    EXPECT_TRUE(Fails("2!", P + "Незавершенная формула"));
    EXPECT_TRUE(Fails("*2", P + "Синтаксическая ошибка."));
    EXPECT_TRUE(Fails("2+", P + "Синтаксическая ошибка."));
    EXPECT_TRUE(Fails("()", P + "Синтаксическая ошибка."));
    EXPECT_TRUE(Fails("-", P + "Синтаксическая ошибка."));
    // The operand text after a ")" is read with the next operator and has no part in the value.
    EXPECT_TRUE(Gives("(2)3", 2.0));
    EXPECT_TRUE(Gives("(2)3+1", 3.0));
}

// --- Operands --------------------------------------------------------------------------------------

TEST(Operands, StringsAreTheTextBetweenTheQuotes) {
    EXPECT_TRUE(Gives("''", Variant("")));
    EXPECT_TRUE(Gives("\"abc\"", Variant("abc")));
    EXPECT_TRUE(Gives("'Имя'", Variant(platform::Cp("Имя"))));
}

TEST(Operands, NumbersWithCommaOrPointAndExponent) {
    EXPECT_TRUE(Gives("1,5", 1.5));
    EXPECT_TRUE(Gives("1.5", 1.5));
    EXPECT_TRUE(Gives(",5", 0.5));
    EXPECT_TRUE(Gives("1,5E2", 150.0));
    EXPECT_TRUE(Gives("15e-1", 1.5));
    EXPECT_TRUE(Gives("007", 7.0));
    // Malformed numbers are their well-formed beginning, 0 when there is none; no error.
    EXPECT_TRUE(Gives("1.2.3", 1.2));
    EXPECT_TRUE(Gives("1,2,3+0", 1.2));
    EXPECT_TRUE(Gives("E", 0.0));
    EXPECT_TRUE(Gives("e-", 0.0));
    EXPECT_TRUE(Gives("1E", 1.0));
    EXPECT_TRUE(Gives("1E-3E", 0.001));
    EXPECT_TRUE(Fails("1E999", "Floating point overflow"));
    EXPECT_TRUE(Gives("1E-999", 0.0));
}

TEST(Operands, CommaIsTheArgumentSeparatorInsideCalls) {
    EXPECT_TRUE(Gives("max(1,5)", 5.0));
    EXPECT_TRUE(Gives("max((1,5),1)", 1.5)); // inside brackets of its own it is a decimal point
    EXPECT_TRUE(Fails("Round(2,46,0)", P + "Неверное число аргументов функции Round"));
    EXPECT_TRUE(Gives("Round((2,46),0)", 3.0));
    EXPECT_TRUE(Fails("max(1,5,2)", P + "Неверное число аргументов функции max"));
    EXPECT_TRUE(Gives("max('1,5',1)", Variant("1,5")));
}

TEST(Operands, BracketedDatesAreDayMonthYear) {
    double may1 = 0, may5 = 0;
    ASSERT_TRUE(EncodeDate(1, 5, 2008, may1));
    ASSERT_TRUE(EncodeDate(5, 1, 2008, may5));
    EXPECT_EQ(may1, 39569.0);
    EXPECT_TRUE(Gives("[05.2008]", Variant::Date(may1)));
    EXPECT_TRUE(Gives("[01.05.2008]", Variant::Date(may1)));
    EXPECT_TRUE(Gives("[05.01.2008]", Variant::Date(may5)));
    EXPECT_TRUE(Gives("[1.5.08]", Variant::Date(may1)));
    EXPECT_TRUE(Gives("[30.12.1899]", Variant::Date(0)));
    EXPECT_TRUE(Gives("[02.05.2008]-[01.05.2008]", 1.0));
    EXPECT_TRUE(Gives("[01.05.2008]+1>[01.05.2008]", true));
    EXPECT_TRUE(Fails("[32.01.2008]", "'32.01.2008' is not a valid date"));
    EXPECT_TRUE(Fails("[13.2008]", "'01.13.2008' is not a valid date"));
    EXPECT_TRUE(Fails("[29.02.2007]", "'29.02.2007' is not a valid date"));
    EXPECT_TRUE(Gives("[29.02.2008]>0", true));
    EXPECT_TRUE(Fails("[..]", "'..' is not a valid date"));
    // Not digits and one or two dots: a bracket variable.
    EXPECT_TRUE(Gives("[2008]", Variant()));
    EXPECT_TRUE(Gives("[1.2.3.4]", Variant()));
    EXPECT_TRUE(Gives("[abc]", Variant()));
}

// --- Names -----------------------------------------------------------------------------------------

TEST(Names, FunctionsAreFoundWithoutRegardToLetterCase) {
    EXPECT_TRUE(Gives("sin(0)", 0.0));
    EXPECT_TRUE(Gives("SIN(0)", 0.0));
    EXPECT_TRUE(Gives("Sin(0)", 0.0));
    EXPECT_TRUE(Gives("IF(1>0, 10, 20)", 10.0));
    EXPECT_TRUE(Gives("If(0>1, 10, 20)", 20.0));
    EXPECT_TRUE(Gives("IIF(0>1, 10, 20)", 20.0));
    EXPECT_TRUE(Fails("foo(1)", P + "Неизвестная функция foo"));
    EXPECT_TRUE(Fails("bar", P + "Неизвестная переменная bar"));
    EXPECT_TRUE(Fails("Имя", P + "Неизвестная переменная Имя"));
    // The arguments come first, then the look-up.
    EXPECT_TRUE(Fails("foo(1/0)", P + P + "Ошибка деления на ноль."));
}

TEST(Names, FunctionsWithoutParametersAnswerToTheirBareName) {
    EXPECT_TRUE(Gives("PI", std::numbers::pi));
    EXPECT_TRUE(Gives("pi", std::numbers::pi));
    EXPECT_TRUE(Gives("PI()", std::numbers::pi)); // empty brackets pass one Null
    EXPECT_TRUE(Gives("True", true));
    EXPECT_TRUE(Gives("false()", false));
    EXPECT_TRUE(Gives("!True", false));
    // A bare name of a function with parameters is an unknown name; "if" is "iif" only as a call.
    EXPECT_TRUE(Fails("sin", P + "Неизвестная переменная sin"));
    EXPECT_TRUE(Fails("if", P + "Неизвестная переменная if"));
}

TEST(Names, TheArgumentCountMustBeTheDeclaredOne) {
    EXPECT_TRUE(Fails("sin(1,2)", P + "Неверное число аргументов функции sin"));
    EXPECT_TRUE(Fails("Round(1)", P + "Неверное число аргументов функции Round"));
    EXPECT_TRUE(Fails("PI(1)", P + "Неверное число аргументов функции PI"));
    EXPECT_TRUE(Fails("PI(,)", P + "Неверное число аргументов функции PI"));
    EXPECT_TRUE(Fails("iif(1=1,2)", P + "Неверное число аргументов функции iif"));
    // An empty argument is Null, converted like any other argument.
    EXPECT_TRUE(Fails("sin()", "Could not convert variant of type (Null) into type (Double)"));
    EXPECT_TRUE(Gives("max(1,)", 1.0)); // 1 > Null
    EXPECT_TRUE(Gives("iif(1=1,,2)", Variant()));
}

TEST(Names, ErrorsInsideArgumentsGetOnePrefixPerLevel) {
    EXPECT_TRUE(Fails("sin(1/0)", P + P + "Ошибка деления на ноль."));
    EXPECT_TRUE(Fails("max(1,max(2,1/0))", P + P + P + "Ошибка деления на ноль."));
    EXPECT_TRUE(Fails("sin(bar)", P + P + "Неизвестная переменная bar"));
    EXPECT_TRUE(Fails("sin(Ln(0))", P + "Invalid floating point operation"));
    EXPECT_TRUE(
        Fails("max(1,2)+sin(1+')')", P + "Could not convert variant of type (String) into type (Double)"));
    EXPECT_TRUE(Fails("sin(1+'a)", ") не найдена")); // the quote runs on over the bracket
    // ") не найдена" has no prefix of its own.
    EXPECT_TRUE(Fails("max(1", ") не найдена"));
    EXPECT_TRUE(Fails("max(1,sin(2)", ") не найдена"));
    EXPECT_TRUE(Fails("max(1,')", ") не найдена"));
    EXPECT_TRUE(Fails("1+max(", ") не найдена"));
}

TEST(Names, TheCallGoesOnWithTheTokenAfterTheBracket) {
    EXPECT_TRUE(Gives("max(1,2)*3", 6.0));
    EXPECT_TRUE(Gives("-max(1,2)^2", 0.0));
    EXPECT_TRUE(Gives("max(1,2)=2 & min(1,2)=1", true));
    EXPECT_TRUE(Gives("max(max(1,(2)),min(3,4))", 3.0));
    EXPECT_TRUE(Gives("iif(1=1,'a,b',')')", Variant("a,b")));
}

TEST(Names, EvaluationIsPublishedToo) {
    EXPECT_TRUE(Gives("Evaluation('1+2', '')+1", 4.0));
    EXPECT_TRUE(Gives("Evaluation('1/0', '')", Variant())); // its message goes to the argument
}

// --- A derived evaluator ---------------------------------------------------------------------------

TEST(DerivedEvaluation, ExtendsTheTableAndReachesItsOwnParts) {
    int calls = 0;
    EXPECT_TRUE(Counted("count()+COUNT", calls).value.SameAs(3.0));
    EXPECT_EQ(calls, 2);
    // Arguments run in evaluators of the same class.
    EXPECT_TRUE(Counted("Twice(Twice(Count()))", calls).value.SameAs(4.0));
    EXPECT_TRUE(Counted("Abs(5)", calls).value.SameAs(-5.0)); // its own Abs first
    EXPECT_TRUE(Counted("sin(0)", calls).value.SameAs(0.0));  // the library still there
    EXPECT_TRUE(Counted("[x]+1", calls).value.SameAs(43.0));
    EXPECT_TRUE(Counted("max([x],1)", calls).value.SameAs(42.0));
    EXPECT_TRUE(Counted("value*2", calls).value.SameAs(14.0)); // its published property
    EXPECT_TRUE(Counted("[y]", calls).value.IsNull());
    EXPECT_EQ(Counted("twice", calls).message, P + "Неизвестная переменная twice");
    // The base class has neither.
    EXPECT_TRUE(Fails("count()", P + "Неизвестная функция count"));
    EXPECT_TRUE(Fails("value", P + "Неизвестная переменная value"));
}

// --- Limits ----------------------------------------------------------------------------------------

TEST(Limits, DeepNestingIsAnErrorNotACrash) {
    const std::string tooDeep = P + "Слишком глубокая вложенность формулы";
    const int n = 100000;
    EXPECT_TRUE(Fails(std::string(n, '(') + "1" + std::string(n, ')'), tooDeep));
    EXPECT_TRUE(Fails(std::string(n, '-') + "1", tooDeep));
    EXPECT_TRUE(Fails(std::string(n, '!') + "1", tooDeep));
    EXPECT_TRUE(Fails("1=1 | " + std::string(n, '(') + "1", tooDeep));
    std::string args;
    for (int i = 0; i < 1000; ++i)
        args += "max(1,";
    const Outcome o = Eval(args + "1" + std::string(1000, ')'));
    EXPECT_TRUE(o.value.IsNull());
    EXPECT_TRUE(o.message.ends_with(tooDeep)) << o.message.substr(0, 200);
    // Real formulas stay far below the bound.
    EXPECT_TRUE(Gives(std::string(30, '(') + "1" + std::string(30, ')'), 1.0));
    EXPECT_TRUE(Gives("Round(Swap16(GetWordFromInt32(max(min(305419896,4e9),0),1))*0.1,1)", 1333.0));
}

TEST(Limits, LongFlatFormulasAreFine) {
    std::string f = "0";
    for (int i = 0; i < 20000; ++i)
        f += "+1";
    EXPECT_TRUE(Gives(f, 20000.0));
}
