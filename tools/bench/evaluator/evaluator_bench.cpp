// Evaluations per second of typical decoding formulas, each parsed anew, beside muparser setting and
// evaluating the equivalent expression anew each time.
#include "evaluator/evaluation.h"

#include <benchmark/benchmark.h>
#include <muParser.h>

#include <cmath>
#include <cstdint>
#include <string>

namespace {

struct Case {
    const char* name;
    const char* formula;  // ours, "%VALUE%" already replaced
    const char* muparser; // the same in muparser's language
};

const Case kCases[] = {
    {"scale", "123*0.1", "123*0.1"},
    {"round", "Round(1234/10,1)", "Round(1234/10,1)"},
    {"bit", "iif(IsBitSet(5,2),1,0)", "IsBitSet(5,2) ? 1 : 0"},
    {"swap", "Swap16(4660)+1", "Swap16(4660)+1"},
};

// muparser has none of these; they do what ours do.
mu::value_type MuRound(mu::value_type d, mu::value_type n) {
    evaluator::TEvaluation e;
    return e.Round(d, static_cast<int32_t>(std::nearbyint(n)));
}
mu::value_type MuIsBitSet(mu::value_type v, mu::value_type bit) {
    const auto x = static_cast<uint32_t>(static_cast<int64_t>(std::nearbyint(v))) & 0xFFFFu;
    return (x >> (static_cast<uint32_t>(std::nearbyint(bit)) % 32)) & 1u;
}
mu::value_type MuSwap16(mu::value_type v) {
    const auto x = static_cast<uint32_t>(static_cast<int64_t>(std::nearbyint(v)));
    return static_cast<int32_t>((x & 0xFFFF0000u) | ((x & 0xFFu) << 8) | ((x >> 8) & 0xFFu));
}

void Evaluation(benchmark::State& state) {
    const Case& c = kCases[state.range(0)];
    auto e = evaluator::TEvaluation::Create();
    const std::string formula = c.formula;
    std::string message;
    for (auto _ : state) {
        evaluator::Variant v = e->Evaluation(formula, message);
        benchmark::DoNotOptimize(v);
    }
    if (!message.empty()) state.SkipWithError(message.c_str());
    state.SetLabel(c.name);
    state.SetItemsProcessed(state.iterations());
}

void Muparser(benchmark::State& state) {
    const Case& c = kCases[state.range(0)];
    mu::Parser p;
    p.DefineFun("Round", MuRound);
    p.DefineFun("IsBitSet", MuIsBitSet);
    p.DefineFun("Swap16", MuSwap16);
    const std::string formula = c.muparser;
    try {
        for (auto _ : state) {
            p.SetExpr(formula);
            double v = p.Eval();
            benchmark::DoNotOptimize(v);
        }
    } catch (const mu::Parser::exception_type& ex) {
        state.SkipWithError(ex.GetMsg().c_str());
    }
    state.SetLabel(c.name);
    state.SetItemsProcessed(state.iterations());
}

// The four formulas in turn, as the decoding of one data block meets them.
void EvaluationMix(benchmark::State& state) {
    auto e = evaluator::TEvaluation::Create();
    std::string message;
    for (auto _ : state) {
        for (const Case& c : kCases) {
            evaluator::Variant v = e->Evaluation(c.formula, message);
            benchmark::DoNotOptimize(v);
        }
    }
    state.SetItemsProcessed(state.iterations() * 4);
}

void MuparserMix(benchmark::State& state) {
    mu::Parser p;
    p.DefineFun("Round", MuRound);
    p.DefineFun("IsBitSet", MuIsBitSet);
    p.DefineFun("Swap16", MuSwap16);
    for (auto _ : state) {
        for (const Case& c : kCases) {
            p.SetExpr(c.muparser);
            double v = p.Eval();
            benchmark::DoNotOptimize(v);
        }
    }
    state.SetItemsProcessed(state.iterations() * 4);
}

} // namespace

BENCHMARK(Evaluation)->DenseRange(0, 3);
BENCHMARK(Muparser)->DenseRange(0, 3);
BENCHMARK(EvaluationMix);
BENCHMARK(MuparserMix);

BENCHMARK_MAIN();
