// A test host of Quillary.dlm: the module and its companions copied into a folder of the test's
// own, loaded with dlopen, a host window made through the platform's C interface, the host tag
// database, the configuration, description and settings files, and the module log.
#pragma once

#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "framework/intercom_test_support.h"
#include "host/host_tag_database.h"
#include "host/host_tag_test_support.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "platform/process.h"
#include "platform/text.h"

namespace dlmtest {

namespace fs = std::filesystem;

#pragma pack(push, 1)
struct TInitRecord {
    int32_t HostWindow;
    int32_t MessageId;
    int32_t SourceId;
    char Directory[4097];
    uint8_t ConfigOnly;
};
struct TIdentity {
    uint8_t GUID[16];
    char Title[101];
    int32_t Ints[6];
    char PrefixList[1025];
};
struct TValueEntry {
    int32_t VariableId;
    float Value;
    float OldValue;
    int32_t Time;
    int32_t Date;
};
#pragma pack(pop)
static_assert(sizeof(TInitRecord) == 4110);
static_assert(offsetof(TInitRecord, MessageId) == 4);
static_assert(offsetof(TInitRecord, SourceId) == 8);
static_assert(offsetof(TInitRecord, Directory) == 12);
static_assert(offsetof(TInitRecord, ConfigOnly) == 4109);
static_assert(sizeof(TIdentity) == 1166);
static_assert(offsetof(TIdentity, Title) == 16);
static_assert(offsetof(TIdentity, Ints) == 117);
static_assert(offsetof(TIdentity, PrefixList) == 141);
static_assert(sizeof(TValueEntry) == 20);
static_assert(offsetof(TValueEntry, Value) == 4);
static_assert(offsetof(TValueEntry, OldValue) == 8);
static_assert(offsetof(TValueEntry, Time) == 12);
static_assert(offsetof(TValueEntry, Date) == 16);

// The run's namespace: the platform layer takes it once per process, so the tests of one process
// share it, and each leaves no area and no server behind.
inline std::string UseRunNamespace() {
    static const std::string ns = [] {
        const std::string name = "dlmtest-" + std::to_string(::getpid());
        ::setenv("OSTROLINKA_NAMESPACE", name.c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        return name;
    }();
    return ns;
}

inline std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteText(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

inline int ThreadCount() {
    std::error_code ec;
    int n = 0;
    for (auto it = fs::directory_iterator("/proc/self/task", ec); !ec && it != fs::directory_iterator();
         it.increment(ec))
        ++n;
    return n;
}

// Waits for the condition, dispatching the messages of the test thread's windows meanwhile.
inline bool WaitFor(const std::function<bool()>& done, uint32_t timeoutMs = 15000) {
    return platform::WaitDispatching(done, timeoutMs);
}

// The loaded module's entry points.
struct TModule {
    using FGetDeviceInfo = int32_t (*)(TIdentity*);
    using FInit = int32_t (*)(TInitRecord);
    using FNoArgs = int32_t (*)();
    using FWrite = int32_t (*)(const void*, int32_t);
    using FRead = int32_t (*)(int32_t, int32_t);
    using FSync = int32_t (*)(int32_t);
    using FErrorStr = int32_t (*)(int32_t, int32_t, int32_t);
    using FInstall = bool (*)(uint32_t, const char*, const char*);
    using FRemove = bool (*)(int32_t, const char*);

    void* Handle = nullptr;
    FGetDeviceInfo GetDeviceInfo = nullptr;
    FInit Init = nullptr;
    FNoArgs Done = nullptr;
    FNoArgs Run = nullptr;
    FNoArgs Stop = nullptr;
    FWrite Write = nullptr;
    FRead Read = nullptr;
    FSync Sinhronize = nullptr;
    FErrorStr GetErrorStr = nullptr;
    FInstall InstallDriver = nullptr;
    FRemove RemoveDriver = nullptr;

    bool Load(const fs::path& path) {
        Handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (Handle == nullptr) return false;
        return Bind(GetDeviceInfo, "DLMGetDeviceInfo") && Bind(Init, "DLMInitDeviceDrv") &&
               Bind(Done, "DLMDoneDeviceDrv") && Bind(Run, "DLMRunDeviceDrv") &&
               Bind(Stop, "DLMStopDeviceDrv") && Bind(Write, "DLMWriteDataDrv") &&
               Bind(Read, "DLMReadDataDrv") && Bind(Sinhronize, "DLMSinhronize") &&
               Bind(GetErrorStr, "DLMGetErrorStr") && Bind(InstallDriver, "DLMInstallDriver") &&
               Bind(RemoveDriver, "DLMRemoveDriver");
    }
    template <class F> bool Bind(F& f, const char* name) {
        f = reinterpret_cast<F>(::dlsym(Handle, name));
        return f != nullptr;
    }
};

// The host's window: records every value block it is sent and answers as told.
class THostWindow {
public:
    static constexpr uint32_t kMessage = 0x0400 + 21;
    THostWindow() { Handle = ostro_create_window(&THostWindow::Proc, this); }
    ~THostWindow() { ostro_destroy_window(Handle); }

    uint32_t Handle = 0;
    intptr_t Answer = 2002;
    int32_t SourceId = 0;
    std::vector<TValueEntry> Values; // entries of the blocks it answered 2002
    int Calls = 0;
    bool BadWParam = false;

    bool Has(int32_t id, float value) const {
        for (const TValueEntry& v : Values)
            if (v.VariableId == id && v.Value == value) return true;
        return false;
    }
    int CountOf(int32_t id) const {
        int n = 0;
        for (const TValueEntry& v : Values)
            n += v.VariableId == id;
        return n;
    }

private:
    static intptr_t Proc(void* context, uint32_t, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
        auto* self = static_cast<THostWindow*>(context);
        if (msg != kMessage) return 0;
        self->Calls += 1;
        if (wParam != 2002) self->BadWParam = true;
        const auto* block = reinterpret_cast<const unsigned char*>(lParam);
        int32_t count = 0;
        std::memcpy(&self->SourceId, block, 4);
        std::memcpy(&count, block + 4, 4);
        if (self->Answer == 2002) {
            for (int32_t i = 0; i < count && i < 1204; ++i) {
                TValueEntry e;
                std::memcpy(&e, block + 8 + 20 * static_cast<std::size_t>(i), sizeof e);
                self->Values.push_back(e);
            }
        }
        return self->Answer;
    }
};

using host_test::Tag;

// A write-request block: header with its Count, then the requests.
inline std::vector<unsigned char> WriteBlock(const std::vector<TValueEntry>& requests) {
    std::vector<unsigned char> block(8 + sizeof(TValueEntry) * requests.size());
    const int32_t count = static_cast<int32_t>(requests.size());
    std::memcpy(block.data() + 4, &count, 4);
    if (!requests.empty())
        std::memcpy(block.data() + 8, requests.data(), sizeof(TValueEntry) * requests.size());
    return block;
}

// The configuration file: the root element with its attributes, then one session per device.
inline std::string ConfigText(const std::vector<std::string>& sessions, int checkServerInterval = 60,
                              int commandInterval = 6000, bool autoRun = true) {
    std::string text =
        "<KESTRAN ThreadOnPort=\"False\" ErrorMngrDisabled=\"False\" GeneralCommandInterval=\"" +
        std::to_string(commandInterval) + "\" AutoRunServer=\"" + (autoRun ? "-1" : "0") +
        "\" CheckServerInterval=\"" + std::to_string(checkServerInterval) +
        "\" RAPEnabled=\"False\" RAPPort=\"6042\" >\r\n";
    for (const std::string& s : sessions)
        text += "   <device>\r\n      <session " + s + " />\r\n   </device>\r\n";
    return text + "</KESTRAN>\r\n";
}

// The test's folder with the module, the server and the libraries beside them, as installed.
class DlmTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int serial = 0;
        ns_ = UseRunNamespace();
        const char* bin = std::getenv("QUILLARY_BIN");
        ASSERT_NE(bin, nullptr) << "QUILLARY_BIN names the folder of the programs";
        bin_ = bin;
        root_ = fs::temp_directory_path() / (ns_ + "-" + std::to_string(serial++));
        // The name holds our pid: what an earlier process of that pid left there is not ours.
        std::error_code stale;
        fs::remove_all(root_, stale);
        // A folder's name may hold a quote; a program at the name cut there must never run.
        dir_ = root_ / "dq\"x";
        fs::create_directories(dir_);
        WriteText(root_ / "dq", "#!/bin/sh\ntouch \"" + (root_ / "cut name ran").string() + "\"\n");
        fs::permissions(root_ / "dq", fs::perms::owner_all);
        for (const char* file :
             {"Quillary.dlm", "Quillary.srv", "libostroplatform.so", "libMirandol.so", "libVantorel.so"})
            fs::copy_file(fs::path(bin_) / file, dir_ / file, fs::copy_options::overwrite_existing);
        tagdb_ = dir_ / "host.tagdb";
        ::setenv("OSTROLINKA_TAGDB", tagdb_.c_str(), 1);
        WriteTags({});
        WriteText(dir_ / "Quillary.ini", "[DLM]\r\nThread_Delay_Time=50\r\nLogFile=" + LogPath().string() +
                                             "\r\n[server]\r\ndelay_on_start=0\r\n");
    }
    void TearDown() override {
        // A module that a failed test left running is stopped and shut down, so that the next
        // test finds no area and no server.
        if (module.Handle != nullptr && module.Done != nullptr) {
            module.Stop();
            module.Done();
        }
        host.reset();
        // The stopped server closes by itself and, as the last holder, takes the area's name with it;
        // a killed one could not. Only one that does not leave in time is killed.
        const auto serverGone = [&] {
            return serverPid_ <= 0 || platform::GetProcessVersion(static_cast<uint32_t>(serverPid_)) == 0;
        };
        if (!WaitFor(serverGone, 10000)) ::kill(serverPid_, SIGKILL);
        EXPECT_FALSE(fs::exists(root_ / "cut name ran"));
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    void WriteTags(const std::vector<host::THostTag>& tags) {
        ASSERT_TRUE(host::WriteHostTagDatabase(tagdb_.string(), tags));
    }
    void WriteConfig(const std::string& text) { WriteText(dir_ / "Quillary.cfg", text); }
    void WriteDescription(const std::string& text) { WriteText(dir_ / "Quillary.edd", text); }
    fs::path LogPath() const { return dir_ / "module.log"; }
    std::string Log() const { return platform::Utf8FromCp1251(ReadText(LogPath())); }
    // The log's lines in UTF-8 for assertions and messages.
    bool LogHas(const std::string& text) const { return Log().find(text) != std::string::npos; }
    int LogCount(const std::string& text) const {
        const std::string log = Log();
        int n = 0;
        for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
            ++n;
        return n;
    }

    void Load() { ASSERT_TRUE(module.Load(dir_ / "Quillary.dlm")) << ::dlerror(); }
    TInitRecord Record(bool configOnly = false) {
        if (!host) host = std::make_unique<THostWindow>();
        TInitRecord r;
        std::memset(&r, 0, sizeof r);
        r.HostWindow = static_cast<int32_t>(host->Handle);
        r.MessageId = static_cast<int32_t>(THostWindow::kMessage);
        r.SourceId = 4321;
        const std::string d = dir_.string();
        std::memcpy(r.Directory, d.data(), d.size());
        r.ConfigOnly = configOnly ? 1 : 0;
        return r;
    }

    // In place of the server, a program that writes the time (wall clock, ms) and its command line
    // into starts.log and ends: every start the module makes can be counted.
    void UseRecordingServer() {
        const fs::path exe = dir_ / "Quillary.srv";
        fs::remove(exe);
        WriteText(exe,
                  "#!/bin/sh\necho \"$(date +%s%3N) $0 $1\" >> '" + (dir_ / "starts.log").string() + "'\n");
        fs::permissions(exe, fs::perms::owner_all);
    }
    struct TStart {
        int64_t WallMs;
        std::string Exe, Cfg;
    };
    std::vector<TStart> Starts() const {
        std::vector<TStart> starts;
        std::istringstream in(ReadText(dir_ / "starts.log"));
        for (std::string line; std::getline(in, line);) {
            std::istringstream fields(line);
            TStart s{0, {}, {}};
            fields >> s.WallMs >> s.Exe >> s.Cfg;
            starts.push_back(s);
        }
        return starts;
    }
    static int64_t WallMs() {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    }
    // The module thread's tick counter in the status region.
    static int32_t Ticks(const intercom_test::TRawBlock& area) {
        return area.I32(intercom_test::kStatus + 256 + 256 + 1 + 256);
    }

    // The exchange area through a reader of its own.
    bool OpenArea(intercom_test::TRawBlock& block) const { return block.Open("Quillary.dat"); }
    bool AreaExists() const {
        intercom_test::TRawBlock block;
        return OpenArea(block);
    }
    static constexpr std::size_t kSlot0 = intercom_test::kSlots + 256;
    int32_t SlotPid() const {
        intercom_test::TRawBlock block;
        return OpenArea(block) ? block.I32(kSlot0) : 0;
    }
    int32_t SlotWindow() const {
        intercom_test::TRawBlock block;
        return OpenArea(block) ? block.I32(kSlot0 + 4) : 0;
    }
    // A live server registered in slot 0.
    bool ServerRunning() {
        const int32_t pid = SlotPid();
        if (pid <= 0 || SlotWindow() == 0 || !platform::IsWindow(static_cast<uint32_t>(SlotWindow())))
            return false;
        serverPid_ = pid;
        return true;
    }
    static bool ProcessAlive(int32_t pid) {
        return pid > 0 && platform::GetProcessVersion(static_cast<uint32_t>(pid)) != 0;
    }

    std::string ns_;
    std::string bin_;
    fs::path root_, dir_;
    fs::path tagdb_;
    TModule module;
    std::unique_ptr<THostWindow> host;
    int32_t serverPid_ = 0;
};

} // namespace dlmtest
