// The description file: its model and every message of the loader.
#include "modbus/edd_file.h"

#include "framework/xml_data_item.h"

#include "modbus_test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace modbus {
namespace {

using testing::Lines;
using testing::TCapturedErrors;

class EddFileTest : public ::testing::Test {
protected:
    bool Load(const std::string& text) { return file.LoadFromStrings(Lines(text)); }
    // The one message the load reported.
    std::string Message() const {
        EXPECT_EQ(errors.Messages.size(), 1u);
        if (errors.Messages.empty()) return {};
        EXPECT_EQ(errors.Codes[0], -1);
        return errors.Messages[0];
    }
    TDeviceTypeRecord* Device(const std::string& name) { return file.FindDevice(name); }

    TCapturedErrors errors;
    TEDDDeviceFile file;
};

TEST(EddTypes, DataTypeNamesAndProcNames) {
    const struct {
        const char* name;
        uint8_t code;
    } types[] = {{"byte", 1},         {"8U", 1},      {"shortint", 2}, {"8s", 2},       {"Short", 2},
                 {"smallint", 3},     {"INTEGER", 3}, {"16s", 3},      {"int16", 3},    {"word", 4},
                 {"uinteger", 4},     {"16u", 4},     {"uint16", 4},   {"longint", 5},  {"32s", 5},
                 {"longword", 6},     {"32u", 6},     {"single", 7},   {"32s_swap", 8}, {"32U_SWAP", 9},
                 {"single_swap", 10}, {"float", 0},   {"", 0},         {" byte", 0},    {"Unknown", 0}};
    for (const auto& t : types)
        EXPECT_EQ(ParseDataType(t.name), t.code) << t.name;
    EXPECT_EQ(ParseProcType("BitString"), pkBitString);
    EXPECT_EQ(ParseProcType("bitset"), pkBitString);
    EXPECT_EQ(ParseProcType("VALUE"), pkValue);
    EXPECT_EQ(ParseProcType("alarmcode"), pkAlarmCode);
    EXPECT_EQ(ParseProcType("Empty"), pkEmpty);
    EXPECT_EQ(ParseProcType("bits"), pkEmpty);
}

TEST_F(EddFileTest, EmptyRootLoadsInLowerCaseButClosingTagMustMatch) {
    EXPECT_TRUE(Load("<eddv2_ostrolinka></eddv2_ostrolinka>"));
    EXPECT_TRUE(Load("<eddv2_ostrolinka/>"));
    EXPECT_TRUE(Load(
        "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n<!-- a -->\n<eddv2_ostrolinka/>\n<!-- b -->"));
    EXPECT_EQ(file.Count(), 0);
    EXPECT_TRUE(errors.Messages.empty());

    const std::string text = "<EDDV2_OSTROLINKA>\n</eddv2_ostrolinka>";
    EXPECT_FALSE(Load(text));
    EXPECT_EQ(Message(), "XML ERROR: <EDDV2_OSTROLINKA>\r\n</eddv2_ostrolinka>");
}

TEST_F(EddFileTest, RootProblemsAndEmptyInput) {
    EXPECT_FALSE(file.LoadFromStrings({}));
    EXPECT_TRUE(errors.Messages.empty());

    const std::string wrong = "<EDDV1_Ostrolinka>" + std::string(120, ' ') + "</EDDV1_Ostrolinka>";
    EXPECT_FALSE(Load(wrong));
    EXPECT_EQ(Message(), "XML NAME ERROR: " + wrong.substr(0, 100));
}

TEST_F(EddFileTest, CommentLinesAreDroppedWhereverTheyStand) {
    EXPECT_TRUE(Load("; the plant's description\n"
                     "<EDDV2_Ostrolinka>\n"
                     "  <device name=\"a;b\"\n"
                     "   \t; a comment inside the opening tag\n"
                     "  >\n"
                     "; between the children\n"
                     "    <requestlist><request name=\"r\" address=\"1\" size=\"2\"/></requestlist>\n"
                     "  </device>\n"
                     "</EDDV2_Ostrolinka>\n"
                     ";;; trailing"));
    ASSERT_NE(Device("a;b"), nullptr);
    EXPECT_EQ(Device("a;b")->Requests.Count(), 1);
}

TEST_F(EddFileTest, LineWithTextBeforeItsSemicolonStaysWhole) {
    EXPECT_FALSE(Load("<EDDV2_Ostrolinka>\n"
                      "stray text ; not a comment\n"
                      "</EDDV2_Ostrolinka>"));
    EXPECT_EQ(Message(), "XML DATA ERROR: stray text ; not a comment");
}

TEST_F(EddFileTest, FullDeviceTypeModel) {
    ASSERT_TRUE(Load(R"(<EDDV2_Ostrolinka>
  <!-- two device types, foreign elements between -->
  <vendor info="ignored"><anything/></vendor>
  <DEVICE name="Meter">
    <!-- copied from the <DEVICE> of site B -->
    <notes>free <b>text</b></notes>
    <RequestList>
      <request name="status" id="7" address="$10" size="4" function="4" class="2">
        <datablock type="alarmcode">
          <item name="a" type="32u" proc="alarmcode" tsaddress="1000"/>
        </datablock>
      </request>
      <request name="values" address="0" size="2">
        <comment/>
        <datablock>
          <item name="t" type="single" proc="value" tsaddress="5" expression="%VALUE%*2">
            <subitem name="s1" type="byte" proc="value" tsaddress="6"/>
            <subitem name="s2" type="nonsense" tsaddress="7"/>
            <subitem type="byte" x=1/>
          </item>
        </datablock>
        <datablock type="Normal"><item type="word"/></datablock>
      </request>
    </RequestList>
    <requestlist><request name="more" address="3" size="1"/></requestlist>
    <commands>
      <command name="setpoint" id="3" type="word" tsaddress="20">
        <write address="100" function="6" expression="%VALUE%/10" sleep="70000" type="word" size="1"/>
        <pause address="101" function="16" wait="500"/>
        <both address="102" sleep="" wait="25"/>
      </command>
      <command type="byte" tsaddress="-5"><coil address="0" function="5"/></command>
    </commands>
  </DEVICE>
  <device><!-- </device> --><requestlist/></device>
</EDDV2_Ostrolinka>)"));
    EXPECT_TRUE(errors.Messages.empty());
    ASSERT_EQ(file.Count(), 2);
    EXPECT_EQ(file.Devices(0)->name, "Meter"); // byte order: upper case first
    EXPECT_EQ(file.Devices(1)->name, "Unknown");

    const TDeviceTypeRecord* meter = Device("Meter");
    ASSERT_NE(meter, nullptr);
    EXPECT_EQ(Device("meter"), nullptr);
    ASSERT_EQ(meter->Requests.Count(), 3);

    const TDeviceRequest& status = *meter->Requests.Requests(0);
    EXPECT_EQ(status.name, "status");
    EXPECT_EQ(status.id, 7);
    EXPECT_EQ(status.address, 16);
    EXPECT_EQ(status.size, 4);
    EXPECT_EQ(status.function, 4);
    EXPECT_EQ(status.class_, 2);
    EXPECT_EQ(status.DataBlock.BlockType, "ALARMCODE");
    ASSERT_EQ(status.DataBlock.Count(), 1);
    EXPECT_EQ(status.DataBlock.Items(0)->ProcKind, pkAlarmCode);
    EXPECT_EQ(status.DataBlock.Items(0)->tsaddress, 1000);

    const TDeviceRequest& values = *meter->Requests.Requests(1);
    EXPECT_EQ(values.function, 3);
    EXPECT_EQ(values.id, -1);
    // Two data blocks add to one; the last one's type wins.
    EXPECT_EQ(values.DataBlock.BlockType, "NORMAL");
    ASSERT_EQ(values.DataBlock.Count(), 2);
    const TDataBlockItem* t = values.DataBlock.Items(0);
    EXPECT_EQ(t->name, "t");
    EXPECT_EQ(t->TypeCode, btSingle);
    EXPECT_EQ(t->ProcKind, pkValue);
    EXPECT_EQ(t->expression, "%VALUE%*2");
    const TDataBlockItem* s1 = t->NextSubitem.get();
    ASSERT_NE(s1, nullptr);
    EXPECT_EQ(s1->name, "s1");
    EXPECT_EQ(s1->TypeCode, btByte);
    const TDataBlockItem* s2 = s1->NextSubitem.get();
    ASSERT_NE(s2, nullptr);
    EXPECT_EQ(s2->TypeCode, btUnknown); // a subitem takes any type
    EXPECT_EQ(s2->tsaddress, 7);
    const TDataBlockItem* s3 = s2->NextSubitem.get();
    ASSERT_NE(s3, nullptr); // did not parse: an empty subitem
    EXPECT_EQ(s3->TypeCode, btUnknown);
    EXPECT_EQ(s3->ProcKind, pkEmpty);
    EXPECT_EQ(s3->tsaddress, -1);
    EXPECT_EQ(s3->NextSubitem, nullptr);
    const TDataBlockItem* w = values.DataBlock.Items(1);
    EXPECT_EQ(w->name, "Unknown");
    EXPECT_EQ(w->ProcKind, pkEmpty);
    EXPECT_EQ(w->tsaddress, -1);

    // A request without a data block has an empty NORMAL one.
    EXPECT_EQ(meter->Requests.Requests(2)->DataBlock.BlockType, "NORMAL");
    EXPECT_EQ(meter->Requests.Requests(2)->DataBlock.Count(), 0);

    ASSERT_EQ(meter->Commands.Count(), 2);
    EXPECT_EQ(meter->Commands.Commands(0)->tsaddress, -5); // sorted, signed
    const TDeviceCommand* setpoint = meter->Commands.FindByTsAddress(20);
    ASSERT_NE(setpoint, nullptr);
    EXPECT_EQ(setpoint->name, "setpoint");
    EXPECT_EQ(setpoint->id, 3);
    EXPECT_EQ(setpoint->TypeCode, btWord);
    ASSERT_EQ(setpoint->Actions.Count(), 3);
    const TCommandActionItem& write = *setpoint->Actions.Actions(0);
    EXPECT_EQ(write.address, 100);
    EXPECT_EQ(write.function, 6);
    EXPECT_EQ(write.expression, "%VALUE%/10");
    EXPECT_EQ(write.sleep, 4464); // the low 16 bits of 70000
    EXPECT_EQ(write.size, 1);
    EXPECT_EQ(write.TypeCode, btWord);
    EXPECT_EQ(setpoint->Actions.Actions(1)->sleep, 500);
    EXPECT_EQ(setpoint->Actions.Actions(1)->function, 16);
    EXPECT_EQ(setpoint->Actions.Actions(2)->sleep, 25);
    EXPECT_EQ(meter->Commands.FindByTsAddress(21), nullptr);
}

TEST_F(EddFileTest, DuplicatesKeepTheFirst) {
    ASSERT_TRUE(Load(R"(<EDDV2_Ostrolinka>
  <device name="A"><requestlist><request name="one" address="0" size="1"/></requestlist>
    <commands>
      <command type="word" tsaddress="9"><first address="1" function="6"/></command>
      <command type="word" tsaddress="9"><second address="2" function="6"/></command>
    </commands>
  </device>
  <device name="A"><requestlist>
    <request name="x" address="0" size="1"/><request name="y" address="0" size="1"/>
  </requestlist></device>
</EDDV2_Ostrolinka>)"));
    ASSERT_EQ(file.Count(), 1);
    EXPECT_EQ(Device("A")->Requests.Count(), 1);
    ASSERT_EQ(Device("A")->Commands.Count(), 1);
    EXPECT_EQ(Device("A")->Commands.FindByTsAddress(9)->Actions.Actions(0)->address, 1);
}

TEST_F(EddFileTest, NamesAreCutTo255Characters) {
    const std::string longName(300, 'N');
    ASSERT_TRUE(Load("<EDDV2_Ostrolinka><device name=\"" + longName + "\"><requestlist><request name=\"" +
                     longName + "\" address=\"0\" size=\"1\"/></requestlist></device></EDDV2_Ostrolinka>"));
    ASSERT_EQ(file.Count(), 1);
    EXPECT_EQ(file.Devices(0)->name.size(), 255u);
    EXPECT_EQ(file.Devices(0)->Requests.Requests(0)->name.size(), 255u);
    EXPECT_EQ(Device(longName), file.Devices(0));
    EXPECT_EQ(Device(longName.substr(0, 254)), nullptr);
}

TEST_F(EddFileTest, InvalidRequestsFailTheLoad) {
    const std::string head = "<EDDV2_Ostrolinka><device name=\"kept\"/><device name=\"D\"><requestlist>";
    const std::string tail = "</requestlist></device></EDDV2_Ostrolinka>";
    const std::string noSize = "<request name=\"r\" address=\"0\"/>";
    EXPECT_FALSE(Load(head + noSize + tail));
    EXPECT_EQ(Message(), "XML ERROR: " + noSize);
    // Device types read before the failure stay usable.
    EXPECT_NE(Device("kept"), nullptr);
    EXPECT_EQ(Device("D"), nullptr);

    for (const std::string request :
         {"<request name=\"r\" address=\"0\" size=\"0\"/>", "<request address=\"0\" size=\"1\"/>",
          "<request name=\"\" address=\"0\" size=\"1\"/>", "<request name=\"r\" address=\"-1\" size=\"1\"/>",
          "<request name=\"r\" address=\"x\" size=\"1\"/>"}) {
        errors.Messages.clear();
        file.FreeAll();
        EXPECT_FALSE(Load(head + request + tail)) << request;
        EXPECT_EQ(Message(), "XML ERROR: " + request);
    }
}

TEST_F(EddFileTest, RequestChildrenMustParseAndBeFollowedByNothing) {
    const std::string head = "<EDDV2_Ostrolinka><device name=\"D\"><requestlist>";
    const std::string tail = "</requestlist></device></EDDV2_Ostrolinka>";

    const std::string notRequest = "<query name=\"r\" address=\"0\" size=\"1\"/>";
    EXPECT_FALSE(Load(head + notRequest + tail));
    EXPECT_EQ(Message(), "XML ERROR: Tag \"request\" expected: " + notRequest);

    errors.Messages.clear();
    EXPECT_FALSE(Load(head + "<request name=\"r\" address=\"0\" size=\"1\"><note x=1/></request>" + tail));
    EXPECT_EQ(Message(), "XML ERROR: <note x=1/>");

    errors.Messages.clear();
    EXPECT_FALSE(Load(head + "<request name=\"r\" address=\"0\" size=\"1\"><note/> left</request>" + tail));
    EXPECT_EQ(Message(), "XML ERROR: <note/> left");

    errors.Messages.clear();
    const std::string longTail(150, 'z');
    EXPECT_FALSE(Load(head + "<request name=\"r\" address=\"0\" size=\"1\"/>" + longTail + tail));
    EXPECT_EQ(Message(), "XML END DATA ERROR: " + longTail.substr(0, 100));
}

TEST_F(EddFileTest, ItemsNeedAKnownTypeAndNothingAfterTheirSubitems) {
    const std::string head =
        "<EDDV2_Ostrolinka><device name=\"D\"><requestlist><request name=\"r\" address=\"0\" size=\"1\">"
        "<datablock>";
    const std::string tail = "</datablock></request></requestlist></device></EDDV2_Ostrolinka>";
    for (const std::string item :
         {"<item name=\"i\" type=\"float\"/>", "<item name=\"i\"/>", "<value type=\"byte\"/>",
          "<item type=\"byte\"><subitem type=\"byte\"/> stray</item>"}) {
        errors.Messages.clear();
        EXPECT_FALSE(Load(head + "<item type=\"word\"/>\n  " + item + tail)) << item;
        EXPECT_EQ(Message(), "XML ERROR: " + item);
    }
    // Text after the items of a data block is not looked at.
    errors.Messages.clear();
    EXPECT_TRUE(Load(head + "<item type=\"word\"/><item type=\"byte\"/> trailing words" + tail));
    EXPECT_EQ(Device("D")->Requests.Requests(0)->DataBlock.Count(), 2);
}

TEST_F(EddFileTest, CommandFailures) {
    const std::string head = "<EDDV2_Ostrolinka><device name=\"D\"><commands>";
    const std::string tail = "</commands></device></EDDV2_Ostrolinka>";

    const std::string noType = "<command tsaddress=\"1\"><a address=\"0\" function=\"6\"/></command>";
    EXPECT_FALSE(Load(head + noType + tail));
    EXPECT_EQ(Message(), "WRONG XML COMMANDS DATA!" + noType);
    EXPECT_EQ(Device("D"), nullptr);

    const std::string badAction = "<command type=\"word\" tsaddress=\"1\"><a function=\"6\"/></command>";
    errors.Messages.clear();
    EXPECT_FALSE(Load(head + badAction + tail));
    EXPECT_EQ(Message(), "WRONG XML COMMANDS DATA!" + badAction);

    const std::string notCommand = "<cmd type=\"word\" tsaddress=\"1\"/>";
    errors.Messages.clear();
    EXPECT_FALSE(Load(head + notCommand + tail));
    EXPECT_EQ(Message(), "WRONG XML COMMANDS DATA!" + notCommand);

    // The text after the last command is reported whole, not cut.
    const std::string rest(150, 'q');
    errors.Messages.clear();
    EXPECT_FALSE(Load(head + "<command type=\"word\" tsaddress=\"1\"/>" + rest + tail));
    EXPECT_EQ(Message(), "WRONG XML COMMANDS DATA!" + rest);
}

TEST_F(EddFileTest, RootChildrenMustParse) {
    EXPECT_FALSE(Load("<EDDV2_Ostrolinka><device name=\"ok\"/><other x=1/></EDDV2_Ostrolinka>"));
    EXPECT_EQ(Message(), "XML ERROR: <other x=1/>");
    EXPECT_NE(Device("ok"), nullptr);
}

TEST_F(EddFileTest, DeviceChildrenMustParseAndTextAfterThemIsPassedOver) {
    EXPECT_FALSE(Load("<EDDV2_Ostrolinka><device name=\"D\"><requestlist x=1/></device></EDDV2_Ostrolinka>"));
    EXPECT_EQ(Message(), "XML ERROR: <requestlist x=1/>");
    ASSERT_TRUE(Load("<EDDV2_Ostrolinka><device name=\"D\">"
                     "<requestlist><request name=\"r\" address=\"0\" size=\"1\"/></requestlist>"
                     " loose text </device></EDDV2_Ostrolinka>"));
    EXPECT_EQ(Device("D")->Requests.Count(), 1);
}

TEST_F(EddFileTest, DeeplyNestedItemsLoadWithoutExhaustingTheStack) {
    std::string nested;
    for (int i = 0; i < 100; ++i)
        nested += "<item type=\"byte\">";
    for (int i = 0; i < 100; ++i)
        nested += "</item>";
    ASSERT_TRUE(Load("<EDDV2_Ostrolinka><device name=\"D\"><requestlist><request name=\"r\" address=\"0\" "
                     "size=\"1\"><datablock>" +
                     nested + "</datablock></request></requestlist></device></EDDV2_Ostrolinka>"));
    const TDataBlockItem* item = Device("D")->Requests.Requests(0)->DataBlock.Items(0);
    int chain = 0;
    for (const TDataBlockItem* x = item; x != nullptr; x = x->NextSubitem.get())
        ++chain;
    EXPECT_GT(chain, 1);
    EXPECT_LT(chain, 100);
}

TEST_F(EddFileTest, ElementsNestedBeyondTheReadersLimitAreAnXmlDataError) {
    for (const int depth : {framework::kMaxElementNesting, framework::kMaxElementNesting + 1}) {
        SCOPED_TRACE(depth);
        std::string nested;
        for (int i = 0; i < depth; ++i)
            nested += "<device name=\"d\">";
        for (int i = 0; i < depth; ++i)
            nested += "</device>";
        file.FreeAll();
        errors.Messages.clear();
        const bool loaded = Load("<EDDV2_Ostrolinka>" + nested + "</EDDV2_Ostrolinka>");
        if (depth <= framework::kMaxElementNesting) {
            EXPECT_TRUE(loaded);
            EXPECT_NE(Device("d"), nullptr);
        } else {
            EXPECT_FALSE(loaded);
            EXPECT_EQ(Message(), "XML DATA ERROR: " + nested.substr(0, 100));
            EXPECT_EQ(file.Count(), 0);
        }
    }
}

TEST_F(EddFileTest, LoadFromFileReadsCrLfAndLfFiles) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("edd_test_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto write = [&](const std::string& name, const std::string& bytes) {
        std::ofstream(dir / name, std::ios::binary) << bytes;
        return (dir / name).string();
    };
    EXPECT_FALSE(file.LoadFromFile((dir / "missing.edd").string()));

    const std::string body = "<EDDV2_Ostrolinka>{}<device name=\"D\">{}<requestlist>{}"
                             "<request name=\"r\" address=\"0\" size=\"1\"/>{}</requestlist></device>{}"
                             "</EDDV2_Ostrolinka>{}";
    for (const std::string eol : {"\r\n", "\n", "\r"}) {
        std::string text = body;
        for (std::size_t at; (at = text.find("{}")) != std::string::npos;)
            text.replace(at, 2, eol + ";c" + eol);
        file.FreeAll();
        EXPECT_TRUE(file.LoadFromFile(write("d.edd", text)));
        ASSERT_NE(Device("D"), nullptr);
        EXPECT_EQ(Device("D")->Requests.Count(), 1);
    }
    EXPECT_TRUE(errors.Messages.empty());
    EXPECT_FALSE(file.LoadFromFile(write("empty.edd", "")));
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace modbus
