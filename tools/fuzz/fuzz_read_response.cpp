// libFuzzer target: any bytes as the reply to a poll step, decoded by a description that uses every
// type, word order, proc kind, formula and subitem; and the same bytes as a write reply. A device
// on the line must never crash the driver, and a result is always one of the driver's codes.
#include "framework/driver_error.h"
#include "framework/tag_routing.h"
#include "framework/terminal_data.h"
#include "modbus/crc16.h"
#include "modbus/rtu_frames.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const char* const kDescription = R"edd(<EDDV2_Ostrolinka>
<device name="F">
  <requestlist>
    <request name="normal" address="0" size="16">
      <datablock>
        <item type="byte" proc="value" tsaddress="1"><subitem type="8s" proc="bitstring" tsaddress="10"/></item>
        <item type="short" proc="value" tsaddress="2" expression="%VALUE%*1E300"/>
        <item type="16s" proc="bitstring" tsaddress="20" expression="%VALUE%/0.001">
          <subitem type="32u" proc="value" tsaddress="3" expression="-%VALUE%"/>
          <subitem proc="value" tsaddress="4" expression="Swap16(%VALUE%)"/>
        </item>
        <item type="word" proc="alarmcode" tsaddress="5" expression="iif(%VALUE%=100, %VALUE%, [x])"/>
        <item type="32s" proc="value" tsaddress="6"><subitem type="byte" proc="value" tsaddress="7"/></item>
        <item type="32u" proc="bitstring" tsaddress="2147483640"/>
        <item type="single" proc="bitstring" tsaddress="40"><subitem type="32s" proc="value" tsaddress="8"/></item>
        <item type="32s_swap" proc="value" tsaddress="9" expression="%VALUE%*%VALUE%"/>
        <item type="32u_swap" proc="value" tsaddress="11"><subitem type="single" proc="value" tsaddress="12" expression="Exp(%VALUE%)"/></item>
        <item type="single_swap" proc="value" tsaddress="13" expression="Ln(%VALUE%)"/>
      </datablock>
    </request>
    <request name="alarms" address="0" size="16">
      <datablock type="alarmcode">
        <item type="word" proc="alarmcode" tsaddress="1000"/>
        <item type="32s" proc="alarmcode" tsaddress="-2147483648"/>
        <item type="32u" proc="alarmcode" tsaddress="2147483647"/>
        <item type="single" proc="alarmcode" tsaddress="0" expression="%VALUE%*1E5"/>
        <item type="single_swap" proc="bitstring" tsaddress="1"/>
        <item type="32s_swap" proc="value" tsaddress="3"><subitem type="32u_swap" proc="alarmcode" tsaddress="-1"/></item>
      </datablock>
    </request>
    <request name="raw" address="0" size="1"><datablock type="RAW"><item type="byte"/></datablock></request>
  </requestlist>
</device>
</EDDV2_Ostrolinka>)edd";

modbus::TEDDDeviceFile* Descriptions() {
    static modbus::TEDDDeviceFile* file = [] {
        auto* f = new modbus::TEDDDeviceFile;
        std::vector<std::string> lines{kDescription};
        if (!f->LoadFromStrings(lines) || f->Count() != 1) std::abort();
        const modbus::TDeviceRequestList& requests = f->Devices(0)->Requests;
        if (requests.Count() != 3 || requests.Requests(0)->DataBlock.Count() != 10 ||
            requests.Requests(1)->DataBlock.Count() != 6)
            std::abort();
        return f;
    }();
    return file;
}

} // namespace

// Byte 0 chooses the step (-1 .. 3), bit 0 of byte 1 appends the CRC the rest needs to pass, bit 1
// keeps the slave byte as sent; the rest is the reply.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static modbus::TAlarmTableList alarms;
    static framework::TTerminalDataClass log;
    static framework::TReceiveVariables received;
    if (size < 2) return 0;
    const int32_t index = static_cast<int32_t>(data[0] % 5) - 1;
    std::string answer(reinterpret_cast<const char*>(data + 2), size - 2);
    if ((data[1] & 2) && !answer.empty()) answer[0] = 0x11;
    if (data[1] & 1) {
        const uint16_t crc = modbus::CalcCrc16(answer.data(), static_cast<uint16_t>(answer.size()));
        answer.push_back(static_cast<char>(crc >> 8));
        answer.push_back(static_cast<char>(crc & 0xFF));
    }

    modbus::TModbusStation station;
    station.Descriptions = Descriptions();
    station.RequestType = "F";
    station.DeviceAddress = 0x11;
    station.RoutingPrefix = "FUZZ";
    station.AlarmTable = &alarms;

    const int32_t r = modbus::ParseReadResponse(station, index, &log, &received, answer);
    if (r != 0 && r != -1 && r != -9 && r != -10 && r != -11 && r != -12 && r != -31) std::abort();
    // The table holds only what the last alarm reply reported.
    if (alarms.Count() > 16) std::abort();
    for (int32_t i = 1; i < alarms.Count(); ++i)
        if (alarms.Entries(i - 1)->Code <= alarms.Entries(i)->Code) std::abort();
    received.FreeAll();
    log.Clear();

    const int32_t w = modbus::CheckWriteResponse(0x11, answer);
    if (w != 0 && w != -1 && w != -9 && w != -10 && w != -11) std::abort();
    if (w == 0 && answer.size() < 8) std::abort();
    return 0;
}
