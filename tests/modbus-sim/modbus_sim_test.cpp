// The simulator as the driver meets it: the real program, libmodbus's own master on the pty line,
// raw RTU frames over the TCP line.
#include <gtest/gtest.h>

#include <modbus.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <memory>

#include "sim_process.h"

using namespace simtest;

namespace {

const Bytes kReadHolding = WithCrc({1, 3, 0, 0, 0, 3}); // slave 1, holding 0..2
const Bytes kHoldingAnswer = WithCrc({1, 3, 6, 0, 10, 0, 20, 0, 30});

struct Sim {
    TempDir dir;
    std::unique_ptr<SimProcess> process;

    std::string Link() const { return dir.Path("line"); }
    std::string Log() const { return ReadFile(dir.Path("writes.log")); }
    std::string Errors() const { return ReadFile(dir.Path("stderr")); }
    std::string Command(const std::string& line) { return process->Command(line); }
    int Port() const { return std::stoi(process->Ready()); }
};

std::unique_ptr<Sim> Start(bool tcp, std::vector<std::string> data) {
    auto sim = std::make_unique<Sim>();
    std::vector<std::string> args;
    if (tcp)
        args = {"--tcp", "0"};
    else
        args = {"--pty", sim->Link()};
    args.insert(args.end(), {"--control-port", "0", "--write-log", sim->dir.Path("writes.log")});
    args.insert(args.end(), data.begin(), data.end());
    sim->process = std::make_unique<SimProcess>(args, sim->dir.Path("stderr"));
    EXPECT_FALSE(sim->process->Ready().empty()) << sim->Errors();
    return sim;
}

std::unique_ptr<Sim> StartDefault(bool tcp) {
    return Start(
        tcp, {"--holding", "0=10,20,30", "--input", "100=7,8", "--coils", "0=1,0,1", "--discrete", "5=0,1"});
}

class Master {
public:
    Master(const std::string& path, int slave) : ctx_(modbus_new_rtu(path.c_str(), 9600, 'N', 8, 1)) {
        modbus_set_slave(ctx_, slave);
        connected_ = modbus_connect(ctx_) == 0;
        modbus_set_response_timeout(ctx_, 0, 400000);
    }
    ~Master() {
        if (connected_) modbus_close(ctx_);
        modbus_free(ctx_);
    }
    bool Connected() const { return connected_; }
    modbus_t* operator*() const { return ctx_; }
    void Slave(int slave) { modbus_set_slave(ctx_, slave); }
    // The registers read, or the libmodbus errno of the failure.
    std::pair<std::vector<uint16_t>, int> Holding(int address, int count) {
        std::vector<uint16_t> values(static_cast<size_t>(count));
        errno = 0;
        if (modbus_read_registers(ctx_, address, count, values.data()) != count) return {{}, errno};
        return {values, 0};
    }

private:
    modbus_t* ctx_;
    bool connected_ = false;
};

// Sends the read of holding registers 0..2 and returns what came back.
Bytes AskHolding(RawLine& line, size_t count = kHoldingAnswer.size()) {
    line.Send(kReadHolding);
    return line.Receive(count, Ms(2000));
}

size_t LineCount(const std::string& text) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

} // namespace

TEST(ModbusSimHelpers, TestCrcMatchesTheModbusCheckValue) {
    const Bytes text{'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(TestCrc(text), 0x4B37);
}

TEST(ModbusSimPty, ReadsEveryTableThroughLibmodbus) {
    auto sim = StartDefault(false);
    Master master(sim->Link(), 1);
    ASSERT_TRUE(master.Connected());

    EXPECT_EQ(master.Holding(0, 3).first, (std::vector<uint16_t>{10, 20, 30}));
    uint16_t input[2] = {};
    ASSERT_EQ(modbus_read_input_registers(*master, 100, 2, input), 2);
    EXPECT_EQ(input[0], 7);
    EXPECT_EQ(input[1], 8);
    uint8_t coils[3] = {};
    ASSERT_EQ(modbus_read_bits(*master, 0, 3, coils), 3);
    EXPECT_EQ(coils[0] + 2 * coils[1] + 4 * coils[2], 5);
    uint8_t discrete[2] = {};
    ASSERT_EQ(modbus_read_input_bits(*master, 5, 2, discrete), 2);
    EXPECT_EQ(discrete[0], 0);
    EXPECT_EQ(discrete[1], 1);

    // Outside the configured span, and a table with no values at all.
    EXPECT_EQ(master.Holding(2, 2).second, EMBXILADD);
    auto bare = Start(false, {"--holding", "0=1"});
    Master other(bare->Link(), 1);
    ASSERT_EQ(modbus_read_input_registers(*other, 0, 1, input), -1);
    EXPECT_EQ(errno, EMBXILADD);
}

TEST(ModbusSimPty, WritesChangeTheTablesAndAreLogged) {
    auto sim = StartDefault(false);
    Master master(sim->Link(), 1);
    ASSERT_TRUE(master.Connected());

    ASSERT_EQ(modbus_write_bit(*master, 1, 1), 1);
    ASSERT_EQ(modbus_write_register(*master, 2, 0xBEEF), 1);
    const uint16_t values[2] = {111, 222};
    ASSERT_EQ(modbus_write_registers(*master, 0, 2, values), 2);

    EXPECT_EQ(master.Holding(0, 3).first, (std::vector<uint16_t>{111, 222, 0xBEEF}));
    uint8_t coil = 0;
    ASSERT_EQ(modbus_read_bits(*master, 1, 1, &coil), 1);
    EXPECT_EQ(coil, 1);
    // A write outside the table is refused by libmodbus and logged as such.
    EXPECT_EQ(modbus_write_register(*master, 50, 1), -1);

    ASSERT_TRUE(WaitUntil([&] { return LineCount(sim->Log()) == 4; }, Ms(3000))) << sim->Log();
    EXPECT_EQ(sim->Log(), "slave=1 function=5 address=1 values=1 result=ok\n"
                          "slave=1 function=6 address=2 values=48879 result=ok\n"
                          "slave=1 function=16 address=0 values=111,222 result=ok\n"
                          "slave=1 function=6 address=50 values=1 result=exception:2\n");
}

TEST(ModbusSimPty, ServesSeveralSlavesOnOneLineFromADataFile) {
    TempDir files;
    WriteFile(files.Path("data"), "# two meters\nslave 3\nholding 0=33\n\nslave 7\nholding 0=77,78 # tail\n");
    auto sim = Start(false, {"--config", files.Path("data")});
    Master master(sim->Link(), 3);
    ASSERT_TRUE(master.Connected());

    EXPECT_EQ(master.Holding(0, 1).first, std::vector<uint16_t>{33});
    master.Slave(7);
    EXPECT_EQ(master.Holding(0, 2).first, (std::vector<uint16_t>{77, 78}));
    // Nobody answers for an address not served.
    master.Slave(1);
    EXPECT_EQ(master.Holding(0, 1).second, ETIMEDOUT);
    master.Slave(3);
    EXPECT_EQ(master.Holding(0, 1).first, std::vector<uint16_t>{33});
}

TEST(ModbusSimPty, FaultsAsLibmodbusSeesThem) {
    auto sim = StartDefault(false);
    Master master(sim->Link(), 1);
    ASSERT_TRUE(master.Connected());

    // A fault without "once" lasts until it is switched off.
    for (const auto& [fault, error] : {std::pair{"badcrc", EMBBADCRC}, std::pair{"silent", ETIMEDOUT}}) {
        ASSERT_EQ(sim->Command(std::string(fault) + " on"), "OK");
        EXPECT_EQ(master.Holding(0, 1).second, error) << fault;
        EXPECT_EQ(master.Holding(0, 1).second, error) << fault;
        ASSERT_EQ(sim->Command(std::string(fault) + " off"), "OK");
        EXPECT_EQ(master.Holding(0, 1).first, std::vector<uint16_t>{10}) << fault;
    }

    // A forced exception answers instead of acting: the register keeps its value.
    ASSERT_EQ(sim->Command("exception 4 once"), "OK");
    EXPECT_EQ(modbus_write_register(*master, 0, 99), -1);
    EXPECT_EQ(errno, EMBXSFAIL);
    EXPECT_EQ(master.Holding(0, 1).first, std::vector<uint16_t>{10});
    ASSERT_TRUE(WaitUntil([&] { return LineCount(sim->Log()) == 1; }, Ms(3000)));
    EXPECT_EQ(sim->Log(), "slave=1 function=6 address=0 values=99 result=exception:4\n");

    ASSERT_EQ(sim->Command("wrongslave 9 once"), "OK");
    EXPECT_EQ(master.Holding(0, 1).second, EMBBADSLAVE);
    EXPECT_EQ(master.Holding(0, 1).first, std::vector<uint16_t>{10});

    // A split shorter than libmodbus's byte time-out still makes one good answer.
    ASSERT_EQ(sim->Command("split 100"), "OK");
    EXPECT_EQ(master.Holding(0, 3).first, (std::vector<uint16_t>{10, 20, 30}));
}

TEST(ModbusSimPty, RawLineCarriesExactlyLibmodbusAnswers) {
    auto sim = StartDefault(false);
    RawLine line = RawLine::Pty(sim->Link());
    ASSERT_TRUE(line.IsOpen());
    EXPECT_EQ(AskHolding(line), kHoldingAnswer);

    ASSERT_EQ(sim->Command("garbage-after 55AA once"), "OK");
    Bytes expected = kHoldingAnswer;
    expected.insert(expected.end(), {0x55, 0xAA});
    EXPECT_EQ(AskHolding(line, expected.size()), expected);

    // A request with a bad CRC is not answered; the next good one is.
    Bytes corrupt = kReadHolding;
    corrupt.back() ^= 1;
    line.Send(corrupt);
    EXPECT_TRUE(line.Receive(1, Ms(300)).empty());
    EXPECT_EQ(AskHolding(line), kHoldingAnswer);
}

TEST(ModbusSimControl, SetAndAnimateChangeValues) {
    auto sim = Start(
        false, {"--holding", "0=1", "--input", "0=0", "--animate=50", "--slave", "2", "--holding", "4=0"});
    Master master(sim->Link(), 1);
    ASSERT_TRUE(master.Connected());

    EXPECT_EQ(sim->Command("set holding 0 -2"), "OK");
    EXPECT_EQ(master.Holding(0, 1).first, std::vector<uint16_t>{65534});
    EXPECT_EQ(sim->Command("set holding 4 5 2"), "OK");
    master.Slave(2);
    EXPECT_EQ(master.Holding(4, 1).first, std::vector<uint16_t>{5});

    master.Slave(1);
    uint16_t first = 0;
    ASSERT_EQ(modbus_read_input_registers(*master, 0, 1, &first), 1);
    EXPECT_TRUE(WaitUntil(
        [&] {
            uint16_t now = first;
            return modbus_read_input_registers(*master, 0, 1, &now) == 1 && now != first;
        },
        Ms(3000)));
}

TEST(ModbusSimControl, RejectsBadCommandsWithAReason) {
    auto sim = StartDefault(false);
    EXPECT_EQ(sim->Command("frobnicate"), "ERR unknown command 'frobnicate'");
    EXPECT_EQ(sim->Command("drop-mid on"), "ERR drop-mid needs a TCP line (--tcp)");
    EXPECT_EQ(sim->Command("exception 99").rfind("ERR bad CODE", 0), 0u);
    EXPECT_EQ(sim->Command("badcrc on twice").rfind("ERR usage", 0), 0u);
    EXPECT_EQ(sim->Command("garbage-before 5G").rfind("ERR bad hex", 0), 0u);
    EXPECT_EQ(sim->Command("set holding 9 1"), "ERR address 9 is outside the holding table of slave 1");
    EXPECT_EQ(sim->Command("set coils 0 2"), "ERR value 2 does not fit the coils table");
    EXPECT_EQ(sim->Command("set holding 0 1 5"), "ERR no slave 5");
    // Still serving after all that.
    RawLine line = RawLine::Pty(sim->Link());
    EXPECT_EQ(AskHolding(line), kHoldingAnswer);
}

TEST(ModbusSimTcp, CarriesRtuFramesAndLogsWrites) {
    auto sim = StartDefault(true);
    RawLine line = RawLine::Tcp(sim->Port());
    ASSERT_TRUE(line.IsOpen());
    EXPECT_EQ(AskHolding(line), kHoldingAnswer);

    const Bytes write_one = WithCrc({1, 6, 0, 1, 0x12, 0x34});
    line.Send(write_one);
    EXPECT_EQ(line.Receive(write_one.size(), Ms(2000)), write_one);
    const Bytes write_two = WithCrc({1, 16, 0, 1, 0, 2, 4, 0, 5, 0xFF, 0xFF});
    line.Send(write_two);
    EXPECT_EQ(line.Receive(8, Ms(2000)), WithCrc({1, 16, 0, 1, 0, 2}));
    EXPECT_EQ(AskHolding(line, 11), WithCrc({1, 3, 6, 0, 10, 0, 5, 0xFF, 0xFF}));

    // A broadcast write acts without an answer.
    line.Send(WithCrc({0, 6, 0, 0, 0, 77}));
    EXPECT_TRUE(line.Receive(1, Ms(300)).empty());
    EXPECT_EQ(AskHolding(line, 11), WithCrc({1, 3, 6, 0, 77, 0, 5, 0xFF, 0xFF}));

    ASSERT_TRUE(WaitUntil([&] { return LineCount(sim->Log()) == 3; }, Ms(3000)));
    EXPECT_EQ(sim->Log(), "slave=1 function=6 address=1 values=4660 result=ok\n"
                          "slave=1 function=16 address=1 values=5,65535 result=ok\n"
                          "slave=0 function=6 address=0 values=77 result=broadcast\n");
}

TEST(ModbusSimTcp, FaultsBendTheRawAnswer) {
    auto sim = StartDefault(true);
    RawLine line = RawLine::Tcp(sim->Port());
    ASSERT_EQ(sim->Command("wrongslave 42 once"), "OK");
    EXPECT_EQ(AskHolding(line), WithCrc({42, 3, 6, 0, 10, 0, 20, 0, 30}));

    ASSERT_EQ(sim->Command("badcrc on once"), "OK");
    const Bytes bad = AskHolding(line);
    ASSERT_EQ(bad.size(), kHoldingAnswer.size());
    EXPECT_TRUE(std::equal(bad.begin(), bad.end() - 2, kHoldingAnswer.begin()));
    EXPECT_NE(Bytes(bad.end() - 2, bad.end()), Bytes(kHoldingAnswer.end() - 2, kHoldingAnswer.end()));

    ASSERT_EQ(sim->Command("exception 2 once"), "OK");
    EXPECT_EQ(AskHolding(line, 5), WithCrc({1, 0x83, 2}));

    ASSERT_EQ(sim->Command("garbage-before 00FF"), "OK");
    ASSERT_EQ(sim->Command("garbage-after 13"), "OK");
    Bytes expected{0x00, 0xFF};
    expected.insert(expected.end(), kHoldingAnswer.begin(), kHoldingAnswer.end());
    expected.push_back(0x13);
    EXPECT_EQ(AskHolding(line, expected.size()), expected);
    EXPECT_EQ(AskHolding(line, expected.size()), expected);

    ASSERT_EQ(sim->Command("clear"), "OK");
    EXPECT_EQ(AskHolding(line), kHoldingAnswer);
}

TEST(ModbusSimTcp, SplitAnswerArrivesInTwoPartsWithAPause) {
    auto sim = StartDefault(true);
    RawLine line = RawLine::Tcp(sim->Port());
    ASSERT_EQ(sim->Command("split 300"), "OK");
    line.Send(kReadHolding);
    const auto reads = line.ReceiveReads(kHoldingAnswer.size(), Ms(3000));

    Bytes all;
    size_t before_gap = 0;
    Clock::duration gap{};
    for (size_t i = 0; i < reads.size(); ++i) {
        if (i > 0 && reads[i].first - reads[i - 1].first > gap) {
            gap = reads[i].first - reads[i - 1].first;
            before_gap = all.size();
        }
        all.insert(all.end(), reads[i].second.begin(), reads[i].second.end());
    }
    EXPECT_EQ(all, kHoldingAnswer);
    EXPECT_EQ(before_gap, kHoldingAnswer.size() / 2);
    EXPECT_GE(gap, Ms(200));
}

TEST(ModbusSimTcp, DropMidClosesTheConnectionHalfWay) {
    auto sim = StartDefault(true);
    {
        RawLine line = RawLine::Tcp(sim->Port());
        ASSERT_EQ(sim->Command("drop-mid on once"), "OK");
        line.Send(kReadHolding);
        const Bytes half = line.Receive(kHoldingAnswer.size(), Ms(3000));
        EXPECT_TRUE(line.PeerClosed());
        EXPECT_EQ(half, Bytes(kHoldingAnswer.begin(), kHoldingAnswer.begin() + kHoldingAnswer.size() / 2));
    }
    RawLine again = RawLine::Tcp(sim->Port());
    EXPECT_EQ(AskHolding(again), kHoldingAnswer);
}

TEST(ModbusSimTcp, NewConnectionTakesTheLineOver) {
    auto sim = StartDefault(true);
    RawLine first = RawLine::Tcp(sim->Port());
    ASSERT_EQ(AskHolding(first), kHoldingAnswer);
    RawLine second = RawLine::Tcp(sim->Port());
    EXPECT_EQ(AskHolding(second), kHoldingAnswer);
    EXPECT_TRUE(first.Receive(1, Ms(2000)).empty());
    EXPECT_TRUE(first.PeerClosed());
}

TEST(ModbusSimLifecycle, StopsByItself) {
    TempDir dir;
    SimProcess timed({"--tcp", "0", "--lifetime", "1"}, dir.Path("err1"), false);
    ASSERT_FALSE(timed.Ready().empty());
    EXPECT_EQ(timed.WaitExit(Ms(5000)), 0);

    SimProcess reader({"--tcp", "0", "--exit-on-stdin-eof"}, dir.Path("err2"));
    ASSERT_FALSE(reader.Ready().empty());
    reader.CloseStdin();
    EXPECT_EQ(reader.WaitExit(Ms(5000)), 0);

    const std::string link = dir.Path("line");
    SimProcess told({"--pty", link, "--control-port", "0"}, dir.Path("err3"));
    ASSERT_EQ(told.Ready(), link);
    EXPECT_EQ(told.Command("quit"), "OK");
    EXPECT_EQ(told.WaitExit(Ms(5000)), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

TEST(ModbusSimLifecycle, BadUsageIsRefusedWithAMessage) {
    TempDir dir;
    WriteFile(dir.Path("data"), "slave 2\nholding 0=1\nregisters 0=1\n");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--holding", "0=1"}, "give exactly one of --pty LINK and --tcp PORT"},
        {{"--tcp", "0", "--holding", "0=70000"}, "value 70000 does not fit the holding table"},
        {{"--tcp", "0", "--coils", "0=1*0"}, "bad coils values '0=1*0'"},
        {{"--tcp", "0", "--slave", "0"}, "slave address 0 is not 1..255"},
        {{"--tcp", "0", "--config", dir.Path("data")}, dir.Path("data") + ":3: unknown keyword 'registers'"},
        {{"--tcp", "0", "--frob"}, "unknown option '--frob'"},
    };
    for (const auto& [args, message] : cases) {
        SimProcess sim(args, dir.Path("stderr"));
        EXPECT_TRUE(sim.Ready().empty());
        EXPECT_EQ(sim.WaitExit(Ms(5000)), 2);
        EXPECT_NE(ReadFile(dir.Path("stderr")).find(message), std::string::npos)
            << ReadFile(dir.Path("stderr"));
    }
}
