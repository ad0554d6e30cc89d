// The exchange area between two real processes: this test process and intercom_peer.
#include <gtest/gtest.h>

#include <thread>

#include "framework/intercom.h"
#include "intercom_test_support.h"

using namespace framework;
using namespace intercom_test;

namespace {

class IntercomProcessTest : public IntercomTest {
protected:
    IntercomProcessTest() : IntercomTest("icproc") {}
};

TEST_F(IntercomProcessTest, BothSidesSeeEachOthersWrites) {
    auto module = TIntercomInterface::Create(2, "Quillary.dat");
    ASSERT_TRUE(module->IsOpen());
    module->OstrolinkaInfo.SetName("Quillary");
    ASSERT_TRUE(module->DMLVariablesList.Add(MakeInfo(1, "PLC1: a", 1.0f)));
    ASSERT_TRUE(module->DMLVariablesList.Add(MakeInfo(2, "PLC1: b", 2.0f)));

    TPeer server;
    ASSERT_TRUE(server.Start());
    ASSERT_EQ(server.Ask("open Quillary.dat"), "open 1");
    EXPECT_EQ(server.Ask("name"), "name Quillary");

    ASSERT_EQ(server.Ask("setvalue 1 42.5"), "setvalue 1");
    TDMLVariableEntry e{};
    ASSERT_TRUE(module->DMLVariablesList.Read(1, e));
    EXPECT_EQ(+e.Value, 42.5f);
    e.LastSent = 7.0f;
    ASSERT_TRUE(module->DMLVariablesList.Commit(1, e));
    EXPECT_EQ(server.Ask("read 1"), "read 1 42.5 7");
    EXPECT_EQ(server.Ask("setvalue 2 1"), "setvalue 0");

    const std::string slot = server.Ask("slot");
    ASSERT_EQ(slot.rfind("slot ", 0), 0u) << slot;
    EXPECT_EQ(std::to_string(module->ServerData.GetProcessId()), slot.substr(5));

    EXPECT_EQ(server.Ask("error -3 hello"), "error 1");
    auto errors = std::make_unique<TServerErrorRegion>();
    module->ServerErrorList.ReadAll(*errors, true);
    ASSERT_EQ(+errors->Count, 1);
    EXPECT_EQ(+errors->Records[0].Code, -3);
    EXPECT_EQ(errors->Records[0].Text.Get(), "hello");
    EXPECT_TRUE(server.Quit());
}

TEST_F(IntercomProcessTest, LockByteExcludesAcrossProcesses) {
    auto module = TIntercomInterface::Create(0, "Quillary.dat");
    ASSERT_TRUE(module->IsOpen());
    TRawBlock raw;
    ASSERT_TRUE(raw.Open("Quillary.dat"));
    TPeer a, b;
    ASSERT_TRUE(a.Start());
    ASSERT_TRUE(b.Start());
    ASSERT_EQ(a.Ask("open Quillary.dat"), "open 1");
    ASSERT_EQ(b.Ask("open Quillary.dat"), "open 1");

    constexpr int kRounds = 20000;
    a.Send("lockloop " + std::to_string(kRounds));
    b.Send("lockloop " + std::to_string(kRounds));
    uint8_t* lock = raw.At(Terminal(0, 2) + 8);
    const std::size_t counter = Terminal(0, 2) + 12 + 260;
    for (int i = 0; i < kRounds; ++i) {
        ASSERT_TRUE(LockRegion(lock));
        raw.Put<int32_t>(counter, raw.I32(counter) + 1);
        UnlockRegion(lock);
    }
    EXPECT_EQ(a.ReadLine(), "lockloop done");
    EXPECT_EQ(b.ReadLine(), "lockloop done");
    EXPECT_EQ(raw.I32(counter), 3 * kRounds); // no increment lost to a rival holder
    EXPECT_EQ(raw.U8(Terminal(0, 2) + 8), 0);
}

TEST_F(IntercomProcessTest, CommandHandshakeRunsAcrossProcesses) {
    auto module = TIntercomInterface::Create(0, "Quillary.dat");
    ASSERT_TRUE(module->IsOpen());
    TPeer server;
    ASSERT_TRUE(server.Start());
    ASSERT_EQ(server.Ask("open Quillary.dat"), "open 1");

    server.Send("take"); // waits for the batch
    TCommandRecord c{};
    c.Device = 8;
    c.Value = 12.5f;
    ASSERT_TRUE(module->CommandsList.Add(c));
    c.Value = 13.5f;
    ASSERT_TRUE(module->CommandsList.Add(c));
    module->CommandsList.SetDeviceName("PLC1");
    ASSERT_TRUE(module->CommandsList.Publish());
    EXPECT_EQ(server.ReadLine(), "taken 2 8 PLC1 12.5");
    EXPECT_EQ(module->CommandsList.GetFlag(), csTaken);
    EXPECT_EQ(server.Ask("finish"), "finished");
    EXPECT_EQ(module->CommandsList.GetFlag(), csDone);
    ASSERT_TRUE(module->CommandsList.Init());
    EXPECT_EQ(server.Ask("flag"), "flag 0");
    EXPECT_TRUE(server.Quit());
}

TEST_F(IntercomProcessTest, SecondCreatorMeetsAnExistingBlock) {
    auto module = TIntercomInterface::Create(1, "Quillary.dat");
    ASSERT_TRUE(module->IsOpen());
    module->OstrolinkaInfo.SetName("first");
    TPeer other;
    ASSERT_TRUE(other.Start());
    EXPECT_EQ(other.Ask("create 1 Quillary.dat"), "create 0");
    EXPECT_EQ(other.Ask("name"), "name ");
    EXPECT_EQ(other.Ask("setvalue 0 1"), "setvalue 0");
    EXPECT_EQ(other.Ask("flag"), "flag 0");
    EXPECT_TRUE(other.Quit());
    EXPECT_EQ(module->OstrolinkaInfo.GetName(), "first");
}

TEST_F(IntercomProcessTest, BlockOutlivesItsKilledCreatorOnlyWhileHeld) {
    TPeer creator, holder;
    ASSERT_TRUE(creator.Start());
    ASSERT_TRUE(holder.Start());
    ASSERT_EQ(creator.Ask("create 0 Quillary.dat"), "create 1");
    ASSERT_EQ(creator.Ask("setname old"), "setname");
    ASSERT_EQ(holder.Ask("open Quillary.dat"), "open 1");

    creator.Kill();
    EXPECT_FALSE(TIntercomInterface::Create(0, "Quillary.dat")->IsOpen());
    EXPECT_EQ(holder.Ask("name"), "name old");
    EXPECT_TRUE(TIntercomInterface::Open("Quillary.dat")->IsOpen());

    holder.Kill(); // nobody holds the block now, and nobody removed it
    EXPECT_FALSE(TIntercomInterface::Open("Quillary.dat")->IsOpen());
    auto fresh = TIntercomInterface::Create(0, "Quillary.dat");
    ASSERT_TRUE(fresh->IsOpen());
    EXPECT_EQ(fresh->OstrolinkaInfo.GetName(), "");
}

} // namespace
