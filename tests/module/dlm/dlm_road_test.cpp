// The whole road as a host drives it: Quillary.dlm loaded with dlopen starts the real server, which
// polls the simulated device; values come to the host window, writes go down to the device.
#include "dlm_test_support.h"

#include "modbus-sim/sim_process.h"

// The simulator's process helper, built into this test program.
#include "modbus-sim/sim_process.cpp"

namespace dlmtest {
namespace {

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
    " </commands>\r\n"
    "</device>\r\n"
    "</EDDV2_Ostrolinka>\r\n";

// Host tag ids.
constexpr int32_t kFirst = 1, kSecond = 2, kCommand = 3, kCommandState = 10, kLink = 11, kLock = 12;

class DlmRoad : public DlmTest {
protected:
    void StartSimulator() {
        sim = std::make_unique<simtest::SimProcess>(
            std::vector<std::string>{"--pty", (root_ / "ttyRTU").string(), "--holding", "0=1234,77",
                                     "--holding", "20=0", "--control-port", "0", "--write-log",
                                     (dir_ / "writes.log").string()},
            (dir_ / "sim.err").string());
        ASSERT_FALSE(sim->Ready().empty()) << ReadText(dir_ / "sim.err");
    }
    // One device on the simulator's line, its tags in the host's database.
    void Prepare(int checkServerInterval = 60) {
        ASSERT_NO_FATAL_FAILURE(StartSimulator());
        WriteDescription(kDescription);
        WriteConfig(
            ConfigText({"DeviceName=\"sim\" DeviceAddress=\"1\" TimeOut=\"500\" RetryCount=\"1\" "
                        "RoutingPrefix=\"plc\" ReqwestInterval=\"100\" ICMPOnConnect=\"FALSE\" "
                        "VarConnectStateName=\"LINK\" CommandStateName=\"CMDSTATE\" VarBlockCommand=\"LOCK\" "
                        "TypeOfConnection=\"RS232\" RS232Port=\"" +
                        sim->Ready() + "\" RequestType=\"sim\""},
                       checkServerInterval));
        WriteTags({Tag(kFirst, "FIRST", "PLC: DEVICE=1; ADDRESS=1"),
                   Tag(kSecond, "SECOND", "PLC: DEVICE=1; ADDRESS=2"),
                   Tag(kCommand, "SETPOINT", "PLC: DEVICE=1; ADDRESS=100"),
                   Tag(kCommandState, "CMDSTATE", ""), Tag(kLink, "LINK", "", 7), Tag(kLock, "LOCK", "", 0)});
        ASSERT_NO_FATAL_FAILURE(Load());
    }
    void StartModule() {
        ASSERT_EQ(module.Init(Record()), 0);
        ASSERT_EQ(module.Run(), 0);
        ASSERT_TRUE(WaitFor([&] { return ServerRunning(); })) << Log();
    }
    std::vector<std::string> WriteLog() const {
        std::vector<std::string> lines;
        std::istringstream in(ReadText(dir_ / "writes.log"));
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    std::unique_ptr<simtest::SimProcess> sim;
};

TEST_F(DlmRoad, PolledValuesReachTheHostWindowAndAWriteReachesTheDevice) {
    ASSERT_NO_FATAL_FAILURE(Prepare());
    ASSERT_NO_FATAL_FAILURE(StartModule());

    ASSERT_TRUE(WaitFor([&] { return host->Has(kFirst, 1234.0f) && host->Has(kSecond, 77.0f); })) << Log();
    EXPECT_EQ(host->SourceId, 4321);
    EXPECT_FALSE(host->BadWParam);
    // The link-state tag came through the dynamic tags; the access lock is never sent by the module.
    ASSERT_TRUE(WaitFor([&] { return host->Has(kLink, 0.0f); })) << Log();
    {
        intercom_test::TRawBlock area;
        ASSERT_TRUE(OpenArea(area));
        const std::size_t dynamic = intercom_test::Dynamic(3);
        std::vector<std::string> names;
        for (int32_t i = 0; i < area.I32(dynamic + 256) && i < 255; ++i)
            names.push_back(area.Short(dynamic + 260 + 1029 * i));
        EXPECT_EQ(names, (std::vector<std::string>{"LINK", "CMDSTATE"}));
    }

    // A changed register is sent again; an unchanged one is not.
    const int secondBefore = host->CountOf(kSecond);
    ASSERT_EQ(sim->Command("set holding 0 4321"), "OK");
    ASSERT_TRUE(WaitFor([&] { return host->Has(kFirst, 4321.0f); })) << Log();
    EXPECT_EQ(host->CountOf(kSecond), secondBefore);

    // The write: entry point, command region, server, device.
    TValueEntry request{kCommand, 55.0f, 0.0f, 0, 0};
    std::vector<unsigned char> block(8 + sizeof request);
    const int32_t count = 1;
    std::memcpy(block.data() + 4, &count, 4);
    std::memcpy(block.data() + 8, &request, sizeof request);
    ASSERT_EQ(module.Write(block.data(), static_cast<int32_t>(block.size())), 0);
    ASSERT_TRUE(WaitFor([&] { return !WriteLog().empty(); })) << Log();
    EXPECT_EQ(WriteLog().front(), "slave=1 function=6 address=20 values=55 result=ok");
    // The command-state tag follows the command to its end.
    ASSERT_TRUE(WaitFor([&] { return host->CountOf(kCommandState) > 0; })) << Log();
    EXPECT_EQ(host->CountOf(kLock), 0);
}

TEST_F(DlmRoad, StopAndDoneLeaveNoServerNoThreadAndNoArea) {
    ASSERT_NO_FATAL_FAILURE(Prepare());
    // The host's own threads (its window's message service among them) are there before the module's.
    const TInitRecord record = Record();
    const int threadsBefore = ThreadCount();
    ASSERT_EQ(module.Init(record), 0);
    ASSERT_EQ(module.Run(), 0);
    ASSERT_TRUE(WaitFor([&] { return ServerRunning(); })) << Log();
    const int32_t pid = SlotPid();
    ASSERT_TRUE(ProcessAlive(pid));

    const uint64_t start = platform::MonotonicMs();
    EXPECT_EQ(module.Stop(), 0);
    EXPECT_LT(platform::MonotonicMs() - start, 10000u);
    ASSERT_TRUE(WaitFor([&] { return !ProcessAlive(pid); }, 10000));
    EXPECT_TRUE(LogHas("DLM::End of basic thread!"));

    EXPECT_EQ(module.Done(), 0);
    EXPECT_FALSE(AreaExists());
    EXPECT_TRUE(WaitFor([&] { return ThreadCount() <= threadsBefore; }, 5000))
        << ThreadCount() << " > " << threadsBefore;
    // The driver object is gone with it.
    TIdentity identity;
    EXPECT_EQ(module.GetDeviceInfo(&identity), -1);
    EXPECT_EQ(module.Init(Record()), -1);
    EXPECT_EQ(module.Done(), -1);
    module.Handle = nullptr;
}

TEST_F(DlmRoad, AKilledServerIsStartedAgainWithinTheCheckInterval) {
    ASSERT_NO_FATAL_FAILURE(Prepare(1));
    ASSERT_NO_FATAL_FAILURE(StartModule());
    const int32_t first = SlotPid();
    ASSERT_EQ(::kill(first, SIGKILL), 0);
    ASSERT_TRUE(WaitFor([&] { return !ProcessAlive(first); }));
    const uint64_t killed = platform::MonotonicMs();
    ASSERT_TRUE(WaitFor([&] { return ServerRunning() && SlotPid() != first; })) << Log();
    // One check interval of 1 s, with room for a slow start under the sanitizers.
    EXPECT_LT(platform::MonotonicMs() - killed, 8000u);
    // Values flow again from the new server.
    const std::size_t before = host->Values.size();
    ASSERT_EQ(sim->Command("set holding 1 99"), "OK");
    ASSERT_TRUE(WaitFor([&] { return host->Values.size() > before && host->Has(kSecond, 99.0f); })) << Log();
}

} // namespace
} // namespace dlmtest
