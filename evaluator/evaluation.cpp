#include "evaluator/evaluation.h"

#include "platform/text.h"

#include <array>
#include <cfloat>
#include <cmath>

namespace evaluator {

namespace {

// Index = TokenType.
constexpr std::array<std::string_view, 21> kOperators = {"",   "&",  "|", "<",  ">", "<=", "=<",
                                                         ">=", "=>", "=", "<>", "#", "!=", "+",
                                                         "-",  "/",  "*", "^",  "!", "(",  ")"};

enum : int32_t {
    kAnd = 1,
    kOr = 2,
    kLess = 3,
    kGreater = 4,
    kLessEqual = 5,
    kLessEqual2 = 6,
    kGreaterEqual = 7,
    kGreaterEqual2 = 8,
    kEqual = 9,
    kNotEqual = 10,
    kNotEqual2 = 11,
    kNotEqual3 = 12,
    kPlus = 13,
    kMinus = 14,
    kDivide = 15,
    kMultiply = 16,
    kPower = 17,
    kNot = 18,
    kOpen = 19,
    kClose = 20
};

// The first characters of the operators, so that the table is tried only where one can begin.
constexpr std::array<bool, 256> MakeOperatorStarts() {
    std::array<bool, 256> t{};
    for (std::size_t i = 1; i < kOperators.size(); ++i)
        t[static_cast<unsigned char>(kOperators[i][0])] = true;
    return t;
}
constexpr std::array<bool, 256> kOperatorStarts = MakeOperatorStarts();

bool IsQuote(char c) {
    return c == '\'' || c == '"';
}
bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= 32;
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsNumberText(std::string_view s) {
    for (char c : s)
        if (!(IsBlank(c) || IsDigit(c) || c == '+' || c == ',' || c == '-' || c == '.' || c == 'E' ||
              c == 'e'))
            return false;
    return true;
}

// Digits and dots only between the first and the last character, with one or two dots.
bool IsDateText(std::string_view s) {
    if (s.size() < 2 || s[0] != '[') return false;
    int dots = 0;
    for (char c : s.substr(1, s.size() - 2)) {
        if (c == '.')
            ++dots;
        else if (!IsDigit(c))
            return false;
    }
    return dots == 1 || dots == 2;
}

[[noreturn]] void Raise(std::string_view utf8Text) {
    throw EEvaluationError(EvaluationMessage(utf8Text));
}

// Counts one level of nesting for the life of a parse function.
class DepthGuard {
public:
    explicit DepthGuard(int32_t& depth) : depth_(depth) {
        if (++depth_ > TEvaluation::kMaxDepth) {
            --depth_;
            Raise("Слишком глубокая вложенность формулы");
        }
    }
    ~DepthGuard() { --depth_; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;

private:
    int32_t& depth_;
};

} // namespace

std::string EvaluationMessage(std::string_view utf8Text) {
    return "TEvaluation:: " + platform::Cp(utf8Text);
}

std::unique_ptr<TEvaluation> TEvaluation::Create() {
    auto e = std::make_unique<TEvaluation>();
    e->ShortCircuit = true;
    return e;
}

void TEvaluation::GetBracketVariable(const std::string&, Variant& Value) {
    Value = Variant();
}

bool TEvaluation::GetPublishedProperty(const std::string&, Variant&) {
    return false;
}

Variant TEvaluation::Evaluation(const std::string& Expression, std::string& AErrorMessage) {
    if (&Expression == &Formula || &Expression == &AErrorMessage) { // the expression must outlive both
        const std::string copy = Expression;
        return Evaluation(copy, AErrorMessage);
    }
    Variant Result;
    AErrorMessage.clear();
    // Blanks and control characters go, except inside quotes; either quote closes a quoted part.
    Formula.clear();
    Formula.reserve(Expression.size());
    bool quoted = false;
    for (char c : Expression) {
        if (IsQuote(c))
            quoted = !quoted;
        else if (!quoted && IsBlank(c))
            continue;
        Formula.push_back(c);
    }
    Position = 1;
    TokenType = 0;
    TokenText = {};
    depth_ = baseDepth_;
    skipping_ = false;
    try {
        if (!Formula.empty()) {
            Result = Logical();
            if (TokenType != 0) Raise("Незавершенная формула");
        }
    } catch (const std::exception& e) {
        Result = Variant();
        AErrorMessage = e.what();
    }
    return Result;
}

// Formula continues with operator k at 1-based position i.
bool TEvaluation::OperatorAt(int32_t k, int32_t i) const {
    const std::string_view op = kOperators[k];
    if (Formula[i - 1] != op[0]) return false;
    return op.size() == 1 || (static_cast<std::size_t>(i) < Formula.size() && Formula[i] == op[1]);
}

void TEvaluation::NextToken() {
    TokenType = 0;
    TokenText = {};
    const auto n = static_cast<int32_t>(Formula.size());
    if (Position > n) return;
    const char* f = Formula.data();
    const int32_t start = Position;
    int32_t i = start;
    int32_t matched = 0;
    while (i <= n) {
        const char c = f[i - 1];
        if (IsQuote(c) || c == '[') {
            // Nothing inside a quoted or bracketed part is an operator.
            int32_t j = i + 1;
            if (c == '[') {
                while (j <= n && f[j - 1] != ']')
                    ++j;
            } else {
                while (j <= n && !IsQuote(f[j - 1]))
                    ++j;
            }
            if (j > n) Raise("Отсутствует завершающий символ в константе.");
            i = j + 1;
            continue;
        }
        if (kOperatorStarts[static_cast<unsigned char>(c)]) {
            for (int32_t k = 1; k <= kClose; ++k) {
                if (!OperatorAt(k, i)) continue;
                // "-" after "E" or "e" belongs to a number such as 1E-5.
                if (k == kMinus && i > start && (f[i - 2] == 'E' || f[i - 2] == 'e')) continue;
                matched = k;
                break;
            }
            if (matched != 0) break;
        }
        ++i;
    }
    TokenText = std::string_view(f + (start - 1), static_cast<std::size_t>(i - start));
    if (matched == 0) {
        Position = n + 1;
        return;
    }
    // The longest entry from the matched one on: "<=" over "<", "<>" over "<", ">=" over ">".
    int32_t best = matched;
    for (int32_t k = matched + 1; k <= kClose; ++k)
        if (kOperators[k].size() > kOperators[best].size() && OperatorAt(k, i)) best = k;
    TokenType = best;
    Position = i + static_cast<int32_t>(kOperators[best].size());
}

Variant TEvaluation::Logical() {
    Variant left = Comparison();
    while (TokenType == kAnd || TokenType == kOr) {
        const int32_t op = TokenType;
        if (ShortCircuit && !skipping_ && left.IsBoolean() && left.BoolValue() == (op == kOr)) {
            // The result is decided: the right operand is parsed, nothing in it evaluated.
            skipping_ = true;
            Comparison();
            skipping_ = false;
            continue;
        }
        Variant right = Comparison();
        if (!skipping_) left = op == kAnd ? VarAnd(left, right) : VarOr(left, right);
    }
    return left;
}

Variant TEvaluation::Comparison() {
    Variant left = Additive();
    while (TokenType >= kLess && TokenType <= kNotEqual3) {
        const int32_t op = TokenType;
        Variant right = Additive();
        if (skipping_) continue;
        const int c = VarCompare(left, right);
        bool r = false;
        switch (op) {
        case kLess:
            r = c < 0;
            break;
        case kGreater:
            r = c > 0;
            break;
        case kLessEqual:
        case kLessEqual2:
            r = c <= 0;
            break;
        case kGreaterEqual:
        case kGreaterEqual2:
            r = c >= 0;
            break;
        case kEqual:
            r = c == 0;
            break;
        default:
            r = c != 0;
            break; // "<>", "#", "!="
        }
        left = Variant(r);
    }
    return left;
}

Variant TEvaluation::Additive() {
    Variant left = Multiplicative();
    while (TokenType == kPlus || TokenType == kMinus) {
        const int32_t op = TokenType;
        Variant right = Multiplicative();
        if (!skipping_) left = op == kPlus ? VarAdd(left, right) : VarSub(left, right);
    }
    return left;
}

Variant TEvaluation::Multiplicative() {
    Variant left = Power();
    while (TokenType == kDivide || TokenType == kMultiply) {
        const int32_t op = TokenType;
        Variant right = Power();
        if (skipping_) continue;
        if (op == kDivide) {
            if (VarCompare(right, Variant(0.0)) == 0) Raise("Ошибка деления на ноль.");
            left = VarDiv(left, right);
        } else {
            left = VarMul(left, right);
        }
    }
    return left;
}

Variant TEvaluation::Power() {
    Variant left = Factor();
    while (TokenType == kPower) {
        Variant right = Factor();
        if (skipping_) continue;
        const double l = left.AsDouble(), r = right.AsDouble();
        if (l > 0) {
            // In extended precision, which gives 2^3, 2^3^2 and 10^3 exactly.
            const long double p =
                std::exp(static_cast<long double>(r) * std::log(static_cast<long double>(l)));
            if (!(p <= static_cast<long double>(DBL_MAX))) throw EVariantError(kFloatOverflow);
            left = Variant(static_cast<double>(p));
        } else {
            left = Variant(0.0);
        }
    }
    return left;
}

Variant TEvaluation::Factor() {
    DepthGuard guard(depth_);
    NextToken();
    if (!TokenText.empty()) return Operand();
    switch (TokenType) {
    case kPlus:
        return Factor();
    case kMinus: {
        Variant v = Factor();
        return skipping_ ? v : VarNeg(v);
    }
    case kNot: {
        Variant v = Factor();
        return skipping_ ? v : VarNot(v);
    }
    case kOpen: {
        Variant v = Logical();
        if (TokenType != kClose) Raise(") отсутствует");
        NextToken();
        return v;
    }
    default:
        Raise("Синтаксическая ошибка.");
    }
}

Variant TEvaluation::Operand() {
    const std::string_view text = TokenText;
    if (IsQuote(text[0]))
        return skipping_ ? Variant() : Variant(std::string(text.substr(1, text.size() - 2)));
    if (IsDateText(text)) return skipping_ ? Variant() : BracketedDate(text);
    if (IsNumberText(text)) {
        if (skipping_) return Variant();
        double v = 0;
        ReadNumber(text, v); // a malformed number is the value of its well-formed beginning, 0 when none
        return Variant(v);
    }
    return Name();
}

// Dates in the system's short date format, day.month.year; 05.2008 is the first day of that month.
// A year of one or two digits is 19xx from 50 on, 20xx below.
Variant TEvaluation::BracketedDate(std::string_view text) {
    std::string inner(text.substr(1, text.size() - 2));
    if (inner.find('.') == inner.rfind('.')) inner = "01." + inner;
    int32_t parts[3] = {0, 0, 0};
    std::size_t lengths[3] = {0, 0, 0};
    int part = 0;
    for (char c : inner) {
        if (c == '.') {
            ++part;
        } else if (lengths[part]++ < 9) {
            parts[part] = parts[part] * 10 + (c - '0');
        } else {
            parts[part] = -1; // too many digits for any day, month or year
        }
    }
    int32_t year = parts[2];
    if (lengths[2] > 0 && lengths[2] <= 2) year += year >= 50 ? 1900 : 2000;
    double value = 0;
    if (lengths[0] == 0 || lengths[1] == 0 || lengths[2] == 0 || !EncodeDate(parts[0], parts[1], year, value))
        throw EVariantError("'" + inner + "' is not a valid date");
    return Variant::Date(value);
}

Variant TEvaluation::Name() {
    const std::string_view name = TokenText;
    if (TokenType == kOpen) return FunctionCall(name);
    if (skipping_) return Variant();
    Variant value;
    if (name[0] == '[') {
        GetBracketVariable(std::string(name), value);
        return value;
    }
    if (GetPublishedProperty(platform::UpperCase(name), value)) return value;
    std::vector<Variant> none;
    if (!TRTTI::CallMethod(*this, name, none, value))
        throw EEvaluationError(EvaluationMessage("Неизвестная переменная ") + std::string(name));
    return value;
}

Variant TEvaluation::FunctionCall(std::string_view name) {
    SplitArguments(argumentTexts_);
    Variant value;
    if (!skipping_) {
        std::vector<Variant>& args = arguments_;
        args.clear();
        for (std::string_view text : argumentTexts_) {
            bool blank = true;
            for (char c : text)
                blank = blank && IsBlank(c);
            args.push_back(blank ? Variant() : EvaluateArgument(text));
        }
        const std::string_view method = platform::SameText(name, "if") ? std::string_view("iif") : name;
        if (!TRTTI::CallMethod(*this, method, args, value))
            throw EEvaluationError(EvaluationMessage("Неизвестная функция ") + std::string(name));
    }
    NextToken();
    return value;
}

// The argument texts between the brackets: split at commas at bracket depth 1 outside quotes.
// Position moves past the matching ")".
void TEvaluation::SplitArguments(std::vector<std::string_view>& arguments) {
    arguments.clear();
    const auto n = static_cast<int32_t>(Formula.size());
    const char* f = Formula.data();
    int32_t depth = 1;
    int32_t start = Position;
    for (int32_t i = Position;; ++i) {
        if (i > n) throw EEvaluationError(platform::Cp(") не найдена"));
        const char c = f[i - 1];
        if (IsQuote(c)) {
            ++i;
            while (i <= n && !IsQuote(f[i - 1]))
                ++i;
            if (i > n) throw EEvaluationError(platform::Cp(") не найдена"));
        } else if (c == '(') {
            ++depth;
        } else if (c == ')') {
            if (--depth == 0) {
                arguments.emplace_back(f + (start - 1), static_cast<std::size_t>(i - start));
                Position = i + 1;
                return;
            }
        } else if (c == ',' && depth == 1) {
            arguments.emplace_back(f + (start - 1), static_cast<std::size_t>(i - start));
            start = i + 1;
        }
    }
}

// Each argument is evaluated by a new evaluator of the same class, without short-circuit.
Variant TEvaluation::EvaluateArgument(std::string_view text) {
    DepthGuard guard(depth_);
    std::unique_ptr<TEvaluation> e = NewEvaluation();
    e->baseDepth_ = depth_;
    std::string message;
    Variant v = e->Evaluation(std::string(text), message);
    if (!message.empty()) throw EEvaluationError("TEvaluation:: " + message);
    return v;
}

Variant TEvaluation::EvaluationFunction(const std::string& Expression, const std::string&) {
    // On an evaluator of its own: the running parse of this one must stay as it is.
    DepthGuard guard(depth_);
    std::unique_ptr<TEvaluation> e = NewEvaluation();
    e->ShortCircuit = ShortCircuit;
    e->baseDepth_ = depth_;
    std::string message;
    return e->Evaluation(Expression, message);
}

} // namespace evaluator
