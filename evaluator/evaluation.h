// The formula evaluator: a recursive-descent interpreter over variants that parses and evaluates in
// one pass, left to right. Its functions are its published methods (the method table), so a derived
// evaluator adds functions by publishing methods in a table of its own.
//
// An evaluator object holds the parse state and serves one evaluation at a time.
#pragma once

#include "evaluator/rtti.h"
#include "evaluator/variant.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace evaluator {

// Errors that the evaluator raises itself; the message is the whole text that Evaluation reports.
class EEvaluationError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TEvaluation {
public:
    // The root constructor: without short-circuit evaluation, as for arguments.
    TEvaluation() = default;
    // Create: with short-circuit evaluation.
    static std::unique_ptr<TEvaluation> Create();
    virtual ~TEvaluation() = default;
    TEvaluation(const TEvaluation&) = delete;
    TEvaluation& operator=(const TEvaluation&) = delete;

    // The value of Expression; on any error Null with AErrorMessage set. An empty or all-blank
    // expression gives Null and an empty message.
    Variant Evaluation(const std::string& Expression, std::string& AErrorMessage);

    // The value of an operand in square brackets that is not a date; the base gives Null.
    virtual void GetBracketVariable(const std::string& Name, Variant& Value);

    bool ShortCircuit = false;
    int32_t Position = 1;       // 1-based position of the next character to scan in Formula
    int32_t TokenType = 0;      // the operator that ended the last token: 0 end, 1..20 the table
    std::string_view TokenText; // the operand text before that operator, a part of Formula
    std::string Formula;        // the expression without its blanks

    // The published methods: the functions of formulas.
    double PI();
    double Exp(double D);
    bool True();
    bool False();
    uint16_t ShiftLeft(uint16_t D, uint16_t N);
    uint16_t ShiftRight(uint16_t D, uint16_t N);
    double Ln(double D);
    double Abs(double D);
    double Int(double D);
    double Cos(double D);
    double Sin(double D);
    double Tan(double D);
    double Cosh(double D);
    double Sinh(double D);
    double Tanh(double D);
    double Arccos(double D);
    double Arcsin(double D);
    double Arctan(double D);
    double Log2(double D);
    double log10(double D);
    Variant Max(const Variant& V1, const Variant& V2);
    Variant Min(const Variant& V1, const Variant& V2);
    Variant Swap16(const Variant& V1);
    Variant Swap32(const Variant& V1);
    Variant GetByteFromInt32(const Variant& V1, uint16_t AByteNum);
    Variant GetWordFromInt32(const Variant& V1, uint16_t AWordNum);
    Variant IsBitSet(const Variant& V1, uint16_t ABit);
    double Round(double D, int32_t N);
    Variant iif(bool C, const Variant& V1, const Variant& V2);
    // Evaluation as a formula function; its error message goes nowhere, as a var argument would.
    Variant EvaluationFunction(const std::string& Expression, const std::string& AErrorMessage);

    // The table of TEvaluation's own published methods, the parent of a derived class's table.
    static const TMethodTable& EvaluationMethods();

    // Nesting of brackets, unary operators and arguments within arguments, counted together.
    static constexpr int32_t kMaxDepth = 40;

protected:
    // The class's method table; a derived class with functions of its own answers its table.
    virtual const TMethodTable& Methods() const { return EvaluationMethods(); }
    // A new evaluator of the same class, made by the root constructor; every class that derives
    // answers one of its own class.
    virtual std::unique_ptr<TEvaluation> NewEvaluation() const { return std::make_unique<TEvaluation>(); }
    // A published property of that (upper-cased) name; the base class has none.
    virtual bool GetPublishedProperty(const std::string& UpperName, Variant& Value);

private:
    friend class TRTTI;

    void NextToken();
    bool OperatorAt(int32_t k, int32_t i) const;
    Variant Logical();
    Variant Comparison();
    Variant Additive();
    Variant Multiplicative();
    Variant Power();
    Variant Factor();
    Variant Operand();
    Variant Name();
    Variant FunctionCall(std::string_view name);
    void SplitArguments(std::vector<std::string_view>& arguments);
    Variant EvaluateArgument(std::string_view text);
    Variant BracketedDate(std::string_view text);

    // The depth at which this evaluation started (an argument's is its caller's depth) and the current.
    int32_t baseDepth_ = 0;
    int32_t depth_ = 0;
    // Parsing the passed-over operand of a short-circuit "&" or "|": nothing is evaluated.
    bool skipping_ = false;
    std::vector<std::string_view> argumentTexts_;
    std::vector<Variant> arguments_;
};

// Messages of the evaluator, cp1251, with the "TEvaluation:: " prefix where it belongs.
std::string EvaluationMessage(std::string_view utf8Text);

} // namespace evaluator
