// Idle cost of the real server: Quillary.srv with 32 devices polled every second (four serial lines
// of modbus-sim with eight slaves each, one device thread per line), against an exchange area made
// here. CPU time (user + system, /proc/<pid>/stat) per second of wall time over the run, for the
// whole process and for each of its threads.
//
// usage: idle_cost_bench [seconds]   (default 30)
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "modbus-sim/sim_process.h"

namespace {

constexpr int kLines = 4;
constexpr int kSlavesPerLine = 8;
constexpr int kRegisters = 10;

int Expected(int device, int address) { return device * 100 + address; }

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    bench::UseOwnNamespace("idle-bench");
    bench::ScratchDir dir("idle");
    dir.Write("Quillary.edd", bench::DescriptionText("idle", bench::Requests(1, kRegisters)));

    std::vector<std::unique_ptr<simtest::SimProcess>> sims;
    std::vector<std::string> sessions;
    for (int line = 0; line < kLines; ++line) {
        std::vector<std::string> args = {"--pty", dir.Path("tty" + std::to_string(line)), "--gap", "2",
                                         "--lifetime", std::to_string(seconds + 120)};
        for (int s = 1; s <= kSlavesPerLine; ++s) {
            const int device = line * kSlavesPerLine + s;
            std::string values = "0=";
            for (int a = 1; a <= kRegisters; ++a) values += (a > 1 ? "," : "") + std::to_string(Expected(device, a));
            args.insert(args.end(), {"--slave", std::to_string(s), "--holding", values});
        }
        sims.push_back(std::make_unique<simtest::SimProcess>(args, dir.Path("sim" + std::to_string(line) + ".err"), false));
        if (sims.back()->Ready().empty()) {
            std::fprintf(stderr, "modbus-sim did not start\n");
            return 1;
        }
        for (int s = 1; s <= kSlavesPerLine; ++s) {
            const int device = line * kSlavesPerLine + s;
            // The routing device number is the device's own; the slave address is its place on the line.
            sessions.push_back(bench::SessionLine({{"DeviceName", "dev" + std::to_string(device)},
                                                   {"DeviceAddress", std::to_string(s)},
                                                   {"RoutingPrefix", "LINE" + std::to_string(line)},
                                                   {"ReqwestInterval", "1000"},
                                                   {"RequestType", "idle"},
                                                   {"ICMPOnConnect", "FALSE"},
                                                   {"TypeOfConnection", "RS232"},
                                                   {"RS232Port", sims.back()->Ready()},
                                                   {"RS232BaudRate", "19200"},
                                                   {"TimeOut", "500"}}));
        }
    }
    dir.Write("Quillary.cfg", bench::ConfigText(true, sessions));

    const int tags = kLines * kSlavesPerLine * kRegisters;
    auto area = bench::MakeArea(tags, [](int32_t i) {
        const int device = i / kRegisters + 1;
        const int line = (device - 1) / kSlavesPerLine;
        const int slave = (device - 1) % kSlavesPerLine + 1;
        return "LINE" + std::to_string(line) + ": DEVICE=" + std::to_string(slave) +
               "; ADDRESS=" + std::to_string(i % kRegisters + 1);
    });
    framework::Intercom = area.get();
    area->RequestTerminal.SetOwner(0);

    std::printf("idle cost: Quillary.srv, %d devices on %d serial lines (pty, modbus-sim), one request of %d "
                "registers each, poll interval 1000 ms, %d s\n",
                kLines * kSlavesPerLine, kLines, kRegisters, seconds);
    std::printf("machine: %s\n", bench::MachineLine().c_str());

    bench::ServerRun server(dir, *area);
    if (!server.WaitRegistered(15000)) {
        std::fprintf(stderr, "the server did not register: %s\n", simtest::ReadFile(dir.Path("server.err")).c_str());
        return 1;
    }
    // Every tag holds its register's value: all devices have been polled.
    auto allPolled = [&] {
        framework::TDMLVariableEntry entry;
        for (int32_t i = 0; i < tags; ++i) {
            if (!area->DMLVariablesList.Read(i, entry)) return false;
            const int device = i / kRegisters + 1;
            if (entry.Value != static_cast<float>(Expected(device, i % kRegisters + 1))) return false;
        }
        return true;
    };
    const uint64_t ready = bench::NowUs();
    while (!allPolled()) {
        if (bench::NowUs() - ready > 15'000'000) {
            std::fprintf(stderr, "not every device was polled within 15 s\n");
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::printf("all %d tags delivered %.2f s after registration\n", tags,
                static_cast<double>(bench::NowUs() - ready) / 1e6);
    std::this_thread::sleep_for(std::chrono::seconds(1));

    const pid_t pid = server.Pid();
    const auto threads0 = bench::ThreadCpuSeconds(pid);
    const double cpu0 = bench::ProcessCpuSeconds(pid);
    const int32_t polls0 = area->RequestTerminal.GetCounter();
    const uint64_t t0 = bench::NowUs();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const uint64_t t1 = bench::NowUs();
    const double cpu1 = bench::ProcessCpuSeconds(pid);
    const auto threads1 = bench::ThreadCpuSeconds(pid);
    const int32_t polls1 = area->RequestTerminal.GetCounter();
    const long rss = bench::StatusKb(pid, "VmRSS");
    const double wall = static_cast<double>(t1 - t0) / 1e6;

    std::printf("server: %.1f ms CPU per second (%.3f%% of one CPU) over %.1f s; RSS %ld KiB; %zu threads\n",
                (cpu1 - cpu0) * 1000.0 / wall, (cpu1 - cpu0) * 100.0 / wall, wall, rss, threads1.size());
    std::printf("polls of device 1 in the run: %d (expected about %d)\n", polls1 - polls0, seconds);
    for (const auto& [name, s1] : threads1) {
        const auto before = threads0.find(name);
        const double s0 = before == threads0.end() ? 0.0 : before->second;
        std::printf("  thread %-28s %8.2f ms CPU per second\n", name.c_str(), (s1 - s0) * 1000.0 / wall);
    }
    // ---- MODULE THREAD: the module's own thread runs inside the host program; its share is
    // measured by the host-side part below once Quillary.dlm and ostrolinka-host are built.
    std::printf("load after: %s\n", bench::LoadAverage().c_str());
    const bool stopped = server.Stop(10000);
    framework::Intercom = nullptr;
    return stopped ? 0 : 1;
}
