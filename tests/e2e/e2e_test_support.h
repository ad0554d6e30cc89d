// The whole system as a user runs it: a test host loads Quillary.dlm from a folder of its own, the
// module starts the real server, the server polls simulated field devices on pseudo-terminals and
// converter ports. The test watches the host window, the module log, the simulators' write logs and
// the exchange area from outside.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "framework/intercom_layout.h"
#include "modbus-sim/sim_process.h"
#include "module/dlm/dlm_test_support.h"

namespace e2e {

using dlmtest::TValueEntry;
namespace fs = std::filesystem;

// The device type of every simulated device: two registers read, three commands, the last one
// aimed at an address the device does not have, so that the device itself rejects it.
constexpr const char* kDescription =
    "<EDDV2_Ostrolinka>\r\n"
    "<device name=\"sim\">\r\n"
    " <requestlist>\r\n"
    "  <request name=\"registers\" address=\"0\" size=\"2\" function=\"3\"><datablock>\r\n"
    "   <item type=\"16u\" proc=\"value\" tsaddress=\"1\"/>\r\n"
    "   <item type=\"16u\" proc=\"value\" tsaddress=\"2\"/>\r\n"
    "  </datablock></request>\r\n"
    " </requestlist>\r\n"
    " <commands>\r\n"
    "  <command tsaddress=\"100\" type=\"word\"><set address=\"20\" function=\"6\"/></command>\r\n"
    "  <command tsaddress=\"101\" type=\"32s\"><set address=\"30\" function=\"16\"/></command>\r\n"
    "  <command tsaddress=\"102\" type=\"word\"><set address=\"500\" function=\"6\"/></command>\r\n"
    " </commands>\r\n"
    "</device>\r\n"
    "</EDDV2_Ostrolinka>\r\n";

// Host tag ids of device d (its Modbus address).
constexpr int32_t First(int d) {
    return 100 * d + 1;
}
constexpr int32_t Second(int d) {
    return 100 * d + 2;
}
constexpr int32_t Setpoint(int d) {
    return 100 * d + 50;
} // function 6
constexpr int32_t Long(int d) {
    return 100 * d + 51;
} // function 16
constexpr int32_t Rejected(int d) {
    return 100 * d + 52;
} // no such register
constexpr int32_t Link(int d) {
    return 1000 + d;
}
constexpr int32_t CommandState(int d) {
    return 1100 + d;
}

// One configured device: where it is reached and how patiently.
struct TDevice {
    int Address = 1;
    std::string Line; // the pseudo-terminal's link, or the converter's port with Tcp
    bool Tcp = false;
    int TimeOut = 500;
    int RetryCount = 3;
    int Interval = 100;
    std::string Lock{}; // the host tag that locks the device's polls, none when empty
};

// The whole-system settings that the tests lower or switch.
struct TSettings {
    bool ThreadOnPort = false;
    int CheckServerInterval = 60;
    int CommandInterval = 6000;
};

// The exchange area read from outside, as a monitor would: slot 0, the command region's flag, and
// the request terminal, which the server fills after every poll of the device that owns it.
class TAreaView {
public:
    bool Open() {
        block_ = std::make_unique<intercom_test::TRawBlock>();
        if (block_->Open("Quillary.dat")) return true;
        block_.reset();
        return false;
    }
    // Lets go of the block, so that its last holder can remove it.
    void Close() { block_.reset(); }
    std::size_t Tags() const { return (block_->Size() - intercom_test::Total(0)) / 777; }

    int32_t SlotPid() const { return block_->I32(intercom_test::kSlots + 256); }
    int32_t SlotWindow() const { return block_->I32(intercom_test::kSlots + 256 + 4); }
    uint8_t SlotRunFlag() const {
        return block_->U8(intercom_test::kSlots + 256 + offsetof(framework::TServerSlot, RunFlag));
    }
    uint8_t CommandFlag() const {
        return block_->U8(intercom_test::Commands(Tags()) + offsetof(framework::TCommandsRegion, Flag));
    }

    // The device of that list index writes its poll traces into the request terminal.
    void WatchDevice(int32_t listIndex) {
        block_->Put<int32_t>(Terminal() + offsetof(framework::TTerminalRegion, Owner), listIndex);
    }
    int32_t PollCounter() const {
        return block_->I32(Terminal() + offsetof(framework::TTerminalRegion, Counter));
    }
    // The last poll's trace, read under the region's lock byte.
    std::string PollTrace() {
        std::string copy;
        Locked(Terminal() + offsetof(framework::TTerminalRegion, Lock), [&] {
            const char* text = reinterpret_cast<const char*>(
                block_->At(Terminal() + offsetof(framework::TTerminalRegion, Text)));
            copy.assign(text, ::strnlen(text, sizeof(framework::TTerminalRegion::Text)));
        });
        return copy;
    }
    // The texts of the server's error list (UTF-8), read under its lock byte.
    std::vector<std::string> ServerErrors() {
        const std::size_t at = intercom_test::Errors(Tags());
        std::vector<std::string> texts;
        Locked(at + offsetof(framework::TServerErrorRegion, Lock), [&] {
            const int32_t count =
                std::clamp(block_->I32(at + offsetof(framework::TServerErrorRegion, Count)), 0, 100);
            for (int32_t i = 0; i < count; ++i) {
                framework::TServerErrorEntry e;
                std::memcpy(&e,
                            block_->At(at + offsetof(framework::TServerErrorRegion, Records) + sizeof e * i),
                            sizeof e);
                texts.push_back(platform::Utf8FromCp1251(e.Text.Get()));
            }
        });
        return texts;
    }

private:
    // Runs `read` while holding the region's lock byte; not at all when it cannot be had in time.
    template <class F> void Locked(std::size_t lockAt, F read) {
        std::atomic_ref<uint8_t> lock(*block_->At(lockAt));
        const uint64_t deadline = platform::MonotonicMs() + 3000;
        while (lock.exchange(1, std::memory_order_acquire) != 0) {
            if (platform::MonotonicMs() > deadline) return;
            platform::Sleep(1);
        }
        read();
        lock.store(0, std::memory_order_release);
    }
    std::size_t Terminal() const { return intercom_test::Terminal(Tags(), 0); }
    std::unique_ptr<intercom_test::TRawBlock> block_;
};

// The outcomes of the watched device's polls, one by one as the request terminal shows them.
struct TPollTally {
    int32_t Counter = -1;
    int Failures = 0;
    int Successes = 0;
    int Missed = 0; // polls that ended between two looks

    void Start(TAreaView& area) {
        *this = TPollTally{};
        Counter = area.PollCounter();
    }
    void Update(TAreaView& area) {
        const int32_t now = area.PollCounter();
        if (now == Counter) return;
        const std::string trace = area.PollTrace();
        if (now - Counter > 1) Missed += now - Counter - 1;
        Counter = now;
        if (trace.find("READING OK") != std::string::npos)
            Successes += 1;
        else
            Failures += 1;
    }
};

// A program of the system run as a child of the test, its output in a file.
class TChild {
public:
    ~TChild() { Kill(); }
    bool Start(const std::vector<std::string>& args, const fs::path& output) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        const int rc = ::posix_spawn(&pid_, args[0].c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) pid_ = -1;
        return rc == 0;
    }
    pid_t Pid() const { return pid_; }
    // The exit status once it ended within the time (128 + signal when killed).
    std::optional<int> WaitExit(uint32_t timeoutMs) {
        int status = 0;
        const uint64_t deadline = platform::MonotonicMs() + timeoutMs;
        while (pid_ > 0) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            if (platform::MonotonicMs() > deadline) break;
            platform::Sleep(5);
        }
        return std::nullopt;
    }
    void Kill() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        WaitExit(10000);
    }

private:
    pid_t pid_ = -1;
};

class E2eTest : public dlmtest::DlmTest {
protected:
    // The icon lies beside the server as installed.
    void SetUp() override {
        DlmTest::SetUp();
        if (HasFatalFailure()) return;
        fs::copy_file(fs::path(bin_) / "Quillary.ico", dir_ / "Quillary.ico",
                      fs::copy_options::overwrite_existing);
    }
    // The server is let go by itself before the test lets go of the area: a holder killed or still
    // leaving keeps the last one from taking the blocks' names away.
    void TearDown() override {
        host_program.Kill();
        if (module.Handle != nullptr && module.Done != nullptr) {
            module.Stop();
            dlmtest::WaitFor([&] { return !ProcessAlive(serverPid_); }, 10000);
            module.Done();
            module.Handle = nullptr;
        }
        dlmtest::WaitFor([&] { return !ProcessAlive(serverPid_); }, 10000);
        DlmTest::TearDown();
        area.Close();
        sims_.clear();
    }

    // A simulated device line: a pseudo-terminal under the test's folder or a converter port, with
    // its own control channel and write log. The slaves' data go in `data`.
    simtest::SimProcess* StartSimulator(const std::string& name, bool tcp, std::vector<std::string> data) {
        std::vector<std::string> args;
        if (tcp)
            args = {"--tcp", "0"};
        else
            args = {"--pty", (root_ / name).string()}; // a configuration attribute names it
        args.insert(args.end(), data.begin(), data.end());
        for (const std::string& a : {std::string("--control-port"), std::string("0"),
                                     std::string("--write-log"), WriteLogPath(name).string()})
            args.push_back(a);
        sims_.push_back(std::make_unique<simtest::SimProcess>(args, (dir_ / (name + ".err")).string()));
        return sims_.back().get();
    }
    // One slave with the registers the description reads and writes.
    static std::vector<std::string> SlaveData(int address, int first, int second) {
        return {"--slave",   std::to_string(address),
                "--holding", "0=" + std::to_string(first) + "," + std::to_string(second),
                "--holding", "20=0",
                "--holding", "30=0,0"};
    }
    fs::path WriteLogPath(const std::string& name) const { return dir_ / (name + ".writes"); }
    std::vector<std::string> WriteLog(const std::string& name) const {
        std::vector<std::string> lines;
        std::istringstream in(dlmtest::ReadText(WriteLogPath(name)));
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    static void Control(simtest::SimProcess* sim, const std::string& line) {
        ASSERT_EQ(sim->Command(line), "OK") << line;
    }

    static std::string Session(const TDevice& d) {
        std::string s = "DeviceName=\"sim" + std::to_string(d.Address) + "\" DeviceAddress=\"" +
                        std::to_string(d.Address) + "\" TimeOut=\"" + std::to_string(d.TimeOut) +
                        "\" RetryCount=\"" + std::to_string(d.RetryCount) +
                        "\" RoutingPrefix=\"plc\" ReqwestInterval=\"" + std::to_string(d.Interval) +
                        "\" ICMPOnConnect=\"FALSE\" VarConnectStateName=\"LINK" + std::to_string(d.Address) +
                        "\" CommandStateName=\"CMDSTATE" + std::to_string(d.Address) +
                        "\" RequestType=\"sim\" ";
        if (!d.Lock.empty()) s += "VarBlockCommand=\"" + d.Lock + "\" ";
        if (d.Tcp)
            s += "TypeOfConnection=\"TCP/IP\" DeviceIPAddress=\"127.0.0.1\" IPPort=\"" + d.Line + "\"";
        else
            s += "TypeOfConnection=\"RS232\" RS232Port=\"" + d.Line + "\"";
        return s;
    }
    static std::vector<host::THostTag> Tags(int d) {
        const std::string n = std::to_string(d);
        const std::string at = "PLC: DEVICE=" + n + "; ADDRESS=";
        return {dlmtest::Tag(First(d), "FIRST" + n, at + "1"),
                dlmtest::Tag(Second(d), "SECOND" + n, at + "2"),
                dlmtest::Tag(Setpoint(d), "SETPOINT" + n, at + "100"),
                dlmtest::Tag(Long(d), "LONG" + n, at + "101"),
                dlmtest::Tag(Rejected(d), "REJECTED" + n, at + "102"),
                dlmtest::Tag(Link(d), "LINK" + n, "", 7),
                dlmtest::Tag(CommandState(d), "CMDSTATE" + n, "", 7)};
    }
    // The configuration, the description and the host's tags of these devices, plus any others.
    void Configure(const std::vector<TDevice>& devices, const TSettings& settings = {},
                   std::vector<host::THostTag> extraTags = {}) {
        std::vector<std::string> sessions;
        std::vector<host::THostTag> tags = std::move(extraTags);
        for (const TDevice& d : devices) {
            sessions.push_back(Session(d));
            for (const host::THostTag& t : Tags(d.Address))
                tags.push_back(t);
        }
        std::string config =
            dlmtest::ConfigText(sessions, settings.CheckServerInterval, settings.CommandInterval);
        if (settings.ThreadOnPort) {
            const std::string off = "ThreadOnPort=\"False\"";
            config.replace(config.find(off), off.size(), "ThreadOnPort=\"True\"");
        }
        WriteConfig(config);
        WriteDescription(kDescription);
        WriteTags(tags);
    }

    // The host loads, initialises and runs the module, which starts the server; the test then
    // watches the area and the first device's polls.
    void StartSystem() {
        ASSERT_NO_FATAL_FAILURE(Load());
        ASSERT_EQ(module.Init(Record()), 0);
        ASSERT_EQ(module.Run(), 0);
        ASSERT_TRUE(area.Open());
        area.WatchDevice(0);
        ASSERT_TRUE(dlmtest::WaitFor([&] { return ServerRunning(); })) << Log();
    }

    // Hands the host's write requests to the module as the host does.
    void WriteThroughModule(const std::vector<TValueEntry>& requests) {
        std::vector<unsigned char> block(8 + sizeof(TValueEntry) * requests.size());
        const int32_t count = static_cast<int32_t>(requests.size());
        std::memcpy(block.data() + 4, &count, 4);
        std::memcpy(block.data() + 8, requests.data(), sizeof(TValueEntry) * requests.size());
        ASSERT_EQ(module.Write(block.data(), static_cast<int32_t>(block.size())), 0);
    }

    // The values the host received for a variable, from entry `from` of its record on.
    std::vector<float> ValuesOf(int32_t id, std::size_t from = 0) const {
        std::vector<float> values;
        for (std::size_t i = from; i < host->Values.size(); ++i)
            if (host->Values[i].VariableId == id) values.push_back(host->Values[i].Value);
        return values;
    }
    std::optional<float> LastOf(int32_t id) const {
        const std::vector<float> values = ValuesOf(id);
        if (values.empty()) return std::nullopt;
        return values.back();
    }
    bool WaitForValue(int32_t id, float value, uint32_t timeoutMs = 15000) {
        return dlmtest::WaitFor([&] { return LastOf(id) == value; }, timeoutMs);
    }
    // A register changed at the device shows at the host: the device is polled again.
    bool ValuesFlow(simtest::SimProcess* sim, int slave, int value) {
        if (sim->Command("set holding 0 " + std::to_string(value) + " " + std::to_string(slave)) != "OK")
            return false;
        return WaitForValue(First(slave), static_cast<float>(value));
    }

    // Lines of the module log that report something other than what a healthy run reports: the
    // tray that a machine without a desktop lacks, the module thread's end, and the texts given.
    std::vector<std::string> ReportsBesides(std::vector<std::string> expected) const {
        expected.push_back("Ошибка загрузки пиктограммы главного окна.: -16");
        expected.push_back("DLM::End of basic thread!: -1");
        std::vector<std::string> other;
        std::istringstream in(Log());
        for (std::string line; std::getline(in, line);) {
            bool known = line.empty();
            for (const std::string& e : expected)
                known = known || line.find(e) != std::string::npos;
            if (!known) other.push_back(line);
        }
        return other;
    }

    // Shared blocks of the test's namespace still named in /dev/shm, apart from the window table,
    // which the test process itself keeps.
    std::vector<std::string> LeftBlocks() const {
        std::vector<std::string> left;
        std::error_code ec;
        for (auto it = fs::directory_iterator("/dev/shm", ec); !ec && it != fs::directory_iterator();
             it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (name.rfind(ns_ + ".", 0) == 0 && name != ns_ + ".ostrolinka.windows") left.push_back(name);
        }
        return left;
    }

    TAreaView area;
    TChild host_program;
    std::vector<std::unique_ptr<simtest::SimProcess>> sims_;
};

} // namespace e2e
