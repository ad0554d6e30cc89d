// The host program: its command line, the value and write blocks it reads and makes, the time
// fields, the table it shows; and the program itself, run as a process.
#include "host/ostrolinka_host.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "host/host_tag_database.h"
#include "platform/text.h"

// The simulator's process helper, built into this test program.
#include "modbus-sim/sim_process.cpp"

using namespace ostrolinka_host;

namespace {

using Args = std::vector<std::string>;

TEST(HostTimedValue, NameValueAndTimeWithTheirEdges) {
    TTimedValue v;
    std::string error;
    ASSERT_TRUE(ParseTimedValue("PLC_SET=12.5@3", v, error)) << error;
    EXPECT_EQ(v.Name, "PLC_SET");
    EXPECT_EQ(v.Value, 12.5);
    EXPECT_EQ(v.AtSeconds, 3);

    // A name may hold "=" and "@": the last "@" ends the value, the last "=" before it starts it.
    ASSERT_TRUE(ParseTimedValue("A=B@C=-1e3@0.25", v, error)) << error;
    EXPECT_EQ(v.Name, "A=B@C");
    EXPECT_EQ(v.Value, -1000);
    EXPECT_EQ(v.AtSeconds, 0.25);

    // The console gives UTF-8; the database holds cp1251.
    ASSERT_TRUE(ParseTimedValue(" Насос = 1 @ 0 ", v, error)) << error;
    EXPECT_EQ(v.Name, "Насос"_cp);
    EXPECT_EQ(v.Value, 1);

    for (const char* bad : {"NAME=1", "NAME@3", "=1@3", " =1@3", "NAME=x@3", "NAME=1@", "NAME=1@-1",
                            "NAME=1@nan", "NAME=1@inf", "NAME=1,5@2"}) {
        error.clear();
        EXPECT_FALSE(ParseTimedValue(bad, v, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
    // A failed parse leaves the caller's value alone.
    EXPECT_EQ(v.Name, "Насос"_cp);
}

TEST(HostOptions, EveryOptionInBothSpellings) {
    TOptions o;
    std::string error;
    ASSERT_TRUE(ParseOptions({"--seconds", "7.5", "--write", "W=1@2", "--set=LOCK=1@4", "--write=X=2@1",
                              "--lines", "--module=Other.dlm", "--tagdb", "/tmp/t.tagdb", "dir"},
                             o, error))
        << error;
    EXPECT_EQ(o.Directory, "dir");
    EXPECT_EQ(o.Seconds, 7.5);
    ASSERT_EQ(o.Writes.size(), 2u);
    EXPECT_EQ(o.Writes[0].Name, "W");
    EXPECT_EQ(o.Writes[1].Name, "X");
    ASSERT_EQ(o.Sets.size(), 1u);
    EXPECT_EQ(o.Sets[0].Name, "LOCK");
    EXPECT_EQ(o.Sets[0].AtSeconds, 4);
    EXPECT_EQ(o.Display, TDisplay::Lines);
    EXPECT_EQ(o.ModuleFile, "Other.dlm");
    EXPECT_EQ(o.TagDatabase, "/tmp/t.tagdb");

    ASSERT_TRUE(ParseOptions({"d"}, o, error));
    EXPECT_EQ(o.Seconds, 0); // runs until a signal
    EXPECT_EQ(o.ModuleFile, "Quillary.dlm");
    EXPECT_EQ(o.Display, TDisplay::Auto);
    EXPECT_TRUE(o.Writes.empty());
    ASSERT_TRUE(ParseOptions({"--help"}, o, error));
    EXPECT_TRUE(o.Help);
}

TEST(HostOptions, BadUsageIsRefusedWithAReasonAndChangesNothing) {
    TOptions o;
    o.Directory = "kept";
    for (const Args& args : {Args{}, Args{"a", "b"}, Args{"--seconds"}, Args{"--seconds", "0", "d"},
                             Args{"--seconds", "-3", "d"}, Args{"--seconds=abc", "d"},
                             Args{"--write", "W=1", "d"}, Args{"--bogus", "d"}, Args{"--lines=1", "d"},
                             Args{"--module", "x/y.dlm", "d"}, Args{"--tagdb=", "d"}, Args{"d", "--write"}}) {
        std::string error;
        EXPECT_FALSE(ParseOptions(args, o, error)) << ::testing::PrintToString(args);
        EXPECT_FALSE(error.empty()) << ::testing::PrintToString(args);
    }
    EXPECT_EQ(o.Directory, "kept");
}

// A value block as the module lays it out, at an odd address as a peer may hand it.
std::vector<uint8_t> RawBlock(int32_t sourceId, int32_t count, int32_t room) {
    std::vector<uint8_t> raw(1 + 8 + static_cast<std::size_t>(room) * 20, 0);
    std::memcpy(&raw[1], &sourceId, 4);
    std::memcpy(&raw[5], &count, 4);
    for (int32_t i = 0; i < room; ++i) {
        const int32_t id = 100 + i;
        const float value = static_cast<float>(i) + 0.5f;
        std::memcpy(&raw[1 + 8 + 20 * i], &id, 4);
        std::memcpy(&raw[1 + 8 + 20 * i + 4], &value, 4);
        std::memcpy(&raw[1 + 8 + 20 * i + 8], &value, 4);
    }
    return raw;
}

TEST(HostValueBlock, EntriesAreReadAsLaidOutAndTheCountIsClamped) {
    std::vector<uint8_t> raw = RawBlock(7, 3, 3);
    std::vector<THostValueEntry> entries = ReadValueBlock(&raw[1]);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[2].VariableId, 102);
    EXPECT_EQ(entries[2].Value, 2.5f);
    EXPECT_EQ(entries[2].OldValue, 2.5f);

    // A count beyond the block's capacity reads no further than the capacity.
    raw = RawBlock(7, 100000, kMaxValueEntries);
    entries = ReadValueBlock(&raw[1]);
    ASSERT_EQ(entries.size(), static_cast<std::size_t>(kMaxValueEntries));
    EXPECT_EQ(entries.back().VariableId, 100 + kMaxValueEntries - 1);

    raw = RawBlock(7, -5, 0);
    EXPECT_TRUE(ReadValueBlock(&raw[1]).empty());
    EXPECT_TRUE(ReadValueBlock(nullptr).empty());
}

TEST(HostWriteBlock, SizeHeaderAndRequestsAtTheirOffsets) {
    THostValueEntry a{11, 1.5f, 0.25f, 1000, kDateOfDay0 + 1};
    THostValueEntry b{-2, -7.0f, 3.0f, 86399999, 1};
    const std::vector<uint8_t> block = BuildWriteBlock(42, {a, b});
    ASSERT_EQ(block.size(), 8u + 2 * 20);
    int32_t i32;
    float f;
    std::memcpy(&i32, &block[0], 4);
    EXPECT_EQ(i32, 42);
    std::memcpy(&i32, &block[4], 4);
    EXPECT_EQ(i32, 2);
    std::memcpy(&i32, &block[8 + 20], 4);
    EXPECT_EQ(i32, -2);
    std::memcpy(&f, &block[8 + 20 + 4], 4);
    EXPECT_EQ(f, -7.0f);
    std::memcpy(&f, &block[8 + 20 + 8], 4);
    EXPECT_EQ(f, 3.0f);
    std::memcpy(&i32, &block[8 + 20 + 12], 4);
    EXPECT_EQ(i32, 86399999);
    std::memcpy(&i32, &block[8 + 16], 4);
    EXPECT_EQ(i32, kDateOfDay0 + 1);
    EXPECT_EQ(BuildWriteBlock(1, {}).size(), 8u);
}

// Day number with 1 January of year 1 as day 1, computed by the standard library's calendar.
int32_t DayNumber(std::chrono::year_month_day ymd) {
    using namespace std::chrono;
    return static_cast<int32_t>((sys_days(ymd) - sys_days(year(1) / January / 1)).count()) + 1;
}

TEST(HostTimeFields, DayNumbersAndMillisecondsAsACalendarShowsThem) {
    using namespace std::chrono;
    EXPECT_EQ(DayNumber(year(1899) / December / 30), kDateOfDay0);
    EXPECT_EQ(FormatTimeDate(0, kDateOfDay0), "1899-12-30 00:00:00.000");
    EXPECT_EQ(FormatTimeDate(86399999, 1), "0001-01-01 23:59:59.999");
    EXPECT_EQ(FormatTimeDate(45296789, DayNumber(year(2024) / February / 29)), "2024-02-29 12:34:56.789");
    EXPECT_EQ(FormatTimeDate(-1, 0), "? ?");
    EXPECT_EQ(FormatTimeDate(86400000, kDateOfDay0), "1899-12-30 ?");
}

TEST(HostTimeFields, NowIsLocalTimeToTheMillisecond) {
    int32_t time = -1, date = -1;
    CurrentTimeDate(time, date);
    const ::time_t t = ::time(nullptr);
    struct tm local {};
    ::localtime_r(&t, &local);
    using namespace std::chrono;
    const int32_t expectedDate =
        DayNumber(year(local.tm_year + 1900) / month(static_cast<unsigned>(local.tm_mon + 1)) /
                  day(static_cast<unsigned>(local.tm_mday)));
    const int64_t expected = int64_t{expectedDate} * 86400000 +
                             ((local.tm_hour * 60 + local.tm_min) * 60 + local.tm_sec) * int64_t{1000};
    ASSERT_GE(time, 0);
    ASSERT_LT(time, 86400000);
    // Whole seconds of time() against milliseconds: within two seconds, across midnight too.
    EXPECT_LT(std::llabs(int64_t{date} * 86400000 + time - expected), 2000);
}

TEST(HostValueText, ShortestTextOfTheSingle) {
    EXPECT_EQ(FormatValue(2.5f), "2.5");
    EXPECT_EQ(FormatValue(0.1f), "0.1"); // not the double's 0.10000000149011612
    EXPECT_EQ(FormatValue(-1234.0f), "-1234");
    EXPECT_EQ(FormatValue(16777216.0f), "16777216");
    EXPECT_EQ(FormatValue(100000.0f), "100000"); // a counter, not 1e+05
    EXPECT_EQ(FormatValue(-70000.0f), "-70000");
    EXPECT_EQ(FormatValue(0.00025f), "0.00025");
    EXPECT_EQ(FormatValue(1e20f), "1e+20");
    EXPECT_EQ(FormatValue(1.5e-7f), "1.5e-07");
    EXPECT_EQ(FormatValue(0.0f), "0");
    EXPECT_EQ(FormatValue(std::numeric_limits<float>::quiet_NaN()), "nan");
    EXPECT_EQ(FormatValue(-std::numeric_limits<float>::infinity()), "-inf");
}

TEST(HostSchedule, ActionsFallDueInTimeOrderOnceEach) {
    TSchedule s({{"W1", 1, 5}, {"W0", 2, 1}, {"W5", 3, 5}}, {{"LOCK", 1, 5}});
    EXPECT_TRUE(s.Due(0.5).empty());
    std::vector<TSchedule::TAction> due = s.Due(1);
    ASSERT_EQ(due.size(), 1u);
    EXPECT_EQ(due[0].Item.Name, "W0");
    EXPECT_TRUE(due[0].IsWrite);
    EXPECT_TRUE(s.Due(4.99).empty());
    EXPECT_FALSE(s.Empty());
    // At one moment a set comes before the writes, the writes in command-line order.
    due = s.Due(100);
    ASSERT_EQ(due.size(), 3u);
    EXPECT_EQ(due[0].Item.Name, "LOCK");
    EXPECT_FALSE(due[0].IsWrite);
    EXPECT_EQ(due[1].Item.Name, "W1");
    EXPECT_EQ(due[2].Item.Name, "W5");
    EXPECT_TRUE(s.Due(1000).empty());
    EXPECT_TRUE(s.Empty());
}

TEST(HostValueTable, KeepsTheLastValueOfEachVariableAndShowsItAligned) {
    TValueTable table;
    const int32_t date = DayNumber(std::chrono::year(2024) / std::chrono::June / 1);
    EXPECT_EQ(table.Apply({5, 1.0f, 1.0f, 1000, date}, "PUMP"), "2024-06-01 00:00:01.000  PUMP = 1");
    table.Apply({3, 7.0f, 7.0f, 2000, date}, DisplayName(3, "Давление"_cp));
    table.Apply({5, 2.5f, 2.5f, 3000, date}, "PUMP");
    // A write the module gave up brings the old value back, with the commanded one.
    EXPECT_EQ(table.Apply({9, 4.0f, 10.0f, 4000, date}, DisplayName(9, "")),
              "2024-06-01 00:00:04.000  #9 = 4  (write of 10 given up)");
    EXPECT_EQ(table.Received(), 4u);
    ASSERT_NE(table.Find(5), nullptr);
    EXPECT_EQ(table.Find(5)->Last.Value, 2.5f);
    EXPECT_EQ(table.Find(5)->Updates, 2u);
    EXPECT_EQ(table.Find(4), nullptr);

    const std::vector<std::string> lines = table.Render();
    ASSERT_EQ(lines.size(), 4u); // header and three variables, by id
    EXPECT_NE(lines[1].find("Давление"), std::string::npos);
    EXPECT_NE(lines[2].find("PUMP"), std::string::npos);
    EXPECT_NE(lines[3].find("#9"), std::string::npos);
    // Columns line up on the screen: the value column ends at the same character in every row,
    // the Cyrillic name counting one column a letter.
    auto column = [](const std::string& line, const std::string& text) {
        const std::size_t at = line.find(text);
        std::size_t n = 0;
        for (std::size_t i = 0; i < at; ++i)
            n += (static_cast<unsigned char>(line[i]) & 0xC0) != 0x80;
        return n;
    };
    const std::size_t valueEnd = column(lines[0], "value") + 5;
    EXPECT_EQ(column(lines[1], "7 ") + 1, valueEnd);
    EXPECT_EQ(column(lines[2], "2.5 ") + 3, valueEnd);
    EXPECT_EQ(column(lines[3], "4 ") + 1, valueEnd);
}

TEST(HostModuleLog, FileNamedBesideTheModuleReadFromWhereTheRunBegan) {
    simtest::TempDir dir;
    simtest::WriteFile(dir.Path("Other.ini"), "[dlm]\r\nlogfile = " + dir.Path("m.log") + "\r\n");
    EXPECT_EQ(ModuleLogFile(dir.Path(""), "Other.dlm"), dir.Path("m.log"));
    EXPECT_EQ(ModuleLogFile(dir.Path("").substr(0, dir.Path("").size() - 1), "Other.dlm"), dir.Path("m.log"));
    EXPECT_EQ(ModuleLogFile(dir.Path(""), "Quillary.dlm"), ""); // no settings file: no log file

    EXPECT_EQ(FileSize(dir.Path("m.log")), 0u);
    simtest::WriteFile(dir.Path("m.log"), "old run: 0\r\n");
    const uint64_t start = FileSize(dir.Path("m.log"));
    EXPECT_EQ(start, 12u);
    simtest::WriteFile(dir.Path("m.log"),
                       "old run: 0\r\n" + "Ошибка связи: -13"_cp + "\r\nDLM::End of basic thread!: -1\r\n");
    EXPECT_EQ(LogLinesFrom(dir.Path("m.log"), start),
              (std::vector<std::string>{"Ошибка связи: -13", "DLM::End of basic thread!: -1"}));
    EXPECT_TRUE(LogLinesFrom(dir.Path("m.log"), 1000).empty());
    EXPECT_TRUE(LogLinesFrom(dir.Path("none.log"), 0).empty());
}

// ---- the program as a process ----

struct TRun {
    int Status = -1;
    std::string Output; // stdout and stderr
};

std::string HostProgram() {
    const char* bin = std::getenv("QUILLARY_BIN");
    return bin == nullptr ? std::string() : std::string(bin) + "/ostrolinka-host";
}

// Runs the program to its end; for runs that end by themselves at once.
TRun RunHost(const Args& args) {
    TRun run;
    const std::string out =
        (std::filesystem::temp_directory_path() / ("host-run-" + std::to_string(::getpid()))).string();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        std::vector<char*> argv{const_cast<char*>("ostrolinka-host")};
        const std::string exe = HostProgram();
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(exe.c_str(), argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(out);
    run.Output.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    std::remove(out.c_str());
    return run;
}

TEST(HostProgram, AModuleThatCannotBeLoadedEndsWithItsReason) {
    ASSERT_FALSE(HostProgram().empty()) << "QUILLARY_BIN names the folder of the programs";
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("host-nomodule-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);

    TRun run = RunHost({"--seconds", "1", dir.string()});
    EXPECT_EQ(run.Status, 3);
    EXPECT_NE(run.Output.find("cannot load the module " + (dir / "Quillary.dlm").string()), std::string::npos)
        << run.Output;

    // A file that is no shared object.
    std::ofstream(dir / "Quillary.dlm") << "not a module";
    run = RunHost({"--seconds", "1", dir.string()});
    EXPECT_EQ(run.Status, 3);
    EXPECT_NE(run.Output.find("cannot load the module"), std::string::npos) << run.Output;

    // A shared object without the exports: the platform layer is one.
    run = RunHost({"--seconds", "1", "--module", "libostroplatform.so", std::getenv("QUILLARY_BIN")});
    EXPECT_EQ(run.Status, 3);
    EXPECT_NE(run.Output.find("has no export DLMGetDeviceInfo"), std::string::npos) << run.Output;
    std::filesystem::remove_all(dir);

    run = RunHost({"--seconds", "0", dir.string()});
    EXPECT_EQ(run.Status, 2);
    EXPECT_NE(run.Output.find("usage: ostrolinka-host"), std::string::npos) << run.Output;
}

} // namespace

// ---- the whole road: host program, real module, real server, simulated device over TCP ----

constexpr const char* kDescription =
    "<EDDV2_Ostrolinka>\r\n"
    "<device name=\"road\">\r\n"
    " <requestlist>\r\n"
    "  <request name=\"r\" address=\"0\" size=\"5\" function=\"3\"><datablock>\r\n"
    "   <item type=\"16u\" proc=\"value\" tsaddress=\"1\"/>\r\n"
    "   <item type=\"16s\" proc=\"value\" tsaddress=\"2\"/>\r\n"
    "   <item type=\"16u\" proc=\"value\" tsaddress=\"3\"/>\r\n"
    "   <item type=\"32s\" proc=\"value\" tsaddress=\"4\"/>\r\n"
    "  </datablock></request>\r\n"
    " </requestlist>\r\n"
    " <commands>\r\n"
    "  <command tsaddress=\"3\" type=\"word\"><set address=\"2\" function=\"6\"/></command>\r\n"
    "  <command tsaddress=\"4\" type=\"32s\"><set address=\"3\" function=\"16\"/></command>\r\n"
    " </commands>\r\n"
    "</device>\r\n"
    "</EDDV2_Ostrolinka>\r\n";

// The program run with its output read as it comes, stopped by a signal.
class THostProcess {
public:
    explicit THostProcess(const Args& args) {
        int fds[2];
        if (::pipe(fds) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(fds[1], 1);
            ::dup2(fds[1], 2);
            ::close(fds[0]);
            ::close(fds[1]);
            std::vector<char*> argv{const_cast<char*>("ostrolinka-host")};
            for (const std::string& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            const std::string exe = HostProgram();
            ::execv(exe.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        out_ = fds[0];
    }
    ~THostProcess() {
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) ::close(out_);
    }
    // Reads until the output holds the text or the time is up.
    bool Await(const std::string& text, int timeoutMs = 20000) {
        const auto end = simtest::Clock::now() + simtest::Ms(timeoutMs);
        while (output_.find(text) == std::string::npos) {
            const auto left = std::chrono::duration_cast<simtest::Ms>(end - simtest::Clock::now()).count();
            if (left <= 0 || !ReadSome(static_cast<int>(left))) return false;
        }
        return true;
    }
    void Signal(int sig) { ::kill(pid_, sig); }
    // The exit status, or -1 when it did not end in time.
    int WaitExit(int timeoutMs = 20000) {
        const auto end = simtest::Clock::now() + simtest::Ms(timeoutMs);
        while (!status_) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            if (simtest::Clock::now() >= end) return -1;
            ReadSome(20);
        }
        while (ReadSome(0)) {
        }
        return *status_;
    }
    const std::string& Output() const { return output_; }

private:
    bool ReadSome(int timeoutMs) {
        pollfd pfd{out_, POLLIN, 0};
        if (::poll(&pfd, 1, timeoutMs) <= 0) return false;
        char buffer[4096];
        const ssize_t n = ::read(out_, buffer, sizeof buffer);
        if (n <= 0) return false;
        output_.append(buffer, static_cast<std::size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    std::string output_;
    std::optional<int> status_;
};

bool ProcessWithArgumentRuns(const std::string& text) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        // A process may end while we read it: its command line then reads as an error, not data.
        const int fd = ::open((entry.path() / "cmdline").c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        std::string cmdline;
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
            cmdline.append(buffer, static_cast<std::size_t>(n));
        ::close(fd);
        if (cmdline.find(text) != std::string::npos) return true;
    }
    return false;
}

// A directory with the built module, server and libraries, in a namespace of the test process.
class HostRoad : public ::testing::Test {
protected:
    void SetUp() override {
        ns_ = "hosttest-" + std::to_string(::getpid());
        ::setenv("OSTROLINKA_NAMESPACE", ns_.c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        const char* bin = std::getenv("QUILLARY_BIN");
        ASSERT_NE(bin, nullptr) << "QUILLARY_BIN names the folder of the programs";
        ASSERT_TRUE(std::filesystem::exists(std::string(bin) + "/Quillary.dlm"))
            << "the module is built with the tests";
        for (const char* file : {"Quillary.dlm", "Quillary.srv", "Quillary.ico", "libostroplatform.so",
                                 "libMirandol.so", "libVantorel.so"})
            std::filesystem::copy_file(std::string(bin) + "/" + file, dir.Path(file));
    }
    // SIGINT ends the run cleanly; afterwards no server and no exchange area are left.
    void StopAndCheck(THostProcess& hostRun) {
        hostRun.Signal(SIGINT);
        ASSERT_EQ(hostRun.WaitExit(), 0) << hostRun.Output();
        const std::string& out = hostRun.Output();
        EXPECT_NE(out.find("stopping (SIGINT)"), std::string::npos) << out;
        EXPECT_NE(out.find("DLMStopDeviceDrv 0, DLMDoneDeviceDrv 0"), std::string::npos) << out;
        EXPECT_NE(out.find("DLM::End of basic thread!: -1"), std::string::npos) << out;
        EXPECT_TRUE(simtest::WaitUntil([&] { return !ProcessWithArgumentRuns(dir.Path("Quillary.srv")); },
                                       simtest::Ms(15000)));
        EXPECT_FALSE(std::filesystem::exists("/dev/shm/" + ns_ + ".Quillary.dat"));
        // The last process of the run to leave takes the platform's window table with it.
        EXPECT_TRUE(simtest::WaitUntil(
            [&] { return !std::filesystem::exists("/dev/shm/" + ns_ + ".ostrolinka.windows"); },
            simtest::Ms(5000)));
    }

    simtest::TempDir dir;
    std::string ns_;
};

TEST_F(HostRoad, ValuesArriveAWriteComesBackAndSigintStopsEverything) {
    simtest::SimProcess sim({"--tcp", "0", "--holding", "0=1234,65526,100,0,0", "--control-port", "0",
                             "--write-log", dir.Path("writes.log"), "--exit-with-parent"},
                            dir.Path("sim.err"));
    ASSERT_FALSE(sim.Ready().empty()) << simtest::ReadFile(dir.Path("sim.err"));

    simtest::WriteFile(dir.Path("Quillary.edd"), kDescription);
    simtest::WriteFile(
        dir.Path("Quillary.cfg"),
        "<KESTRAN AutoRunServer=\"-1\" >\r\n   <device>\r\n      <session RoutingPrefix=\"ROAD\" "
        "ReqwestInterval=\"200\" TimeOut=\"100\" ICMPOnConnect=\"FALSE\" TypeOfConnection=\"TCP/IP\" "
        "DeviceIPAddress=\"127.0.0.1\" IPPort=\"" +
            sim.Ready() +
            "\" RequestType=\"road\" "
            "VarConnectStateName=\"LINK\" CommandStateName=\"CMD\" />\r\n   </device>\r\n</KESTRAN>\r\n");
    simtest::WriteFile(dir.Path("Quillary.ini"),
                       "[DLM]\r\nThread_Delay_Time=50\r\nLogFile=" + dir.Path("module.log") +
                           "\r\n[server]\r\ndelay_on_start=0\r\n");
    std::vector<host::THostTag> tags;
    auto add = [&](int32_t id, const std::string& name, const std::string& routing) {
        host::THostTag t;
        t.Id = id;
        t.Name = name;
        t.Routing = routing;
        tags.push_back(t);
    };
    add(10, "LEVEL", "ROAD: DEVICE=1; ADDRESS=1");
    add(11, "Температура"_cp, "ROAD: DEVICE=1; ADDRESS=2");
    add(12, "SET", "ROAD: DEVICE=1; ADDRESS=3");
    add(13, "WIDE", "ROAD: DEVICE=1; ADDRESS=4");
    add(20, "LINK", "");
    add(21, "CMD", "");
    add(22, "SPARE", "");
    ASSERT_TRUE(host::WriteHostTagDatabase(dir.Path("Ostrolinka.tagdb"), tags));

    THostProcess hostRun({"--lines", "--seconds", "60", "--write", "SET=321@3", "--write", "WIDE=-70000@3",
                          "--set", "SPARE=5@0", dir.Path("")});
    // The polled values, named from the database, the Cyrillic name turned into UTF-8.
    ASSERT_TRUE(hostRun.Await("  LEVEL = 1234\n")) << hostRun.Output();
    ASSERT_TRUE(hostRun.Await("  Температура = -10\n")) << hostRun.Output();
    EXPECT_NE(hostRun.Output().find("  LINK = 0\n"), std::string::npos) << hostRun.Output();

    // The writes reach the device by functions 6 and 16 and their effect comes back, after the
    // old value when the server polled before the write (a slow start may miss that).
    ASSERT_TRUE(hostRun.Await("write SET = 321: DLMWriteDataDrv 0")) << hostRun.Output();
    ASSERT_TRUE(hostRun.Await("  SET = 321\n")) << hostRun.Output();
    const std::size_t before = hostRun.Output().find("  SET = 100\n");
    if (before != std::string::npos) {
        EXPECT_LT(before, hostRun.Output().find("  SET = 321\n"));
    }
    ASSERT_TRUE(hostRun.Await("  WIDE = -70000\n")) << hostRun.Output();
    const std::string writes = simtest::ReadFile(dir.Path("writes.log"));
    EXPECT_NE(writes.find("slave=1 function=6 address=2 values=321 result=ok"), std::string::npos) << writes;
    EXPECT_NE(writes.find("slave=1 function=16 address=3 values=61072,65534 result=ok"), std::string::npos)
        << writes;
    ASSERT_TRUE(hostRun.Await("  CMD = 1\n")) << hostRun.Output();

    // A change at the device shows up by itself.
    ASSERT_EQ(sim.Command("set holding 0 555"), "OK");
    ASSERT_TRUE(hostRun.Await("  LEVEL = 555\n")) << hostRun.Output();

    // The tag set in the database on time.
    host::THostTagDatabase db(dir.Path("Ostrolinka.tagdb"));
    db.Refresh();
    ASSERT_NE(db.FindByName("SPARE"), nullptr);
    EXPECT_EQ(db.FindByName("SPARE")->Value, 5);

    ASSERT_NO_FATAL_FAILURE(StopAndCheck(hostRun));
    EXPECT_NE(hostRun.Output().find("module log (" + dir.Path("module.log")), std::string::npos)
        << hostRun.Output();
}

// The demo's own files, laid out as the demo command does, with the simulator's port and no ICMP
// check, so that a change anywhere that breaks the demo breaks here.
std::string Template(const std::string& name) {
    return simtest::ReadFile(std::string(QUILLARY_SOURCE_DIR) + "/tools/demo/" + name);
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

TEST_F(HostRoad, TheDemoFilesShowEveryVariableAndBothWritesComeBack) {
    simtest::SimProcess sim({"--tcp", "0", "--config",
                             std::string(QUILLARY_SOURCE_DIR) + "/tools/demo/device.conf", "--animate=200",
                             "--write-log", dir.Path("writes.log"), "--exit-with-parent"},
                            dir.Path("sim.err"));
    ASSERT_FALSE(sim.Ready().empty()) << simtest::ReadFile(dir.Path("sim.err"));
    const std::string cfg = Template("Quillary.cfg.in");
    ASSERT_NE(cfg.find("IPPort=\"4001\""), std::string::npos);
    simtest::WriteFile(dir.Path("Quillary.cfg"),
                       Replaced(Replaced(cfg, "@ICMP_ON_CONNECT@", "FALSE"), "IPPort=\"4001\"",
                                "IPPort=\"" + sim.Ready() + "\""));
    simtest::WriteFile(dir.Path("Quillary.ini"),
                       Replaced(Template("Quillary.ini.in"), "@LOG_FILE@", dir.Path("module.log")));
    simtest::WriteFile(dir.Path("Quillary.edd"), Template("Quillary.edd"));
    simtest::WriteFile(dir.Path("Ostrolinka.tagdb"), Template("Ostrolinka.tagdb"));

    THostProcess hostRun({"--lines", "--seconds", "60", "--write", "SETPOINT=321@3", "--write",
                          "TARGET=123456@3", dir.Path("")});
    for (const char* line : {"  LEVEL = 1234\n", "  TEMPERATURE = -10\n", "  TOTAL = 100000\n",
                             "  FLOW = 21.75\n", "  TARGET = -5000\n", "  ALARM_3 = 1\n",
                             "  SECONDS = ", "  LINK_STATE = 0\n", "  COMMAND_STATE = 0\n"})
        EXPECT_TRUE(hostRun.Await(line)) << line << "\n" << hostRun.Output();
    ASSERT_TRUE(hostRun.Await("  SETPOINT = 321\n")) << hostRun.Output();
    ASSERT_TRUE(hostRun.Await("  TARGET = 123456\n")) << hostRun.Output();
    ASSERT_TRUE(hostRun.Await("  COMMAND_STATE = 1\n")) << hostRun.Output();
    const std::string writes = simtest::ReadFile(dir.Path("writes.log"));
    EXPECT_NE(writes.find("slave=1 function=6 address=6 values=321 result=ok"), std::string::npos) << writes;
    EXPECT_NE(writes.find("slave=1 function=16 address=7 values=57920,1 result=ok"), std::string::npos)
        << writes;
    ASSERT_NO_FATAL_FAILURE(StopAndCheck(hostRun));
}

// A stop signal while a call into the module runs gives the call a few seconds to return, then the
// program ends without it; a second signal ends it at once. Either way the names of the module's
// exchange area and of the window table go with it.
TEST(HostProgram, StopSignalsEndItDuringAModuleCallThatDoesNotReturn) {
    const char* bin = std::getenv("QUILLARY_BIN");
    ASSERT_NE(bin, nullptr) << "QUILLARY_BIN names the folder of the programs";
    const std::string ns = "hoststuck-" + std::to_string(::getpid());
    ::setenv("OSTROLINKA_NAMESPACE", ns.c_str(), 1);
    struct TCase {
        std::vector<int> signals;
        std::string says;
    };
    const std::string second = "a second signal: ending at once";
    for (const TCase& c : {TCase{{SIGTERM}, "the module's call did not return within 3 s of the stop signal"},
                           TCase{{SIGTERM, SIGTERM}, second}, TCase{{SIGTERM, SIGINT}, second}}) {
        THostProcess run({"--lines", "--module", "libhoststuckmodule.so", bin});
        ASSERT_TRUE(run.Await("inside DLMInitDeviceDrv")) << run.Output();
        for (const int sig : c.signals) {
            run.Signal(sig);
            ASSERT_TRUE(run.Await("stopping once the module's call returns")) << run.Output();
        }
        EXPECT_EQ(run.WaitExit(), 128 + c.signals.back()) << run.Output();
        EXPECT_NE(run.Output().find(c.says), std::string::npos) << run.Output();
        EXPECT_EQ(run.Output().find("no exchange area"), std::string::npos) << run.Output();
        for (const auto& entry : std::filesystem::directory_iterator("/dev/shm")) {
            EXPECT_NE(entry.path().filename().string().rfind(ns + ".", 0), 0u) << entry.path() << " left";
            if (entry.path().filename().string().rfind(ns + ".", 0) == 0)
                std::filesystem::remove(entry.path());
        }
    }
    ::unsetenv("OSTROLINKA_NAMESPACE");
}
