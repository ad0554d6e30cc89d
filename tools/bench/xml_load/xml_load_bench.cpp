// Load time of the files read with the XML element reader: a description file of N flat device
// types, a configuration file of N devices (read by the Modbus driver's device list), and both files
// with 200,000 elements of one name nested in each other. Each load runs in a child process of its
// own, killed when it outlasts the limit, so that a reader that does not finish still gives a figure
// (a lower bound).
//
// usage: xml_load_bench [--limit seconds] [N...]   (default N: 1000 10000 100000; limit 120 s)
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "framework/device_list.h"
#include "framework/driver.h"
#include "modbus/edd_file.h"
#include "modbus/modbus_driver.h"
#include "platform/shared_memory.h"

namespace {

constexpr int kNested = 200000;
constexpr double kRepeatBelow = 10;

struct TResult {
    double seconds = 0;
    int ok = 0;
    int count = 0;
};

// One flat device type: one request of one register decoded as one value.
std::string DeviceType(int n) {
    return "<device name=\"type" + std::to_string(n) +
           "\">\r\n <requestlist>\r\n  <request name=\"values\" address=\"0\" size=\"1\" function=\"3\">\r\n"
           "   <datablock>\r\n    <item name=\"v\" type=\"16u\" proc=\"value\" tsaddress=\"" +
           std::to_string(n) + "\"/>\r\n   </datablock>\r\n  </request>\r\n </requestlist>\r\n</device>\r\n";
}

std::string FlatDescription(int types) {
    std::string text = "<EDDV2_Ostrolinka>\r\n";
    for (int n = 1; n <= types; ++n)
        text += DeviceType(n);
    return text + "</EDDV2_Ostrolinka>\r\n";
}

std::string Nested(const std::string& name, int depth) {
    std::string text;
    text.reserve(static_cast<std::size_t>(depth) * (2 * name.size() + 5));
    for (int i = 0; i < depth; ++i)
        text += "<" + name + ">";
    for (int i = 0; i < depth; ++i)
        text += "</" + name + ">";
    return text;
}

// The configuration of N Modbus devices with their own names and addresses, as the demo writes one.
std::string FlatConfiguration(int devices) {
    std::vector<std::string> sessions;
    for (int n = 1; n <= devices; ++n)
        sessions.push_back(bench::SessionLine({{"DeviceName", "device " + std::to_string(n)},
                                               {"DeviceAddress", std::to_string(n % 247 + 1)},
                                               {"TimeOut", "100"},
                                               {"RetryCount", "3"},
                                               {"Enabled", "TRUE"},
                                               {"RoutingPrefix", "PLC" + std::to_string(n)},
                                               {"ReqwestInterval", "500"},
                                               {"RS232Port", "COM1"},
                                               {"TypeOfConnection", "TCP/IP"},
                                               {"DeviceIPAddress", "127.0.0.1"},
                                               {"IPPort", "4001"},
                                               {"RequestType", "type" + std::to_string(n)}}));
    return bench::ConfigText(false, sessions);
}

long FileBytes(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return -1;
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::fclose(f);
    return size;
}

// Runs `load` in a child; false when it did not report within the limit (the child is killed).
bool RunLimited(const std::function<TResult()>& load, double limit, TResult& result) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const TResult r = load();
        const ssize_t n = write(fds[1], &r, sizeof r);
        platform::ExitReleasingNames(n == sizeof r ? 0 : 1);
    }
    close(fds[1]);
    pollfd p{fds[0], POLLIN, 0};
    bool done = false;
    if (pid > 0 && poll(&p, 1, static_cast<int>(limit * 1000)) == 1)
        done = read(fds[0], &result, sizeof result) == sizeof result;
    close(fds[0]);
    if (pid > 0) {
        if (!done) kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    return done;
}

// The median of three loads, or of one when it takes longer than kRepeatBelow.
void Case(const char* what, const std::string& path, double limit, const std::function<TResult()>& load) {
    const long bytes = FileBytes(path);
    std::printf("  %-34s %9.2f MB  ", what, static_cast<double>(bytes) / 1e6);
    std::vector<double> seconds;
    TResult r;
    while (seconds.size() < 3 && (seconds.empty() || seconds.back() < kRepeatBelow)) {
        if (!RunLimited(load, limit, r)) break;
        seconds.push_back(r.seconds);
    }
    if (seconds.empty())
        std::printf("> %.0f s (stopped)\n", limit);
    else
        std::printf("%9.3f s  %-5s %d read  (median of %zu)\n", bench::Percentile(seconds, 50),
                    r.ok ? "True" : "False", r.count, seconds.size());
    std::printf("    load after: %s\n", bench::LoadAverage().c_str());
}

TResult LoadDescription(const std::string& path) {
    modbus::TEDDDeviceFile file;
    const uint64_t t0 = bench::NowUs();
    const bool ok = file.LoadFromFile(path);
    return {static_cast<double>(bench::NowUs() - t0) / 1e6, ok, file.Count()};
}

// The Modbus driver's own list, as the module and the server load it.
TResult LoadConfiguration(const std::string& path) {
    const std::unique_ptr<framework::TDeviceList> list = framework::Driver->CreateDeviceList();
    const uint64_t t0 = bench::NowUs();
    const bool ok = list->LoadFromFile(path).Read;
    return {static_cast<double>(bench::NowUs() - t0) / 1e6, ok, list->Count()};
}

} // namespace

int main(int argc, char** argv) {
    double limit = 120;
    std::vector<int> sizes;
    bench::LimitAndCounts(argc, argv, limit, sizes);
    if (sizes.empty()) sizes = {1000, 10000, 100000};
    std::printf("XML file load (whole file read, parsed and modelled; own process per load, limit %.0f s)\n",
                limit);
    std::printf("machine: %s\n", bench::MachineLine().c_str());
    bench::ScratchDir dir("xml-load-bench");

    for (int n : sizes) {
        const std::string edd = dir.Path("flat.edd");
        dir.Write("flat.edd", FlatDescription(n));
        Case((".edd, " + std::to_string(n) + " device types").c_str(), edd, limit,
             [&] { return LoadDescription(edd); });
        const std::string cfg = dir.Path("flat.cfg");
        dir.Write("flat.cfg", FlatConfiguration(n));
        Case((".cfg, " + std::to_string(n) + " devices").c_str(), cfg, limit,
             [&] { return LoadConfiguration(cfg); });
    }

    const std::string edd = dir.Path("nested.edd"), cfg = dir.Path("nested.cfg");
    dir.Write("nested.edd", "<EDDV2_Ostrolinka>\r\n<device name=\"deep\">" + Nested("x", kNested) +
                                "</device>\r\n</EDDV2_Ostrolinka>\r\n");
    const std::string root = framework::Driver->GetShortName();
    dir.Write("nested.cfg", "<" + root + ">\r\n" + Nested("a", kNested) + "\r\n</" + root + ">\r\n");
    Case(".edd, 200,000 nested elements", edd, limit, [&] { return LoadDescription(edd); });
    Case(".cfg, 200,000 nested elements", cfg, limit, [&] { return LoadConfiguration(cfg); });
    return 0;
}
