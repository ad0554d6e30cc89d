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
#include "host_run.h"
#include "modbus-sim/sim_process.h"

namespace {

constexpr int kLines = 4;
constexpr int kSlavesPerLine = 8;
constexpr int kRegisters = 10;

int Expected(int device, int address) {
    return device * 100 + address;
}

// CPU per second of wall time between two samples of a process's threads, one line each.
void PrintThreads(const std::map<std::string, double>& before, const std::map<std::string, double>& after,
                  double wall, pid_t pid) {
    for (const auto& [name, s1] : after) {
        const auto b = before.find(name);
        const double s0 = b == before.end() ? 0.0 : b->second;
        const bool main = name.rfind(std::to_string(pid) + ":", 0) == 0;
        std::printf("  thread %-28s %8.2f ms CPU per second%s\n", name.c_str(), (s1 - s0) * 1000.0 / wall,
                    main ? "  (main)" : "");
    }
}

// The same devices run as a user runs them: ostrolinka-host with the module, which starts the
// server. The module's own thread lives in the host process: its share is that of the host's
// threads other than the main one (which only pumps the window's messages).
void UnderTheHost(const bench::ScratchDir& dir, int tags, int seconds) {
    if (!bench::SystemBuilt()) {
        std::printf("module thread: Quillary.dlm or ostrolinka-host not built; not measured\n");
        return;
    }
    std::vector<host::THostTag> db;
    for (int32_t i = 0; i < tags; ++i) {
        const int device = i / kRegisters + 1;
        const int line = (device - 1) / kSlavesPerLine;
        const int slave = (device - 1) % kSlavesPerLine + 1;
        db.push_back(bench::RoutedTag(i + 1, "T" + std::to_string(i),
                                      "LINE" + std::to_string(line) + ": DEVICE=" + std::to_string(slave) +
                                          "; ADDRESS=" + std::to_string(i % kRegisters + 1)));
    }
    bench::LayOutSystem(dir.Path(""), "", db);
    bench::HostRun host({"--seconds", std::to_string(seconds + 120), dir.Path("")});
    const int last = tags - 1;
    const std::string lastLine = "  T" + std::to_string(last) + " = " +
                                 std::to_string(Expected(last / kRegisters + 1, last % kRegisters + 1)) +
                                 "\n";
    if (!host.Await(lastLine, 30000)) {
        std::printf("under the host: the last tag did not arrive within 30 s\n");
        return;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const pid_t server = bench::FindProcessByExe(dir.Path("Quillary.srv"));
    const pid_t hostPid = host.Pid();
    const auto h0 = bench::ThreadCpuSeconds(hostPid);
    const double hc0 = bench::ProcessCpuSeconds(hostPid);
    const double sc0 = bench::ProcessCpuSeconds(server);
    const uint64_t t0 = bench::NowUs();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double wall = static_cast<double>(bench::NowUs() - t0) / 1e6;
    const double hc1 = bench::ProcessCpuSeconds(hostPid);
    const double sc1 = bench::ProcessCpuSeconds(server);
    const auto h1 = bench::ThreadCpuSeconds(hostPid);
    double mainShare = 0;
    for (const auto& [name, s1] : h1)
        if (name.rfind(std::to_string(hostPid) + ":", 0) == 0) {
            const auto b = h0.find(name);
            mainShare = s1 - (b == h0.end() ? 0.0 : b->second);
        }
    std::printf("under ostrolinka-host (same devices, %.1f s):\n", wall);
    std::printf("  server started by the module: %.1f ms CPU per second\n", (sc1 - sc0) * 1000.0 / wall);
    std::printf("  host process: %.1f ms CPU per second, of which the module's thread(s) (all but the main "
                "thread) %.1f ms\n",
                (hc1 - hc0) * 1000.0 / wall, (hc1 - hc0 - mainShare) * 1000.0 / wall);
    PrintThreads(h0, h1, wall, hostPid);
    std::printf("  host stop: exit %d\n", host.Stop(30000));
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    bench::UseOwnNamespace("idle-bench");
    bench::ScratchDir dir("idle");
    dir.Write("Quillary.edd", bench::DescriptionText("idle", bench::Requests(1, kRegisters)));

    std::vector<std::unique_ptr<simtest::SimProcess>> sims;
    std::vector<std::string> sessions;
    for (int line = 0; line < kLines; ++line) {
        std::vector<std::string> args = {"--pty",      dir.Path("tty" + std::to_string(line)), "--gap", "2",
                                         "--lifetime", std::to_string(seconds + 120)};
        for (int s = 1; s <= kSlavesPerLine; ++s) {
            const int device = line * kSlavesPerLine + s;
            std::string values = "0=";
            for (int a = 1; a <= kRegisters; ++a)
                values += (a > 1 ? "," : "") + std::to_string(Expected(device, a));
            args.insert(args.end(), {"--slave", std::to_string(s), "--holding", values});
        }
        sims.push_back(std::make_unique<simtest::SimProcess>(
            args, dir.Path("sim" + std::to_string(line) + ".err"), false));
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
        std::fprintf(stderr, "the server did not register: %s\n",
                     simtest::ReadFile(dir.Path("server.err")).c_str());
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
    PrintThreads(threads0, threads1, wall, pid);
    const bool stopped = server.Stop(10000);
    framework::Intercom = nullptr;
    area.reset();

    UnderTheHost(dir, tags, seconds);
    std::printf("load after: %s\n", bench::LoadAverage().c_str());
    return stopped ? 0 : 1;
}
