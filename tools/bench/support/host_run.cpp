#include "host_run.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "bench_support.h"
#include "platform/shared_memory.h"

namespace fs = std::filesystem;

namespace bench {

namespace {
const char* const kProducts[] = {"Quillary.dlm",        "Quillary.srv",   "Quillary.ico",
                                 "libostroplatform.so", "libMirandol.so", "libVantorel.so"};
}

bool SystemBuilt() {
    std::error_code ec;
    return fs::exists(BinDir() + "/Quillary.dlm", ec) && fs::exists(BinDir() + "/ostrolinka-host", ec);
}

void LayOutSystem(const std::string& dir, const std::string& iniExtra,
                  const std::vector<host::THostTag>& tags) {
    for (const char* file : kProducts)
        fs::copy_file(BinDir() + "/" + file, dir + "/" + file, fs::copy_options::overwrite_existing);
    std::ofstream(dir + "/Quillary.ini", std::ios::binary) << "[DLM]\r\nLogFile=" << dir << "/module.log\r\n"
                                                           << iniExtra << "[server]\r\ndelay_on_start=0\r\n";
    host::WriteHostTagDatabase(dir + "/Ostrolinka.tagdb", tags);
}

host::THostTag RoutedTag(int32_t id, const std::string& name, const std::string& routing) {
    host::THostTag t;
    t.Id = id;
    t.Name = name;
    t.Routing = routing;
    return t;
}

pid_t FindProcessByExe(const std::string& exe) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code e2;
        if (fs::read_symlink(entry.path() / "exe", e2).string() == exe)
            return static_cast<pid_t>(std::stol(name));
    }
    return -1;
}

HostRun::HostRun(const std::vector<std::string>& args) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    const std::string exe = BinDir() + "/ostrolinka-host";
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(fds[1], 1);
        ::dup2(fds[1], 2);
        ::close(fds[0]);
        ::close(fds[1]);
        std::vector<char*> argv{const_cast<char*>("ostrolinka-host"), const_cast<char*>("--lines")};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(exe.c_str(), argv.data());
        platform::ExitReleasingNames(127);
    }
    ::close(fds[1]);
    out_ = fds[0];
}

HostRun::~HostRun() {
    if (pid_ > 0 && !ended_) Stop(15000);
    if (out_ >= 0) ::close(out_);
}

bool HostRun::ReadSome(int timeoutMs) {
    pollfd pfd{out_, POLLIN, 0};
    if (::poll(&pfd, 1, timeoutMs) <= 0) return false;
    char buffer[65536];
    const ssize_t n = ::read(out_, buffer, sizeof buffer);
    if (n <= 0) return false;
    output_.append(buffer, static_cast<std::size_t>(n));
    return true;
}

std::optional<uint64_t> HostRun::Await(const std::string& text, int timeoutMs, std::size_t from) {
    const uint64_t end = NowUs() + static_cast<uint64_t>(timeoutMs) * 1000;
    while (output_.find(text, from) == std::string::npos) {
        const uint64_t now = NowUs();
        if (now >= end || !ReadSome(static_cast<int>((end - now) / 1000) + 1)) {
            if (NowUs() >= end) return std::nullopt;
            continue;
        }
    }
    return NowUs();
}

int HostRun::Stop(int timeoutMs) {
    if (pid_ <= 0 || ended_) return -1;
    ::kill(pid_, SIGINT);
    const uint64_t end = NowUs() + static_cast<uint64_t>(timeoutMs) * 1000;
    while (NowUs() < end) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            ended_ = true;
            while (ReadSome(0)) {
            }
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        ReadSome(20);
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    ended_ = true;
    return -1;
}

} // namespace bench
