// The variant values that formulas compute with.
//
// Kinds: Null, Boolean, the integer kinds that functions return (Byte, Word = 16-bit unsigned,
// Integer = 32-bit signed), Double, String (cp1251) and Date (TDateTime: days since 1899-12-30).
//
// The rules, where formulas leave them open:
// - As a number, True is -1 and False 0; Byte, Word and Integer are their values; a Date is its day
//   number; a String is read as a number text (blanks trimmed, "," or "." as the decimal point,
//   optional exponent); Null has no number and its conversion fails.
// - To an integer, a Double (or Date) is rounded to the nearest integer, halves to even; a finite value
//   within the 64-bit range keeps its low 32 bits (16 bits for a Word), so that unsigned 32-bit
//   readings pass; NaN, infinities and values beyond 64 bits fail with "Variant overflow".
// - To a Boolean: a Boolean; a number is True when not 0; a String "True"/"False" in any letter case
//   or a number text.
// - Arithmetic (+, -, *): Null with anything gives Null. Two Strings: "+" concatenates, "-" and "*"
//   work on their numbers. A String with a non-String is its number. Two integer kinds (Boolean,
//   Byte, Word, Integer) give an Integer when the exact result fits in 32 bits and a Double otherwise,
//   so that integer overflow is never silent. A Date plus or minus a number is a Date, a Date minus a
//   Date is a Double; everything else is a Double. An infinite or NaN result of finite operands is an
//   error ("Floating point overflow", "Invalid floating point operation"), never a value.
// - "/" is always a real division, Null with anything is Null. Negation keeps the kind (an integer
//   kind becomes Integer). "!", "&" and "|" are logical on Booleans and bitwise on the operands'
//   32-bit integers otherwise, Integer results; Null gives Null.
// - Comparison: Null equals Null only and is below every other value. Two Strings compare by their
//   bytes, case-sensitively. Otherwise both are compared as numbers (a String by its number), two
//   integer kinds exactly.
// - A failed conversion raises "Could not convert variant of type (X) into type (Y)".
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace evaluator {

// Errors of variant conversions and floating-point operations; their messages are the texts that
// formulas report.
class EVariantError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class VarType : uint8_t { Null, Boolean, Byte, Word, Integer, Double, String, Date };

const char* VarTypeName(VarType t);

// Messages of the floating-point failures.
extern const char* const kInvalidFloatOp; // "Invalid floating point operation"
extern const char* const kFloatOverflow;  // "Floating point overflow"

[[noreturn]] void RaiseConversion(VarType from, VarType to);
// A double result of finite operands: NaN and infinities are errors.
double CheckFloat(double v);

class Variant {
public:
    Variant() = default; // Null
    Variant(bool v) : type_(VarType::Boolean) { b_ = v; }
    Variant(uint8_t v) : type_(VarType::Byte) { i_ = v; }
    Variant(uint16_t v) : type_(VarType::Word) { i_ = v; }
    Variant(int32_t v) : type_(VarType::Integer) { i_ = v; }
    Variant(double v) : type_(VarType::Double) { d_ = v; }
    Variant(std::string v) : type_(VarType::String), s_(std::move(v)) {}
    Variant(const char* v) : Variant(std::string(v)) {}

    static Variant Null() { return Variant(); }
    static Variant Date(double days) {
        Variant v(days);
        v.type_ = VarType::Date;
        return v;
    }

    VarType Type() const { return type_; }
    bool IsNull() const { return type_ == VarType::Null; }
    bool IsBoolean() const { return type_ == VarType::Boolean; }
    bool IsString() const { return type_ == VarType::String; }
    // Boolean, Byte, Word or Integer.
    bool IsIntegerKind() const {
        return type_ == VarType::Boolean || type_ == VarType::Byte || type_ == VarType::Word ||
               type_ == VarType::Integer;
    }

    // Conversions by the rules above; they raise EVariantError.
    double AsDouble() const;
    int32_t AsInteger() const;
    uint16_t AsWord() const;
    bool AsBoolean() const;
    std::string AsString() const;

    // The stored value of a kind known to the caller.
    bool BoolValue() const { return b_; }
    int32_t IntValue() const { return i_; }
    double DoubleValue() const { return d_; }
    const std::string& StringValue() const { return s_; }

    // The same kind and value (Null equals Null); for tests and diagnostics.
    bool SameAs(const Variant& o) const;
    // Kind and value for diagnostics, as "Double 1.5".
    std::string Describe() const;

private:
    // The integer-kind value as a 64-bit number (True is -1).
    int64_t IntegerKindValue() const { return type_ == VarType::Boolean ? (b_ ? -1 : 0) : i_; }
    friend Variant VarAdd(const Variant&, const Variant&);
    friend Variant VarSub(const Variant&, const Variant&);
    friend Variant VarMul(const Variant&, const Variant&);
    friend Variant VarNeg(const Variant&);
    friend Variant VarNot(const Variant&);
    friend int VarCompare(const Variant&, const Variant&);

    VarType type_ = VarType::Null;
    union {
        bool b_;
        int32_t i_;
        double d_ = 0;
    };
    std::string s_;
};

Variant VarAdd(const Variant& a, const Variant& b);
Variant VarSub(const Variant& a, const Variant& b);
Variant VarMul(const Variant& a, const Variant& b);
// Real division; the caller has checked the divisor against 0.
Variant VarDiv(const Variant& a, const Variant& b);
Variant VarNeg(const Variant& a);
Variant VarNot(const Variant& a);
Variant VarAnd(const Variant& a, const Variant& b);
Variant VarOr(const Variant& a, const Variant& b);
// < 0, 0, > 0 by the comparison rules.
int VarCompare(const Variant& a, const Variant& b);

// A number text: blanks trimmed, "," or "." as the decimal point, optional exponent. The value of the
// longest well-formed beginning, 0 when none; false when nothing but that beginning is in the text
// (for conversions, which accept only whole number texts). A magnitude beyond the double range raises
// "Floating point overflow"; one below it is 0.
bool ReadNumber(std::string_view text, double& value);

// Dates: day, month and year to TDateTime (false when no such day); TDateTime to "dd.mm.yyyy" with
// " hh:nn:ss" when it has a time of day.
bool EncodeDate(int32_t day, int32_t month, int32_t year, double& value);
std::string DateTimeToStr(double value);

} // namespace evaluator
