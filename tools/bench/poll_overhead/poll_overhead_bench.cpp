// Poll overhead against the floor the design sets: one Modbus device of K requests, polled as fast
// as its thread allows (poll interval 0) by a real device thread of the Modbus driver, on the
// serial line (a pseudo-terminal of modbus-sim) and through the converter's TCP port.
//
// Pass period: time between successive polls, taken from the request terminal of the exchange area
// (the thread writes it once per poll of the device that owns it), averaged over the run.
// Floor, per pass: the 1 ms sleep of the thread's loop, plus per request ReadDelay and
//   serial: the line time (request out, whole answer back, measured raw on the same link) plus the
//           empty read of 35 ms (10 ms per byte + 25 ms) that ends an answer;
//   TCP:    the converter link's read, which always collects for the whole time-out.
// For TCP a second floor follows the read step by step: each round sleeps 20 ms and then waits up to
// the 100 ms receive time-out the read sets, unless data is already there; so a read lasts longer
// than the time-out by the rounds' receive waits.
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "framework/driver.h"
#include "framework/intercom.h"
#include "framework/threads_list.h"
#include "framework/variable_index.h"
#include "modbus-sim/sim_process.h"
#include "modbus/modbus_driver.h"

namespace {

constexpr int kRegisters = 10;      // per request
constexpr int kSerialEndGapMs = 35; // one empty one-byte read: 10 ms per byte + 25 ms
constexpr int kTcpTimeOutMs = 100;  // the device's TimeOut on the converter link
constexpr int kSerialTimeOutMs = 500;
constexpr int kSimGapMs = 2; // the simulator's end-of-request silence (an RTU slave's 3.5 characters)

enum class Link { Serial, Tcp };

struct Result {
    Link link;
    int k;
    int passes;
    double periodMs; // measured pass period
    double cycleMs;  // mean poll cycle as the thread timed it (ms ticks)
    double lineMs;   // raw request-to-answer time on the link
    double floorMs;
    double stepFloorMs; // TCP: the read's own rounds counted in
};

// Duration of one converter-link read whose answer arrives after answerMs: rounds of a 20 ms sleep
// and a receive that returns at once with data pending, else when data comes or after 100 ms.
double TcpReadRoundsMs(double answerMs, double timeOutMs) {
    double t = 0;
    bool taken = false;
    do {
        t += 20;
        if (taken || answerMs > t + 100) {
            t += 100; // nothing comes during this receive
        } else {
            if (answerMs > t) t = answerMs;
            taken = true;
        }
    } while (t < timeOutMs);
    return t;
}

// Median raw round trip of one read request of kRegisters registers.
double RawRoundTripMs(Link link, const std::string& ready) {
    const simtest::Bytes request = simtest::WithCrc({1, 3, 0, 0, 0, kRegisters});
    const std::size_t answer = 5 + 2 * kRegisters;
    std::vector<double> samples;
    simtest::RawLine line =
        link == Link::Serial ? simtest::RawLine::Pty(ready) : simtest::RawLine::Tcp(std::stoi(ready));
    if (!line.IsOpen()) return -1;
    for (int i = 0; i < 21; ++i) {
        const uint64_t t0 = bench::NowUs();
        line.Send(request);
        if (line.Receive(answer, simtest::Ms(1000)).size() != answer) return -1;
        samples.push_back(static_cast<double>(bench::NowUs() - t0) / 1000.0);
        // The simulator frames requests by silence: leave a gap before the next one.
        usleep(5000);
    }
    return bench::Percentile(samples, 50);
}

Result Run(Link link, int k) {
    Result r{link, k, 0, 0, 0, 0, 0, 0};
    bench::ScratchDir dir("poll");
    dir.Write("Quillary.edd", bench::DescriptionText("bench", bench::Requests(k, kRegisters)));

    std::vector<std::string> args;
    if (link == Link::Serial)
        args = {"--pty", dir.Path("ttyRTU")};
    else
        args = {"--tcp", "0"};
    args.insert(args.end(),
                {"--gap", std::to_string(kSimGapMs), "--holding",
                 "0=" + std::to_string(1234) + "*" + std::to_string(k * kRegisters), "--lifetime", "300"});
    simtest::SimProcess sim(args, dir.Path("sim.err"), false);
    if (sim.Ready().empty()) {
        std::fprintf(stderr, "modbus-sim did not start: %s\n",
                     simtest::ReadFile(dir.Path("sim.err")).c_str());
        return r;
    }
    r.lineMs = RawRoundTripMs(link, sim.Ready());

    std::vector<std::pair<std::string, std::string>> props = {
        {"DeviceName", "bench"},  {"DeviceAddress", "1"},   {"RoutingPrefix", "BENCH"},
        {"ReqwestInterval", "0"}, {"RequestType", "bench"}, {"ICMPOnConnect", "FALSE"}};
    if (link == Link::Serial) {
        props.insert(props.end(), {{"TypeOfConnection", "RS232"},
                                   {"RS232Port", sim.Ready()},
                                   {"RS232BaudRate", "19200"},
                                   {"TimeOut", std::to_string(kSerialTimeOutMs)}});
    } else {
        props.insert(props.end(), {{"TypeOfConnection", "TCP/IP"},
                                   {"DeviceIPAddress", "127.0.0.1"},
                                   {"IPPort", sim.Ready()},
                                   {"TimeOut", std::to_string(kTcpTimeOutMs)}});
    }
    dir.Write("Quillary.cfg", bench::ConfigText(false, {bench::SessionLine(props)}));

    auto area = bench::MakeArea(
        k * kRegisters, [](int32_t i) { return "BENCH: DEVICE=1; ADDRESS=" + std::to_string(i + 1); });
    framework::Intercom = area.get();
    area->RequestTerminal.SetOwner(0);

    framework::TDriver& driver = *framework::Driver;
    driver.Init(false, dir.Path("Quillary.cfg"));
    driver.DeviceList->LoadFromFile(dir.Path("Quillary.cfg"));
    // The device's own ReadDelay (a constructor setting) is part of the floor.
    const int readDelay = driver.DeviceList->Count() > 0 ? driver.DeviceList->Device(0)->ReadDelay : 0;
    framework::VariableIndex = new framework::TVariableIndex();
    framework::VariableIndex->Build();
    std::unique_ptr<framework::TThreadsList> threads = driver.CreateThreadsList();
    threads->CreateThreads(driver.DeviceList.get(), false);
    threads->ResumeAll();

    // Pass boundaries as the counter of the request terminal moves.
    const int minPasses = 5, maxPasses = 40;
    const uint64_t budgetUs = 6'000'000, hardUs = 30'000'000;
    int32_t last = area->RequestTerminal.GetCounter();
    uint64_t first = 0, latest = 0;
    const uint64_t start = bench::NowUs();
    double cycleSum = 0;
    int changes = 0;
    while (true) {
        const uint64_t now = bench::NowUs();
        const int32_t c = area->RequestTerminal.GetCounter();
        if (c != last) {
            last = c;
            framework::TTerminalParams params{};
            area->RequestTerminal.ReadParams(0, params);
            if (first == 0) {
                first = now; // the first poll includes opening the link: not counted
            } else {
                ++changes;
                latest = now;
                cycleSum += params.Interval;
            }
        }
        if (changes >= maxPasses || (changes >= minPasses && now - first >= budgetUs) ||
            now - start >= hardUs)
            break;
        usleep(200);
    }
    threads->TerminateAll();
    threads.reset();
    delete framework::VariableIndex;
    framework::VariableIndex = nullptr;
    driver.Done();
    framework::Intercom = nullptr;

    r.passes = changes;
    if (changes > 0) {
        r.periodMs = static_cast<double>(latest - first) / 1000.0 / changes;
        r.cycleMs = cycleSum / changes;
    }
    const double perRequest =
        link == Link::Serial ? r.lineMs + kSerialEndGapMs + readDelay : kTcpTimeOutMs + readDelay;
    r.floorMs = k * perRequest + 1.0;
    r.stepFloorMs =
        link == Link::Serial ? r.floorMs : k * (TcpReadRoundsMs(r.lineMs, kTcpTimeOutMs) + readDelay) + 1.0;
    return r;
}

} // namespace

int main() {
    bench::UseOwnNamespace("poll-bench");
    if (dynamic_cast<modbus::TModbusrtu_Driver*>(framework::Driver) == nullptr) {
        std::fprintf(stderr, "no Modbus driver object\n");
        return 1;
    }
    std::printf("poll overhead: one device, K requests of %d holding registers, poll interval 0\n",
                kRegisters);
    std::printf("machine: %s\n", bench::MachineLine().c_str());
    std::printf("serial: pty from modbus-sim (--gap %d), TimeOut %d ms; TCP: converter port on 127.0.0.1, "
                "TimeOut %d ms, CloseConnection TRUE (reconnect every poll)\n",
                kSimGapMs, kSerialTimeOutMs, kTcpTimeOutMs);
    std::printf("%-7s %3s %6s %10s %10s %9s %10s %7s %12s %7s\n", "link", "K", "passes", "period ms",
                "cycle ms", "line ms", "floor ms", "ratio", "step floor", "ratio");
    for (Link link : {Link::Serial, Link::Tcp})
        for (int k : {1, 4, 16}) {
            const Result r = Run(link, k);
            std::printf("%-7s %3d %6d %10.2f %10.2f %9.2f %10.2f %7.3f %12.2f %7.3f\n",
                        link == Link::Serial ? "serial" : "tcp", k, r.passes, r.periodMs, r.cycleMs, r.lineMs,
                        r.floorMs, r.floorMs > 0 ? r.periodMs / r.floorMs : 0.0, r.stepFloorMs,
                        r.stepFloorMs > 0 ? r.periodMs / r.stepFloorMs : 0.0);
            std::fflush(stdout);
        }
    std::printf("load after: %s\n", bench::LoadAverage().c_str());
    return 0;
}
