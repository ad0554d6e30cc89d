#include "bench_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "hostapi/variables_library.h"
#include "platform/names.h"
#include "platform/shared_memory.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace bench {

void UseOwnNamespace(const std::string& tag) {
    const std::string ns = tag + "-" + std::to_string(::getpid());
    ::setenv("OSTROLINKA_NAMESPACE", ns.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("QUILLARY_BIN", BinDir().c_str(), 0);
}

std::string BinDir() {
    if (const char* bin = std::getenv("QUILLARY_BIN")) return bin;
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(".") : exe.parent_path().string();
}

std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    double a = 0, b = 0, c = 0;
    in >> a >> b >> c;
    std::ostringstream out;
    out.precision(2);
    out << std::fixed << a << " " << b << " " << c;
    return out.str();
}

std::string MachineLine() {
    std::ifstream in("/proc/cpuinfo");
    std::string line, model = "unknown CPU";
    while (std::getline(in, line))
        if (line.rfind("model name", 0) == 0) {
            model = line.substr(line.find(':') + 2);
            break;
        }
    return std::to_string(::sysconf(_SC_NPROCESSORS_ONLN)) + " CPUs, " + model + ", load " + LoadAverage() +
           " (1/5/15 min)";
}

uint64_t NowUs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

namespace {

// utime + stime of a stat line, in clock ticks; the name in parentheses may hold blanks.
double StatCpuSeconds(const std::string& path, std::string* name = nullptr) {
    std::ifstream in(path);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto open = text.find('(');
    const auto close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos) return -1;
    if (name) *name = text.substr(open + 1, close - open - 1);
    std::istringstream rest(text.substr(close + 2));
    std::string field;
    // Fields from 3 (state) on; utime and stime are 14 and 15.
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

} // namespace

double ProcessCpuSeconds(pid_t pid) {
    return StatCpuSeconds("/proc/" + std::to_string(pid) + "/stat");
}

std::map<std::string, double> ThreadCpuSeconds(pid_t pid) {
    std::map<std::string, double> out;
    const std::string dir = "/proc/" + std::to_string(pid) + "/task";
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        std::string name;
        const double s = StatCpuSeconds(entry.path().string() + "/stat", &name);
        if (s >= 0) out[entry.path().filename().string() + ":" + name] = s;
    }
    return out;
}

long StatusKb(pid_t pid, const std::string& field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field + ":", 0) == 0) return std::atol(line.c_str() + field.size() + 1);
    return -1;
}

long SharedBlockBytes(const std::string& name) {
    struct stat st {};
    if (::stat(("/dev/shm/" + platform::NamespacedName(name)).c_str(), &st) != 0) return -1;
    return static_cast<long>(st.st_size);
}

PumpedWindow::PumpedWindow(platform::WindowProc proc) {
    std::atomic<bool> made{false};
    thread_ = std::thread([this, &made, proc] {
        handle_ = platform::CreateWindowHandle(proc);
        made = true;
        while (!stop_)
            platform::WaitMessages(20);
        platform::DestroyWindowHandle(handle_);
    });
    while (!made)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

PumpedWindow::~PumpedWindow() {
    stop_ = true;
    thread_.join();
}

ScratchDir::ScratchDir(const std::string& tag) {
    std::string pattern = (fs::temp_directory_path() / ("quillary-bench-" + tag + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no scratch folder");
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

void ScratchDir::Write(const std::string& name, const std::string& text) const {
    std::ofstream(Path(name), std::ios::binary) << text;
}

std::string DescriptionText(const std::string& type, const std::vector<Request>& requests) {
    std::string text = "<EDDV2_Ostrolinka>\r\n<device name=\"" + type + "\">\r\n <requestlist>\r\n";
    for (std::size_t r = 0; r < requests.size(); ++r) {
        const Request& q = requests[r];
        text += "  <request name=\"r" + std::to_string(r) + "\" address=\"" + std::to_string(q.address) +
                "\" size=\"" + std::to_string(q.size) + "\" function=\"3\"><datablock>\r\n";
        for (int i = 0; i < q.size; ++i)
            text += "   <item type=\"word\" proc=\"value\" tsaddress=\"" + std::to_string(q.firstTag + i) +
                    "\"/>\r\n";
        text += "  </datablock></request>\r\n";
    }
    text += " </requestlist>\r\n</device>\r\n</EDDV2_Ostrolinka>\r\n";
    return text;
}

std::vector<Request> Requests(int k, int size) {
    std::vector<Request> out;
    for (int r = 0; r < k; ++r)
        out.push_back({r * size, size, 1 + r * size});
    return out;
}

std::string SessionLine(const std::vector<std::pair<std::string, std::string>>& properties) {
    std::string line = "  <device>\r\n   <session ";
    for (const auto& [name, value] : properties)
        line += name + "=\"" + value + "\" ";
    return line + "/>\r\n  </device>\r\n";
}

std::string ConfigText(bool threadOnPort, const std::vector<std::string>& sessions) {
    std::string text = std::string("<KESTRAN ThreadOnPort=\"") + (threadOnPort ? "True" : "False") +
                       "\" ErrorMngrDisabled=\"True\" GeneralCommandInterval=\"6000\" AutoRunServer=\"-1\" "
                       "CheckServerInterval=\"60\" RAPEnabled=\"False\" RAPPort=\"6042\" >\r\n";
    for (const std::string& s : sessions)
        text += s;
    return text + "</KESTRAN>\r\n";
}

std::unique_ptr<framework::TIntercomInterface> MakeArea(int32_t tags,
                                                        const std::function<std::string(int32_t)>& routing) {
    auto area = framework::TIntercomInterface::Create(tags, "Quillary.dat");
    if (!area || !area->IsOpen()) throw std::runtime_error("no exchange area");
    hostapi::TVLVariableInfo info{};
    for (int32_t i = 0; i < tags; ++i) {
        info.VariableId = i;
        platform::SetFieldText(info.Routing, routing(i));
        area->DMLVariablesList.Add(info);
    }
    area->OstrolinkaInfo.SetName("Benchmark module");
    return area;
}

std::string PlantPrefix(int32_t i) {
    return "PLC" + std::to_string(i % 4);
}
int32_t PlantDevice(int32_t i) {
    return i / kPlantTagsPerDevice + 1;
}
int32_t PlantAddress(int32_t i) {
    return 40001 + i % kPlantTagsPerDevice;
}
std::string PlantRouting(int32_t i) {
    return PlantPrefix(i) + ": DEVICE=" + std::to_string(PlantDevice(i)) +
           "; ADDRESS=" + std::to_string(PlantAddress(i));
}

ServerRun::ServerRun(const ScratchDir& dir, framework::TIntercomInterface& area)
    : area_(area), host_([](platform::HWND, platform::UINT, platform::WPARAM,
                            platform::LPARAM) -> platform::LRESULT { return 0; }) {
    for (const char* file : {"Quillary.srv", "libostroplatform.so"})
        fs::copy_file(fs::path(BinDir()) / file, dir.Path(file), fs::copy_options::overwrite_existing);
    dir.Write("Quillary.ini", "[server]\r\ndelay_on_start=0\r\n");
    framework::ServerSlotIndex = 0;
    area_.OstrolinkaInfo.SetHostWindow(static_cast<int32_t>(host_.Handle()));
    const std::string exe = dir.Path("Quillary.srv");
    const std::string err = dir.Path("server.err");
    pid_ = ::fork();
    if (pid_ == 0) {
        const int fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            ::dup2(fd, STDOUT_FILENO);
            ::dup2(fd, STDERR_FILENO);
        }
        char* argv[] = {const_cast<char*>(exe.c_str()), const_cast<char*>("\"unused\""), nullptr};
        ::execv(exe.c_str(), argv);
        platform::ExitReleasingNames(127);
    }
}

ServerRun::~ServerRun() {
    Stop(10000);
}

bool ServerRun::WaitRegistered(int timeoutMs) {
    const uint64_t end = NowUs() + static_cast<uint64_t>(timeoutMs) * 1000;
    while (NowUs() < end) {
        if (area_.ServerData.GetProcessId() == pid_ && area_.ServerData.GetRunFlag() == 1) return true;
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
            reaped_ = true;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

bool ServerRun::Stop(int timeoutMs) {
    if (pid_ <= 0 || reaped_) return true;
    area_.ServerData.SetRunFlag(0);
    const uint64_t end = NowUs() + static_cast<uint64_t>(timeoutMs) * 1000;
    while (NowUs() < end) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
            reaped_ = true;
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    reaped_ = true;
    return false;
}

void LimitAndCounts(int argc, char** argv, double& limitSeconds, std::vector<int>& counts) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--limit") == 0 && i + 1 < argc)
            limitSeconds = std::atof(argv[++i]);
        else
            counts.push_back(std::atoi(argv[i]));
    }
}

double Percentile(std::vector<double> samples, double p) {
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    const double rank = p / 100.0 * static_cast<double>(samples.size() - 1);
    const std::size_t lo = static_cast<std::size_t>(std::floor(rank));
    const std::size_t hi = std::min(lo + 1, samples.size() - 1);
    return samples[lo] + (samples[hi] - samples[lo]) * (rank - static_cast<double>(lo));
}

} // namespace bench
