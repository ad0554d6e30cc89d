// Latency from a register change in the simulated device to the value message at the host: the
// real ostrolinka-host loads Quillary.dlm, which starts Quillary.srv polling one device every
// 100 ms; a register is changed through the simulator's control channel at a random moment of the
// poll cycle, and the time runs until the host prints the new value (it prints each value of a
// value message as it handles the message). The module's static-tag scan runs at its default
// interval (Thread_Delay_Time 100 ms).
//
// usage: latency_bench [samples]   (default 150 per link)
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "host_run.h"
#include "modbus-sim/sim_process.h"

namespace {

enum class Link { Serial, Tcp };

void Run(Link link, int samples) {
    bench::ScratchDir dir("latency");
    std::vector<std::string> args;
    if (link == Link::Serial)
        args = {"--pty", dir.Path("tty")};
    else
        args = {"--tcp", "0"};
    args.insert(args.end(), {"--gap", "2", "--holding", "0=1,0", "--control-port", "0", "--lifetime", "900"});
    simtest::SimProcess sim(args, dir.Path("sim.err"), false);
    if (sim.Ready().empty()) {
        std::printf("modbus-sim did not start\n");
        return;
    }
    std::string session =
        "RoutingPrefix=\"LAT\" DeviceAddress=\"1\" ReqwestInterval=\"100\" ICMPOnConnect=\"FALSE\" "
        "RequestType=\"lat\" ";
    if (link == Link::Serial)
        session += "TypeOfConnection=\"RS232\" RS232Port=\"" + sim.Ready() + "\" TimeOut=\"500\"";
    else
        session += "TypeOfConnection=\"TCP/IP\" DeviceIPAddress=\"127.0.0.1\" IPPort=\"" + sim.Ready() +
                   "\" TimeOut=\"100\"";
    dir.Write("Quillary.cfg", "<KESTRAN AutoRunServer=\"-1\" >\r\n   <device>\r\n      <session " + session +
                                  " />\r\n   </device>\r\n</KESTRAN>\r\n");
    dir.Write("Quillary.edd", bench::DescriptionText("lat", {bench::Request{0, 2, 1}}));
    bench::LayOutSystem(dir.Path(""), "", {bench::RoutedTag(10, "VALUE", "LAT: DEVICE=1; ADDRESS=1")});

    bench::HostRun host({"--seconds", "900", dir.Path("")});
    if (!host.Await("  VALUE = 1\n", 30000)) {
        std::printf("no first value at the host:\n%s\n", host.Output().c_str());
        return;
    }
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> phase(0, 150);
    std::vector<double> ms;
    int lost = 0;
    for (int i = 0; i < samples; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(phase(random)));
        const int value = 1000 + i;
        const std::size_t from = host.Output().size();
        const uint64_t t0 = bench::NowUs();
        if (sim.Command("set holding 0 " + std::to_string(value)) != "OK") {
            ++lost;
            continue;
        }
        const auto t1 = host.Await("  VALUE = " + std::to_string(value) + "\n", 5000, from);
        if (!t1) {
            ++lost;
            continue;
        }
        ms.push_back(static_cast<double>(*t1 - t0) / 1000.0);
    }
    const int status = host.Stop(20000);
    std::printf(
        "%-7s %7zu %5d %10.1f %10.1f %10.1f %10.1f %10.1f   host exit %d\n",
        link == Link::Serial ? "serial" : "tcp", ms.size(), lost, bench::Percentile(ms, 50),
        bench::Percentile(ms, 99), bench::Percentile(ms, 0), bench::Percentile(ms, 100),
        [&] {
            double s = 0;
            for (double v : ms)
                s += v;
            return ms.empty() ? 0.0 : s / static_cast<double>(ms.size());
        }(),
        status);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    const int samples = argc > 1 ? std::max(1, std::atoi(argv[1])) : 150;
    bench::UseOwnNamespace("latency-bench");
    if (!bench::SystemBuilt()) {
        std::printf("latency: needs Quillary.dlm and ostrolinka-host in %s; not measured\n",
                    bench::BinDir().c_str());
        return 0;
    }
    std::printf(
        "latency: register change in modbus-sim -> value printed by ostrolinka-host; poll interval 100 ms, "
        "module scan interval 100 ms (default); serial TimeOut 500 ms, TCP TimeOut 100 ms\n");
    std::printf("machine: %s\n", bench::MachineLine().c_str());
    std::printf("%-7s %7s %5s %10s %10s %10s %10s %10s\n", "link", "samples", "lost", "median ms", "p99 ms",
                "min ms", "max ms", "mean ms");
    for (Link link : {Link::Serial, Link::Tcp})
        Run(link, samples);
    std::printf("load after: %s\n", bench::LoadAverage().c_str());
    return 0;
}
