// Decoding of data blocks: readers and word orders of both block kinds, conversions, formulas and
// subitems, bit strings, and the alarm table across polls.
#include "modbus/data_block.h"

#include "framework/terminal_data.h"
#include "modbus_test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace modbus {
namespace {

using testing::Bytes;
using testing::Lines;
using testing::Queued;
using V = std::vector<std::string>;

class DecodeTest : public testing::TStationFixture {
protected:
    // One request whose data block holds `items`.
    void Block(const std::string& items, const std::string& type = "NORMAL") {
        Describe("<EDDV2_Ostrolinka><device name=\"D\"><requestlist><request name=\"r\" address=\"0\" "
                 "size=\"8\"><datablock type=\"" +
                     type + "\">" + items +
                     "</datablock></request></requestlist></device></EDDV2_Ostrolinka>",
                 "D", 3);
    }
    int32_t Decode(const std::string& data) {
        return DecodeDataBlock(station, data, *descriptions.FindDevice("D")->Requests.Requests(0), &log,
                               &received);
    }
    // The values the decode of `data` queued; the queue and the log start empty each time.
    V Values(const std::string& data, int32_t expect = 0) {
        received.FreeAll();
        log.Clear();
        EXPECT_EQ(Decode(data), expect) << log.GetText();
        return Queued(received);
    }
};

TEST_F(DecodeTest, ThirtyTwoBitWordOrdersDifferByBlockKind) {
    const std::string item = "<item type=\"32u\" proc=\"value\" tsaddress=\"1\"/>";
    const std::string swapped = "<item type=\"32u_swap\" proc=\"value\" tsaddress=\"1\"/>";
    const std::string data = Bytes({0x00, 0x01, 0x00, 0x02});
    Block(item);
    EXPECT_EQ(Values(data), V{"1=131073"});
    Block(swapped);
    EXPECT_EQ(Values(data), V{"1=65538"});
    Block(item, "ALARMCODE");
    EXPECT_EQ(Values(data), V{"1=65538"});
    Block(swapped, "ALARMCODE");
    EXPECT_EQ(Values(data), V{"1=131073"});

    Block("<item type=\"32s\" proc=\"value\" tsaddress=\"1\"/><item type=\"32s_swap\" proc=\"value\" "
          "tsaddress=\"2\"/>");
    EXPECT_EQ(Values(Bytes({0x00, 0x00, 0x80, 0x00, 0xFF, 0xFF, 0xFF, 0xFE})), (V{"1=-2147483648", "2=-2"}));
    Block("<item type=\"32s\" proc=\"value\" tsaddress=\"1\"/><item type=\"32s_swap\" proc=\"value\" "
          "tsaddress=\"2\"/>",
          "ALARMCODE");
    EXPECT_EQ(Values(Bytes({0x80, 0x00, 0x00, 0x00, 0xFF, 0xFE, 0xFF, 0xFF})), (V{"1=-2147483648", "2=-2"}));
}

TEST_F(DecodeTest, SinglesReadAlikeInBothKinds) {
    for (const std::string kind : {"NORMAL", "ALARMCODE"}) {
        Block("<item type=\"single\" proc=\"value\" tsaddress=\"1\"/>"
              "<item type=\"single_swap\" proc=\"value\" tsaddress=\"2\"/>",
              kind);
        EXPECT_EQ(Values(Bytes({0x00, 0x00, 0x3F, 0x80, 0x3F, 0x80, 0x00, 0x00})), (V{"1=1", "2=1"})) << kind;
    }
}

TEST_F(DecodeTest, NarrowTypesAndTrailingBytes) {
    Block("<item type=\"byte\" proc=\"value\" tsaddress=\"1\"/><item type=\"short\" proc=\"value\" "
          "tsaddress=\"2\"/>"
          "<item type=\"8s\" proc=\"value\" tsaddress=\"3\"/><item type=\"integer\" proc=\"value\" "
          "tsaddress=\"4\"/>"
          "<item type=\"word\" proc=\"value\" tsaddress=\"5\"/>");
    // Bytes after the last item are ignored.
    EXPECT_EQ(Values(Bytes({0xFF, 0xFF, 0x7F, 0xFF, 0xFE, 0xFF, 0xFE, 0x99, 0x99})),
              (V{"1=255", "2=-1", "3=127", "4=-2", "5=65534"}));
    const framework::TReceiveVariable* r = received.RecordAt(0);
    EXPECT_EQ(r->Prefix.Get(), "PLC");
    EXPECT_EQ(r->Device, 3);
    EXPECT_EQ(r->StrAddress.Get(), "");
}

TEST_F(DecodeTest, ShortDataReadsAHalfWordThenFails) {
    Block("<item type=\"byte\" proc=\"value\" tsaddress=\"1\"/><item type=\"word\" proc=\"value\" "
          "tsaddress=\"2\"/>");
    EXPECT_EQ(Values(Bytes({0x01, 0x12})), (V{"1=1", "2=4608"}));
    // What was decoded before the failure stays queued.
    EXPECT_EQ(Values(Bytes({0x01}), -12), V{"1=1"});
    EXPECT_EQ(log.GetText(), "DecodeReceivedData: btWord Read buffer error.");

    EXPECT_EQ(Values("", -12), V{});
    EXPECT_EQ(log.GetText(), "DecodeReceivedData: Data buffer is empty.");
}

TEST_F(DecodeTest, ReadErrorsNameTheType) {
    const struct {
        const char* type;
        const char* word;
    } cases[] = {{"byte", "btByte"},         {"8s", "btShortInt"},       {"16s", "btSmallInt"},
                 {"16u", "btWord"},          {"32s", "btLongInt"},       {"32s_swap", "btLongInt"},
                 {"32u", "btLongWord"},      {"32u_swap", "btLongWord"}, {"single", "btSingle"},
                 {"single_swap", "btSingle"}};
    for (const auto& c : cases) {
        Block(std::string("<item type=\"16u\"/><item type=\"") + c.type + "\"/>");
        EXPECT_EQ(Values(Bytes({0x00, 0x01}), -12), V{}) << c.type;
        EXPECT_EQ(log.GetText(), std::string("DecodeReceivedData: ") + c.word + " Read buffer error.");
    }
}

TEST_F(DecodeTest, BitStrings) {
    Block("<item type=\"16u\" proc=\"bitstring\" tsaddress=\"100\"/>");
    V expected{"100=1"};
    for (int i = 101; i <= 114; ++i)
        expected.push_back(std::to_string(i) + "=0");
    expected.push_back("115=1");
    EXPECT_EQ(Values(Bytes({0x80, 0x01})), expected);

    // An unsigned 32-bit value with all its bits, bit 31 included.
    Block("<item type=\"32u_swap\" proc=\"bitset\" tsaddress=\"0\"/>");
    const V bits = Values(Bytes({0x80, 0x00, 0x00, 0x01}));
    ASSERT_EQ(bits.size(), 32u);
    EXPECT_EQ(bits[0], "0=1");
    EXPECT_EQ(bits[30], "30=0");
    EXPECT_EQ(bits[31], "31=1");

    // A single is rounded first (2.5 to 2); the width is 32.
    Block("<item type=\"single_swap\" proc=\"bitstring\" tsaddress=\"0\"/>");
    const V single = Values(Bytes({0x40, 0x20, 0x00, 0x00}));
    ASSERT_EQ(single.size(), 32u);
    EXPECT_EQ(single[0], "0=0");
    EXPECT_EQ(single[1], "1=1");

    // The width is the item's, also for its subitems; a negative address delivers nothing.
    Block("<item type=\"byte\" proc=\"bitstring\" tsaddress=\"-1\">"
          "<subitem type=\"word\" proc=\"bitstring\" tsaddress=\"10\" expression=\"%VALUE%*256+1\"/></item>");
    EXPECT_EQ(Values(Bytes({0x03})), (V{"10=1", "11=0", "12=0", "13=0", "14=0", "15=0", "16=0", "17=0"}));
}

TEST_F(DecodeTest, BitStringOfAValueBeyond32BitsStopsTheBlock) {
    Block("<item type=\"single\" proc=\"bitstring\" tsaddress=\"0\"/><item type=\"byte\" proc=\"value\" "
          "tsaddress=\"9\"/>");
    EXPECT_EQ(Values(Bytes({0x00, 0x00, 0x7F, 0xC0, 0x01}), -12), V{}); // NaN
    EXPECT_EQ(log.GetText(), "DecodeReceivedData: General exception.");
    EXPECT_EQ(Values(Bytes({0x00, 0x00, 0x50, 0x80, 0x01}), -12), V{}); // 1.7E10
}

TEST_F(DecodeTest, FormulasAndSubitemsStartFromTheRawValue) {
    Block("<item type=\"word\" proc=\"value\" tsaddress=\"1\" expression=\" %value%*2 \">"
          "<subitem proc=\"value\" tsaddress=\"2\"/>"
          "<subitem type=\"word\" proc=\"value\" tsaddress=\"3\" expression=\"%VALUE%+%Value%+1\"/></item>");
    EXPECT_EQ(Values(Bytes({0x00, 0x03})), (V{"1=6", "2=3", "3=7"}));
}

TEST_F(DecodeTest, FailingFormulaDropsOnlyItsOwnValue) {
    Block("<item type=\"word\" proc=\"value\" tsaddress=\"1\" expression=\"%VALUE%/0\">"
          "<subitem type=\"word\" proc=\"value\" tsaddress=\"2\" expression=\"[tag]\"/>"
          "<subitem type=\"word\" proc=\"value\" tsaddress=\"3\" expression=\"'text'\"/>"
          "<subitem type=\"word\" proc=\"value\" tsaddress=\"4\"/></item>"
          "<item type=\"byte\" proc=\"value\" tsaddress=\"5\"/>");
    EXPECT_EQ(Values(Bytes({0x00, 0x03, 0x08})), (V{"4=3", "5=8"}));
    const V lines = Lines(log.GetText());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(lines[0].starts_with("Decoding error(%VALUE%/0): ")) << lines[0];
    EXPECT_GT(lines[0].size(), std::string("Decoding error(%VALUE%/0): \r").size());
    EXPECT_EQ(lines[1], "Decoding error([tag]): \r"); // Null without a message
    EXPECT_TRUE(lines[2].starts_with("Decoding error('text'): Could not convert")) << lines[2];
}

TEST_F(DecodeTest, ConversionsToTheSubitemsTypes) {
    Block("<item type=\"word\">"
          "<subitem type=\"byte\" proc=\"value\" tsaddress=\"1\"/>"
          "<subitem type=\"8s\" proc=\"value\" tsaddress=\"2\"/>"
          "<subitem type=\"16s\" proc=\"value\" tsaddress=\"3\" expression=\"%VALUE%*100\"/>"
          "<subitem type=\"32u\" proc=\"value\" tsaddress=\"4\" expression=\"-%VALUE%\"/>"
          "<subitem type=\"byte\" proc=\"value\" tsaddress=\"5\" expression=\"%VALUE%-508.5\"/>"
          "<subitem type=\"byte\" proc=\"value\" tsaddress=\"6\" expression=\"%VALUE%-507.5\"/>"
          "<subitem proc=\"value\" tsaddress=\"7\" expression=\"%VALUE%/4\"/>"
          "<subitem type=\"single\" proc=\"value\" tsaddress=\"8\" expression=\"%VALUE%/4\"/>"
          "</item>");
    EXPECT_EQ(Values(Bytes({0x01, 0xFF})),
              (V{"1=255", "2=-1", "3=-14436", "4=4294966784", "5=2", "6=4", "7=127.75", "8=127.75"}));
}

TEST_F(DecodeTest, ValuesOutsideAConversionsRangeStopTheBlock) {
    for (const std::string sub :
         {"<subitem type=\"32s\" proc=\"value\" tsaddress=\"2\" expression=\"%VALUE%*1E9\"/>",
          "<subitem type=\"byte\" proc=\"value\" tsaddress=\"2\" expression=\"%VALUE%*1E10\"/>",
          "<subitem type=\"32u\" proc=\"value\" tsaddress=\"2\" expression=\"%VALUE%*1E19\"/>",
          "<subitem type=\"single\" proc=\"value\" tsaddress=\"2\" expression=\"%VALUE%*1E300\"/>",
          "<subitem proc=\"value\" tsaddress=\"2\" expression=\"%VALUE%*1E300\"/>"}) {
        Block("<item type=\"word\" proc=\"value\" tsaddress=\"1\">" + sub + "</item><item type=\"byte\"/>");
        EXPECT_EQ(Values(Bytes({0x00, 0x05, 0x01}), -12), V{"1=5"}) << sub;
        EXPECT_EQ(log.GetText(), "DecodeReceivedData: General exception.") << sub;
    }
    // Within 64 bits an unsigned 32-bit type keeps the low 32 bits.
    Block("<item type=\"word\"><subitem type=\"32u\" proc=\"value\" tsaddress=\"2\" "
          "expression=\"%VALUE%*4294967296+1\"/></item>");
    EXPECT_EQ(Values(Bytes({0x00, 0x05})), V{"2=1"});
}

TEST_F(DecodeTest, ValueTextKeepsFifteenDigitsAndReadsBackAsOneNumber) {
    Block("<item type=\"32u\" proc=\"value\" tsaddress=\"1\" expression=\"%VALUE%-4294967290\"/>"
          "<item type=\"single_swap\" proc=\"value\" tsaddress=\"2\" expression=\"Max(%VALUE%*1E10, 0)\"/>");
    // 0xFFFFFFFF, then 1E-10 as a single (2EDBE6FF).
    EXPECT_EQ(Values(Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0x2E, 0xDB, 0xE6, 0xFF})), (V{"1=5", "2=1"}));
}

TEST_F(DecodeTest, ProcKindsOfNormalBlocks) {
    Block("<item type=\"byte\" tsaddress=\"1\"/>"
          "<item type=\"byte\" proc=\"value\" tsaddress=\"-1\"/>"
          "<item type=\"byte\" proc=\"alarmcode\" tsaddress=\"3\"/>"
          "<item type=\"byte\" proc=\"other\" tsaddress=\"4\"/>");
    EXPECT_EQ(Values(Bytes({0x01, 0x02, 0x03, 0x04})), V{"3=3"});
    EXPECT_EQ(log.GetText(), "");
}

TEST_F(DecodeTest, AlarmBlocksRefuseBitStringsAndDeliverValues) {
    Block("<item type=\"word\" proc=\"bitstring\" tsaddress=\"-1\"/>"
          "<item type=\"word\" proc=\"value\" tsaddress=\"7\"/>"
          "<item type=\"word\" proc=\"value\" tsaddress=\"-7\"/>",
          "ALARMCODE");
    EXPECT_EQ(Values(Bytes({0x00, 0x01, 0x00, 0x02, 0x00, 0x03})), V{"7=2"});
    EXPECT_EQ(log.GetText(), "BitString: Proc type not supported in ALARMCODE data block.");
}

TEST_F(DecodeTest, AlarmTableOverSeveralPolls) {
    Block("<item type=\"word\" proc=\"alarmcode\" tsaddress=\"1000\"/>", "ALARMCODE");
    EXPECT_EQ(Values(Bytes({0x00, 0x05})), V{"1005=1"});
    EXPECT_EQ(Values(Bytes({0x00, 0x07})), (V{"1007=1", "1005=0"}));
    EXPECT_EQ(Values(Bytes({0x00, 0x00})), V{"1007=0"});
    EXPECT_EQ(Values(Bytes({0x00, 0x00})), V{});
    EXPECT_EQ(alarms.Count(), 0);
}

TEST_F(DecodeTest, AlarmCodesComeHighestFirstWithSignedOffsets) {
    Block("<item type=\"byte\" proc=\"alarmcode\" tsaddress=\"-10\"/>"
          "<item type=\"byte\" proc=\"alarmcode\" tsaddress=\"-10\"/>"
          "<item type=\"byte\" proc=\"alarmcode\" tsaddress=\"-10\"/>"
          "<item type=\"single_swap\" proc=\"alarmcode\" tsaddress=\"0\"/>",
          "ALARMCODE");
    // 2.5 rounds to 2; a code met twice is one entry.
    EXPECT_EQ(Values(Bytes({0x0F, 0x63, 0x0F, 0x40, 0x20, 0x00, 0x00})), (V{"89=1", "5=1", "2=1"}));
    ASSERT_EQ(alarms.Count(), 3);
    EXPECT_EQ(alarms.Entries(0)->Code, 89);
}

TEST_F(DecodeTest, AlarmTableIsSentAndPrunedWhenTheDecodeFails) {
    Block("<item type=\"word\" proc=\"alarmcode\" tsaddress=\"0\"/>"
          "<item type=\"word\" proc=\"alarmcode\" tsaddress=\"0\"/>",
          "ALARMCODE");
    EXPECT_EQ(Values(Bytes({0x00, 0x01, 0x00, 0x02})), (V{"2=1", "1=1"}));
    // The second item cannot be read: its code is reported absent.
    EXPECT_EQ(Values(Bytes({0x00, 0x01}), -12), (V{"2=0", "1=1"}));
    EXPECT_EQ(alarms.Count(), 1);
    EXPECT_EQ(Values("", -12), V{"1=0"});
    EXPECT_EQ(alarms.Count(), 0);
}

TEST_F(DecodeTest, AlarmCodePlusOffsetMustFit32Bits) {
    Block("<item type=\"word\" proc=\"alarmcode\" tsaddress=\"1\"/>"
          "<item type=\"32u\" proc=\"alarmcode\" tsaddress=\"0\"/>"
          "<item type=\"32u\" proc=\"alarmcode\" tsaddress=\"-2147483647\"/>",
          "ALARMCODE");
    EXPECT_EQ(Values(Bytes({0x00, 0x01, 0xFF, 0xFF, 0x7F, 0xFF, 0x00, 0x00}), -12), V{"2=1"});
    EXPECT_EQ(log.GetText(), "DecodeReceivedData: General exception.");
    // 0xFFFFFFFF - 2147483648 is within 32 bits; the table lives on across the requests.
    Block("<item type=\"32u\" proc=\"alarmcode\" tsaddress=\"-2147483648\"/>", "ALARMCODE");
    EXPECT_EQ(Values(Bytes({0xFF, 0xFF, 0xFF, 0xFF})), (V{"2147483647=1", "2=0"}));
    EXPECT_EQ(Values(Bytes({0x00, 0x00, 0x00, 0x00})), V{"2147483647=0"}); // a value of 0 is no alarm
    EXPECT_EQ(alarms.Count(), 0);
}

} // namespace
} // namespace modbus
