// The block as the other process sees it: every check reads raw bytes at offsets taken from the
// layout tables, not from the project's records.
#include <gtest/gtest.h>

#include <cmath>

#include "framework/intercom.h"
#include "intercom_test_support.h"

using namespace framework;
using namespace intercom_test;

namespace {

class IntercomLayoutTest : public IntercomTest {
protected:
    IntercomLayoutTest() : IntercomTest("iclayout") {}
};

TEST_F(IntercomLayoutTest, FreshBlockSizesAndInitialRegions) {
    for (int32_t n : {0, 3}) {
        SCOPED_TRACE(n);
        auto area = TIntercomInterface::Create(n, "Quillary.dat");
        ASSERT_TRUE(area->IsOpen());
        TRawBlock raw;
        ASSERT_TRUE(raw.Open("Quillary.dat"));
        ASSERT_EQ(raw.Size(), Total(n));

        // Stamped regions: 1, 2, 3, 5, 6; region 4 and the terminals have none.
        EXPECT_TRUE(raw.IsStamp(kStatus));
        EXPECT_TRUE(raw.IsStamp(kSlots));
        EXPECT_TRUE(raw.IsStamp(kStatic));
        EXPECT_TRUE(raw.IsStamp(Dynamic(n)));
        EXPECT_TRUE(raw.IsStamp(Commands(n)));

        EXPECT_EQ(raw.I32(kStatic + 256), 0);  // Count
        EXPECT_EQ(raw.I32(kStatic + 260), -1); // reserved word
        EXPECT_EQ(raw.I32(Errors(n) + 0), 0);
        EXPECT_EQ(raw.U8(Errors(n) + 4), 0);
        EXPECT_EQ(raw.I32(Errors(n) + 8), 0);
        EXPECT_EQ(raw.I32(Dynamic(n) + 256), 0);

        // The command region starts idle and empty, Device -1, time stamped.
        EXPECT_EQ(raw.Short(Commands(n) + 256), "");
        EXPECT_EQ(raw.I32(Commands(n) + 512), -1);
        EXPECT_LT(std::fabs(raw.Get<double>(Commands(n) + 520) - platform::Now()), 1.0 / 86400 * 5);
        EXPECT_EQ(raw.I32(Commands(n) + 528), 0);
        EXPECT_EQ(raw.U8(Commands(n) + 532), 0);
        for (std::size_t i = 9048; i < 9584; ++i)
            ASSERT_EQ(raw.U8(Commands(n) + i), 0) << i;

        for (int t = 0; t < 3; ++t) {
            EXPECT_EQ(raw.I32(Terminal(n, t) + 0), 0);
            EXPECT_EQ(raw.I32(Terminal(n, t) + 4), -1);
            EXPECT_EQ(raw.U8(Terminal(n, t) + 8), 0);
            EXPECT_EQ(raw.U8(Terminal(n, t) + 280), 0);
        }
    }
}

TEST_F(IntercomLayoutTest, WrappersWriteAtTheTableOffsets) {
    constexpr std::size_t n = 3;
    auto area = TIntercomInterface::Create(n, "Quillary.dat");
    ASSERT_TRUE(area->IsOpen());
    TRawBlock raw;
    ASSERT_TRUE(raw.Open("Quillary.dat"));

    area->OstrolinkaInfo.SetName("Quillary");
    area->OstrolinkaInfo.SetState(2);
    area->OstrolinkaInfo.SetPrefixes("PLC1:PLC2:");
    area->OstrolinkaInfo.SetTransactionId(4711);
    area->OstrolinkaInfo.SetHostWindow(0x1234);
    EXPECT_EQ(raw.Short(256), "Quillary");
    EXPECT_EQ(raw.U8(512), 2);
    EXPECT_EQ(raw.Short(513), "PLC1:PLC2:");
    EXPECT_EQ(raw.I32(769), 4711);
    EXPECT_EQ(raw.I32(773), 0x1234);

    area->ServerData.SetProcessId(99);
    area->ServerData.SetWindow(77);
    area->ServerData.SetTransactionId(65536);
    area->ServerData.SetRunFlag(1);
    EXPECT_EQ(raw.I32(kSlots + 256), 99);
    EXPECT_EQ(raw.I32(kSlots + 256 + 4), 77);
    EXPECT_EQ(raw.I32(kSlots + 256 + 264), 65536);
    EXPECT_EQ(raw.U8(kSlots + 256 + 268), 1);
    ServerSlotIndex = 31;
    area->ServerData.SetWindow(55);
    EXPECT_EQ(raw.I32(kSlots + 256 + 269 * 31 + 4), 55);
    EXPECT_EQ(area->ServerData.GetSlotWindow(31), 55);

    // Static tags: entry i at 264 + 777 i; Value and LastSent start from the record's value.
    ASSERT_TRUE(area->DMLVariablesList.Add(MakeInfo(10, "PLC1: coil.1", 1.5f)));
    ASSERT_TRUE(area->DMLVariablesList.Add(MakeInfo(11, "PLC1: coil.2", 2.5f)));
    ASSERT_TRUE(area->DMLVariablesList.SetValue(1, 45000.5, 8.25f));
    const std::size_t e1 = kStatic + 264 + 777;
    EXPECT_EQ(raw.I32(kStatic + 256), 2);
    EXPECT_EQ(raw.Get<float>(e1 + 0), 8.25f);
    EXPECT_EQ(raw.Get<float>(e1 + 4), 2.5f);
    EXPECT_EQ(raw.Get<double>(e1 + 8), 45000.5);
    EXPECT_EQ(raw.I32(e1 + 16), 11);
    EXPECT_STREQ(reinterpret_cast<const char*>(raw.At(e1 + 16 + 45)), "PLC1: coil.2");
    EXPECT_EQ(raw.Get<float>(e1 + 16 + 656), 2.5f);

    area->ServerErrorList.Add(-21, "boom");
    EXPECT_EQ(raw.I32(Errors(n) + 0), 1); // Sequence
    EXPECT_EQ(raw.I32(Errors(n) + 8), 1); // Count
    EXPECT_EQ(raw.I32(Errors(n) + 16), -21);
    EXPECT_EQ(raw.Short(Errors(n) + 16 + 16), "boom");

    ASSERT_TRUE(area->DynemicVariablesList.Register(" speed ", false, 3.0f, 45001.0));
    EXPECT_EQ(raw.I32(Dynamic(n) + 256), 1);
    EXPECT_EQ(raw.Short(Dynamic(n) + 260), "SPEED");
    EXPECT_EQ(raw.Get<float>(Dynamic(n) + 260 + 256), 3.0f);
    EXPECT_EQ(raw.Get<double>(Dynamic(n) + 260 + 260), 45001.0);
    EXPECT_EQ(raw.I32(Dynamic(n) + 260 + 268), -1);

    TCommandRecord c{};
    c.VariableId = 5;
    c.Device = 7;
    c.TagAddress = 40001;
    c.Value = 12.0f;
    c.OldValue = 11.0f;
    ASSERT_TRUE(area->CommandsList.Add(c));
    c.Device = 8;
    ASSERT_TRUE(area->CommandsList.Add(c));
    area->CommandsList.SetDeviceName("plc1");
    ASSERT_TRUE(area->CommandsList.Publish());
    EXPECT_EQ(raw.Short(Commands(n) + 256), "plc1");
    EXPECT_EQ(area->CommandsList.GetDeviceName(), "PLC1");
    EXPECT_EQ(raw.I32(Commands(n) + 512), 8); // from the last command added
    EXPECT_EQ(raw.I32(Commands(n) + 528), 2);
    EXPECT_EQ(raw.U8(Commands(n) + 532), 1);
    EXPECT_EQ(raw.I32(Commands(n) + 536 + 532 + 260), 8);
    EXPECT_EQ(raw.I32(Commands(n) + 536 + 264), 40001);
    EXPECT_EQ(raw.Get<float>(Commands(n) + 536 + 524), 12.0f);
    EXPECT_EQ(raw.Get<float>(Commands(n) + 536 + 528), 11.0f);

    area->RemoteTerminal.SetOwner(4);
    area->RemoteTerminal.WriteText("trace");
    TTerminalParams p{};
    p.PortName.Set("COM3");
    p.LinkState = 1;
    p.Frequency = 250;
    p.Interval = 40;
    ASSERT_TRUE(area->RemoteTerminal.WriteParams(4, p));
    const std::size_t t = Terminal(n, 2);
    EXPECT_EQ(raw.I32(t + 0), 1);
    EXPECT_EQ(raw.I32(t + 4), 4);
    EXPECT_EQ(raw.Short(t + 12), "COM3");
    EXPECT_EQ(raw.U8(t + 12 + 256), 1);
    EXPECT_EQ(raw.I32(t + 12 + 260), 250);
    EXPECT_EQ(raw.I32(t + 12 + 264), 40);
    EXPECT_STREQ(reinterpret_cast<const char*>(raw.At(t + 280)), "trace");
    // The other terminals are untouched.
    EXPECT_EQ(raw.I32(Terminal(n, 0)), 0);
    EXPECT_EQ(raw.I32(Terminal(n, 1)), 0);
}

TEST_F(IntercomLayoutTest, ServerFindsRegionsFromTheBlockSize) {
    // Three tags of room, one bound: the stored Count (1) is not the room (3).
    auto module = TIntercomInterface::Create(3, "Quillary.dat");
    ASSERT_TRUE(module->IsOpen());
    ASSERT_TRUE(module->DMLVariablesList.Add(MakeInfo(1, "PLC1: a")));

    auto server = TIntercomInterface::Open("Quillary.dat");
    ASSERT_TRUE(server->IsOpen());
    EXPECT_FALSE(server->IsCreator());
    EXPECT_EQ(server->DMLVariablesList.GetCount(), 1);
    server->ServerErrorList.Add(-5, "from server");
    server->RemoteTerminal.WriteText("remote");

    TRawBlock raw;
    ASSERT_TRUE(raw.Open("Quillary.dat"));
    EXPECT_EQ(Errors(3), 12236u);
    EXPECT_EQ(raw.I32(12236 + 8), 1);
    EXPECT_EQ(raw.I32(12236 + 16), -5);
    EXPECT_STREQ(reinterpret_cast<const char*>(raw.At(Terminal(3, 2) + 280)), "remote");
    EXPECT_EQ(module->ServerErrorList.GetCount(), 1);
    EXPECT_EQ(TerminalText(module->RemoteTerminal), "remote");

    // The server's attach rewrites the static-tag stamp and reserved word only.
    raw.Put<int32_t>(kStatic + 260, 5);
    raw.At(kStatic + 3)[0] = 'x';
    raw.Put<int32_t>(Commands(3) + 512, 42);
    auto again = TIntercomInterface::Open("Quillary.dat");
    ASSERT_TRUE(again->IsOpen());
    EXPECT_EQ(raw.I32(kStatic + 260), -1);
    EXPECT_TRUE(raw.IsStamp(kStatic));
    EXPECT_EQ(raw.I32(Commands(3) + 512), 42);
    EXPECT_EQ(raw.I32(Errors(3) + 8), 1);
    EXPECT_EQ(raw.I32(Dynamic(3) + 256), 0);
}

TEST_F(IntercomLayoutTest, BlocksThatFitNoLayoutAreNotOpened) {
    {
        // One byte short of a layout.
        platform::TSharedMemory odd;
        ASSERT_EQ(odd.Create("Quillary.dat", Total(2) - 1), platform::TSharedMemoryResult::Ok);
        EXPECT_FALSE(TIntercomInterface::Open("Quillary.dat")->IsOpen());
    }
    {
        platform::TSharedMemory small;
        ASSERT_EQ(small.Create("Quillary.dat", 1000), platform::TSharedMemoryResult::Ok);
        EXPECT_FALSE(TIntercomInterface::Open("Quillary.dat")->IsOpen());
    }
    auto module = TIntercomInterface::Create(2, "Quillary.dat");
    ASSERT_TRUE(module->IsOpen());
    TRawBlock raw;
    ASSERT_TRUE(raw.Open("Quillary.dat"));
    raw.Put<int32_t>(kStatic + 256, 3); // more tags than the block has room for
    auto server = TIntercomInterface::Open("Quillary.dat");
    EXPECT_FALSE(server->IsOpen());
    EXPECT_EQ(server->DMLVariablesList.GetCount(), 0);
    raw.Put<int32_t>(kStatic + 256, 2);
    EXPECT_TRUE(TIntercomInterface::Open("Quillary.dat")->IsOpen());
    EXPECT_FALSE(TIntercomInterface::Open("Other.dat")->IsOpen());
}

} // namespace
