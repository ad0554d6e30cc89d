// The processes of the system going away: the server killed in the middle of a command, the host
// killed under the server, and the host's own stop and shutdown.
#include <climits>

#include "e2e_test_support.h"
#include "platform/child_process_support.h"
#include "platform/private_shm.h"

namespace e2e {
namespace {

struct THostPaths {
    char Host[1024];
    char Dir[1024];
};

struct THostOnShm {
    char Skip[160];
    int Status;     // exit status, 128 + signal when killed, -1 not started, -2 still running
    int Names;      // names in /dev/shm besides the filler
    char Name[128]; // the first of them
};

// The host program started in a /dev/shm of its own that is full before it starts.
int RunHostOnFullShm() {
    THostPaths paths{};
    if (!testchild::Read(testchild::ChildIn, paths)) return 1;
    THostOnShm out{};
    out.Status = -1;
    const std::string why = privateshm::Enter(64 * 1024, true);
    if (!why.empty()) {
        why.copy(out.Skip, sizeof out.Skip - 1);
        return testchild::Write(testchild::ChildOut, out) ? 0 : 2;
    }
    {
        TChild host;
        if (host.Start({paths.Host, "--lines", "--seconds", "1", paths.Dir},
                       fs::path(paths.Dir) / "host.out")) {
            const std::optional<int> status = host.WaitExit(8000);
            out.Status = status ? *status : -2;
        }
    }
    for (const auto& entry : fs::directory_iterator("/dev/shm")) {
        const std::string name = entry.path().filename().string();
        if (name == "filler") continue;
        if (out.Names++ == 0) name.copy(out.Name, sizeof out.Name - 1);
    }
    return testchild::Write(testchild::ChildOut, out) ? 0 : 2;
}

const bool registered = testchild::RegisterTestChild("host-on-full-shm", RunHostOnFullShm);

class E2eProcesses : public E2eTest {
protected:
    simtest::SimProcess* StartDevice(int timeOut, const TSettings& settings = {}) {
        simtest::SimProcess* sim = StartSimulator("device", false, SlaveData(1, 5, 6));
        if (sim->Ready().empty()) return nullptr;
        Configure({{.Address = 1, .Line = sim->Ready(), .TimeOut = timeOut}}, settings);
        return sim;
    }
    static bool Alive(int32_t pid) { return ProcessAlive(pid); }
};

// /dev/shm is full before the host starts: the host cannot have a window and says so, where it
// used to die of SIGBUS at its first window and leave the window table behind.
TEST_F(E2eProcesses, OnAFullDevShmTheHostFailsItsStartAndLeavesNoName) {
    ASSERT_FALSE(registered);
    testchild::TestChild child("host-on-full-shm");
    ASSERT_TRUE(child.Started());
    THostPaths paths{};
    (bin_ + "/ostrolinka-host").copy(paths.Host, sizeof paths.Host - 1);
    dir_.string().copy(paths.Dir, sizeof paths.Dir - 1);
    ASSERT_TRUE(child.Send(paths));
    THostOnShm out{};
    ASSERT_TRUE(child.Receive(out));
    if (out.Skip[0] != '\0') GTEST_SKIP() << "no private /dev/shm for this test: " << out.Skip;
    const std::string output = dlmtest::ReadText(dir_ / "host.out");
    EXPECT_EQ(out.Status, 4) << output;
    EXPECT_NE(output.find("no window could be made"), std::string::npos) << output;
    EXPECT_EQ(out.Names, 0) << out.Name;
    ASSERT_TRUE(child.WaitExited(testchild::DeadlineMs));
    EXPECT_EQ(child.Reap(), 0);
}

// The server dies while it holds a batch (flag 2) for a device that does not answer: the module
// starts a new server within CheckServerInterval, which does not take the orphaned batch; the
// module gives the batch up with -24 and the old value, and values flow from the new server.
TEST_F(E2eProcesses, AServerKilledHoldingABatchIsReplacedAndTheBatchIsGivenUp) {
    constexpr int kCommandInterval = 3000;
    simtest::SimProcess* sim =
        StartDevice(2000, {.CheckServerInterval = 1, .CommandInterval = kCommandInterval});
    ASSERT_NE(sim, nullptr);
    ASSERT_NO_FATAL_FAILURE(StartSystem());
    ASSERT_TRUE(WaitForValue(First(1), 5.0f)) << Log();

    ASSERT_NO_FATAL_FAILURE(Control(sim, "silent on"));
    const uint64_t written = platform::MonotonicMs();
    WriteThroughModule({{Setpoint(1), 40.0f, 4.0f, 0, 0}});
    ASSERT_TRUE(dlmtest::WaitFor([&] { return area.CommandFlag() == framework::csTaken; }))
        << +area.CommandFlag();
    const int32_t first = area.SlotPid();
    ASSERT_EQ(::kill(first, SIGKILL), 0);
    ASSERT_TRUE(dlmtest::WaitFor([&] { return !Alive(first); }));

    // A new server despite the dead one's slot.
    ASSERT_TRUE(dlmtest::WaitFor([&] { return ServerRunning() && area.SlotPid() != first; })) << Log();
    // The batch stays taken until the module gives it up.
    ASSERT_TRUE(dlmtest::WaitFor([&] { return host->CountOf(Setpoint(1)) > 0; })) << Log();
    EXPECT_GE(platform::MonotonicMs() - written, static_cast<uint64_t>(kCommandInterval));
    ASSERT_EQ(host->CountOf(Setpoint(1)), 1);
    EXPECT_EQ(ValuesOf(Setpoint(1)), std::vector<float>{4.0f});
    EXPECT_TRUE(LogHas("Не возможно обработать команду.: -24")) << Log();
    EXPECT_TRUE(WaitForValue(CommandState(1), 2.0f)) << Log();
    // The device was silent all along: nothing was carried out.
    EXPECT_TRUE(WriteLog("device").empty());
    // The region is cleared once the host has taken the values back.
    EXPECT_TRUE(dlmtest::WaitFor([&] { return area.CommandFlag() == framework::csIdle; }))
        << +area.CommandFlag();

    ASSERT_NO_FATAL_FAILURE(Control(sim, "silent off"));
    EXPECT_TRUE(ValuesFlow(sim, 1, 50)) << Log();
    WriteThroughModule({{Setpoint(1), 41.0f, 4.0f, 0, 0}});
    ASSERT_TRUE(WaitForValue(CommandState(1), 1.0f)) << Log();
    EXPECT_EQ(WriteLog("device"),
              std::vector<std::string>{"slave=1 function=6 address=20 values=41 result=ok"});
    EXPECT_EQ(LogCount("Не возможно обработать команду.: -24"), 1) << Log();
    EXPECT_EQ(ReportsBesides({"Не возможно обработать команду.: -24"}), std::vector<std::string>{});
}

// The host process dies (killed, so it neither stops nor shuts the module down): the server sees
// the host window gone at its next timer tick and ends by itself within a tick, the termination
// wait of its thread and the poll that thread is in; on its way out it clears slot 0.
TEST_F(E2eProcesses, WhenTheHostDiesTheServerEndsByItselfAndClearsItsSlot) {
    constexpr int kTimeOut = 1000;
    simtest::SimProcess* sim = StartDevice(kTimeOut);
    ASSERT_NE(sim, nullptr);
    ASSERT_TRUE(host_program.Start({bin_ + "/ostrolinka-host", "--lines", dir_.string()}, dir_ / "host.out"));
    ASSERT_TRUE(dlmtest::WaitFor([&] { return area.Open(); })) << dlmtest::ReadText(dir_ / "host.out");
    ASSERT_TRUE(dlmtest::WaitFor([&] { return ServerRunning(); })) << Log();
    const int32_t server = area.SlotPid();
    ASSERT_TRUE(dlmtest::WaitFor([&] {
        return dlmtest::ReadText(dir_ / "host.out").find("FIRST1") != std::string::npos;
    })) << dlmtest::ReadText(dir_ / "host.out");

    // The server's thread waits for an answer when the host goes.
    ASSERT_NO_FATAL_FAILURE(Control(sim, "silent on"));
    TPollTally tally;
    area.WatchDevice(0);
    tally.Start(area);
    ASSERT_TRUE(dlmtest::WaitFor([&] {
        tally.Update(area);
        return tally.Failures > 0;
    }));
    host_program.Kill();
    const uint64_t killed = platform::MonotonicMs();
    constexpr uint32_t kTick = 1000, kThreadWait = 3000, kSlack = 2000;
    ASSERT_TRUE(dlmtest::WaitFor([&] { return !Alive(server); }, kTick + kThreadWait + kTimeOut + kSlack))
        << "the server outlived its host by " << platform::MonotonicMs() - killed << " ms";
    RecordProperty("server_outlived_host_ms", std::to_string(platform::MonotonicMs() - killed));
    EXPECT_EQ(area.SlotPid(), 0);
    EXPECT_EQ(area.SlotWindow(), 0);
    EXPECT_EQ(area.SlotRunFlag(), 0);
    // Nobody holds the area any more once the test lets go of it.
    area.Close();
    EXPECT_EQ(LeftBlocks(), std::vector<std::string>{});
}

// The host program run for a time with one write: it exits 0 and leaves no server and no area.
TEST_F(E2eProcesses, TheHostProgramRunsWritesAndStopsLeavingNothing) {
    simtest::SimProcess* sim = StartDevice(500);
    ASSERT_NE(sim, nullptr);
    ASSERT_TRUE(host_program.Start({bin_ + "/ostrolinka-host", "--lines", "--seconds", "4", "--write",
                                    "SETPOINT1=66@2.5", dir_.string()},
                                   dir_ / "host.out"));
    ASSERT_TRUE(dlmtest::WaitFor([&] { return ServerRunning(); })) << Log();
    const int32_t server = serverPid_;
    const std::optional<int> status = host_program.WaitExit(15000);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 0) << dlmtest::ReadText(dir_ / "host.out");
    EXPECT_EQ(WriteLog("device"),
              std::vector<std::string>{"slave=1 function=6 address=20 values=66 result=ok"});
    EXPECT_TRUE(dlmtest::WaitFor([&] { return !Alive(server); }, 5000));
    EXPECT_EQ(LeftBlocks(), std::vector<std::string>{});
}

// Stop and shutdown while the server is busy: its thread waits for a silent device and a batch is
// pending. Afterwards no server, no thread of the module and no shared block of it remain.
TEST_F(E2eProcesses, StopAndDoneInTheMiddleOfWorkLeaveNoProcessThreadOrBlock) {
    simtest::SimProcess* sim = StartDevice(1500);
    ASSERT_NE(sim, nullptr);
    ASSERT_NO_FATAL_FAILURE(Load());
    const dlmtest::TInitRecord record = Record();
    const int threadsBefore = dlmtest::ThreadCount();
    ASSERT_EQ(module.Init(record), 0);
    ASSERT_EQ(module.Run(), 0);
    ASSERT_TRUE(area.Open());
    ASSERT_TRUE(dlmtest::WaitFor([&] { return ServerRunning(); })) << Log();
    ASSERT_TRUE(WaitForValue(First(1), 5.0f)) << Log();
    const int32_t server = area.SlotPid();
    ASSERT_NO_FATAL_FAILURE(Control(sim, "silent on"));
    WriteThroughModule({{Setpoint(1), 40.0f, 4.0f, 0, 0}});
    ASSERT_TRUE(dlmtest::WaitFor([&] { return area.CommandFlag() == framework::csTaken; }))
        << +area.CommandFlag();
    area.Close();

    EXPECT_EQ(module.Stop(), 0);
    EXPECT_TRUE(dlmtest::WaitFor([&] { return !Alive(server); }, 10000));
    EXPECT_EQ(module.Done(), 0);
    module.Handle = nullptr;
    EXPECT_EQ(LeftBlocks(), std::vector<std::string>{});
    EXPECT_TRUE(dlmtest::WaitFor([&] { return dlmtest::ThreadCount() <= threadsBefore; }, 5000))
        << dlmtest::ThreadCount() << " > " << threadsBefore;
}

// A stop while the server's thread waits for a device that never answers, with the longest
// time-out a configuration can give: the thread leaves the read at once, the server ends as it
// normally does (it used to give the thread up and leave without its blocks' names), and once the
// host has shut down no process and no block of the system is left.
TEST_F(E2eProcesses, AStopDuringALongReadEndsTheServerAndLeavesNoBlock) {
    simtest::SimProcess* sim = StartSimulator("device", false, SlaveData(1, 5, 6));
    ASSERT_FALSE(sim->Ready().empty());
    const TDevice device{.Address = 1, .Line = sim->Ready(), .TimeOut = INT_MAX, .Lock = "LOCK1"};
    const auto tags = [&](double lock) {
        std::vector<host::THostTag> all = Tags(1);
        all.push_back(dlmtest::Tag(9001, "LOCK1", "", lock));
        return all;
    };
    Configure({device}, {}, {dlmtest::Tag(9001, "LOCK1", "", 0)});
    ASSERT_NO_FATAL_FAILURE(StartSystem());
    ASSERT_TRUE(WaitForValue(First(1), 5.0f)) << Log();
    const int32_t server = area.SlotPid();
    // Polls locked out first, so that the thread's next wait is the command's read.
    WriteTags(tags(1));
    ASSERT_TRUE(
        dlmtest::WaitFor([&] { return area.PollTrace().find("Device disabled!!!") != std::string::npos; }));
    ASSERT_NO_FATAL_FAILURE(Control(sim, "silent on"));
    WriteThroughModule({{Setpoint(1), 40.0f, 4.0f, 0, 0}});
    ASSERT_TRUE(dlmtest::WaitFor([&] { return area.CommandFlag() == framework::csTaken; }))
        << +area.CommandFlag();

    const uint64_t stopped = platform::MonotonicMs();
    EXPECT_EQ(module.Stop(), 0);
    ASSERT_TRUE(dlmtest::WaitFor([&] { return !Alive(server); }, 10000));
    RecordProperty("server_outlived_stop_ms", std::to_string(platform::MonotonicMs() - stopped));
    // A thread left running is what made the server leave without its blocks' names.
    for (const std::string& text : area.ServerErrors())
        EXPECT_EQ(text.find("did not stop"), std::string::npos) << text;
    area.Close();
    EXPECT_EQ(module.Done(), 0);
    module.Handle = nullptr;
    EXPECT_TRUE(dlmtest::WaitFor([&] { return LeftBlocks().empty(); }, 5000))
        << testing::PrintToString(LeftBlocks());
}

} // namespace
} // namespace e2e
