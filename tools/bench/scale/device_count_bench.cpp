// What configured devices cost: the real ostrolinka-host with Quillary.dlm, which starts
// Quillary.srv, over a configuration of N devices of which only the first is enabled (polling
// modbus-sim over TCP on 127.0.0.1 every 200 ms). The devices share a routing prefix per 247
// addresses, or in a second row each has its own. Figures: time from the host's start to its
// "running" line (the module initialised and run on the host's thread) and to the first value it
// prints, and the peak resident memory (VmHWM) of the host and of the server a few seconds
// after that value.
//
// usage: device_count_bench [--limit s] [N...]   (default N: 1 1000 10000; limit 120 s)
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "host_run.h"
#include "modbus-sim/sim_process.h"

namespace {

struct Figures {
    double configMb = 0;
    double runningMs = -1;
    double firstValueMs = -1;
    long hostKb = -1;
    long serverKb = -1;
    int hostExit = 0;
};

int Prefixes(int devices, bool distinct) {
    return distinct ? devices : (devices + 246) / 247;
}

std::string Configuration(int devices, bool distinct, const std::string& port) {
    std::vector<std::string> sessions;
    sessions.reserve(static_cast<std::size_t>(devices));
    for (int i = 0; i < devices; ++i)
        sessions.push_back(
            bench::SessionLine({{"DeviceName", "D" + std::to_string(i)},
                                {"DeviceAddress", std::to_string(i % 247 + 1)},
                                {"RoutingPrefix", "DEV" + std::to_string(distinct ? i : i / 247)},
                                {"Enabled", i == 0 ? "TRUE" : "FALSE"},
                                {"ReqwestInterval", "200"},
                                {"RequestType", "count"},
                                {"ICMPOnConnect", "FALSE"},
                                {"TypeOfConnection", "TCP/IP"},
                                {"DeviceIPAddress", "127.0.0.1"},
                                {"IPPort", port},
                                {"TimeOut", "100"}}));
    return bench::ConfigText(false, sessions);
}

Figures Run(int devices, bool distinct, int limitMs) {
    Figures f;
    bench::ScratchDir dir("device-count");
    simtest::SimProcess sim({"--tcp", "0", "--gap", "2", "--holding", "0=1,2", "--lifetime", "900"},
                            dir.Path("sim.err"), false);
    if (sim.Ready().empty()) {
        std::printf("  modbus-sim did not start\n");
        return f;
    }
    const std::string config = Configuration(devices, distinct, sim.Ready());
    f.configMb = static_cast<double>(config.size()) / 1e6;
    dir.Write("Quillary.cfg", config);
    dir.Write("Quillary.edd", bench::DescriptionText("count", {bench::Request{0, 2, 1}}));
    bench::LayOutSystem(dir.Path(""), "", {bench::RoutedTag(10, "VALUE", "DEV0: DEVICE=1; ADDRESS=1")});

    const uint64_t t0 = bench::NowUs();
    bench::HostRun host({"--seconds", "900", dir.Path("")});
    if (const auto running = host.Await("\nrunning", limitMs))
        f.runningMs = static_cast<double>(*running - t0) / 1000.0;
    const auto first = host.Await("  VALUE = 1\n", limitMs);
    if (first) {
        f.firstValueMs = static_cast<double>(*first - t0) / 1000.0;
        std::this_thread::sleep_for(std::chrono::seconds(3));
    }
    f.hostKb = bench::StatusKb(host.Pid(), "VmHWM");
    const pid_t server = bench::FindProcessByExe(dir.Path("Quillary.srv"));
    if (server > 0) f.serverKb = bench::StatusKb(server, "VmHWM");
    f.hostExit = host.Stop(60000);
    return f;
}

// A time, or the limit it did not come within.
std::string Ms(double ms, int limitMs) {
    char text[32];
    if (ms < 0)
        std::snprintf(text, sizeof text, "> %d s", limitMs / 1000);
    else
        std::snprintf(text, sizeof text, "%.0f", ms);
    return text;
}

} // namespace

int main(int argc, char** argv) {
    double limit = 120;
    std::vector<int> counts;
    bench::LimitAndCounts(argc, argv, limit, counts);
    const int limitMs = static_cast<int>(limit * 1000);
    if (counts.empty()) counts = {1, 1000, 10000};
    bench::UseOwnNamespace("device-count-bench");
    if (!bench::SystemBuilt()) {
        std::printf("device count: needs Quillary.dlm and ostrolinka-host in %s; not measured\n",
                    bench::BinDir().c_str());
        return 0;
    }
    std::printf("device count: N configured devices, the first enabled (TCP to modbus-sim on 127.0.0.1, "
                "every 200 ms); peak memory (VmHWM) 3 s after the first value, or at the limit (%d s)\n",
                limitMs / 1000);
    std::printf("machine: %s\n", bench::MachineLine().c_str());
    std::printf("%8s %9s %10s %11s %16s %14s %16s %10s\n", "devices", "prefixes", "cfg MB", "running ms",
                "first value ms", "host HWM MiB", "server HWM MiB", "host exit");
    for (int n : counts) {
        for (const bool distinct : {false, true}) {
            // One device has one prefix either way.
            if (distinct && Prefixes(n, true) == Prefixes(n, false)) continue;
            const Figures f = Run(n, distinct, limitMs);
            std::printf("%8d %9d %10.2f %11s %16s %14.1f %16.1f %10d\n", n, Prefixes(n, distinct), f.configMb,
                        Ms(f.runningMs, limitMs).c_str(), Ms(f.firstValueMs, limitMs).c_str(),
                        static_cast<double>(f.hostKb) / 1024.0, static_cast<double>(f.serverKb) / 1024.0,
                        f.hostExit);
            std::fflush(stdout);
        }
    }
    std::printf("load after: %s\n", bench::LoadAverage().c_str());
    return 0;
}
