// The processes of the system going away: the server killed in the middle of a command, the host
// killed under the server, and the host's own stop and shutdown.
#include "e2e_test_support.h"

namespace e2e {
namespace {

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

// The server dies while it holds a batch (flag 2) for a device that does not answer: the module
// starts a new server within CheckServerInterval, which does not take the orphaned batch; the
// module gives the batch up with -24 and the old value, and values flow from the new server.
TEST_F(E2eProcesses, AServerKilledHoldingABatchIsReplacedAndTheBatchIsGivenUp) {
    constexpr int kCommandInterval = 3000;
    simtest::SimProcess* sim = StartDevice(2000, {.CheckServerInterval = 1, .CommandInterval = kCommandInterval});
    ASSERT_NE(sim, nullptr);
    ASSERT_NO_FATAL_FAILURE(StartSystem());
    ASSERT_TRUE(WaitForValue(First(1), 5.0f)) << Log();

    ASSERT_NO_FATAL_FAILURE(Control(sim, "silent on"));
    const uint64_t written = platform::MonotonicMs();
    WriteThroughModule({{Setpoint(1), 40.0f, 4.0f, 0, 0}});
    ASSERT_TRUE(dlmtest::WaitFor([&] { return area.CommandFlag() == framework::csTaken; })) << +area.CommandFlag();
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
    EXPECT_TRUE(dlmtest::WaitFor([&] { return area.CommandFlag() == framework::csIdle; })) << +area.CommandFlag();

    ASSERT_NO_FATAL_FAILURE(Control(sim, "silent off"));
    EXPECT_TRUE(ValuesFlow(sim, 1, 50)) << Log();
    WriteThroughModule({{Setpoint(1), 41.0f, 4.0f, 0, 0}});
    ASSERT_TRUE(WaitForValue(CommandState(1), 1.0f)) << Log();
    EXPECT_EQ(WriteLog("device"), std::vector<std::string>{"slave=1 function=6 address=20 values=41 result=ok"});
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
    ASSERT_TRUE(dlmtest::WaitFor([&] { return dlmtest::ReadText(dir_ / "host.out").find("FIRST1") != std::string::npos; }))
        << dlmtest::ReadText(dir_ / "host.out");

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
    ASSERT_TRUE(host_program.Start({bin_ + "/ostrolinka-host", "--lines", "--seconds", "4", "--write", "SETPOINT1=66@2.5",
                                    dir_.string()},
                                   dir_ / "host.out"));
    ASSERT_TRUE(dlmtest::WaitFor([&] { return ServerRunning(); })) << Log();
    const int32_t server = serverPid_;
    const std::optional<int> status = host_program.WaitExit(15000);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 0) << dlmtest::ReadText(dir_ / "host.out");
    EXPECT_EQ(WriteLog("device"), std::vector<std::string>{"slave=1 function=6 address=20 values=66 result=ok"});
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
    ASSERT_TRUE(dlmtest::WaitFor([&] { return area.CommandFlag() == framework::csTaken; })) << +area.CommandFlag();
    area.Close();

    EXPECT_EQ(module.Stop(), 0);
    EXPECT_TRUE(dlmtest::WaitFor([&] { return !Alive(server); }, 10000));
    EXPECT_EQ(module.Done(), 0);
    module.Handle = nullptr;
    EXPECT_EQ(LeftBlocks(), std::vector<std::string>{});
    EXPECT_TRUE(dlmtest::WaitFor([&] { return dlmtest::ThreadCount() <= threadsBefore; }, 5000))
        << dlmtest::ThreadCount() << " > " << threadsBefore;
}

} // namespace
} // namespace e2e
