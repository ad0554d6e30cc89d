#include "framework/device_commands.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "device_test_support.h"
#include "framework/driver.h"
#include "framework/intercom.h"

using namespace framework;
using device_test::TAreaScope;

namespace {

class TModeDriver : public TDriver {
public:
    bool IsSingleDeviceMode() override { return Single; }
    bool Single = false;
};

struct TDriverScope {
    TModeDriver Drv;
    TDriverScope() { Driver = &Drv; }
    ~TDriverScope() { Driver = nullptr; }
};

TCommandRecord Command(int32_t variableId, const std::string& domain, int32_t device, float value) {
    TCommandRecord c{};
    c.VariableId = variableId;
    c.Domain.Set(domain);
    c.Device = device;
    c.TagAddress = 100 + variableId;
    c.StrAddress.Set("HR" + std::to_string(variableId));
    c.Value = value;
    c.OldValue = -value;
    return c;
}

// What the module does: fill the region for one device and publish it.
void Publish(const std::string& domain, int32_t device, int count) {
    TCommandsList& region = Intercom->CommandsList;
    region.Init();
    region.SetDeviceName(domain);
    for (int i = 0; i < count; ++i)
        region.Add(Command(10 + i, domain, device, 1.5f * static_cast<float>(i + 1)));
    ASSERT_TRUE(region.Publish());
}

class CommandIntake : public ::testing::Test {
protected:
    TAreaScope area;
    TDriverScope driver;
    TCommandsList& Region() { return Intercom->CommandsList; }
};

TEST_F(CommandIntake, ABatchGoesToTheDeviceItNamesIgnoringCaseAndBlanks) {
    Publish(" plc ", 3, 2);
    TDeviceCommandsList other;
    other.FetchCommands("PLC", 4);
    EXPECT_EQ(other.Count(), 0);
    EXPECT_EQ(Region().GetFlag(), csPublished);

    TDeviceCommandsList ours;
    ours.FetchCommands("Plc ", 3);
    ASSERT_EQ(ours.Count(), 2);
    EXPECT_EQ(Region().GetFlag(), csTaken);
    EXPECT_EQ(+ours.CommandAt(0)->VariableId, 10);
    EXPECT_EQ(+ours.CommandAt(1)->VariableId, 11);
    EXPECT_EQ(ours.CommandAt(1)->StrAddress.Get(), "HR11");
    EXPECT_FLOAT_EQ(+ours.CommandAt(1)->Value, 3.0f);
    EXPECT_EQ(+ours.RegionCopy.Count, 2);
}

TEST_F(CommandIntake, ABatchTakenOrDoneIsNeverTakenAgain) {
    Publish("PLC", 3, 1);
    TDeviceCommandsList q;
    q.FetchCommands("PLC", 3);
    ASSERT_EQ(q.Count(), 1);
    q.FetchCommands("PLC", 3);
    EXPECT_EQ(q.Count(), 1);
    Region().SetFlag(csDone);
    q.FetchCommands("PLC", 3);
    EXPECT_EQ(q.Count(), 1);
}

TEST_F(CommandIntake, SingleDeviceModeTakesAnyBatchAndReaddressesIt) {
    driver.Drv.Single = true;
    Publish("ANY", 7, 2);
    TDeviceCommandsList q;
    q.FetchCommands("PLC", 3);
    ASSERT_EQ(q.Count(), 2);
    for (int i = 0; i < 2; ++i) {
        const TCommandRecord* c = q.CommandAt(i);
        EXPECT_EQ(c->Domain.Get(), "OSTROLINKA");
        EXPECT_EQ(+c->Device, 1);
        EXPECT_EQ(+c->TagAddress, 10 + i);
        EXPECT_EQ(c->StrAddress.Get(), "");
        EXPECT_EQ(+c->VariableId, 10 + i);
    }
    EXPECT_EQ(Region().GetFlag(), csTaken);
}

TEST_F(CommandIntake, AcknowledgeMarksTheTakenBatchDoneOnce) {
    Publish("PLC", 3, 1);
    TDeviceCommandsList q;
    q.FetchCommands("PLC", 3);
    q.Acknowledge(); // not owed yet
    EXPECT_EQ(Region().GetFlag(), csTaken);
    q.AckPending = true;
    q.Acknowledge();
    EXPECT_EQ(Region().GetFlag(), csDone);
    EXPECT_FALSE(q.AckPending);
}

// The module gives a batch up and clears the region before the thread acknowledges: the debt does
// not pass to the next batch, which is acknowledged only once its own queue ran empty.
TEST_F(CommandIntake, AnAbandonedBatchLeavesNoAcknowledgementForTheNext) {
    Publish("PLC", 3, 1);
    TDeviceCommandsList q;
    q.FetchCommands("PLC", 3);
    q.AtFree(0);
    q.AckPending = true;
    Region().Init(); // abandoned
    q.Acknowledge();
    EXPECT_TRUE(q.AckPending);
    EXPECT_EQ(Region().GetFlag(), csIdle);

    Publish("PLC", 3, 2);
    q.FetchCommands("PLC", 3);
    ASSERT_EQ(q.Count(), 2);
    EXPECT_FALSE(q.AckPending);
    q.Acknowledge();
    EXPECT_EQ(Region().GetFlag(), csTaken);
}

TEST_F(CommandIntake, ACorruptCountTakesAtMostSixteen) {
    Publish("PLC", 3, 16);
    intercom_test::TRawBlock raw;
    ASSERT_TRUE(raw.Open("Quillary.dat"));
    raw.Put<int32_t>(intercom_test::Commands(0) + 528, 1000);
    TDeviceCommandsList q;
    q.FetchCommands("PLC", 3);
    EXPECT_EQ(q.Count(), 16);
}

// Two threads serving devices of one prefix and address (two ports), or any two in single-device
// mode: exactly one of them takes each batch.
TEST_F(CommandIntake, TwoTakersNeverBothGetOneBatch) {
    for (const bool single : {false, true}) {
        driver.Drv.Single = single;
        for (int round = 0; round < 200; ++round) {
            Publish("PLC", 3, 1);
            TDeviceCommandsList a, b;
            std::atomic<bool> go{false};
            auto take = [&](TDeviceCommandsList& q) {
                while (!go.load()) {
                }
                q.FetchCommands("PLC", 3);
            };
            std::thread ta(take, std::ref(a)), tb(take, std::ref(b));
            go.store(true);
            ta.join();
            tb.join();
            ASSERT_EQ(a.Count() + b.Count(), 1) << "round " << round << (single ? " single" : "");
        }
    }
}

TEST(CommandIntakeWithoutArea, TakesNothing) {
    Intercom = nullptr;
    TDeviceCommandsList q;
    q.FetchCommands("PLC", 3);
    q.AckPending = true;
    q.Acknowledge();
    EXPECT_EQ(q.Count(), 0);
    EXPECT_TRUE(q.AckPending);
}

} // namespace
