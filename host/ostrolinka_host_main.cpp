// ostrolinka-host: loads a driver module, gives it a window of this thread, runs it, answers its
// value messages and shows the values, writes and sets tags on time, and stops it cleanly.
#include <dlfcn.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "host/host_records.h"
#include "host/host_tag_database.h"
#include "host/ostrolinka_host.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "platform/shared_memory.h"
#include "platform/text.h"

namespace fs = std::filesystem;
using namespace ostrolinka_host;

namespace {

enum TExit { kClean = 0, kUsage = 2, kNoModule = 3, kInitFailed = 4, kStopFailed = 5 };

volatile std::sig_atomic_t StopSignal = 0;
volatile std::sig_atomic_t InModuleCall = 0;

// A call into the module cannot be broken off: a stop signal that comes during one gives it this
// long to return before the program ends without it (the texts below say 3 s).
constexpr unsigned kCallGraceSeconds = 3;

template <std::size_t N> void SayFromHandler(const char (&text)[N]) {
    [[maybe_unused]] const ssize_t n = ::write(2, text, N - 1);
}

void OnStopSignal(int signal) {
    if (StopSignal != 0) {
        SayFromHandler("ostrolinka-host: a second signal: ending at once\n");
        platform::ExitReleasingNames(128 + signal);
    }
    StopSignal = signal;
    if (InModuleCall == 0) return;
    SayFromHandler("ostrolinka-host: stopping once the module's call returns, 3 s at most; a second signal "
                   "ends at once\n");
    ::alarm(kCallGraceSeconds);
}

void OnCallGraceOver(int) {
    SayFromHandler(
        "ostrolinka-host: the module's call did not return within 3 s of the stop signal: ending\n");
    platform::ExitReleasingNames(128 + StopSignal);
}

void InstallStopHandlers() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    // Each stop signal is handled whole before the next, so that the second one is seen as such.
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    // No SA_RESTART: a wait for messages ends at once.
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    struct sigaction grace {};
    grace.sa_handler = OnCallGraceOver;
    sigemptyset(&grace.sa_mask);
    sigaction(SIGALRM, &grace, nullptr);
}

// Runs one call into the module; a stop signal during it starts the grace, which ends with it.
template <class F, class... Args> int32_t ModuleCall(F function, Args&&... args) {
    InModuleCall = 1;
    const int32_t result = function(std::forward<Args>(args)...);
    InModuleCall = 0;
    ::alarm(0);
    return result;
}

struct TModule {
    TDLMGetDeviceInfo GetDeviceInfo = nullptr;
    TDLMInitDeviceDrv Init = nullptr;
    TDLMNoArgs Run = nullptr;
    TDLMNoArgs Stop = nullptr;
    TDLMNoArgs Done = nullptr;
    TDLMWriteDataDrv Write = nullptr;
};

// The text of a zero-terminated field that may lack its zero.
std::string FieldText(const char* field, std::size_t width) {
    return std::string(field, strnlen(field, width));
}

class THost {
public:
    THost(const TOptions& options, host::THostTagDatabase& db)
        : options_(options), db_(db), table_(), schedule_(options.Writes, options.Sets) {
        tableMode_ = options.Display == TDisplay::Table || (options.Display == TDisplay::Auto && ::isatty(1));
    }

    static intptr_t WindowProc(void* context, uint32_t, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
        return static_cast<THost*>(context)->OnMessage(msg, wParam, lParam);
    }

    bool TableMode() const { return tableMode_; }

    // Name of a variable from the tag database as it stands now.
    std::string NameOf(int32_t id) {
        db_.Refresh();
        const host::THostTag* tag = db_.FindById(id);
        return DisplayName(id, tag != nullptr ? tag->Name : std::string());
    }

    // Reports a line: printed at once in line mode, kept for the foot of the table otherwise.
    void Event(const std::string& line) {
        if (!tableMode_) {
            std::printf("%s\n", line.c_str());
            std::fflush(stdout);
            return;
        }
        events_.push_back(line);
        if (events_.size() > 6) events_.erase(events_.begin());
        dirty_ = true;
    }

    void RunDue(const TModule& module, double seconds) {
        for (const TSchedule::TAction& action : schedule_.Due(seconds)) {
            if (action.IsWrite)
                WriteTag(module, action.Item);
            else
                SetTag(action.Item);
        }
    }

    void Redraw(double seconds, bool force) {
        if (!tableMode_ || (!dirty_ && !force)) return;
        dirty_ = false;
        std::string screen = "\x1b[H\x1b[2J" + header_ + "\n" + Status(seconds) + "\n\n";
        for (const std::string& line : table_.Render())
            screen += line + "\n";
        if (!events_.empty()) screen += "\n";
        for (const std::string& line : events_)
            screen += line + "\n";
        std::fputs(screen.c_str(), stdout);
        std::fflush(stdout);
    }

    // The table once more as plain lines, for the record after the run.
    void PrintFinalTable(double seconds) {
        std::printf("%s\n", Status(seconds).c_str());
        for (const std::string& line : table_.Render())
            std::printf("%s\n", line.c_str());
    }

    void SetHeader(const std::string& header) { header_ = header; }

private:
    intptr_t OnMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
        if (msg != static_cast<uint32_t>(options_.MessageId) || wParam != HOST_VALUES_ACK) return 0;
        for (const THostValueEntry& entry : ReadValueBlock(reinterpret_cast<const void*>(lParam))) {
            const std::string line = table_.Apply(entry, NameOf(entry.VariableId));
            if (!tableMode_) {
                std::printf("%s\n", line.c_str());
            }
        }
        if (!tableMode_) std::fflush(stdout);
        ++blocks_;
        dirty_ = true;
        return static_cast<intptr_t>(HOST_VALUES_ACK);
    }

    std::string Status(double seconds) const {
        char text[160];
        std::snprintf(text, sizeof text, "%.1f s, %llu value messages, %llu values", seconds,
                      static_cast<unsigned long long>(blocks_),
                      static_cast<unsigned long long>(table_.Received()));
        return text;
    }

    void WriteTag(const TModule& module, const TTimedValue& item) {
        const std::string name = platform::Utf8FromCp1251(item.Name);
        db_.Refresh();
        const host::THostTag* tag = db_.FindByName(item.Name);
        if (tag == nullptr) {
            Event("write " + name + " = " + FormatValue(static_cast<float>(item.Value)) +
                  ": no such tag in " + db_.FileName());
            return;
        }
        THostValueEntry request{};
        request.VariableId = tag->Id;
        request.Value = static_cast<float>(item.Value);
        // The value the host holds now: the last one received, else the database's.
        const TValueTable::TRow* row = table_.Find(tag->Id);
        request.OldValue = row != nullptr ? row->Last.Value : static_cast<float>(tag->Value);
        CurrentTimeDate(request.Time, request.Date);
        const std::vector<uint8_t> block = BuildWriteBlock(options_.SourceId, {request});
        const int32_t result = ModuleCall(module.Write, block.data(), static_cast<int32_t>(block.size()));
        Event("write " + name + " = " + FormatValue(request.Value) + ": DLMWriteDataDrv " +
              std::to_string(result));
    }

    void SetTag(const TTimedValue& item) {
        const std::string name = platform::Utf8FromCp1251(item.Name);
        db_.Refresh();
        std::vector<host::THostTag> tags = db_.Tags();
        bool found = false;
        for (host::THostTag& tag : tags)
            if (platform::SameText(tag.Name, item.Name)) tag.Value = item.Value, found = true;
        if (!found) {
            Event("set " + name + ": no such tag in " + db_.FileName());
            return;
        }
        const bool ok = host::WriteHostTagDatabase(db_.FileName(), tags);
        Event("set " + name + " = " + platform::FloatToStrShortest(item.Value) +
              (ok ? "" : ": database not written"));
    }

    const TOptions& options_;
    host::THostTagDatabase& db_;
    TValueTable table_;
    TSchedule schedule_;
    bool tableMode_ = false;
    bool dirty_ = true;
    uint64_t blocks_ = 0;
    std::string header_;
    std::vector<std::string> events_;
};

void PrintModuleLog(const std::string& logFile, uint64_t from) {
    if (logFile.empty()) {
        std::printf("module log: the settings file names no log file (section DLM, key LogFile)\n");
    } else {
        const std::vector<std::string> lines = LogLinesFrom(logFile, from);
        std::printf("module log (%s, %zu lines):\n", logFile.c_str(), lines.size());
        for (const std::string& line : lines)
            std::printf("  %s\n", line.c_str());
    }
    std::fflush(stdout);
}

template <class T> bool Resolve(void* handle, const char* name, T& into, const std::string& path) {
    into = reinterpret_cast<T>(::dlsym(handle, name));
    if (into != nullptr) return true;
    std::fprintf(stderr, "ostrolinka-host: %s has no export %s\n", path.c_str(), name);
    return false;
}

// The database named by --tagdb, OSTROLINKA_TAGDB or found in the directory, as an absolute path
// the module's processes inherit through the environment.
std::string TagDatabasePath(const TOptions& options, const fs::path& directory) {
    std::error_code ec;
    std::string tagdb = options.TagDatabase;
    if (tagdb.empty())
        tagdb = std::getenv("OSTROLINKA_TAGDB") != nullptr ? std::getenv("OSTROLINKA_TAGDB") : "";
    if (tagdb.empty()) tagdb = (directory / "Ostrolinka.tagdb").string();
    tagdb = fs::absolute(tagdb, ec).string();
    ::setenv("OSTROLINKA_TAGDB", tagdb.c_str(), 1);
    return tagdb;
}

bool LoadModule(const std::string& modulePath, TModule& module) {
    // Kept loaded to the end of the process: its threads and unit finalisation are its own affair.
    void* handle = ::dlopen(modulePath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        std::fprintf(stderr, "ostrolinka-host: cannot load the module %s: %s\n", modulePath.c_str(),
                     ::dlerror());
        return false;
    }
    return Resolve(handle, "DLMGetDeviceInfo", module.GetDeviceInfo, modulePath) &&
           Resolve(handle, "DLMInitDeviceDrv", module.Init, modulePath) &&
           Resolve(handle, "DLMRunDeviceDrv", module.Run, modulePath) &&
           Resolve(handle, "DLMStopDeviceDrv", module.Stop, modulePath) &&
           Resolve(handle, "DLMDoneDeviceDrv", module.Done, modulePath) &&
           Resolve(handle, "DLMWriteDataDrv", module.Write, modulePath);
}

// The lines this run adds to the module's log; only they are shown at the end.
struct TModuleLog {
    std::string File;
    uint64_t Start = 0;
    void Print() const { PrintModuleLog(File, Start); }
};

// Initialises and runs the module; on failure it is taken down again and kInitFailed returned.
// info is read again after the initialisation, for the routing prefixes.
int StartModule(const TModule& module, const TOptions& options, uint32_t window,
                const std::string& directoryText, const std::string& tagdb, TDeviceInfoRecord& info,
                const TModuleLog& log) {
    TDrvInitRecord record{};
    record.HostWindow = window;
    record.MessageId = options.MessageId;
    record.SourceId = options.SourceId;
    std::memcpy(record.Directory, directoryText.data(), directoryText.size());
    record.ConfigOnly = 0;
    if (const int32_t r = ModuleCall(module.Init, record); r != 0) {
        std::fprintf(stderr, "ostrolinka-host: DLMInitDeviceDrv failed with %d\n", r);
        ModuleCall(module.Done);
        log.Print();
        ostro_destroy_window(window);
        return kInitFailed;
    }
    ModuleCall(module.GetDeviceInfo, &info);
    const std::string prefixes = platform::Utf8FromCp1251(FieldText(info.PrefixList, sizeof info.PrefixList));
    std::printf("initialised: window %u, routing prefixes \"%s\", tag database %s\n", window,
                prefixes.c_str(), tagdb.c_str());
    // Stopped while it initialised: nothing to run.
    if (const int32_t r = StopSignal != 0 ? 0 : ModuleCall(module.Run); r != 0) {
        std::fprintf(stderr, "ostrolinka-host: DLMRunDeviceDrv failed with %d\n", r);
        ModuleCall(module.Stop);
        ModuleCall(module.Done);
        log.Print();
        ostro_destroy_window(window);
        return kInitFailed;
    }
    return kClean;
}

// Pumps the window's messages, carries out the scheduled writes and redraws until a signal or the
// time is up; gives the seconds it ran.
double RunUntilStopped(THost& host, const TModule& module, const TOptions& options) {
    const uint64_t start = platform::MonotonicMs();
    auto elapsed = [&] { return static_cast<double>(platform::MonotonicMs() - start) / 1000.0; };
    uint64_t lastDraw = 0;
    while (StopSignal == 0 && (options.Seconds <= 0 || elapsed() < options.Seconds)) {
        if (ostro_pump_messages(50) < 0) std::fprintf(stderr, "ostrolinka-host: a message handler failed\n");
        host.RunDue(module, elapsed());
        const uint64_t now = platform::MonotonicMs();
        if (now - lastDraw >= 200) {
            host.Redraw(elapsed(), true);
            lastDraw = now;
        }
    }
    return elapsed();
}

int StopModule(THost& host, const TModule& module, uint32_t window, double ranFor, const TModuleLog& log) {
    if (host.TableMode()) std::printf("\n");
    std::printf("stopping (%s)\n",
                StopSignal != 0 ? (StopSignal == SIGINT ? "SIGINT" : "SIGTERM") : "time is up");
    std::fflush(stdout);
    const int32_t stopped = ModuleCall(module.Stop);
    const int32_t done = ModuleCall(module.Done);
    ostro_destroy_window(window);
    if (host.TableMode()) host.PrintFinalTable(ranFor);
    std::printf("DLMStopDeviceDrv %d, DLMDoneDeviceDrv %d\n", stopped, done);
    log.Print();
    if (stopped != 0 || done != 0) {
        std::fprintf(stderr, "ostrolinka-host: the module did not stop cleanly\n");
        return kStopFailed;
    }
    return kClean;
}

} // namespace

int main(int argc, char** argv) {
    TOptions options;
    std::string error;
    if (!ParseOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "ostrolinka-host: %s\n\n%s", error.c_str(), UsageText());
        return kUsage;
    }
    if (options.Help) {
        std::fputs(UsageText(), stdout);
        return kClean;
    }

    std::error_code ec;
    const fs::path directory = fs::absolute(options.Directory, ec).lexically_normal();
    const std::string modulePath = (directory / options.ModuleFile).string();
    const std::string directoryText = directory.string();
    if (directoryText.size() > sizeof(TDrvInitRecord::Directory) - 1) {
        std::fprintf(stderr, "ostrolinka-host: the directory path is longer than %zu bytes\n",
                     sizeof(TDrvInitRecord::Directory) - 1);
        return kUsage;
    }

    const std::string tagdb = TagDatabasePath(options, directory);
    host::THostTagDatabase db(tagdb);
    db.Refresh();
    for (const std::string& problem : db.Problems())
        std::fprintf(stderr, "%s: %s\n", tagdb.c_str(), problem.c_str());

    TModule module;
    if (!LoadModule(modulePath, module)) return kNoModule;
    TDeviceInfoRecord info{};
    InstallStopHandlers();
    if (const int32_t r = ModuleCall(module.GetDeviceInfo, &info); r != 0) {
        std::fprintf(stderr, "ostrolinka-host: DLMGetDeviceInfo answered %d\n", r);
        return kNoModule;
    }
    const std::string title = platform::Utf8FromCp1251(FieldText(info.Title, sizeof info.Title));

    TModuleLog log;
    log.File = ModuleLogFile(directoryText, options.ModuleFile);
    log.Start = log.File.empty() ? 0 : FileSize(log.File);

    THost host(options, db);
    const uint32_t window = ostro_create_window(&THost::WindowProc, &host);
    if (window == 0) {
        std::fprintf(stderr, "ostrolinka-host: no window could be made\n");
        return kInitFailed;
    }
    std::printf("module %s: %s\n", modulePath.c_str(), title.c_str());
    std::fflush(stdout);
    if (const int started = StartModule(module, options, window, directoryText, tagdb, info, log);
        started != kClean)
        return started;
    std::printf("running%s\n", options.Seconds > 0
                                   ? (" for " + platform::FloatToStrShortest(options.Seconds) + " s").c_str()
                                   : " until SIGINT or SIGTERM");
    std::fflush(stdout);
    host.SetHeader(title + " | " + modulePath + " | Ctrl-C stops");

    const double ranFor = RunUntilStopped(host, module, options);
    return StopModule(host, module, window, ranFor, log);
}
