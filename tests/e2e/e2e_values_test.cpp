// The road of a value, host to device and back, over the lines a plant has: the converter's TCP
// port, one serial line with several devices, and two serial lines with a thread each.
#include "e2e_test_support.h"

namespace e2e {
namespace {

class E2eValues : public E2eTest {};

TEST_F(E2eValues, OverTheConverterPortValuesAndTheirChangesReachTheHost) {
    simtest::SimProcess* sim = StartSimulator("converter", true, SlaveData(1, 1234, 77));
    ASSERT_FALSE(sim->Ready().empty());
    // The converter's link reads for the whole time-out: keep it short.
    Configure({{.Address = 1, .Line = sim->Ready(), .Tcp = true, .TimeOut = 200}});
    ASSERT_NO_FATAL_FAILURE(StartSystem());

    ASSERT_TRUE(WaitForValue(First(1), 1234.0f) && WaitForValue(Second(1), 77.0f)) << Log();
    ASSERT_TRUE(WaitForValue(Link(1), 0.0f)) << Log();
    EXPECT_EQ(host->SourceId, 4321);
    EXPECT_FALSE(host->BadWParam);

    // Only what changed is sent again.
    const std::size_t mark = host->Values.size();
    ASSERT_TRUE(ValuesFlow(sim, 1, 4321)) << Log();
    ASSERT_TRUE(ValuesFlow(sim, 1, 65535)) << Log();
    EXPECT_EQ(ValuesOf(First(1), mark), (std::vector<float>{4321.0f, 65535.0f}));
    EXPECT_TRUE(ValuesOf(Second(1), mark).empty());
    EXPECT_EQ(ValuesOf(Link(1), mark), std::vector<float>{});
    EXPECT_EQ(ReportsBesides({}), std::vector<std::string>{});
}

TEST_F(E2eValues, SeveralDevicesOnOneSerialLineAnswerEachUnderItsOwnAddress) {
    std::vector<std::string> data;
    for (int slave = 1; slave <= 3; ++slave)
        for (const std::string& a : SlaveData(slave, 10 * slave, 10 * slave + 1))
            data.push_back(a);
    simtest::SimProcess* sim = StartSimulator("line", false, data);
    ASSERT_FALSE(sim->Ready().empty());
    Configure({{.Address = 1, .Line = sim->Ready()},
               {.Address = 2, .Line = sim->Ready()},
               {.Address = 3, .Line = sim->Ready()}});
    ASSERT_NO_FATAL_FAILURE(StartSystem());

    for (int d = 1; d <= 3; ++d) {
        EXPECT_TRUE(WaitForValue(First(d), 10.0f * d)) << d << "\n" << Log();
        EXPECT_TRUE(WaitForValue(Second(d), 10.0f * d + 1)) << d;
    }

    // A change at one device reaches only its own tag.
    const std::size_t mark = host->Values.size();
    ASSERT_TRUE(ValuesFlow(sim, 2, 222)) << Log();
    EXPECT_TRUE(ValuesOf(First(1), mark).empty());
    EXPECT_TRUE(ValuesOf(First(3), mark).empty());

    // A write to the last device goes to that address on the shared line, and only its
    // command-state tag follows it.
    WriteThroughModule({{Setpoint(3), 33.0f, 0.0f, 0, 0}});
    ASSERT_TRUE(WaitForValue(CommandState(3), 1.0f)) << Log();
    EXPECT_EQ(WriteLog("line"),
              std::vector<std::string>{"slave=3 function=6 address=20 values=33 result=ok"});
    EXPECT_EQ(ValuesOf(CommandState(1), mark), std::vector<float>{});
    EXPECT_EQ(ValuesOf(CommandState(2), mark), std::vector<float>{});
    EXPECT_EQ(ReportsBesides({}), std::vector<std::string>{});
}

// One thread per port: while the device on one line keeps its thread waiting for an answer that
// never comes, the other line is polled at its own pace.
TEST_F(E2eValues, WithAThreadPerPortASilentLineDoesNotHoldUpTheOther) {
    simtest::SimProcess* a = StartSimulator("lineA", false, SlaveData(1, 1, 1));
    simtest::SimProcess* b = StartSimulator("lineB", false, SlaveData(2, 2, 2));
    ASSERT_FALSE(a->Ready().empty());
    ASSERT_FALSE(b->Ready().empty());
    constexpr int kSilentTimeOut = 3000;
    Configure({{.Address = 1, .Line = a->Ready(), .TimeOut = kSilentTimeOut, .RetryCount = 1},
               {.Address = 2, .Line = b->Ready()}},
              {.ThreadOnPort = true});
    ASSERT_NO_FATAL_FAILURE(StartSystem());
    ASSERT_TRUE(WaitForValue(First(1), 1.0f) && WaitForValue(First(2), 2.0f)) << Log();

    ASSERT_NO_FATAL_FAILURE(Control(a, "silent on"));
    TPollTally tally;
    tally.Start(area);
    // Five changes polled on line B take less time than two polls of line A would; one thread for
    // both lines would need four of them.
    const uint64_t start = platform::MonotonicMs();
    for (int i = 1; i <= 5; ++i) {
        ASSERT_TRUE(ValuesFlow(b, 2, 100 + i)) << Log();
        tally.Update(area);
    }
    EXPECT_LT(platform::MonotonicMs() - start, 2u * kSilentTimeOut);
    // Line A was silent meanwhile: its device failed (a poll answered just before the silence
    // may have ended after it).
    ASSERT_TRUE(dlmtest::WaitFor([&] {
        tally.Update(area);
        return tally.Failures > 0;
    }));
    EXPECT_LE(tally.Successes, 1);

    ASSERT_NO_FATAL_FAILURE(Control(a, "clear"));
    EXPECT_TRUE(ValuesFlow(a, 1, 11)) << Log();
    EXPECT_EQ(ReportsBesides({"sim1: Потеря связи с устройством.: -1"}), std::vector<std::string>{});
}

} // namespace
} // namespace e2e
