// The whole system as a user runs it: ostrolinka-host loading Quillary.dlm from a folder of its
// own, which starts Quillary.srv; the host's output read as it comes.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/host_tag_database.h"

namespace bench {

// True when the module and the host program are built beside the benchmark.
bool SystemBuilt();

// Copies the products into the folder and writes the settings file and the host tag database.
void LayOutSystem(const std::string& dir, const std::string& iniExtra,
                  const std::vector<host::THostTag>& tags);

// A host tag routed to a device reading.
host::THostTag RoutedTag(int32_t id, const std::string& name, const std::string& routing);

// The pid of the running program whose executable is `exe`, or -1.
pid_t FindProcessByExe(const std::string& exe);

class HostRun {
public:
    // ostrolinka-host --lines with the arguments, output through a pipe.
    explicit HostRun(const std::vector<std::string>& args);
    ~HostRun();
    HostRun(const HostRun&) = delete;
    HostRun& operator=(const HostRun&) = delete;

    // Reads until the text appears after `from` (an output offset) or the time is up; the
    // monotonic microseconds of the read that brought it, or nothing.
    std::optional<uint64_t> Await(const std::string& text, int timeoutMs, std::size_t from = 0);
    // SIGINT, then the exit status (-1 after the time-out, when it is killed).
    int Stop(int timeoutMs);
    const std::string& Output() const { return output_; }
    pid_t Pid() const { return pid_; }

private:
    bool ReadSome(int timeoutMs);

    pid_t pid_ = -1;
    int out_ = -1;
    std::string output_;
    bool ended_ = false;
};

} // namespace bench
