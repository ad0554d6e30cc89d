// The road of a write: host, module queue, command region, server thread, device, and the outcome
// back at the host through the command-state tag and the variable's value.
#include "e2e_test_support.h"

namespace e2e {
namespace {

class E2eWrites : public E2eTest {
protected:
    // One device on a line of the given kind, values flowing.
    simtest::SimProcess* Start(bool tcp, int timeOut = 500, const TSettings& settings = {},
                               std::vector<host::THostTag> extraTags = {}) {
        simtest::SimProcess* sim = StartSimulator("device", tcp, SlaveData(1, 5, 6));
        if (sim->Ready().empty()) return nullptr;
        Configure({{.Address = 1, .Line = sim->Ready(), .Tcp = tcp, .TimeOut = timeOut}}, settings,
                  std::move(extraTags));
        StartSystem();
        if (::testing::Test::HasFatalFailure() || !WaitForValue(First(1), 5.0f) ||
            !WaitForValue(CommandState(1), 0.0f))
            return nullptr;
        return sim;
    }
};

TEST_F(E2eWrites, ADoneWriteIsInTheDeviceAndItsStateTagSaysOne) {
    simtest::SimProcess* sim = Start(true, 200);
    ASSERT_NE(sim, nullptr) << Log();
    const std::size_t mark = host->Values.size();
    WriteThroughModule({{Long(1), 65538.0f, 0.0f, 0, 0}});
    ASSERT_TRUE(WaitForValue(CommandState(1), 1.0f)) << Log();
    EXPECT_EQ(WriteLog("device"),
              std::vector<std::string>{"slave=1 function=16 address=30 values=2,1 result=ok"});
    // The commanded value comes back as the variable's value; the state went 0 (already) to 1 only.
    EXPECT_TRUE(WaitForValue(Long(1), 65538.0f)) << Log();
    EXPECT_EQ(ValuesOf(CommandState(1), mark), std::vector<float>{1.0f});
    EXPECT_EQ(ReportsBesides({}), std::vector<std::string>{});
}

TEST_F(E2eWrites, ASilentDeviceFailsTheCommandTheHostGetsItsOldValueAndStateTwo) {
    simtest::SimProcess* sim = Start(false, 300);
    ASSERT_NE(sim, nullptr) << Log();
    ASSERT_NO_FATAL_FAILURE(Control(sim, "silent on"));
    const std::size_t mark = host->Values.size();
    // The host had 7 for the variable when it asked for 55.
    WriteThroughModule({{Setpoint(1), 55.0f, 7.0f, 0, 0}});
    ASSERT_TRUE(WaitForValue(CommandState(1), 2.0f)) << Log();
    ASSERT_TRUE(WaitForValue(Setpoint(1), 7.0f)) << Log();
    EXPECT_EQ(ValuesOf(CommandState(1), mark), std::vector<float>{2.0f});
    EXPECT_TRUE(WriteLog("device").empty());
    EXPECT_TRUE(dlmtest::WaitFor([&] { return LogHas("Ошибка обработки команды (Адрес=-1).: -8"); }))
        << Log();
    // Answered in time, not given up by the module.
    EXPECT_FALSE(LogHas("-24")) << Log();

    ASSERT_NO_FATAL_FAILURE(Control(sim, "clear"));
    EXPECT_TRUE(ValuesFlow(sim, 1, 8)) << Log();
    EXPECT_EQ(
        ReportsBesides({"Ошибка обработки команды (Адрес=-1).: -8", "sim1: Потеря связи с устройством.: -1"}),
        std::vector<std::string>{});
}

TEST_F(E2eWrites, AWriteTheDeviceRejectsSetsStateThreeAndPutsTheOldValueBack) {
    simtest::SimProcess* sim = Start(false);
    ASSERT_NE(sim, nullptr) << Log();
    const std::size_t mark = host->Values.size();
    WriteThroughModule({{Rejected(1), 9.0f, 4.0f, 0, 0}});
    ASSERT_TRUE(WaitForValue(CommandState(1), 3.0f)) << Log();
    EXPECT_EQ(WriteLog("device"),
              std::vector<std::string>{"slave=1 function=6 address=500 values=9 result=exception:2"});
    ASSERT_TRUE(WaitForValue(Rejected(1), 4.0f)) << Log();
    EXPECT_EQ(ValuesOf(CommandState(1), mark), std::vector<float>{3.0f});
    // A rejection is an answer: the link stays up and polling goes on.
    EXPECT_EQ(ValuesOf(Link(1), mark), std::vector<float>{});
    EXPECT_TRUE(ValuesFlow(sim, 1, 12)) << Log();
    EXPECT_EQ(LogCount("Ошибка обработки команды (Адрес=-1).: -8"), 1) << Log();
    EXPECT_EQ(ReportsBesides({"Ошибка обработки команды (Адрес=-1).: -8"}), std::vector<std::string>{});
}

// A variable routed to a device that is not configured: the module publishes its batch, no thread
// of the running server takes it, the module gives it up after Count x GeneralCommandInterval and
// the host gets its old values back, the commanded ones beside them.
TEST_F(E2eWrites, ABatchForADeviceNoThreadServesIsGivenUpWithTheOldValuesBack) {
    constexpr int kInterval = 500;
    simtest::SimProcess* sim = Start(false, 500, {.CommandInterval = kInterval},
                                     {dlmtest::Tag(901, "FAR1", "PLC: DEVICE=9; ADDRESS=100"),
                                      dlmtest::Tag(902, "FAR2", "PLC: DEVICE=9; ADDRESS=101")});
    ASSERT_NE(sim, nullptr) << Log();
    const uint64_t written = platform::MonotonicMs();
    WriteThroughModule({{901, 31.0f, 3.0f, 0, 0}, {902, 32.0f, 4.0f, 0, 0}});
    ASSERT_TRUE(dlmtest::WaitFor([&] { return host->CountOf(901) > 0 && host->CountOf(902) > 0; })) << Log();
    EXPECT_GE(platform::MonotonicMs() - written, 2u * kInterval);
    for (const TValueEntry& v : host->Values) {
        if (v.VariableId == 901) {
            EXPECT_EQ(v.Value, 3.0f);
            EXPECT_EQ(v.OldValue, 31.0f);
        } else if (v.VariableId == 902) {
            EXPECT_EQ(v.Value, 4.0f);
            EXPECT_EQ(v.OldValue, 32.0f);
        }
    }
    EXPECT_TRUE(dlmtest::WaitFor([&] { return LogHas("Не возможно обработать команду.: -24"); })) << Log();
    EXPECT_TRUE(WriteLog("device").empty());
    // The region is cleared once the host has taken the values back.
    EXPECT_TRUE(dlmtest::WaitFor([&] { return area.CommandFlag() == framework::csIdle; }))
        << +area.CommandFlag();

    // The region is free again: the next write goes through.
    WriteThroughModule({{Setpoint(1), 21.0f, 0.0f, 0, 0}});
    ASSERT_TRUE(WaitForValue(CommandState(1), 1.0f)) << Log();
    EXPECT_EQ(WriteLog("device"),
              std::vector<std::string>{"slave=1 function=6 address=20 values=21 result=ok"});
    // One batch, given up once.
    EXPECT_EQ(LogCount("Не возможно обработать команду.: -24"), 1) << Log();
    EXPECT_EQ(ReportsBesides({"Не возможно обработать команду.: -24"}), std::vector<std::string>{});
}

} // namespace
} // namespace e2e
