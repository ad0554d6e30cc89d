// libFuzzer target: any text as a formula, with and without short-circuit evaluation. A formula typed
// by hand must never crash the evaluator, and an error always leaves Null.
#include "evaluator/evaluation.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string formula(reinterpret_cast<const char*>(data), size);
    static const auto shortCircuit = evaluator::TEvaluation::Create();
    static evaluator::TEvaluation root;
    for (evaluator::TEvaluation* e : {shortCircuit.get(), &root}) {
        std::string message;
        const evaluator::Variant v = e->Evaluation(formula, message);
        if (!message.empty() && !v.IsNull()) std::abort();
        if (v.Type() == evaluator::VarType::Double) {
            const double d = v.DoubleValue();
            if (d != d || d - d != 0) std::abort(); // NaN or an infinity got through
        }
    }
    return 0;
}
