#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <thread>

#include "framework/intercom.h"
#include "intercom_test_support.h"
#include "platform/text.h"

using namespace framework;
using namespace intercom_test;

namespace {

class IntercomAccessTest : public IntercomTest {
protected:
    IntercomAccessTest() : IntercomTest("icaccess") {}
    void SetUp() override {
        IntercomTest::SetUp();
        area = TIntercomInterface::Create(4, "Quillary.dat");
        ASSERT_TRUE(area->IsOpen());
        ASSERT_TRUE(raw.Open("Quillary.dat"));
    }

    std::unique_ptr<TIntercomInterface> area;
    TRawBlock raw;
};

TEST_F(IntercomAccessTest, SecondCreationHasNoViewAndAnswersDefaults) {
    area->OstrolinkaInfo.SetName("first");
    auto second = TIntercomInterface::Create(4, "Quillary.dat");
    ASSERT_FALSE(second->IsOpen());
    EXPECT_TRUE(second->IsCreator());

    EXPECT_EQ(second->OstrolinkaInfo.GetName(), "");
    EXPECT_EQ(second->OstrolinkaInfo.GetState(), 0);
    EXPECT_EQ(second->OstrolinkaInfo.GetTransactionId(), 0);
    EXPECT_EQ(second->OstrolinkaInfo.GetHostWindow(), 0);
    EXPECT_EQ(second->ServerData.GetProcessId(), 0);
    EXPECT_EQ(second->ServerData.GetWindow(), 0);
    EXPECT_EQ(second->ServerData.GetRunFlag(), 0);
    EXPECT_EQ(second->ServerData.GetSlotWindow(0), 0);
    EXPECT_EQ(second->DMLVariablesList.GetCount(), 0);
    EXPECT_FALSE(second->DMLVariablesList.Add(MakeInfo(1, "PLC: a")));
    TDMLVariableEntry e{};
    EXPECT_FALSE(second->DMLVariablesList.Read(0, e));
    EXPECT_FALSE(second->DMLVariablesList.SetValue(0, 1.0, 1.0f));
    EXPECT_FALSE(second->DMLVariablesList.Commit(0, e));
    EXPECT_EQ(second->DynemicVariablesList.GetCount(), 0);
    EXPECT_FALSE(second->DynemicVariablesList.Register("X", false, 1.0f, 1.0));
    EXPECT_FALSE(second->CommandsList.Init());
    EXPECT_FALSE(second->CommandsList.Add(TCommandRecord{}));
    EXPECT_FALSE(second->CommandsList.Publish());
    EXPECT_EQ(second->CommandsList.GetCount(), 0);
    EXPECT_EQ(second->CommandsList.GetDevice(), -1);
    EXPECT_EQ(second->CommandsList.GetDeviceName(), "");
    EXPECT_EQ(second->CommandsList.GetFlag(), 0);
    EXPECT_LT(std::fabs(second->CommandsList.GetTime() - platform::Now()), 1.0 / 86400 * 5);
    auto buffer = std::make_unique<TCommandsRegion>();
    std::memset(buffer.get(), 0x5A, sizeof *buffer);
    EXPECT_FALSE(second->CommandsList.CopyTo(*buffer));
    EXPECT_EQ(+buffer->Count, 0);
    EXPECT_EQ(buffer->Stamp.Bytes[0], 0);
    second->ServerErrorList.Add(1, "x");
    EXPECT_EQ(second->ServerErrorList.GetCount(), 0);
    EXPECT_EQ(second->RequestTerminal.GetOwner(), -1);
    EXPECT_EQ(second->RequestTerminal.GetCounter(), 0);
    second->RequestTerminal.WriteText("x");
    EXPECT_EQ(TerminalText(second->RequestTerminal), "");
    TTerminalParams p{};
    EXPECT_FALSE(second->RequestTerminal.ReadParams(-1, p));

    // The first block is untouched by the refused one.
    EXPECT_EQ(area->OstrolinkaInfo.GetName(), "first");
    EXPECT_EQ(area->ServerErrorList.GetCount(), 0);
}

TEST_F(IntercomAccessTest, StatusTextsAreCutAndSlotsOutsideRangeDoNothing) {
    area->OstrolinkaInfo.SetName(std::string(300, 'n'));
    EXPECT_EQ(area->OstrolinkaInfo.GetName(), std::string(255, 'n'));
    area->OstrolinkaInfo.SetPrefixes(std::string(256, 'p'));
    EXPECT_EQ(raw.Short(513), std::string(255, 'p'));
    EXPECT_EQ(raw.I32(769), 0); // the cut prefixes did not spill into TransactionId

    area->ServerData.SetProcessId(12);
    ServerSlotIndex = -1;
    area->ServerData.SetProcessId(13);
    EXPECT_EQ(area->ServerData.GetProcessId(), 0);
    ServerSlotIndex = 32;
    area->ServerData.SetRunFlag(1);
    EXPECT_EQ(area->ServerData.GetRunFlag(), 0);
    EXPECT_EQ(area->ServerData.GetSlotWindow(32), 0);
    EXPECT_EQ(area->ServerData.GetSlotWindow(-1), 0);
    ServerSlotIndex = 0;
    EXPECT_EQ(area->ServerData.GetProcessId(), 12);
    EXPECT_EQ(raw.I32(Errors(4)), 0); // slot 32 would have been past region 2
}

TEST_F(IntercomAccessTest, StaticTagsAddReadAndCommit) {
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(area->DMLVariablesList.Add(MakeInfo(i, "PLC: a", 1.0f + i)));
    EXPECT_FALSE(area->DMLVariablesList.Add(MakeInfo(9, "PLC: a"))); // capacity reached
    EXPECT_EQ(area->DMLVariablesList.GetCount(), 4);
    EXPECT_FALSE(area->DMLVariablesList.SetValue(4, 1.0, 1.0f));
    EXPECT_FALSE(area->DMLVariablesList.SetValue(-1, 1.0, 1.0f));
    TDMLVariableEntry e{};
    EXPECT_FALSE(area->DMLVariablesList.Read(4, e));

    auto server = TIntercomInterface::Open("Quillary.dat");
    ASSERT_TRUE(server->IsOpen());
    EXPECT_EQ(server->DMLVariablesList.Capacity, -1);
    EXPECT_FALSE(server->DMLVariablesList.Add(MakeInfo(9, "PLC: a")));

    // The module reads entry 2, the server stores a newer value, the module commits its delivery.
    ASSERT_TRUE(area->DMLVariablesList.Read(2, e));
    EXPECT_EQ(+e.Value, 3.0f);
    EXPECT_EQ(+e.Info.VariableId, 2);
    ASSERT_TRUE(server->DMLVariablesList.SetValue(2, 45000.25, 99.0f));
    e.LastSent = e.Value;
    e.Value = 3.0f;
    ASSERT_TRUE(area->DMLVariablesList.Commit(2, e));
    TDMLVariableEntry now{};
    ASSERT_TRUE(server->DMLVariablesList.Read(2, now));
    EXPECT_EQ(+now.Value, 99.0f);   // the server's newer value survives
    EXPECT_EQ(+now.Time, 45000.25); // and so does its time
    EXPECT_EQ(+now.LastSent, 3.0f);
}

// A copy made while the other side wrote is not used: copies are taken until two in a row agree,
// and a writer that never stops gives up the read after kMaxSettleReads copies.
TEST(SettledCopy, TheFirstCopyThatTheNextConfirmsAndNoMoreThanTheBound) {
    struct TCase {
        std::vector<uint8_t> seen; // what each copy finds
        bool settled;
        int reads;
    };
    const std::vector<TCase> cases{
        {{7, 7}, true, 2},
        {{1, 2, 3, 3}, true, 4},
        {{1, 2, 1, 2, 1, 2, 1, 2, 2}, false, kMaxSettleReads},
        {{1, 2, 3, 4, 5, 6, 7, 8, 8}, false, kMaxSettleReads},
    };
    for (const TCase& c : cases) {
        int reads = 0;
        uint8_t out[1] = {0};
        EXPECT_EQ(CopySettled(out, [&](uint8_t* to) { to[0] = c.seen.at(reads++); }), c.settled) << reads;
        EXPECT_EQ(reads, c.reads);
        if (c.settled) {
            EXPECT_EQ(out[0], c.seen.back());
        }
    }
}

TEST_F(IntercomAccessTest, DynamicTagsRegisterByTrimmedUpperCaseKey) {
    auto& dyn = area->DynemicVariablesList;
    EXPECT_FALSE(dyn.Register("", false, 1.0f, 1.0));
    EXPECT_FALSE(dyn.Register(" \t ", false, 1.0f, 1.0));
    EXPECT_FALSE(dyn.Register("absent", true, 1.0f, 1.0));
    EXPECT_EQ(dyn.GetCount(), 0);

    const std::string cyr = platform::Cp("скорость");
    ASSERT_TRUE(dyn.Register(cyr, false, 1.0f, 2.0));
    ASSERT_TRUE(dyn.Register(" " + platform::Cp("СКОРОСТЬ") + " ", true, 5.0f, 3.0));
    EXPECT_EQ(dyn.GetCount(), 1);
    TDynamicVariableEntry e{};
    ASSERT_TRUE(dyn.Read(0, e));
    EXPECT_EQ(e.Name.Get(), platform::Cp("СКОРОСТЬ"));
    EXPECT_EQ(+e.Value, 5.0f);
    EXPECT_EQ(+e.Time, 3.0);
    EXPECT_EQ(+e.Info.VariableId, -1);
    EXPECT_FALSE(dyn.Read(1, e));
    EXPECT_FALSE(dyn.Write(1, e));

    // A name longer than the region keeps is one entry, however often it comes.
    const std::string longName(300, 'L');
    ASSERT_TRUE(dyn.Register(longName, false, 1.0f, 1.0));
    ASSERT_TRUE(dyn.Register(longName, false, 2.0f, 1.0));
    ASSERT_TRUE(dyn.Register(longName, true, 3.0f, 1.0));
    EXPECT_EQ(dyn.GetCount(), 2);
    ASSERT_TRUE(dyn.Read(1, e));
    EXPECT_EQ(e.Name.Get(), std::string(255, 'L'));
    EXPECT_EQ(+e.Value, 3.0f);

    e.Info.VariableId = 77;
    ASSERT_TRUE(dyn.Write(1, e));
    ASSERT_TRUE(dyn.Read(1, e));
    EXPECT_EQ(+e.Info.VariableId, 77);

    for (int i = 2; i < 255; ++i)
        ASSERT_TRUE(dyn.Register("T" + std::to_string(i), false, 0.0f, 0.0)) << i;
    EXPECT_EQ(dyn.GetCount(), 255);
    EXPECT_FALSE(dyn.Register("ONE MORE", false, 0.0f, 0.0));
    EXPECT_TRUE(dyn.Register("t100", true, 7.0f, 0.0)); // known names still update
    for (std::size_t i = 0; i < 1029; ++i)
        ASSERT_EQ(raw.U8(Dynamic(4) + 260 + 1029 * 255 + i), 0) << i;
}

TEST_F(IntercomAccessTest, DynamicTagUpdatesFromThreadsAreSerialised) {
    ASSERT_TRUE(area->DynemicVariablesList.Register("A", false, 0.0f, 0.0));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                area->DynemicVariablesList.Register("N" + std::to_string(t) + "_" + std::to_string(i % 50),
                                                    false, static_cast<float>(i), 1.0);
            }
        });
    for (auto& th : threads)
        th.join();
    // 4 x 50 distinct names, each added once: racing adds would have lost or doubled some.
    EXPECT_EQ(area->DynemicVariablesList.GetCount(), 201);
}

TEST_F(IntercomAccessTest, CommandBatchLimitsAndClearing) {
    auto& cmd = area->CommandsList;
    EXPECT_FALSE(cmd.Publish()); // empty: cleared, not published
    EXPECT_EQ(cmd.GetFlag(), csIdle);
    TCommandRecord c{};
    for (int i = 0; i < 16; ++i) {
        c.Device = i;
        ASSERT_TRUE(cmd.Add(c)) << i;
    }
    EXPECT_FALSE(cmd.Add(c));
    EXPECT_EQ(cmd.GetCount(), 16);
    EXPECT_EQ(cmd.GetDevice(), 15);
    cmd.SetDeviceName(std::string(300, 'd'));
    EXPECT_EQ(cmd.GetDeviceName(), std::string(255, 'D'));
    ASSERT_TRUE(cmd.Publish());
    EXPECT_EQ(cmd.GetFlag(), csPublished);
    for (std::size_t i = 9048; i < 9584; ++i)
        ASSERT_EQ(raw.U8(Commands(4) + i), 0) << i;

    auto copy = std::make_unique<TCommandsRegion>();
    ASSERT_TRUE(cmd.CopyTo(*copy));
    EXPECT_EQ(std::memcmp(copy.get(), raw.At(Commands(4)), sizeof *copy), 0);

    ASSERT_TRUE(cmd.Init());
    EXPECT_EQ(cmd.GetCount(), 0);
    EXPECT_EQ(cmd.GetDevice(), -1);
    EXPECT_EQ(cmd.GetDeviceName(), "");
    EXPECT_EQ(cmd.GetFlag(), csIdle);
    EXPECT_TRUE(raw.IsStamp(Commands(4)));

    // An empty publish after a batch clears the region.
    ASSERT_TRUE(cmd.Add(c));
    raw.Put<int32_t>(Commands(4) + 528, 0);
    cmd.SetFlag(csDone);
    EXPECT_FALSE(cmd.Publish());
    EXPECT_EQ(cmd.GetFlag(), csIdle);
    EXPECT_EQ(cmd.GetDevice(), -1);
}

TEST_F(IntercomAccessTest, TerminalTextLimitsCounterAndParams) {
    auto& term = area->CommandsTerminal;
    term.WriteText("first");
    EXPECT_EQ(term.GetCounter(), 1);
    term.WriteText(std::string(56535, 'x')); // the longest that fits
    EXPECT_EQ(term.GetCounter(), 2);
    EXPECT_EQ(TerminalText(term), std::string(56535, 'x'));
    term.WriteText(std::string(56536, 'y'));
    term.WriteText(std::string(70000, 'y'));
    EXPECT_EQ(term.GetCounter(), 2);
    EXPECT_EQ(TerminalText(term), std::string(56535, 'x'));
    EXPECT_EQ(raw.I32(Terminal(4, 2)), 0); // nothing spilled into the next terminal

    raw.Put<int32_t>(Terminal(4, 1), 65535);
    term.WriteText("wrap");
    EXPECT_EQ(term.GetCounter(), 0);
    raw.Put<int32_t>(Terminal(4, 1), -9);
    term.WriteText("negative");
    EXPECT_EQ(term.GetCounter(), 1);

    TTerminalParams p{};
    p.PortName.Set("/dev/ttyUSB0");
    p.Frequency = 100;
    EXPECT_FALSE(term.WriteParams(0, p)); // Owner is -1
    term.SetOwner(0);
    ASSERT_TRUE(term.WriteParams(0, p));
    TTerminalParams out;
    std::memset(&out, 0x77, sizeof out);
    EXPECT_FALSE(term.ReadParams(1, out));
    const TTerminalParams zero{};
    EXPECT_EQ(std::memcmp(&out, &zero, sizeof out), 0);
    ASSERT_TRUE(term.ReadParams(0, out));
    EXPECT_EQ(out.PortName.Get(), "/dev/ttyUSB0");
    EXPECT_EQ(+out.Frequency, 100);
}

// The server's state view reads the counter while a device thread writes traces: under the lock,
// as the writer counts (a thread sanitizer reports the race otherwise).
TEST_F(IntercomAccessTest, TheCounterIsReadWhileTracesAreWritten) {
    constexpr int32_t kTraces = 50;
    std::thread device([&] {
        for (int32_t i = 0; i < kTraces; ++i)
            area->RequestTerminal.WriteText("trace");
    });
    for (int32_t i = 0, last = 0; i < kTraces; ++i) {
        const int32_t counter = area->RequestTerminal.GetCounter();
        EXPECT_GE(counter, last);
        last = counter;
    }
    device.join();
    EXPECT_EQ(area->RequestTerminal.GetCounter(), kTraces);
}

TEST_F(IntercomAccessTest, ServerErrorsAreBoundedAndReadAllClears) {
    auto& errors = area->ServerErrorList;
    errors.Add(-1, std::string(300, 'e'));
    for (int i = 1; i < 100; ++i)
        errors.Add(-i - 1, "e" + std::to_string(i));
    EXPECT_EQ(errors.GetCount(), 100);
    errors.Add(-500, "dropped");
    EXPECT_EQ(errors.GetCount(), 100);
    EXPECT_EQ(raw.I32(Errors(4)), 100);
    for (std::size_t i = 0; i < 272; ++i)
        ASSERT_EQ(raw.U8(Errors(4) + 16 + 272 * 100 + i), 0) << i;

    auto buffer = std::make_unique<TServerErrorRegion>();
    errors.ReadAll(*buffer, false);
    EXPECT_EQ(+buffer->Sequence, 100);
    EXPECT_EQ(+buffer->Count, 100);
    EXPECT_EQ(buffer->Records[0].Text.Get(), std::string(255, 'e'));
    EXPECT_EQ(+buffer->Records[99].Code, -100);
    EXPECT_LT(std::fabs(buffer->Records[99].Time - platform::Now()), 1.0 / 86400 * 5);
    EXPECT_EQ(errors.GetCount(), 100);

    errors.ReadAll(*buffer, true);
    EXPECT_EQ(+buffer->Count, 100);
    EXPECT_EQ(errors.GetCount(), 0);
    EXPECT_EQ(raw.I32(Errors(4)), 0);
    errors.Add(-7, "after");
    errors.ReadAll(*buffer, false);
    EXPECT_EQ(+buffer->Sequence, 1);
    EXPECT_EQ(+buffer->Count, 1);
    EXPECT_EQ(+buffer->Records[1].Code, 0); // zeroed past Count
    errors.Clear();
    EXPECT_EQ(errors.GetCount(), 0);

    raw.Put<int32_t>(Errors(4), 65535);
    errors.Add(1, "wrap");
    EXPECT_EQ(raw.I32(Errors(4)), 0);
}

TEST_F(IntercomAccessTest, HeldLocksAreGivenUpWithoutTouchingTheRegion) {
    area->RequestTerminal.WriteText("kept");
    area->ServerErrorList.Add(-1, "kept");
    raw.At(Terminal(4, 0) + 8)[0] = 1; // a holder that never lets go
    raw.At(Errors(4) + 4)[0] = 1;

    const uint64_t start = platform::MonotonicMs();
    std::string read = "unset";
    int32_t counter = -1;
    std::thread reader([&] { read = TerminalText(area->RequestTerminal); });
    // The counter is read under the lock as it is written: given up as well.
    std::thread counterReader([&] { counter = area->RequestTerminal.GetCounter(); });
    std::thread poster([&] { area->ServerErrorList.Add(-2, "lost"); });
    area->RequestTerminal.WriteText("lost");
    reader.join();
    counterReader.join();
    poster.join();
    EXPECT_GE(platform::MonotonicMs() - start, LockTimeout);
    EXPECT_EQ(read, "");
    EXPECT_EQ(counter, 0);
    EXPECT_EQ(raw.I32(Errors(4) + 8), 1);

    raw.At(Terminal(4, 0) + 8)[0] = 0;
    raw.At(Errors(4) + 4)[0] = 0;
    EXPECT_EQ(area->RequestTerminal.GetCounter(), 1); // the lost write did not count
    EXPECT_EQ(TerminalText(area->RequestTerminal), "kept");
    EXPECT_EQ(raw.U8(Terminal(4, 0) + 8), 0); // released after the read
}

TEST_F(IntercomAccessTest, CorruptCountsAndTextsStayInsideTheirRegions) {
    for (int32_t bad : {INT32_MAX, INT32_MIN, -7, 1000000}) {
        SCOPED_TRACE(bad);
        raw.Put<int32_t>(kStatic + 256, bad);
        raw.Put<int32_t>(Errors(4) + 8, bad);
        raw.Put<int32_t>(Errors(4), bad);
        raw.Put<int32_t>(Dynamic(4) + 256, bad);
        raw.Put<int32_t>(Commands(4) + 528, bad);
        raw.Put<int32_t>(Terminal(4, 0), bad);
        std::memset(raw.At(Terminal(4, 0) + 280), 'z', 56536); // no terminating zero

        const int32_t expectStatic = bad < 0 ? 0 : 4;
        EXPECT_EQ(area->DMLVariablesList.GetCount(), expectStatic);
        TDMLVariableEntry e{};
        EXPECT_EQ(area->DMLVariablesList.Read(3, e), bad > 0);
        EXPECT_FALSE(area->DMLVariablesList.Read(4, e));
        EXPECT_EQ(area->DMLVariablesList.Add(MakeInfo(1, "P: a")), bad < 0); // full, or starts over at 0
        EXPECT_FALSE(area->DMLVariablesList.SetValue(4, 1.0, 1.0f));

        EXPECT_EQ(area->ServerErrorList.GetCount(), bad < 0 ? 0 : 100);
        area->ServerErrorList.Add(-1, "x");
        auto errors = std::make_unique<TServerErrorRegion>();
        area->ServerErrorList.ReadAll(*errors, false);
        EXPECT_LE(+errors->Count, 100);
        EXPECT_GE(+errors->Count, 0);

        EXPECT_EQ(area->DynemicVariablesList.GetCount(), bad < 0 ? 0 : 255);
        EXPECT_EQ(area->DynemicVariablesList.Register("NEW", false, 1.0f, 1.0), bad < 0);
        EXPECT_EQ(raw.I32(Dynamic(4) + 256), bad < 0 ? 1 : bad);
        TDynamicVariableEntry d{};
        EXPECT_FALSE(area->DynemicVariablesList.Read(255, d));

        EXPECT_EQ(area->CommandsList.GetCount(), bad < 0 ? 0 : 16);
        EXPECT_FALSE(area->CommandsList.Add(TCommandRecord{}));
        auto copy = std::make_unique<TCommandsRegion>();
        ASSERT_TRUE(area->CommandsList.CopyTo(*copy));
        EXPECT_GE(+copy->Count, 0);
        EXPECT_LE(+copy->Count, 16);

        EXPECT_EQ(TerminalText(area->RequestTerminal), std::string(56535, 'z'));
        area->RequestTerminal.WriteText("t");
        EXPECT_GE(area->RequestTerminal.GetCounter(), 0);
        EXPECT_LE(area->RequestTerminal.GetCounter(), 65535);

        area->CommandsList.Init();
        raw.Put<int32_t>(Errors(4) + 8, 0);
        raw.Put<int32_t>(Dynamic(4) + 256, 0);
        std::memset(raw.At(Dynamic(4) + 260), 0, 1029 * 256);
    }
}

} // namespace
