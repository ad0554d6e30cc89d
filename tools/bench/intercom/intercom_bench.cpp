// Reading the static-tag region entry by entry, and received values through a large tag index.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "framework/intercom.h"
#include "framework/tag_routing.h"
#include "framework/variable_index.h"
#include "platform/text.h"

using namespace framework;

namespace {

std::unique_ptr<TIntercomInterface> MakeArea(int32_t tags) {
    auto area = TIntercomInterface::Create(tags, "Quillary.dat");
    if (!area->IsOpen()) return area;
    hostapi::TVLVariableInfo info{};
    for (int32_t i = 0; i < tags; ++i) {
        info.VariableId = i;
        // 100 devices of 500 registers each
        platform::SetFieldText(info.Routing, "PLC" + std::to_string(i % 4) +
                                                 ": DEVICE=" + std::to_string(i / 500) +
                                                 "; ADDRESS=" + std::to_string(40001 + i % 500));
        info.Divisor = (i % 3 == 0) ? 10.0f : 0.0f;
        area->DMLVariablesList.Add(info);
    }
    return area;
}

void ReadStaticTags(benchmark::State& state) {
    auto area = MakeArea(static_cast<int32_t>(state.range(0)));
    if (!area->IsOpen()) {
        state.SkipWithError("no exchange area");
        return;
    }
    TDMLVariableEntry entry;
    for (auto _ : state) {
        const int32_t count = area->DMLVariablesList.GetCount();
        for (int32_t i = 0; i < count; ++i) {
            area->DMLVariablesList.Read(i, entry);
            benchmark::DoNotOptimize(entry);
        }
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(ReadStaticTags)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond);

void WriteTagValues(benchmark::State& state) {
    constexpr int32_t kTags = 50000;
    constexpr int32_t kWrites = 100000;
    auto area = MakeArea(kTags);
    if (!area->IsOpen()) {
        state.SkipWithError("no exchange area");
        return;
    }
    Intercom = area.get();
    TVariableIndex index;
    index.Build();
    for (auto _ : state) {
        for (int32_t w = 0; w < kWrites; ++w) {
            // Mostly routed readings, every tenth one without a host tag.
            const int32_t i = (w * 7919) % kTags;
            const int32_t address = (w % 10 == 0) ? 1 : 40001 + i % 500;
            benchmark::DoNotOptimize(WriteTagValue(&index, "plc" + std::to_string(i % 4), i / 500,
                                                   static_cast<float>(w), "", address));
        }
    }
    Intercom = nullptr;
    state.SetItemsProcessed(state.iterations() * kWrites);
    state.counters["index items"] = static_cast<double>(index.Count());
}
BENCHMARK(WriteTagValues)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    // Names of our own, so that a running system or another run is never touched.
    const std::string ns = "intercom-bench-" + std::to_string(::getpid());
    ::setenv("OSTROLINKA_NAMESPACE", ns.c_str(), 1);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
