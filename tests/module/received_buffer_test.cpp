#include "module/received_buffer.h"

#include <chrono>

#include "module_test_support.h"
#include "platform/text.h"

namespace {

using module::TReceivedBuffer;
using module_test::CountOfBlock;
using module_test::SentAt;
using module_test::THostWindow;

// Day number with 1 January of year 1 as day 1, counted by the standard calendar.
int32_t DayNumber(std::chrono::year_month_day ymd) {
    using namespace std::chrono;
    return static_cast<int32_t>((sys_days(ymd) - sys_days(year(1) / January / 1)).count()) + 1;
}

TEST(HostStamp, DateAndTimeOfALocalTime) {
    using namespace std::chrono;
    int32_t time = 0, date = 0;
    module::EncodeHostStamp(0.0, time, date);
    EXPECT_EQ(date, 693594);
    EXPECT_EQ(time, 0);
    EXPECT_EQ(DayNumber(year(1899) / December / 30), 693594);

    platform::TDateTime d = 0, t = 0;
    ASSERT_TRUE(platform::TryEncodeDate(2024, 3, 5, d));
    ASSERT_TRUE(platform::TryEncodeTime(12, 34, 56, 789, t));
    module::EncodeHostStamp(d + t, time, date);
    EXPECT_EQ(date, DayNumber(year(2024) / March / 5));
    EXPECT_EQ(time, ((12 * 60 + 34) * 60 + 56) * 1000 + 789);

    // Rounded to the nearest millisecond, also across midnight.
    module::EncodeHostStamp(d + 0.4 / 86400000.0, time, date);
    EXPECT_EQ(time, 0);
    module::EncodeHostStamp(d + 1.0 - 0.4 / 86400000.0, time, date);
    EXPECT_EQ(date, DayNumber(year(2024) / March / 6));
    EXPECT_EQ(time, 0);
}

class ValueDelivery : public module_test::ModuleTest {};

TEST_F(ValueDelivery, AnAcceptingHostGetsTheBlockWithItsSourceAndTheBufferEmpties) {
    THostWindow host;
    TReceivedBuffer buffer(host.Handle, THostWindow::kMessage, 4321);
    ASSERT_TRUE(buffer.AddValue(7, 1.25f));
    ASSERT_TRUE(buffer.AddValue(8, -3.0f));
    EXPECT_EQ(buffer.GetCount(), 2);
    const platform::TDateTime before = platform::Now();
    ASSERT_TRUE(buffer.Flush());
    EXPECT_EQ(buffer.GetCount(), 0);
    ASSERT_EQ(host.Calls, 1);
    EXPECT_EQ(host.WParam, 2002u);
    EXPECT_EQ(host.SourceId, 4321);
    ASSERT_EQ(CountOfBlock(host.Blocks[0]), 2);
    const auto first = SentAt(host.Blocks[0], 0);
    EXPECT_EQ(first.VariableId, 7);
    EXPECT_EQ(first.Value, 1.25f);
    EXPECT_EQ(first.OldValue, 1.25f);
    int32_t time = 0, date = 0;
    module::EncodeHostStamp(before, time, date);
    EXPECT_EQ(first.Date, date);
    EXPECT_LE(std::abs(first.Time - time), 5000);
    EXPECT_EQ(SentAt(host.Blocks[0], 1).VariableId, 8);
    // Nothing to send: no message.
    EXPECT_TRUE(buffer.Flush());
    EXPECT_EQ(host.Calls, 1);
}

TEST_F(ValueDelivery, AHostAnsweringZeroKeepsItsEntriesUntilTheOldestHundredAreDropped) {
    THostWindow host;
    host.Answer = 0;
    TReceivedBuffer buffer(host.Handle, THostWindow::kMessage, 1);
    for (int32_t i = 0; i < 1204; ++i)
        ASSERT_TRUE(buffer.AddValue(i, static_cast<float>(i)));
    EXPECT_FALSE(buffer.Flush());
    EXPECT_EQ(buffer.GetCount(), 1204);
    ASSERT_TRUE(buffer.AddValue(5000, 1.0f));
    EXPECT_EQ(buffer.GetCount(), 1105);
    EXPECT_EQ(buffer.EntryAt(0).VariableId, 100);
    EXPECT_EQ(buffer.EntryAt(1103).VariableId, 1203);
    EXPECT_EQ(buffer.EntryAt(1104).VariableId, 5000);
    // Once the host takes the block it gets all that was kept.
    host.Answer = 2002;
    ASSERT_TRUE(buffer.Flush());
    EXPECT_EQ(CountOfBlock(host.Blocks.back()), 1105);
    EXPECT_EQ(buffer.GetCount(), 0);
}

TEST_F(ValueDelivery, AFullBufferIsSentBeforeTheNextValue) {
    THostWindow host;
    TReceivedBuffer buffer(host.Handle, THostWindow::kMessage, 1);
    for (int32_t i = 0; i <= 1204; ++i)
        ASSERT_TRUE(buffer.AddValue(i, 0.0f));
    ASSERT_EQ(host.Calls, 1);
    EXPECT_EQ(CountOfBlock(host.Blocks[0]), 1204);
    EXPECT_EQ(buffer.GetCount(), 1);
    EXPECT_EQ(buffer.EntryAt(0).VariableId, 1204);
}

TEST_F(ValueDelivery, WithoutHostWindowOrMessageNumberTheFlushEmptiesAndIsNotLeftBusy) {
    THostWindow host;
    for (int32_t messageId : {0, -5}) {
        errors.Messages.clear();
        TReceivedBuffer buffer(host.Handle, messageId, 1);
        ASSERT_TRUE(buffer.AddValue(1, 1.0f));
        EXPECT_TRUE(buffer.Flush());
        EXPECT_EQ(buffer.GetCount(), 0);
        ASSERT_EQ(errors.Messages.size(), 1u);
        EXPECT_EQ(errors.Messages[0].second, "Invalid message ID or HostWindow");
        // The busy byte was released: the next value goes in at once.
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(buffer.AddValue(2, 2.0f));
        EXPECT_TRUE(buffer.Flush());
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    }
    EXPECT_EQ(host.Calls, 0);
    TReceivedBuffer noWindow(0, THostWindow::kMessage, 1);
    EXPECT_FALSE(noWindow.SendToHost());
}

TEST_F(ValueDelivery, DeadbandRuleOfTheStaticTags) {
    CreateArea(4);
    auto add = [&](int32_t id, float value, float deadband) {
        hostapi::TVLVariableInfo info{};
        info.VariableId = id;
        info.Value = value;
        info.Deadband = deadband;
        ASSERT_TRUE(area->DMLVariablesList.Add(info));
    };
    add(1, 10.0f, 0.5f);
    add(2, 3.0f, 0.0f);
    THostWindow host;
    TReceivedBuffer buffer(host.Handle, THostWindow::kMessage, 1);
    auto lastSent = [&](int32_t i) {
        framework::TDMLVariableEntry e;
        EXPECT_TRUE(area->DMLVariablesList.Read(i, e));
        return e.LastSent;
    };

    ASSERT_TRUE(module::ScanStaticTags(buffer));
    EXPECT_EQ(buffer.GetCount(), 0); // unchanged values are never sent

    ASSERT_TRUE(area->DMLVariablesList.SetValue(0, platform::Now(), 10.4f));
    ASSERT_TRUE(area->DMLVariablesList.SetValue(1, platform::Now(), 3.01f));
    ASSERT_TRUE(module::ScanStaticTags(buffer));
    ASSERT_EQ(buffer.GetCount(), 1); // a deadband of 0 sends every change
    EXPECT_EQ(buffer.EntryAt(0).VariableId, 2);
    EXPECT_EQ(lastSent(0), 10.0f);
    EXPECT_EQ(lastSent(1), 3.01f);

    ASSERT_TRUE(area->DMLVariablesList.SetValue(0, platform::Now(), 10.5f));
    ASSERT_TRUE(module::ScanStaticTags(buffer));
    ASSERT_EQ(buffer.GetCount(), 2);
    EXPECT_EQ(buffer.EntryAt(1).VariableId, 1);
    EXPECT_EQ(buffer.EntryAt(1).Value, 10.5f);
    EXPECT_EQ(lastSent(0), 10.5f);
    ASSERT_TRUE(module::ScanStaticTags(buffer));
    EXPECT_EQ(buffer.GetCount(), 2);
    EXPECT_TRUE(errors.Messages.empty());

    framework::Intercom = nullptr;
    EXPECT_FALSE(module::ScanStaticTags(buffer));
}

} // namespace
