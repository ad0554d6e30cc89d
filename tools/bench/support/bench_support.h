// What the whole-process benchmarks share: the machine line, process figures from /proc, a host
// window pumped by a thread of its own, the files the server reads, and a real Quillary.srv run
// against an exchange area that the benchmark made.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "framework/intercom.h"
#include "platform/messages.h"

namespace bench {

// Own object names and the programs' folder: the benchmark's own bin folder unless QUILLARY_BIN says.
void UseOwnNamespace(const std::string& tag);
std::string BinDir();

// "8 CPUs, <model>, load 4.19 3.86 1.88 (1/5/15 min)".
std::string MachineLine();
std::string LoadAverage();

uint64_t NowUs();

// CPU seconds (user + system) of a process, and of each of its threads by name ("tid:name").
double ProcessCpuSeconds(pid_t pid);
std::map<std::string, double> ThreadCpuSeconds(pid_t pid);
// A "VmRSS"-style field of /proc/<pid>/status in KiB, -1 when missing.
long StatusKb(pid_t pid, const std::string& field);
// Size of a shared block of the run's namespace, as the platform names it; -1 when missing.
long SharedBlockBytes(const std::string& name);

// A window owned by a thread of its own, which dispatches everything sent to it.
class PumpedWindow {
public:
    explicit PumpedWindow(platform::WindowProc proc);
    ~PumpedWindow();
    platform::HWND Handle() const { return handle_; }

private:
    std::atomic<bool> stop_{false};
    std::atomic<platform::HWND> handle_{0};
    std::thread thread_;
};

// A scratch folder, removed with its files.
class ScratchDir {
public:
    explicit ScratchDir(const std::string& tag);
    ~ScratchDir();
    std::string Path(const std::string& name) const { return path_ + "/" + name; }
    void Write(const std::string& name, const std::string& text) const;

private:
    std::string path_;
};

// One request of a device type: `size` holding registers from `address`, read as 16-bit words
// whose host tag addresses start at `firstTag`.
struct Request {
    int address = 0;
    int size = 10;
    int firstTag = 1;
};
// A description file with one device type of these requests.
std::string DescriptionText(const std::string& type, const std::vector<Request>& requests);
// K requests of `size` registers each, one after another, tags numbered from 1.
std::vector<Request> Requests(int k, int size);

// A session line of the configuration file; properties as "Name=Value".
std::string SessionLine(const std::vector<std::pair<std::string, std::string>>& properties);
// The configuration file: global settings and the devices' session lines.
std::string ConfigText(bool threadOnPort, const std::vector<std::string>& sessions);

// The exchange area as the module makes it, with `tags` static tags routed by `routing(i)`.
std::unique_ptr<framework::TIntercomInterface> MakeArea(int32_t tags,
                                                        const std::function<std::string(int32_t)>& routing);

// Routing of static tag i in the large-plant shape: four prefixes, devices of 500 tags
// ("PLCn: DEVICE=d; ADDRESS=a", a from 40001), and the same key for a received value.
constexpr int32_t kPlantTagsPerDevice = 500;
std::string PlantRouting(int32_t i);
std::string PlantPrefix(int32_t i);
int32_t PlantDevice(int32_t i);
int32_t PlantAddress(int32_t i);

// The real server program run from a private folder (so that it reads this run's files), started
// as the module starts it, against the process's exchange area and a live host window.
class ServerRun {
public:
    // Copies the program beside the files of `dir` and starts it; the area must be framework::Intercom.
    ServerRun(const ScratchDir& dir, framework::TIntercomInterface& area);
    ~ServerRun();
    bool WaitRegistered(int timeoutMs);
    // Drops the run flag and waits for the program to end; a kill after the time-out.
    bool Stop(int timeoutMs);
    pid_t Pid() const { return pid_; }

private:
    framework::TIntercomInterface& area_;
    PumpedWindow host_;
    pid_t pid_ = -1;
    bool reaped_ = false;
};

// "[--limit s] [N...]": what is not given keeps the value passed in.
void LimitAndCounts(int argc, char** argv, double& limitSeconds, std::vector<int>& counts);

// Median and percentile of samples (sorted copy); 0 for none.
double Percentile(std::vector<double> samples, double p);

} // namespace bench
