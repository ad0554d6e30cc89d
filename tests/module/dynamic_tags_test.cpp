#include "module/dynamic_tags.h"

#include "framework/tag_routing.h"
#include "module/received_buffer.h"
#include "module_test_support.h"
#include "platform/text.h"

namespace {

using module::TDynamicTagList;
using module::TReceivedBuffer;
using module_test::Tag;
using module_test::THostWindow;

class DynamicTags : public module_test::ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        WriteTags({Tag(50, "LINK1", "PLC: ROUTING=link", 7.0, 0.5), Tag(51, "Cmd1", "", -1.0, 0.0),
                   Tag(52, "Other", "", 3.0)});
        CreateArea(0);
    }
    framework::TDynamicVariableEntry Entry(int32_t i) {
        framework::TDynamicVariableEntry e{};
        EXPECT_TRUE(area->DynemicVariablesList.Read(i, e));
        return e;
    }
    // What the server does: the tag of that name gets a value.
    void ServerSets(const std::string& name, float value) {
        ASSERT_TRUE(framework::SetDynamicTag(name, true, value));
    }
    std::vector<std::pair<int32_t, float>> Buffered(const TReceivedBuffer& buffer) {
        std::vector<std::pair<int32_t, float>> v;
        for (int32_t i = 0; i < buffer.GetCount(); ++i)
            v.emplace_back(buffer.EntryAt(i).VariableId, buffer.EntryAt(i).Value);
        return v;
    }

    THostWindow host;
    TReceivedBuffer buffer{host.Handle, THostWindow::kMessage, 1};
    TDynamicTagList list;
};

TEST_F(DynamicTags, NamesResolveToHostVariablesAndAnUnknownNameOnceToMinus100) {
    for (const char* name : {"link1", "Missing", "cmd1"})
        ASSERT_TRUE(framework::SetDynamicTag(name, false, 0.0f));
    ASSERT_TRUE(module::ResolveDynamicTags());
    const auto link = Entry(0);
    EXPECT_EQ(link.Name.Get(), "LINK1");
    EXPECT_EQ(link.Info.VariableId, 50);
    EXPECT_EQ(link.Info.Value, 7.0f);
    EXPECT_EQ(link.Info.Deadband, 0.5f);
    EXPECT_EQ(platform::FieldText(link.Info.Name), "LINK1");
    EXPECT_EQ(link.Value, 0.0f); // the region's value stays the server's
    EXPECT_EQ(Entry(1).Info.VariableId, module::kDynamicTagUnknown);
    EXPECT_EQ(Entry(2).Info.VariableId, 51);
    ASSERT_EQ(errors.Messages.size(), 1u);
    EXPECT_EQ(errors.Messages[0].first, 0);
    EXPECT_EQ(errors.Messages[0].second, "Динамический тег MISSING не описан в базе OSTROLINKA."_cp);

    // Resolved and unknown entries are not tried again, even when the host learns the name.
    WriteTags({Tag(60, "MISSING", ""), Tag(61, "LINK1", "", 1.0)});
    ASSERT_TRUE(module::ResolveDynamicTags());
    EXPECT_EQ(Entry(0).Info.VariableId, 50);
    EXPECT_EQ(Entry(1).Info.VariableId, module::kDynamicTagUnknown);
    EXPECT_EQ(errors.Messages.size(), 1u);

    // The scans never send an unknown tag.
    ASSERT_TRUE(module::ScanDynamicTags(list, buffer));
    EXPECT_EQ(Buffered(buffer), (std::vector<std::pair<int32_t, float>>{{50, 0.0f}, {51, 0.0f}}));
    ASSERT_TRUE(module::SendAllDynamicTags(list, buffer));
    EXPECT_EQ(buffer.GetCount(), 4);
}

TEST_F(DynamicTags, AFirstSightIsSentAtOnceThenOnlyAChangeOfTheDeadbandFromTheLastSent) {
    ASSERT_TRUE(framework::SetDynamicTag("LINK1", false, 5.0f));
    // Not resolved yet: not sent.
    ASSERT_TRUE(module::ScanDynamicTags(list, buffer));
    EXPECT_EQ(buffer.GetCount(), 0);
    ASSERT_TRUE(module::ResolveDynamicTags());

    const std::vector<std::pair<float, bool>> steps{
        {5.0f, true},   // first sight, whatever the deadband
        {5.0f, false},  // unchanged
        {5.2f, false},  // within the deadband of 0.5
        {5.45f, false}, // still within it: measured from 5.0, the value last sent
        {5.6f, true},   {5.1f, true}, {4.7f, false}, {4.6f, true},
    };
    std::vector<std::pair<int32_t, float>> expected;
    for (const auto& [value, sent] : steps) {
        ServerSets("LINK1", value);
        ASSERT_TRUE(module::ScanDynamicTags(list, buffer));
        if (sent) expected.emplace_back(50, value);
        EXPECT_EQ(Buffered(buffer), expected) << "after " << value;
    }
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.ItemAt(0)->Value, 4.6f);
    EXPECT_EQ(list.ItemAt(0)->VariableId, 50);
    const platform::TDateTime serverTime = Entry(0).Time; // copied out of the packed record
    const platform::TDateTime itemTime = list.ItemAt(0)->Time;
    EXPECT_EQ(itemTime, serverTime);
    EXPECT_TRUE(errors.Messages.empty());
}

TEST_F(DynamicTags, ADeadbandOfZeroSendsEveryChangeAndNothingUnchanged) {
    ASSERT_TRUE(framework::SetDynamicTag("CMD1", false, 0.0f));
    ASSERT_TRUE(module::ResolveDynamicTags());
    for (float v : {0.0f, 0.0f, 2.0f, 2.0f, 3.0f, 0.0f}) {
        ServerSets("CMD1", v);
        ASSERT_TRUE(module::ScanDynamicTags(list, buffer));
    }
    EXPECT_EQ(Buffered(buffer),
              (std::vector<std::pair<int32_t, float>>{{51, 0.0f}, {51, 2.0f}, {51, 3.0f}, {51, 0.0f}}));
}

TEST_F(DynamicTags, AtTheEndEveryResolvedTagIsSentWithItsResolveTimeValue) {
    for (const char* name : {"LINK1", "CMD1", "NOBODY"})
        ASSERT_TRUE(framework::SetDynamicTag(name, false, 0.0f));
    ASSERT_TRUE(module::ResolveDynamicTags());
    ServerSets("LINK1", 9.0f);
    ServerSets("CMD1", 3.0f);
    ASSERT_TRUE(module::ScanDynamicTags(list, buffer));
    ASSERT_TRUE(buffer.Flush());
    ASSERT_EQ(host.Calls, 1);
    WriteTags(
        {Tag(50, "LINK1", "", 100.0), Tag(51, "Cmd1", "", 100.0)}); // the host's later values do not count

    ASSERT_TRUE(module::SendAllDynamicTags(list, buffer));
    EXPECT_EQ(Buffered(buffer), (std::vector<std::pair<int32_t, float>>{{50, 7.0f}, {51, -1.0f}}));
}

TEST_F(DynamicTags, WithoutExchangeAreaNothingIsDone) {
    ASSERT_TRUE(framework::SetDynamicTag("LINK1", false, 1.0f));
    framework::Intercom = nullptr;
    EXPECT_FALSE(module::ResolveDynamicTags());
    EXPECT_FALSE(module::ScanDynamicTags(list, buffer));
    EXPECT_FALSE(module::SendAllDynamicTags(list, buffer));
    EXPECT_EQ(buffer.GetCount(), 0);
    EXPECT_TRUE(errors.Messages.empty());
}

TEST(DynamicTagList, NamesAreKeysComparedByteByByte) {
    TDynamicTagList list;
    const std::vector<std::string> names{"b", "Я"_cp, "B", "a", "ab"};
    for (std::size_t i = 0; i < names.size(); ++i) {
        auto* item = new module::TDynamicTagItem{};
        item->Name.Set(names[i]);
        item->VariableId = static_cast<int32_t>(i);
        list.Insert(item);
    }
    ASSERT_EQ(list.Count(), 5);
    // Upper case before lower case, and a cp1251 letter (above 127) after both.
    const std::vector<std::string> order{"B", "a", "ab", "b", "Я"_cp};
    for (int32_t i = 0; i < list.Count(); ++i)
        EXPECT_EQ(list.ItemAt(i)->Name.Get(), order[static_cast<std::size_t>(i)]);
    ASSERT_NE(list.Find("b"), nullptr);
    EXPECT_EQ(list.Find("b")->VariableId, 0);
    EXPECT_EQ(list.Find("B")->VariableId, 2);
    EXPECT_EQ(list.Find("Я"_cp)->VariableId, 1);
    EXPECT_EQ(list.Find("A"), nullptr);
}

} // namespace
