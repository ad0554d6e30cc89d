#include "framework/tag_routing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

#include "framework/driver_error.h"
#include "framework/intercom.h"
#include "framework/variable_index.h"
#include "intercom_test_support.h"
#include "platform/text.h"

using namespace framework;
using namespace intercom_test;

namespace {

struct TRouting {
    bool ok;
    std::string prefix;
    int32_t device;
    std::string strAddress;
    int32_t address;
};

TRouting Parse(const std::string& text) {
    TRouting r{};
    r.ok = ParseTagRouting(text, r.prefix, r.device, r.strAddress, r.address);
    return r;
}

TEST(TagRoutingParse, DeviceAndAddressForm) {
    const TRouting r = Parse("plc1 : device = 3 ; address = 40001");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.prefix, "PLC1");
    EXPECT_EQ(r.device, 3);
    EXPECT_EQ(r.address, 40001);
    EXPECT_EQ(r.strAddress, "");

    const TRouting x = Parse("PLC1: DEVICE=x; ADDRESS=y");
    EXPECT_TRUE(x.ok);
    EXPECT_EQ(x.device, -1);
    EXPECT_EQ(x.address, -1);

    const TRouting hex = Parse("  P:Device=$1F;Address=-5  ");
    EXPECT_TRUE(hex.ok);
    EXPECT_EQ(hex.device, 31);
    EXPECT_EQ(hex.address, -5);
}

TEST(TagRoutingParse, StringAddressKeepsItsLetterCase) {
    const TRouting r = Parse("Plc1: Routing=Holding/Reg5");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.prefix, "PLC1");
    EXPECT_EQ(r.strAddress, "Holding/Reg5");
    EXPECT_EQ(r.device, -1);
    EXPECT_EQ(r.address, -1);

    const TRouting plain = Parse("PLC1: coil.7");
    EXPECT_TRUE(plain.ok);
    EXPECT_EQ(plain.strAddress, "coil.7");

    const std::string cyr = platform::Cp("щит: Насос.Пуск");
    const TRouting c = Parse(cyr);
    EXPECT_TRUE(c.ok);
    EXPECT_EQ(c.prefix, platform::Cp("ЩИТ"));
    EXPECT_EQ(c.strAddress, platform::Cp("Насос.Пуск"));
}

TEST(TagRoutingParse, MalformedTextsAreRefusedWithDefaults) {
    for (const char* text :
         {"PLC1 DEVICE=3", "PLC1: DEVICE=3 ADDRESS=4", "PLC1: NODE=3; ADDRESS=4", "", "   "}) {
        SCOPED_TRACE(text);
        std::string prefix = "stale", str = "stale";
        int32_t device = 9, address = 9;
        EXPECT_FALSE(ParseTagRouting(text, prefix, device, str, address));
        EXPECT_EQ(device, -1);
        EXPECT_EQ(address, -1);
        EXPECT_EQ(str, "");
    }
    std::string prefix, str;
    int32_t device = 0, address = 0;
    EXPECT_FALSE(ParseTagRouting("PLC1: DEVICE=3; PLACE=4", prefix, device, str, address));
    EXPECT_FALSE(ParseTagRouting("PLC1: DEVICE=3; ADDRESS 4", prefix, device, str, address));
}

TEST(ReceiveVariables, AddCutsTextsAndTrimToDropsTheOldest) {
    TReceiveVariables q;
    ASSERT_TRUE(q.Add(std::string(300, 'p'), 1, 1.0f, std::string(256, 's'), 10));
    EXPECT_EQ(q.RecordAt(0)->Prefix.Get(), std::string(255, 'p'));
    EXPECT_EQ(q.RecordAt(0)->StrAddress.Get(), std::string(255, 's'));
    for (int i = 2; i <= 5; ++i)
        ASSERT_TRUE(q.Add("P", i, static_cast<float>(i), "", i * 10));
    EXPECT_TRUE(q.TrimTo(5));
    EXPECT_EQ(q.Count(), 5);
    EXPECT_FALSE(q.TrimTo(2));
    ASSERT_EQ(q.Count(), 2);
    EXPECT_EQ(q.RecordAt(0)->Device, 4);
    EXPECT_EQ(q.RecordAt(1)->Device, 5);
    EXPECT_FALSE(q.TrimTo(-1));
    EXPECT_EQ(q.Count(), 0);
}

// Collects what the received-value path reports.
class TCapturedErrors : public TDriverErrorClass {
public:
    void WriteMessage(int32_t code, const std::string& text) override { Messages.emplace_back(code, text); }
    std::vector<std::pair<int32_t, std::string>> Messages;
};

class ReceivedValuesTest : public IntercomTest {
protected:
    ReceivedValuesTest() : IntercomTest("icroute") {}

    void SetUp() override {
        IntercomTest::SetUp();
        area = TIntercomInterface::Create(8, "Quillary.dat");
        ASSERT_TRUE(area->IsOpen());
        Intercom = area.get();
        ErrorObj = &errors;
    }
    void TearDown() override {
        VariableIndex = nullptr;
        Intercom = nullptr;
        ErrorObj = nullptr;
        IntercomTest::TearDown();
    }

    void AddTag(const std::string& routing, float divisor = 0, int32_t twoState = 0, uint8_t kind = 0) {
        hostapi::TVLVariableInfo info = MakeInfo(area->DMLVariablesList.GetCount() + 100, routing, -1.0f);
        info.Divisor = divisor;
        info.TwoState = twoState;
        info.Kind = kind;
        ASSERT_TRUE(area->DMLVariablesList.Add(info));
    }
    void BuildIndex() {
        ASSERT_TRUE(index.Build());
        VariableIndex = &index;
    }
    float ValueOf(int32_t entry) {
        TDMLVariableEntry e{};
        EXPECT_TRUE(area->DMLVariablesList.Read(entry, e));
        return e.Value;
    }

    std::unique_ptr<TIntercomInterface> area;
    TVariableIndex index;
    TCapturedErrors errors;
};

TEST_F(ReceivedValuesTest, ScaleDivisorAndTwoStateInversion) {
    AddTag("PLC: DEVICE=1; ADDRESS=1", 10);
    AddTag("PLC: DEVICE=1; ADDRESS=2", 0, 1);
    AddTag("PLC: DEVICE=1; ADDRESS=3", 4, 1); // scaled first, then inverted
    BuildIndex();

    ASSERT_TRUE(WriteTagValue(&index, "PLC", 1, 123.0f, "", 1));
    EXPECT_EQ(ValueOf(0), 123.0f / 10.0f);
    ASSERT_TRUE(WriteTagValue(&index, "PLC", 1, 0.0f, "", 2));
    EXPECT_EQ(ValueOf(1), 1.0f);
    ASSERT_TRUE(WriteTagValue(&index, "PLC", 1, 5.0f, "", 2));
    EXPECT_EQ(ValueOf(1), 0.0f);
    ASSERT_TRUE(WriteTagValue(&index, "PLC", 1, 0.5f, "", 3));
    EXPECT_EQ(ValueOf(2), 0.0f);

    index.Options = 1; // the option word switches the inversion off
    ASSERT_TRUE(WriteTagValue(&index, "PLC", 1, 5.0f, "", 2));
    EXPECT_EQ(ValueOf(1), 5.0f);

    TDMLVariableEntry e{};
    ASSERT_TRUE(area->DMLVariablesList.Read(0, e));
    EXPECT_LT(std::fabs(e.Time - platform::Now()), 1.0 / 86400 * 5);
    EXPECT_TRUE(errors.Messages.empty());
}

TEST_F(ReceivedValuesTest, LookupIgnoresTheLetterCaseOfPrefixAndStringAddress) {
    AddTag("PLC: DEVICE=2; ADDRESS=7");
    AddTag("Plc: Routing=Holding/Reg5");
    BuildIndex();
    ASSERT_TRUE(WriteTagValue(&index, "plc", 2, 42.0f, "", 7));
    EXPECT_EQ(ValueOf(0), 42.0f);
    ASSERT_TRUE(WriteTagValue(&index, "pLc", -1, 43.0f, "HOLDING/reg5", -1));
    EXPECT_EQ(ValueOf(1), 43.0f);
}

TEST_F(ReceivedValuesTest, UnknownReadingsAreNoErrorButMissingPiecesAre) {
    AddTag("PLC: DEVICE=2; ADDRESS=7");
    BuildIndex();
    EXPECT_TRUE(WriteTagValue(&index, "PLC", 2, 1.0f, "", 8));
    EXPECT_TRUE(WriteTagValue(&index, "PLC2", 2, 1.0f, "", 7));
    EXPECT_EQ(ValueOf(0), -1.0f);

    TVariableIndex empty;
    EXPECT_FALSE(WriteTagValue(&empty, "PLC", 2, 1.0f, "", 7));
    EXPECT_FALSE(WriteTagValue(nullptr, "PLC", 2, 1.0f, "", 7));
    Intercom = nullptr;
    EXPECT_FALSE(WriteTagValue(&index, "PLC", 2, 1.0f, "", 7));
    EXPECT_TRUE(errors.Messages.empty());
}

TEST_F(ReceivedValuesTest, FlushWritesEveryRecordAndSkipsTheUnrouted) {
    AddTag("PLC: DEVICE=1; ADDRESS=1");
    AddTag("PLC: DEVICE=1; ADDRESS=3");
    BuildIndex();
    TReceiveVariables q;
    q.Add("PLC", 1, 11.0f, "", 1);
    q.Add("PLC", 1, 22.0f, "", 2); // no host tag
    q.Add("PLC", 1, 33.0f, "", 3);
    EXPECT_TRUE(q.Flush());
    EXPECT_EQ(q.Count(), 0);
    EXPECT_EQ(ValueOf(0), 11.0f);
    EXPECT_EQ(ValueOf(1), 33.0f);
    EXPECT_TRUE(errors.Messages.empty());
}

TEST_F(ReceivedValuesTest, FlushReportsAnUnreadableEntryAndGoesOn) {
    AddTag("PLC: DEVICE=1; ADDRESS=1");
    AddTag("PLC: DEVICE=1; ADDRESS=2");
    AddTag("PLC: DEVICE=1; ADDRESS=3");
    BuildIndex();
    // The module's count shrinks under the index: entry 2 is no longer readable.
    TRawBlock raw;
    ASSERT_TRUE(raw.Open("Quillary.dat"));
    raw.Put<int32_t>(kStatic + 256, 2);

    TReceiveVariables q;
    q.Add("PLC", 1, 11.0f, "", 1);
    q.Add("PLC", 1, 33.0f, "", 3);
    q.Add("PLC", 1, 22.0f, "", 2);
    EXPECT_FALSE(q.Flush());
    EXPECT_EQ(q.Count(), 0);
    EXPECT_EQ(ValueOf(0), 11.0f);
    EXPECT_EQ(ValueOf(1), 22.0f);
    ASSERT_EQ(errors.Messages.size(), 2u);
    EXPECT_EQ(errors.Messages[0].first, -22);
    EXPECT_EQ(errors.Messages[0].second,
              platform::Cp("Ошибка при получении информации об обрабатываемом теге."));
    EXPECT_EQ(errors.Messages[1].first, -21);
    EXPECT_EQ(errors.Messages[1].second,
              platform::Cp("Ошибка при записи нового значения тега: PLC: DEVICE=1 ADDRESS=3"));
}

TEST_F(ReceivedValuesTest, FlushWithoutIndexOrAreaEmptiesTheQueue) {
    AddTag("PLC: DEVICE=1; ADDRESS=1");
    TReceiveVariables q;
    q.Add("PLC", 1, 11.0f, "", 1);
    EXPECT_FALSE(q.Flush()); // no index yet
    EXPECT_EQ(q.Count(), 0);
    ASSERT_EQ(errors.Messages.size(), 1u);
    EXPECT_EQ(errors.Messages[0].first, -20);
    EXPECT_EQ(errors.Messages[0].second,
              platform::Cp("Ошибка при инициализации данных сервера доступа к устройству."));

    BuildIndex();
    EXPECT_TRUE(q.Flush()); // empty queue
    Intercom = nullptr;
    q.Add("PLC", 1, 11.0f, "", 1);
    EXPECT_FALSE(q.Flush());
    EXPECT_EQ(q.Count(), 0);
    EXPECT_EQ(errors.Messages.size(), 2u);
    Intercom = area.get();
    EXPECT_EQ(ValueOf(0), -1.0f);

    TVariableIndex empty;
    VariableIndex = &empty;
    q.Add("PLC", 1, 11.0f, "", 1);
    EXPECT_TRUE(q.Flush()); // an empty index: nothing to write to
    EXPECT_EQ(q.Count(), 0);
}

TEST_F(ReceivedValuesTest, DynamicTagsByName) {
    EXPECT_FALSE(SetDynamicTag("LEVEL", true, 1.0f));
    EXPECT_TRUE(SetDynamicTag(" level ", false, 2.0f));
    EXPECT_TRUE(SetDynamicTag("LEVEL", true, 3.0f));
    TDynamicVariableEntry e{};
    ASSERT_TRUE(area->DynemicVariablesList.Read(0, e));
    EXPECT_EQ(e.Name.Get(), "LEVEL");
    EXPECT_EQ(+e.Value, 3.0f);
    EXPECT_LT(std::fabs(e.Time - platform::Now()), 1.0 / 86400 * 5);
    Intercom = nullptr;
    EXPECT_FALSE(SetDynamicTag("LEVEL", false, 4.0f));
}

TEST_F(ReceivedValuesTest, ImitatorTakesTheDevicesTagsOfKindZeroOrOne) {
    TImitatorVariableList none;
    none.Build(1, "PLC");
    EXPECT_EQ(none.Count(), 0); // no index

    AddTag("PLC: DEVICE=1; ADDRESS=5", 0, 0, 1);
    AddTag("PLC: DEVICE=1; ADDRESS=4", 0, 0, 0);
    AddTag("PLC: DEVICE=1; ADDRESS=6", 0, 0, 2); // another kind
    AddTag("PLC: DEVICE=2; ADDRESS=1");          // another device
    AddTag("OTHER: DEVICE=1; ADDRESS=1");        // another prefix
    BuildIndex();
    TImitatorVariableList list;
    list.Build(1, "plc");
    ASSERT_EQ(list.Count(), 2);
    for (int32_t i = 0; i < list.Count(); ++i) {
        const TVariableIndexItem* item = index.ItemAt(list.PairAt(i)->Index);
        EXPECT_EQ(item->Device, 1);
        EXPECT_EQ(item->Prefix.Get(), "PLC");
        EXPECT_EQ(list.PairAt(i)->Percent, 0);
    }
    EXPECT_LT(list.PairAt(0)->Index, list.PairAt(1)->Index); // index order
    EXPECT_EQ(index.ItemAt(list.PairAt(0)->Index)->Address, 4);
}

} // namespace
