// The module's static-tag scan over 10,000 and 50,000 tags: one pass reads every entry of the
// static-tag region and sends what moved by its deadband (0 here) to the host window in value
// blocks. The host window is a window of this process, pumped by a thread of its own, that takes
// every block as a host does. Cases: nothing changed (the steady state), 1 % and every tag changed
// since the last pass (the values written by the server's own flush through its tag index).
//
// usage: module_scan_bench [tags...]   (default 10000 50000)
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_support.h"
#include "framework/tag_routing.h"
#include "framework/variable_index.h"
#include "module/received_buffer.h"

namespace {

constexpr int kRepeats = 5;
constexpr platform::UINT kValueMessage = 0x0400 + 77;

std::atomic<uint64_t> delivered{0};
std::atomic<uint64_t> messages{0};

// Every `step`-th tag gets a new value, through the server's flush.
void Change(int32_t tags, int32_t step, int round) {
    framework::TReceiveVariables received;
    for (int32_t i = 0; i < tags; i += step)
        received.Add(bench::PlantPrefix(i), bench::PlantDevice(i), static_cast<float>(round * 10 + i % 7), "",
                     bench::PlantAddress(i));
    received.Flush();
}

void Scan(int32_t tags, module::TReceivedBuffer& buffer, int32_t step, const char* what) {
    std::vector<double> ms;
    uint64_t sent = 0, blocks = 0;
    for (int r = 0; r < kRepeats; ++r) {
        if (step > 0) Change(tags, step, r + 1);
        const uint64_t d0 = delivered, m0 = messages;
        const uint64_t t0 = bench::NowUs();
        module::ScanStaticTags(buffer);
        buffer.Flush();
        ms.push_back(static_cast<double>(bench::NowUs() - t0) / 1000.0);
        sent = delivered - d0;
        blocks = messages - m0;
    }
    const double median = bench::Percentile(ms, 50);
    std::printf("  %-22s %8.2f ms per pass (median of %d, %.1f M tags/s), %llu values in %llu messages\n",
                what, median, kRepeats, tags / median / 1000.0, static_cast<unsigned long long>(sent),
                static_cast<unsigned long long>(blocks));
}

} // namespace

int main(int argc, char** argv) {
    bench::UseOwnNamespace("scan-bench");
    std::vector<int32_t> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty()) sizes = {10000, 50000};
    std::printf("module scan pass: static-tag region -> value blocks at a host window (deadband 0)\n");
    std::printf("machine: %s\n", bench::MachineLine().c_str());

    bench::PumpedWindow host([](platform::HWND, platform::UINT msg, platform::WPARAM wParam,
                                platform::LPARAM lParam) -> platform::LRESULT {
        if (msg != kValueMessage || wParam != module::HOST_VALUES_ACK) return 0;
        int32_t count = 0;
        std::memcpy(&count, reinterpret_cast<const char*>(lParam) + 4, sizeof count);
        delivered += static_cast<uint64_t>(count);
        messages += 1;
        return static_cast<platform::LRESULT>(module::HOST_VALUES_ACK);
    });
    for (int32_t tags : sizes) {
        std::printf("%d static tags\n", tags);
        auto area = bench::MakeArea(tags, bench::PlantRouting);
        framework::Intercom = area.get();
        framework::VariableIndex = new framework::TVariableIndex();
        framework::VariableIndex->Build();
        {
            module::TReceivedBuffer buffer(host.Handle(), static_cast<int32_t>(kValueMessage), 1);
            Scan(tags, buffer, 0, "nothing changed");
            Scan(tags, buffer, 100, "1 % changed");
            Scan(tags, buffer, 1, "every tag changed");
        }
        delete framework::VariableIndex;
        framework::VariableIndex = nullptr;
        framework::Intercom = nullptr;
        std::fflush(stdout);
    }
    std::printf("load after: %s\n", bench::LoadAverage().c_str());
    return 0;
}
