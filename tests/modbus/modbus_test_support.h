// Helpers of the Modbus tests: byte strings, frames with their CRC, a description model loaded from
// text, and an error object that keeps what the loader reports.
#pragma once

#include "framework/driver_error.h"
#include "framework/tag_routing.h"
#include "framework/terminal_data.h"
#include "modbus/crc16.h"
#include "modbus/data_block.h"
#include "modbus/edd_file.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

namespace modbus::testing {

inline std::string Bytes(std::initializer_list<int> list) {
    std::string s;
    for (int b : list)
        s.push_back(static_cast<char>(b));
    return s;
}

// "01 03 00 0A" for diagnostics and compact expectations.
inline std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (!out.empty()) out += ' ';
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// The frame with its CRC appended, low byte first.
inline std::string WithCrc(std::string frame) {
    const uint16_t crc = CalcCrc16(frame.data(), static_cast<uint16_t>(frame.size()));
    frame.push_back(static_cast<char>(crc >> 8));
    frame.push_back(static_cast<char>(crc & 0xFF));
    return frame;
}

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Keeps the reported messages instead of sending them anywhere; installed as the process's error
// object while it lives.
class TCapturedErrors : public framework::TDriverErrorClass {
public:
    TCapturedErrors() : previous_(framework::ErrorObj) { framework::ErrorObj = this; }
    ~TCapturedErrors() override { framework::ErrorObj = previous_; }
    void WriteMessage(int32_t code, const std::string& text) override {
        Codes.push_back(code);
        Messages.push_back(text);
    }
    std::vector<int32_t> Codes;
    std::vector<std::string> Messages;

private:
    framework::TDriverErrorClass* previous_;
};

// A Modbus device as the frame and decoding steps see it: the description model loaded from text,
// its alarm table, its logs and the thread's received values.
class TStationFixture : public ::testing::Test {
protected:
    // Loads the description text and points the station at its device type `type`.
    void Describe(const std::string& text, const std::string& type, int32_t address) {
        descriptions.FreeAll();
        ASSERT_TRUE(descriptions.LoadFromStrings(Lines(text)))
            << (errors.Messages.empty() ? "" : errors.Messages[0]);
        station.Descriptions = &descriptions;
        station.RequestType = type;
        station.DeviceAddress = address;
        station.RoutingPrefix = "PLC";
        station.AlarmTable = &alarms;
    }

    TCapturedErrors errors;
    TEDDDeviceFile descriptions;
    TAlarmTableList alarms;
    TModbusStation station;
    framework::TTerminalDataClass log;
    framework::TReceiveVariables received;
};

// The values a decode queued, as "address=value" in arrival order.
inline std::vector<std::string> Queued(const framework::TReceiveVariables& received) {
    std::vector<std::string> out;
    for (int32_t i = 0; i < received.Count(); ++i) {
        const framework::TReceiveVariable* r = received.RecordAt(i);
        out.push_back(platform::IntToStr(r->Address) + "=" + platform::FloatToStrShortest(r->Value));
    }
    return out;
}

} // namespace modbus::testing
