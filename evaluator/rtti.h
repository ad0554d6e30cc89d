// Published methods found by name at run time.
//
// C++ has no published methods, so each evaluator class keeps a table of its functions: name,
// declared parameter types and the code that calls the method. A derived class makes its own table
// with the parent's as the parent and publishes more; look-up goes from the class to its ancestors.
#pragma once

#include "evaluator/variant.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace evaluator {

class TEvaluation;

enum class TParamType : uint8_t { Double, Word, Integer, Boolean, String, Variant };

// Arguments arrive converted to the declared parameter types.
using TMethodCode = Variant (*)(TEvaluation& self, const Variant* args);

struct TPublishedMethod {
    std::string Name;
    std::vector<TParamType> Params;
    TMethodCode Code = nullptr;
};

class TMethodTable {
public:
    explicit TMethodTable(const TMethodTable* parent = nullptr) : parent_(parent) {}

    // Publishes a method of TEvaluation or of a class derived from it; the parameter types come from
    // its signature: double, uint16_t (Word), int32_t, bool, std::string or Variant.
    template <auto Method> TMethodTable& Publish(std::string name);
    TMethodTable& Publish(std::string name, std::vector<TParamType> params, TMethodCode code);

    // The class's own method of that name (letter case ignored), else the nearest ancestor's.
    const TPublishedMethod* Find(std::string_view name) const;

private:
    const TMethodTable* parent_;
    std::vector<TPublishedMethod> methods_; // sorted by upper-cased name
    std::vector<std::string> keys_;         // the upper-cased names, in the same order
};

class TRTTI {
public:
    // Looks MethodName up in Instance's class and its ancestors; false when there is none. Else calls it
    // with Args converted to the declared parameter types, stores a result that is not Null in Result
    // and answers true.
    // The argument count must be the declared one; empty brackets (one Null argument) also call a method
    // without parameters; otherwise "TEvaluation:: Неверное число аргументов функции " + the name.
    // Called without arguments (a bare name), a method that has parameters is not found.
    static bool CallMethod(TEvaluation& Instance, std::string_view MethodName, std::vector<Variant>& Args,
                           Variant& Result);
};

// The argument conversion of one declared type; raises on a value it cannot convert.
Variant ConvertArgument(const Variant& v, TParamType type);

namespace detail {

template <class T> struct ParamOf;
template <> struct ParamOf<double> {
    static constexpr TParamType kType = TParamType::Double;
    static double Get(const Variant& v) { return v.DoubleValue(); }
};
template <> struct ParamOf<uint16_t> {
    static constexpr TParamType kType = TParamType::Word;
    static uint16_t Get(const Variant& v) { return static_cast<uint16_t>(v.IntValue()); }
};
template <> struct ParamOf<int32_t> {
    static constexpr TParamType kType = TParamType::Integer;
    static int32_t Get(const Variant& v) { return v.IntValue(); }
};
template <> struct ParamOf<bool> {
    static constexpr TParamType kType = TParamType::Boolean;
    static bool Get(const Variant& v) { return v.BoolValue(); }
};
template <> struct ParamOf<std::string> {
    static constexpr TParamType kType = TParamType::String;
    static const std::string& Get(const Variant& v) { return v.StringValue(); }
};
template <> struct ParamOf<Variant> {
    static constexpr TParamType kType = TParamType::Variant;
    static const Variant& Get(const Variant& v) { return v; }
};

template <class M> struct MethodTraits;
template <class C, class R, class... A> struct MethodTraits<R (C::*)(A...)> {
    using Class = C;
    static std::vector<TParamType> Params() { return {ParamOf<std::remove_cvref_t<A>>::kType...}; }
    template <auto Method, std::size_t... I>
    static Variant Call(TEvaluation& self, const Variant* args, std::index_sequence<I...>) {
        return Variant((static_cast<C&>(self).*Method)(ParamOf<std::remove_cvref_t<A>>::Get(args[I])...));
    }
    template <auto Method> static Variant Invoke(TEvaluation& self, const Variant* args) {
        return Call<Method>(self, args, std::index_sequence_for<A...>{});
    }
};

} // namespace detail

template <auto Method> TMethodTable& TMethodTable::Publish(std::string name) {
    using Traits = detail::MethodTraits<decltype(Method)>;
    static_assert(std::is_base_of_v<TEvaluation, typename Traits::Class>, "a method of an evaluator class");
    return Publish(std::move(name), Traits::Params(), &Traits::template Invoke<Method>);
}

} // namespace evaluator
