#include "evaluator/rtti.h"

#include "evaluator/evaluation.h"
#include "platform/text.h"

#include <algorithm>

namespace evaluator {

namespace {

// The upper-cased name against an upper-cased key.
int CompareUpper(std::string_view name, const std::string& key) {
    const std::size_t n = std::min(name.size(), key.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto a = static_cast<unsigned char>(platform::UpperChar(name[i]));
        const auto b = static_cast<unsigned char>(key[i]);
        if (a != b) return a < b ? -1 : 1;
    }
    return name.size() < key.size() ? -1 : (name.size() > key.size() ? 1 : 0);
}

} // namespace

TMethodTable& TMethodTable::Publish(std::string name, std::vector<TParamType> params, TMethodCode code) {
    std::string key = platform::UpperCase(name);
    const auto at = std::lower_bound(keys_.begin(), keys_.end(), key);
    const auto index = at - keys_.begin();
    TPublishedMethod method{std::move(name), std::move(params), code};
    if (at != keys_.end() && *at == key) {
        methods_[static_cast<std::size_t>(index)] = std::move(method);
    } else {
        keys_.insert(at, std::move(key));
        methods_.insert(methods_.begin() + index, std::move(method));
    }
    return *this;
}

const TPublishedMethod* TMethodTable::Find(std::string_view name) const {
    for (const TMethodTable* t = this; t != nullptr; t = t->parent_) {
        std::size_t lo = 0, hi = t->keys_.size();
        while (lo < hi) {
            const std::size_t mid = (lo + hi) / 2;
            const int c = CompareUpper(name, t->keys_[mid]);
            if (c == 0) return &t->methods_[mid];
            if (c < 0)
                hi = mid;
            else
                lo = mid + 1;
        }
    }
    return nullptr;
}

Variant ConvertArgument(const Variant& v, TParamType type) {
    switch (type) {
    case TParamType::Double:
        return Variant(v.AsDouble());
    case TParamType::Word:
        return Variant(v.AsWord());
    case TParamType::Integer:
        return Variant(v.AsInteger());
    case TParamType::Boolean:
        return Variant(v.AsBoolean());
    case TParamType::String:
        return Variant(v.AsString());
    case TParamType::Variant:
        break;
    }
    return v;
}

bool TRTTI::CallMethod(TEvaluation& Instance, std::string_view MethodName, std::vector<Variant>& Args,
                       Variant& Result) {
    const TPublishedMethod* method = Instance.Methods().Find(MethodName);
    if (method == nullptr) return false;
    const std::size_t count = method->Params.size();
    if (Args.empty() && count > 0) return false;
    const bool emptyBrackets = count == 0 && Args.size() == 1 && Args[0].IsNull();
    if (Args.size() != count && !emptyBrackets)
        throw EEvaluationError(EvaluationMessage("Неверное число аргументов функции ") +
                               std::string(MethodName));
    for (std::size_t i = 0; i < count; ++i)
        Args[i] = ConvertArgument(Args[i], method->Params[i]);
    Variant value = method->Code(Instance, Args.data());
    if (!value.IsNull()) Result = std::move(value);
    return true;
}

} // namespace evaluator
