// Scale of the server side with 10,000 and 50,000 static tags: exchange area size, tag index build,
// value flush rate (a device thread's queue of received values written through the index into the
// static-tag region), and the resident memory of the real Quillary.srv serving such an area.
//
// usage: scale_bench [tags...]   (default 10000 50000)
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "framework/tag_routing.h"
#include "framework/variable_index.h"
#include "host_run.h"
#include "modbus-sim/sim_process.h"

namespace {

constexpr int kRepeats = 5;

double MsSince(uint64_t t0) {
    return static_cast<double>(bench::NowUs() - t0) / 1000.0;
}

void InProcess(int32_t tags) {
    uint64_t t0 = bench::NowUs();
    auto area = bench::MakeArea(tags, bench::PlantRouting);
    const double createMs = MsSince(t0);
    framework::Intercom = area.get();
    std::printf("  exchange area: %ld bytes (%.1f MiB); made and filled by the module side in %.1f ms\n",
                bench::SharedBlockBytes("Quillary.dat"),
                static_cast<double>(bench::SharedBlockBytes("Quillary.dat")) / 1048576.0, createMs);

    std::vector<double> build;
    for (int r = 0; r < kRepeats; ++r) {
        delete framework::VariableIndex;
        framework::VariableIndex = new framework::TVariableIndex();
        t0 = bench::NowUs();
        framework::VariableIndex->Build();
        build.push_back(MsSince(t0));
    }
    const double buildMs = bench::Percentile(build, 50);
    std::printf("  tag index build: %.1f ms median of %d (%.0f tags/s), %d items, %.1f MiB of items\n",
                buildMs, kRepeats, tags / buildMs * 1000.0, framework::VariableIndex->Count(),
                framework::VariableIndex->Count() * sizeof(framework::TVariableIndexItem) / 1048576.0);

    // Every tag receives a new value; the queue is filled as a decoding fills it, then flushed.
    std::vector<double> fill, flush;
    framework::TReceiveVariables received;
    for (int r = 0; r < kRepeats; ++r) {
        t0 = bench::NowUs();
        for (int32_t i = 0; i < tags; ++i)
            received.Add(bench::PlantPrefix(i), bench::PlantDevice(i), static_cast<float>(r * 7 + i % 1000),
                         "", bench::PlantAddress(i));
        fill.push_back(MsSince(t0));
        t0 = bench::NowUs();
        if (!received.Flush()) std::printf("  (a flush reported a failure)\n");
        flush.push_back(MsSince(t0));
    }
    const double flushMs = bench::Percentile(flush, 50);
    std::printf(
        "  value flush: %d values in %.1f ms median of %d (%.0f values/s); queueing them took %.1f ms\n",
        tags, flushMs, kRepeats, tags / flushMs * 1000.0, bench::Percentile(fill, 50));
    delete framework::VariableIndex;
    framework::VariableIndex = nullptr;
    framework::Intercom = nullptr;
}

// The simulator with one device of ten registers (values 1 to 10) on a serial line, and the
// description and configuration files of the folder for it: device 1 of prefix PLC0.
std::unique_ptr<simtest::SimProcess> StartOneDevice(const bench::ScratchDir& dir) {
    auto sim = std::make_unique<simtest::SimProcess>(
        std::vector<std::string>{"--pty", dir.Path("tty"), "--gap", "2", "--holding",
                                 "0=1,2,3,4,5,6,7,8,9,10", "--lifetime", "300"},
        dir.Path("sim.err"), false);
    if (sim->Ready().empty()) return nullptr;
    dir.Write("Quillary.edd", bench::DescriptionText("scale", {bench::Request{0, 10, 40001}}));
    dir.Write("Quillary.cfg", bench::ConfigText(false, {bench::SessionLine({{"DeviceName", "scale"},
                                                                            {"DeviceAddress", "1"},
                                                                            {"RoutingPrefix", "PLC0"},
                                                                            {"ReqwestInterval", "200"},
                                                                            {"RequestType", "scale"},
                                                                            {"ICMPOnConnect", "FALSE"},
                                                                            {"TypeOfConnection", "RS232"},
                                                                            {"RS232Port", sim->Ready()},
                                                                            {"TimeOut", "500"}})}));
    return sim;
}

// The real server with the area and one device on a serial line; its memory once the device's
// values have arrived.
void ServerMemory(int32_t tags) {
    bench::ScratchDir dir("scale");
    const auto sim = StartOneDevice(dir);
    if (!sim) {
        std::printf("  server memory: modbus-sim did not start\n");
        return;
    }
    auto area = bench::MakeArea(tags, bench::PlantRouting);
    framework::Intercom = area.get();
    const uint64_t t0 = bench::NowUs();
    {
        bench::ServerRun server(dir, *area);
        if (!server.WaitRegistered(20000)) {
            std::printf("  server memory: the server did not register\n");
        } else {
            // Tag 0 is PLC0 device 1 address 40001: its value 1 arrives after the index is built.
            framework::TDMLVariableEntry entry;
            while (MsSince(t0) < 30000 && !(area->DMLVariablesList.Read(0, entry) && entry.Value == 1.0f))
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            const double firstValueMs = MsSince(t0);
            std::this_thread::sleep_for(std::chrono::seconds(2));
            const pid_t pid = server.Pid();
            std::printf(
                "  server: first value %.0f ms after start; VmRSS %ld KiB (anonymous %ld, shared memory %ld, "
                "files %ld), VmHWM %ld KiB\n",
                firstValueMs, bench::StatusKb(pid, "VmRSS"), bench::StatusKb(pid, "RssAnon"),
                bench::StatusKb(pid, "RssShmem"), bench::StatusKb(pid, "RssFile"),
                bench::StatusKb(pid, "VmHWM"));
        }
    }
    framework::Intercom = nullptr;
}

// The whole system with the tags in the host's database: the host program with the module, which
// makes the area and starts the server; the memory of both once the device's first value arrived.
void SystemMemory(int32_t tags) {
    if (!bench::SystemBuilt()) {
        std::printf(
            "  host and server under the host: Quillary.dlm or ostrolinka-host not built; not measured\n");
        return;
    }
    bench::ScratchDir dir("scale-host");
    const auto sim = StartOneDevice(dir);
    if (!sim) return;
    std::vector<host::THostTag> db;
    db.reserve(static_cast<std::size_t>(tags));
    // One routing prefix, so that every tag belongs to the configured device's domain and so to
    // the area the module makes.
    for (int32_t i = 0; i < tags; ++i)
        db.push_back(bench::RoutedTag(i + 1, "T" + std::to_string(i),
                                      "PLC0: DEVICE=" + std::to_string(bench::PlantDevice(i)) +
                                          "; ADDRESS=" + std::to_string(bench::PlantAddress(i))));
    bench::LayOutSystem(dir.Path(""), "", db);
    const uint64_t t0 = bench::NowUs();
    bench::HostRun host({"--seconds", "600", dir.Path("")});
    if (!host.Await("  T0 = 1\n", 120000)) {
        const std::string& out = host.Output();
        std::printf("  host: no first value within 120 s; its output ends:\n%s\n",
                    out.substr(out.size() > 2000 ? out.size() - 2000 : 0).c_str());
        return;
    }
    const double firstValueMs = MsSince(t0);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const pid_t server = bench::FindProcessByExe(dir.Path("Quillary.srv"));
    std::printf(
        "  under the host program: first value %.0f ms after the host started; exchange area %ld bytes\n",
        firstValueMs, bench::SharedBlockBytes("Quillary.dat"));
    std::printf("  host (with the module): VmRSS %ld KiB (anonymous %ld, shared memory %ld, files %ld), "
                "VmHWM %ld KiB\n",
                bench::StatusKb(host.Pid(), "VmRSS"), bench::StatusKb(host.Pid(), "RssAnon"),
                bench::StatusKb(host.Pid(), "RssShmem"), bench::StatusKb(host.Pid(), "RssFile"),
                bench::StatusKb(host.Pid(), "VmHWM"));
    if (server > 0)
        std::printf(
            "  server started by the module: VmRSS %ld KiB (anonymous %ld, shared memory %ld, files %ld)\n",
            bench::StatusKb(server, "VmRSS"), bench::StatusKb(server, "RssAnon"),
            bench::StatusKb(server, "RssShmem"), bench::StatusKb(server, "RssFile"));
    std::printf("  host stop: exit %d\n", host.Stop(30000));
}

} // namespace

int main(int argc, char** argv) {
    bench::UseOwnNamespace("scale-bench");
    std::vector<int32_t> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty()) sizes = {10000, 50000};
    std::printf("scale: static tags routed as PLCn: DEVICE=d; ADDRESS=a (4 prefixes, 500 tags a device)\n");
    std::printf("machine: %s\n", bench::MachineLine().c_str());
    for (int32_t tags : sizes) {
        std::printf("%d static tags\n", tags);
        InProcess(tags);
        ServerMemory(tags);
        SystemMemory(tags);
        std::fflush(stdout);
    }
    std::printf("load after: %s\n", bench::LoadAverage().c_str());
    return 0;
}
