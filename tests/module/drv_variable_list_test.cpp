#include "module/drv_variable_list.h"

#include "module_test_support.h"
#include "platform/text.h"

namespace {

using module::TDRVVariableList;
using module_test::Tag;

class HostBinding : public module_test::ModuleTest {};

TEST_F(HostBinding, BindsTheDomainsVariablesSortedByRoutingKeyAndFoundById) {
    WriteTags({Tag(10, "A", "PLC: DEVICE=1; ADDRESS=9", 1.5), Tag(11, "B", "PLC: DEVICE=1; ADDRESS=10"),
               Tag(12, "C", "PLC: ROUTING=x1"), Tag(13, "D", "PLC2: DEVICE=1; ADDRESS=1"),
               Tag(14, "E", "PLC: DEVICE=2; ADDRESS=1")});
    TDRVVariableList list;
    ASSERT_TRUE(list.LoadDomain(" plc "));
    ASSERT_TRUE(list.RebuildIndex());
    ASSERT_EQ(list.Count(), 4);
    // The key is text: address 10 sorts before address 9.
    EXPECT_EQ(list.RecordAt(0)->Key, "PLC:-1:-1:x1");
    EXPECT_EQ(list.RecordAt(1)->Key, "PLC:1:10:");
    EXPECT_EQ(list.RecordAt(2)->Key, "PLC:1:9:");
    EXPECT_EQ(list.RecordAt(3)->Key, "PLC:2:1:");
    const module::TDrvVariableRecord* a = list.FindById(10);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->Domain.Get(), "PLC");
    EXPECT_EQ(a->Device, 1);
    EXPECT_EQ(a->TagAddress, 9);
    EXPECT_EQ(platform::FieldText(a->Name), "A");
    EXPECT_EQ(a->Value, 1.5f);
    EXPECT_EQ(a->LastValue, 1.5f);
    EXPECT_EQ(list.FindById(12)->StrAddress.Get(), "x1");
    EXPECT_EQ(list.FindById(13), nullptr); // routed to another prefix
    EXPECT_EQ(list.FindById(99), nullptr);
    EXPECT_TRUE(errors.Messages.empty());
}

TEST_F(HostBinding, DomainNamesAreUpperCasedAndComparedExactly) {
    WriteTags({Tag(1, "a", "plc: DEVICE=1; ADDRESS=1"), Tag(2, "b", "Насос: DEVICE=1; ADDRESS=1"_cp)});
    TDRVVariableList list;
    EXPECT_FALSE(list.LoadDomain("plc"));
    EXPECT_FALSE(list.LoadDomain("PLC"));
    EXPECT_FALSE(list.LoadDomain("  "));
    EXPECT_FALSE(list.LoadDomain("насос"_cp)); // the host's domain is not upper case
    WriteTags({Tag(2, "b", "НАСОС: DEVICE=1; ADDRESS=4"_cp)});
    ASSERT_TRUE(list.LoadDomain("насос"_cp));
    EXPECT_EQ(list.Count(), 1);
}

TEST_F(HostBinding, BadRoutingAndDuplicateAddressesAreReportedAndLoadingGoesOn) {
    WriteTags({Tag(1, "First", "PLC: DEVICE=1; ADDRESS=5"), Tag(2, "Broken", "PLC: DEVICE=3; PLACE=4"),
               Tag(3, "Second", "PLC: DEVICE=1; ADDRESS=5"), Tag(4, "Other", "PLC2: DEVICE=3; PLACE=4"),
               Tag(5, "Last", "PLC: DEVICE=1; ADDRESS=6")});
    TDRVVariableList list;
    ASSERT_TRUE(list.LoadDomain("PLC"));
    list.RebuildIndex();
    EXPECT_EQ(list.Count(), 2);
    EXPECT_NE(list.FindById(1), nullptr);
    EXPECT_EQ(list.FindById(3), nullptr);
    EXPECT_NE(list.FindById(5), nullptr);
    ASSERT_EQ(errors.Messages.size(), 2u);
    EXPECT_EQ(errors.Messages[0].first, -25);
    EXPECT_EQ(errors.Messages[0].second, "DLM::Тег Broken содержит ошибку в строке роутинга."_cp);
    EXPECT_EQ(errors.Messages[1].first, -2);
    EXPECT_EQ(errors.Messages[1].second, "Ошибка дублирования физического адреса тега. ( Second/First )"_cp);
}

TEST_F(HostBinding, SingleDeviceVariablesAndTheIdIndex) {
    hostapi::TVLVariableInfo info{};
    info.VariableId = 30;
    platform::SetFieldText(info.Name, "x");
    info.Value = 2.5f;
    info.Deadband = 0.25f;
    info.TwoState = 7;
    TDRVVariableList list;
    EXPECT_TRUE(list.AddVariable(info));
    EXPECT_TRUE(list.AddVariable(info)); // the same key is refused silently
    info.VariableId = 4;
    EXPECT_TRUE(list.AddVariable(info));
    EXPECT_EQ(list.FindById(30), nullptr); // nothing is found before the index is built
    list.RebuildIndex();
    ASSERT_EQ(list.Count(), 2);
    const module::TDrvVariableRecord* r = list.FindById(30);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->Key, "OSTROLINKA:1:30:");
    float deadband = 0;
    std::memcpy(&deadband, &r->Deadband, 4);
    EXPECT_EQ(deadband, 0.25f);
    EXPECT_EQ(r->TwoState, 7);
    EXPECT_EQ(list.FindById(4)->TagAddress, 4);
    // Rebuilding does not duplicate index items.
    list.RebuildIndex();
    EXPECT_EQ(list.Index().Count(), 2);
}

} // namespace
