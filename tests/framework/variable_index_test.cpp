#include "framework/variable_index.h"

#include <gtest/gtest.h>

#include "framework/intercom.h"
#include "intercom_test_support.h"

using namespace framework;
using namespace intercom_test;

namespace {

class VariableIndexTest : public IntercomTest {
protected:
    VariableIndexTest() : IntercomTest("icindex") {}
    void SetUp() override {
        IntercomTest::SetUp();
        area = TIntercomInterface::Create(16, "Quillary.dat");
        ASSERT_TRUE(area->IsOpen());
        Intercom = area.get();
    }
    void TearDown() override {
        Intercom = nullptr;
        IntercomTest::TearDown();
    }
    void AddTag(hostapi::TVLVariableInfo info) { ASSERT_TRUE(area->DMLVariablesList.Add(info)); }

    std::unique_ptr<TIntercomInterface> area;
};

TEST_F(VariableIndexTest, ItemsCarryEveryFieldOfTheirEntry) {
    hostapi::TVLVariableInfo info = MakeInfo(501, "  plc : device = 4 ; address = 12  ", 2.5f);
    info.Low = 0;
    info.High = -0.5f;
    info.TwoState = 0x100; // only a high byte set: still non-zero
    info.Kind = 7;
    AddTag(info);
    hostapi::TVLVariableInfo plain = MakeInfo(502, "PLC: Routing=Coil/3", 1.0f);
    plain.Low = 3.0f;
    AddTag(plain);
    ASSERT_TRUE(area->DMLVariablesList.SetValue(0, 1.0, 9.0f));

    TVariableIndex index;
    ASSERT_TRUE(index.Build());
    EXPECT_EQ(index.Options, 0);
    const TVariableIndexItem* a = index.Find("PLC", 4, 12, "");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->VariableId, 501);
    EXPECT_EQ(a->Prefix.Get(), "PLC");
    EXPECT_EQ(a->Device, 4);
    EXPECT_EQ(a->Address, 12);
    EXPECT_EQ(a->StrAddress.Get(), "");
    EXPECT_EQ(a->EntryIndex, 0);
    EXPECT_EQ(a->Value, 9.0f);
    EXPECT_EQ(a->InitialValue, 2.5f);
    EXPECT_EQ(a->SignFlag, 1);
    EXPECT_EQ(a->TwoStateFlag, 1);
    EXPECT_EQ(a->KindByte, 7);

    const TVariableIndexItem* b = index.Find("PLC", -1, -1, "COIL/3");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->EntryIndex, 1);
    EXPECT_EQ(b->StrAddress.Get(), "Coil/3");
    EXPECT_EQ(b->SignFlag, 0);
    EXPECT_EQ(b->TwoStateFlag, 0);
    EXPECT_EQ(b->KindByte, 0);
}

TEST_F(VariableIndexTest, KeysSortByteWiseAndTheFirstTagWins) {
    AddTag(MakeInfo(1, "PLC: DEVICE=2; ADDRESS=1"));
    AddTag(MakeInfo(2, "PLC: DEVICE=10; ADDRESS=1"));
    AddTag(MakeInfo(3, "PLC: device=2; address=1")); // same key as the first
    AddTag(MakeInfo(4, "PLC: Routing=Valve"));
    AddTag(MakeInfo(5, "plc: ROUTING=VALVE")); // differs only in letter case
    AddTag(MakeInfo(6, "no routing here"));
    AddTag(MakeInfo(7, ""));

    TVariableIndex index;
    ASSERT_TRUE(index.Build());
    ASSERT_EQ(index.Count(), 3);
    // Byte-wise: "DEVICE=-1" < "DEVICE=10" < "DEVICE=2".
    EXPECT_EQ(index.ItemAt(0)->VariableId, 4);
    EXPECT_EQ(index.ItemAt(0)->EntryIndex, 3);
    EXPECT_EQ(index.ItemAt(1)->Device, 10);
    EXPECT_EQ(index.ItemAt(2)->Device, 2);
    EXPECT_EQ(index.ItemAt(2)->VariableId, 1); // the first of the two with this key
    for (int32_t i = 1; i < index.Count(); ++i) {
        const TVariableIndexItem* x = index.ItemAt(i - 1);
        const TVariableIndexItem* y = index.ItemAt(i);
        EXPECT_LT(TVariableIndex::MakeKey(x->Prefix.Get(), x->Device, x->Address, x->StrAddress.Get()),
                  TVariableIndex::MakeKey(y->Prefix.Get(), y->Device, y->Address, y->StrAddress.Get()));
    }
    EXPECT_EQ(TVariableIndex::MakeKey("PLC", 10, -1, "Coil.7"),
              "PREFIX=PLC DEVICE=10 ADDRESS=-1 STRADDRESS=COIL.7");
    EXPECT_EQ(index.Find("PLC", 3, 1, ""), nullptr);
}

TEST_F(VariableIndexTest, BuildNeedsAnArea) {
    TVariableIndex index;
    Intercom = nullptr;
    EXPECT_FALSE(index.Build());
    EXPECT_EQ(index.Count(), 0);

    auto refused = TIntercomInterface::Create(1, "Quillary.dat"); // the fixture holds the name
    ASSERT_FALSE(refused->IsOpen());
    Intercom = refused.get();
    EXPECT_TRUE(index.Build());
    EXPECT_EQ(index.Count(), 0);
}

} // namespace
