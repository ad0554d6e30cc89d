// CRC, frame stream readers and the poll, write and reply frames of a device, byte for byte.
#include "modbus/crc16.h"
#include "modbus/frame_stream.h"
#include "modbus/rtu_frames.h"

#include "framework/terminal_data.h"
#include "modbus_test_support.h"
#include "platform/clock.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace modbus {
namespace {

using testing::Bytes;
using testing::Hex;
using testing::Lines;
using testing::WithCrc;

TEST(Crc16, CheckValueAndRequestExample) {
    const std::string check = "123456789";
    // The check value 0x4B37, returned with its bytes exchanged.
    EXPECT_EQ(CalcCrc16(check.data(), static_cast<uint16_t>(check.size())), 0x374B);
    const std::string request = Bytes({0x01, 0x03, 0x00, 0x00, 0x00, 0x0A});
    EXPECT_EQ(CalcCrc16(request.data(), 6), 0xC5CD);
    EXPECT_EQ(CalcCrc16(request.data(), 0), 0xFFFF);

    TFrameStream stream(request);
    stream.SetPosition(2); // the CRC goes behind the whole content wherever the position is
    ASSERT_TRUE(FrameAppendCrc(stream));
    EXPECT_EQ(Hex(stream.Bytes()), "01 03 00 00 00 0A C5 CD");
}

TEST(FrameStream, ReadersStopAtTheEndAndAcceptAHalfWord) {
    TFrameStream stream(Bytes({0x12, 0x34, 0x56}));
    uint8_t b = 7;
    uint16_t w = 7;
    EXPECT_TRUE(FrameReadWord(&stream, w));
    EXPECT_EQ(w, 0x1234);
    EXPECT_TRUE(FrameReadWord(&stream, w));
    EXPECT_EQ(w, 0x5600); // one byte left: it is the high byte
    EXPECT_FALSE(FrameReadWord(&stream, w));
    EXPECT_EQ(w, 0);
    b = 7;
    EXPECT_FALSE(FrameReadByte(&stream, b));
    EXPECT_EQ(b, 0);
    EXPECT_FALSE(FrameReadByte(nullptr, b));
    EXPECT_FALSE(FrameReadWord(nullptr, w));

    TFrameStream longs(Bytes({0x00, 0x01, 0x00, 0x02, 0x00, 0x01, 0x00}));
    uint32_t l = 0;
    EXPECT_TRUE(FrameReadLong(&longs, l, false));
    EXPECT_EQ(l, 0x00020001u);
    EXPECT_TRUE(FrameReadLong(&longs, l, true)); // 00 01, then a half word 00 00
    EXPECT_EQ(l, 0x00010000u);
    EXPECT_FALSE(FrameReadLong(&longs, l, true));

    TFrameStream half(Bytes({0x3F}));
    float f = 1;
    EXPECT_FALSE(FrameReadSingle(&half, f, true)); // the second word has no byte
}

// A device type "T" with the requests and commands the frame tests need.
class FramesTest : public testing::TStationFixture {
protected:
    void SetUp() override {
        Describe(R"(<EDDV2_Ostrolinka>
<device name="T">
  <requestlist>
    <request name="holding" address="0" size="10"><datablock><item type="word" proc="value" tsaddress="1"/></datablock></request>
    <request name="input" address="$1234" size="2" function="4"><datablock><item type="byte" proc="value" tsaddress="2"/></datablock></request>
    <request name="odd" address="0" size="1"><datablock type="RAW"><item type="byte"/></datablock></request>
  </requestlist>
  <commands>
    <command type="word" tsaddress="40">
      <set address="100" function="6" sleep="30"/>
      <confirm address="101" function="5"/>
    </command>
  </commands>
</device>
</EDDV2_Ostrolinka>)",
                 "T", 1);
        command.VariableId = 77;
        command.Domain.Set("PLC");
        command.Device = 1;
        command.TagAddress = 40;
        command.StrAddress.Set("");
        command.Value = 12.5f;
    }

    std::string Read(int32_t index, bool* needAnswer = nullptr) {
        std::string frame = "x";
        bool need = false;
        BuildReadRequest(station, index, frame, &log, need);
        if (needAnswer != nullptr) *needAnswer = need;
        return Hex(frame);
    }

    static TCommandActionItem Action(uint16_t function, const std::string& expression = "") {
        TCommandActionItem a;
        a.address = 7;
        a.function = function;
        a.expression = expression;
        return a;
    }

    // The bytes of a write frame for `value` after the address, without slave, function, address and CRC.
    std::string Written(uint16_t function, float value, const std::string& expression = "") {
        command.Value = value;
        const std::string frame = BuildWriteFrame(0x11, command, Action(function, expression), &log);
        if (frame.empty()) return "none";
        EXPECT_EQ(frame, WithCrc(frame.substr(0, frame.size() - 2)));
        EXPECT_EQ(Hex(frame.substr(0, 4)),
                  "11 " + Hex(std::string(1, static_cast<char>(function))) + " 00 07");
        return Hex(frame.substr(4, frame.size() - 6));
    }

    framework::TCommandRecord command{};
};

TEST_F(FramesTest, PollRequestsOneStepPerRequest) {
    bool need = false;
    EXPECT_EQ(Read(0, &need), "01 03 00 00 00 0A C5 CD");
    EXPECT_TRUE(need);
    station.DeviceAddress = 17;
    EXPECT_EQ(Read(1), "11 04 12 34 00 02 37 ED");
    // The first step without a request ends the pass.
    EXPECT_EQ(Read(3, &need), "");
    EXPECT_FALSE(need);
    EXPECT_EQ(Read(-1, &need), "");
    EXPECT_FALSE(need);
    EXPECT_EQ(log.GetText(), "");
}

// A slave address outside the editor's limits builds no frame, read or write: its low byte would
// be another device, and 0 every device at once. The step is refused with -10 and its text.
TEST_F(FramesTest, ASlaveAddressOutsideOneTo255BuildsNoFrame) {
    uint16_t delay = 0;
    bool need = false;
    std::string frame;
    for (const int32_t address : {300, 256, 0, -1}) {
        station.DeviceAddress = address;
        const std::string line =
            platform::Cp("Ошибка в поле адреса устройства " + std::to_string(address) + ".");
        log.Clear();
        frame = "x";
        EXPECT_EQ(BuildReadRequest(station, 0, frame, &log, need), -10) << address;
        EXPECT_EQ(frame, "") << address;
        EXPECT_EQ(log.GetText(), line);
        log.Clear();
        frame = "x";
        EXPECT_EQ(BuildWriteRequest(station, delay, 0, frame, &log, need, command), -10) << address;
        EXPECT_EQ(frame, "") << address;
        EXPECT_EQ(Lines(log.GetText()).back(), line);
        EXPECT_EQ(BuildWriteFrame(address, command, Action(6), &log), "") << address;
        // The reply of the device the low byte names is no reply of this one.
        EXPECT_EQ(CheckWriteResponse(address, WithCrc(Bytes({0x2C, 0x06, 0x00, 0x07, 0x00, 0x05}))), -10);
    }
    station.DeviceAddress = 255;
    EXPECT_EQ(Read(0).substr(0, 5), "FF 03");
    EXPECT_EQ(Hex(BuildWriteFrame(255, command, Action(6), &log)).substr(0, 5), "FF 06");
}

// The file's numbers are not cut to their fields either: a function, register address or quantity
// too wide refuses the step with -1 and nothing is written; a write function keeps its whole number
// and is refused as unsupported.
TEST_F(FramesTest, FileNumbersTooWideForTheirFieldBuildNoFrame) {
    Describe(R"(<EDDV2_Ostrolinka><device name="W">
  <requestlist>
    <request name="function" address="0" size="1" function="259"/>
    <request name="address" address="65536" size="1"/>
    <request name="size" address="0" size="65537"/>
    <request name="widest" address="65535" size="65535" function="255"/>
  </requestlist>
  <commands>
    <command type="word" tsaddress="50"><set address="65636" function="6"/></command>
    <command type="word" tsaddress="51"><set address="7" function="65542"/></command>
    <command type="word" tsaddress="52"><set address="65535" function="6"/></command>
  </commands>
</device></EDDV2_Ostrolinka>)",
             "W", 1);
    std::string frame;
    bool need = false;
    for (const int32_t index : {0, 1, 2}) {
        frame = "x";
        EXPECT_EQ(BuildReadRequest(station, index, frame, &log, need), -1) << index;
        EXPECT_EQ(frame, "") << index;
    }
    EXPECT_EQ(log.GetText(), "");
    EXPECT_EQ(Read(3).substr(0, 17), "01 FF FF FF FF FF");

    uint16_t delay = 0;
    command.TagAddress = 50;
    EXPECT_EQ(BuildWriteRequest(station, delay, 0, frame, &log, need, command), -1);
    EXPECT_EQ(frame, "");
    log.Clear();
    command.TagAddress = 51;
    EXPECT_EQ(BuildWriteRequest(station, delay, 0, frame, &log, need, command), 0);
    EXPECT_EQ(frame, "");
    EXPECT_EQ(Lines(log.GetText()).back(), "ERROR::Unsupported MODBUS function! (65542)");
    command.TagAddress = 52;
    EXPECT_EQ(BuildWriteRequest(station, delay, 0, frame, &log, need, command), 0);
    EXPECT_EQ(Hex(frame).substr(0, 11), "01 06 FF FF");
}

TEST_F(FramesTest, MissingDescriptionsOrDeviceType) {
    const std::string reply = WithCrc(Bytes({0x01, 0x03, 0x02, 0x00, 0x05}));
    station.Descriptions = nullptr;
    EXPECT_EQ(Read(0), "");
    EXPECT_EQ(ParseReadResponse(station, 0, &log, &received, reply), -1);
    EXPECT_EQ(log.GetText(), ""); // no description file: silently nothing

    station.Descriptions = &descriptions;
    station.RequestType = "t";
    const std::string line = "Список запросов к устройству не определен!"_cp;
    EXPECT_EQ(Read(0), "");
    EXPECT_EQ(log.GetText(), line);
    EXPECT_EQ(ParseReadResponse(station, 0, &log, &received, reply), -1);
    EXPECT_EQ(log.GetText(), line + "\r\n" + line);
    EXPECT_EQ(received.Count(), 0);
}

TEST_F(FramesTest, PollReplyChecks) {
    const auto parse = [&](const std::string& answer, int32_t index = 0) {
        return ParseReadResponse(station, index, &log, &received, answer);
    };
    const std::string good = WithCrc(Bytes({0x01, 0x03, 0x02, 0x00, 0x05}));
    EXPECT_EQ(parse(good), 0);
    ASSERT_EQ(received.Count(), 1);
    EXPECT_EQ(received.RecordAt(0)->Value, 5.0f);
    EXPECT_EQ(received.RecordAt(0)->Address, 1);

    std::string corrupt = good;
    corrupt[3] = 0x01;
    EXPECT_EQ(parse(corrupt), -9);
    EXPECT_EQ(parse(Bytes({0x01})), -9);
    EXPECT_EQ(parse(""), -9);
    EXPECT_EQ(parse(good, 3), -1);
    EXPECT_EQ(parse(good, -1), -1);
    EXPECT_EQ(parse(WithCrc(Bytes({0x02, 0x03, 0x02, 0x00, 0x05}))), -10);
    EXPECT_EQ(parse(WithCrc(Bytes({0x01, 0x83, 0x02}))), -11);
    // 0x80 itself passes and is decoded.
    EXPECT_EQ(parse(WithCrc(Bytes({0x01, 0x80, 0x02, 0x00, 0x09}))), 0);
    EXPECT_EQ(received.RecordAt(1)->Value, 9.0f);
    EXPECT_EQ(received.Count(), 2);
}

TEST_F(FramesTest, PollRepliesTooShortForSlaveAndFunctionAreRefused) {
    // FF FF is a valid CRC over nothing; with three bytes the function byte is missing. Neither is a
    // reply of this device, whatever the missing bytes would read as.
    EXPECT_EQ(ParseReadResponse(station, 0, &log, &received, Bytes({0xFF, 0xFF})), -1);
    EXPECT_EQ(ParseReadResponse(station, 0, &log, &received, WithCrc(Bytes({0x01}))), -1);
    station.DeviceAddress = 0;
    EXPECT_EQ(ParseReadResponse(station, 0, &log, &received, Bytes({0xFF, 0xFF})), -1);
    EXPECT_EQ(ParseReadResponse(station, 0, &log, &received, WithCrc(Bytes({0x00}))), -1);
    // Slave and function only: no data to decode.
    station.DeviceAddress = 1;
    EXPECT_EQ(ParseReadResponse(station, 0, &log, &received, WithCrc(Bytes({0x01, 0x03}))), -12);
    EXPECT_EQ(log.GetText(), "DecodeReceivedData: Data buffer is empty.");
    EXPECT_EQ(received.Count(), 0);
}

TEST_F(FramesTest, ByteCountIsNotComparedWithTheData) {
    // The count says 6, two bytes follow: decoded as far as they go.
    EXPECT_EQ(ParseReadResponse(station, 0, &log, &received, WithCrc(Bytes({0x01, 0x03, 0x06, 0x01, 0x02}))),
              0);
    ASSERT_EQ(received.Count(), 1);
    EXPECT_EQ(received.RecordAt(0)->Value, 258.0f);
}

TEST_F(FramesTest, UnknownBlockTypeGivesMinus31WithoutALogLine) {
    EXPECT_EQ(ParseReadResponse(station, 2, &log, &received, WithCrc(Bytes({0x01, 0x03, 0x01, 0x05}))), -31);
    EXPECT_EQ(log.GetText(), "");
    EXPECT_EQ(received.Count(), 0);
}

TEST_F(FramesTest, WriteFramesOfFunctions5_6And16) {
    EXPECT_EQ(Written(5, 0.5f), "FF 00");
    EXPECT_EQ(Written(5, -3.0f), "00 00");
    EXPECT_EQ(Written(5, 0.0f), "00 00");
    EXPECT_EQ(Written(6, 70000.0f), "11 70"); // the low 16 bits
    EXPECT_EQ(Written(6, 2.5f), "00 02");     // halves to even
    EXPECT_EQ(Written(6, 3.5f), "00 04");
    EXPECT_EQ(Written(6, -1.0f), "FF FF");
    EXPECT_EQ(Written(16, 65538.0f), "00 02 04 00 02 00 01"); // low word first
    EXPECT_EQ(Written(16, -2.0f), "00 02 04 FF FE FF FF");
    EXPECT_EQ(log.GetText(), "");

    command.Value = 100.0f;
    EXPECT_EQ(Hex(BuildWriteFrame(0x11, command, Action(6), &log)).substr(0, 6), "11 06 ");
    TCommandActionItem a = Action(6);
    a.address = 0x64;
    command.Value = 70000.0f;
    EXPECT_EQ(Hex(BuildWriteFrame(0x11, command, a, &log)), "11 06 00 64 11 70 C7 31");
    a.function = 16;
    command.Value = 65538.0f;
    EXPECT_EQ(Hex(BuildWriteFrame(0x11, command, a, &log)), "11 10 00 64 00 02 04 00 02 00 01 C0 B4");
}

TEST_F(FramesTest, WriteValuesOutsideTheIntegerRangeSendNothing) {
    EXPECT_EQ(Written(6, 3.0e9f), "none");
    EXPECT_EQ(Written(16, -3.0e9f), "none");
    EXPECT_EQ(Written(16, std::numeric_limits<float>::quiet_NaN()), "none");
    EXPECT_EQ(Written(6, std::numeric_limits<float>::infinity()), "none");
    EXPECT_EQ(Written(16, 2147483520.0f), "00 02 04 FF 80 7F FF"); // the largest single within the range
    EXPECT_EQ(log.GetText(), "");
    // Function 5 compares and converts nothing.
    EXPECT_EQ(Written(5, 3.0e9f), "FF 00");
    EXPECT_EQ(Written(5, std::numeric_limits<float>::quiet_NaN()), "00 00");
}

TEST_F(FramesTest, WriteFormulas) {
    EXPECT_EQ(Written(6, 1.5f, " %value%*2 "), "00 03");
    // Written with "." whatever the locale, so that a function keeps its two arguments.
    EXPECT_EQ(Written(6, 0.5f, "Max(%VALUE%, 2)"), "00 02");
    EXPECT_EQ(Written(6, 7.25f, "Max(%VALUE%,0)*4"), "00 1D");
    // A small value goes out in scientific notation and reads back as one number.
    EXPECT_EQ(Written(6, 1.0e-7f, "%VALUE%*1E7"), "00 01");
    EXPECT_EQ(Written(16, 3.0e9f, "%VALUE%/1000"), "00 02 04 C6 C0 00 2D");
    EXPECT_EQ(log.GetText(), "");
}

TEST_F(FramesTest, WriteFormulaErrorsSendNothingAndAreLogged) {
    EXPECT_EQ(Written(6, 1.0f, "%VALUE%/0"), "none");
    const std::string text = log.GetText();
    EXPECT_TRUE(text.starts_with("EXPRESSION ERROR::")) << text;
    EXPECT_GT(text.size(), std::string("EXPRESSION ERROR::").size());

    // Null without a message is an error too, not a value of 0.
    for (const std::string formula : {"GetByteFromInt32(%VALUE%, 4)", "[setpoint]"}) {
        log.Clear();
        EXPECT_EQ(Written(6, 1.0f, formula), "none") << formula;
        EXPECT_EQ(log.GetText(), "EXPRESSION ERROR::") << formula;
    }
    log.Clear();
    EXPECT_EQ(Written(16, 1.0f, "'text'"), "none");
    EXPECT_TRUE(log.GetText().starts_with("EXPRESSION ERROR::Could not convert")) << log.GetText();
    // A formula result out of range: no frame, and no line either.
    log.Clear();
    EXPECT_EQ(Written(6, 1.0f, "%VALUE%*1E10"), "none");
    EXPECT_EQ(log.GetText(), "");
}

TEST_F(FramesTest, UnsupportedFunctionIsLogged) {
    EXPECT_EQ(Written(3, 1.0f), "none");
    EXPECT_EQ(Written(15, 1.0f), "none");
    EXPECT_EQ(log.GetText(),
              "ERROR::Unsupported MODBUS function! (3)\r\nERROR::Unsupported MODBUS function! (15)");
}

TEST_F(FramesTest, WriteStepsFollowTheCommandsActions) {
    uint16_t delay = 99;
    std::string frame;
    bool need = false;
    BuildWriteRequest(station, delay, 0, frame, &log, need, command);
    EXPECT_EQ(Hex(frame), Hex(WithCrc(Bytes({0x01, 0x06, 0x00, 0x64, 0x00, 0x0C}))));
    EXPECT_TRUE(need);
    EXPECT_EQ(delay, 30);
    EXPECT_EQ(log.GetText(), "Tag ID=77\r\nDomen=PLC\r\nDevice=1\r\nTag Address=40\r\n"
                             "Tag String Address=\r\nTag Value=12.5");

    log.Clear();
    BuildWriteRequest(station, delay, 1, frame, &log, need, command);
    EXPECT_EQ(Hex(frame), Hex(WithCrc(Bytes({0x01, 0x05, 0x00, 0x65, 0xFF, 0x00}))));
    EXPECT_EQ(delay, 0);
    BuildWriteRequest(station, delay, 2, frame, &log, need, command);
    EXPECT_EQ(frame, ""); // the command is done
    EXPECT_EQ(log.GetText(), "");

    BuildWriteRequest(station, delay, -1, frame, &log, need, command);
    EXPECT_EQ(frame, "");
}

TEST_F(FramesTest, WriteStepZeroLogsTheTagBeforeTheCommandLookup) {
    command.TagAddress = 41;
    command.Value = 1.0e-7f;
    uint16_t delay = 0;
    std::string frame = "x";
    bool need = false;
    BuildWriteRequest(station, delay, 0, frame, &log, need, command);
    EXPECT_EQ(frame, "");
    const std::vector<std::string> lines = Lines(log.GetText());
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[3], "Tag Address=41\r");
    EXPECT_EQ(lines[5], "Tag Value=1E-07\r"); // eight digits of the single, two of the exponent
    EXPECT_EQ(lines[6], "ERROR:Command not supported!");

    log.Clear();
    station.RequestType = "none";
    BuildWriteRequest(station, delay, 0, frame, &log, need, command);
    EXPECT_EQ(log.GetText(), "Список запросов к устройству не определен!"_cp);
}

TEST_F(FramesTest, WriteReplyChecks) {
    const auto check = [](std::initializer_list<int> bytes) {
        return CheckWriteResponse(1, WithCrc(Bytes(bytes)));
    };
    EXPECT_EQ(check({0x01, 0x06, 0x00, 0x64, 0x00, 0x0C}), 0);
    EXPECT_EQ(check({0x01, 0x10, 0x00, 0x64, 0x00, 0x02}), 0);
    EXPECT_EQ(CheckWriteResponse(1, Bytes({0xFF, 0xFF})), -9);
    EXPECT_EQ(CheckWriteResponse(1, Bytes({0x01})), -9);
    std::string bad = WithCrc(Bytes({0x01, 0x06, 0x00, 0x64, 0x00, 0x0C}));
    bad.back() ^= 1;
    EXPECT_EQ(CheckWriteResponse(1, bad), -9);
    EXPECT_EQ(check({0x02, 0x06, 0x00, 0x64, 0x00, 0x0C}), -10);
    EXPECT_EQ(check({0x01, 0x80, 0x00, 0x64, 0x00, 0x0C}), -11);
    EXPECT_EQ(check({0x01, 0x86, 0x02}), -11);
    EXPECT_EQ(check({0x01, 0x86}), -11);
}

TEST_F(FramesTest, WriteRepliesShorterThanTheEchoAreRefused) {
    // With a valid CRC the missing bytes used to read as 0 and the write passed.
    EXPECT_EQ(CheckWriteResponse(1, WithCrc(Bytes({0x01}))), -9);
    EXPECT_EQ(CheckWriteResponse(1, WithCrc(Bytes({0x01, 0x06}))), -9);
    EXPECT_EQ(CheckWriteResponse(1, WithCrc(Bytes({0x01, 0x06, 0x00, 0x64}))), -9);
    EXPECT_EQ(CheckWriteResponse(0, WithCrc(Bytes({0x00}))), -9);
    // The earlier checks keep their order.
    EXPECT_EQ(CheckWriteResponse(1, WithCrc(Bytes({0x02}))), -10);
    EXPECT_EQ(CheckWriteResponse(1, WithCrc(Bytes({0x01, 0x90}))), -11);
}

TEST_F(FramesTest, AcceptedWriteReplyWaitsThePostWriteDelay) {
    const std::string echo = WithCrc(Bytes({0x01, 0x06, 0x00, 0x64, 0x00, 0x0C}));
    uint16_t delay = 30;
    const uint64_t start = platform::MonotonicMs();
    EXPECT_EQ(ParseWriteResponse(station, delay, 0, echo), 0);
    EXPECT_GE(platform::MonotonicMs() - start, 30u);
    EXPECT_EQ(delay, 0);

    delay = 5000; // a refused reply does not wait
    const uint64_t again = platform::MonotonicMs();
    EXPECT_EQ(ParseWriteResponse(station, delay, 0, WithCrc(Bytes({0x01, 0x86, 0x02}))), -11);
    EXPECT_LT(platform::MonotonicMs() - again, 5000u);
    EXPECT_EQ(delay, 0);
    EXPECT_EQ(ParseWriteResponse(station, delay, -1, echo), -1);
}

} // namespace
} // namespace modbus
