#include "framework/device.h"

#include <algorithm>
#include <charconv>
#include <new>

#include "framework/connection.h"
#include "framework/driver.h"
#include "framework/driver_error.h"
#include "framework/intercom.h"
#include "framework/tag_routing.h"
#include "framework/tcp_connection.h"
#include "framework/variable_index.h"
#include "framework/xml_data_item.h"
#include "platform/text.h"

namespace framework {

namespace {

std::string CutName(const std::string& text) {
    return text.size() > TDevice::kMaxNameLength ? text.substr(0, TDevice::kMaxNameLength) : text;
}

// The shortest text that reads back as the same single.
std::string SingleText(float value) {
    char buffer[32];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, r.ptr);
}

// The quote a value goes out in: the reader knows no escapes but takes either quote, so a value
// holding a double quote goes in single quotes.
char QuoteFor(std::string_view value) {
    return value.find('"') == std::string_view::npos ? '"' : '\'';
}

// An attribute as a save would write it, cut and on one line as a log shows it.
std::string AsWritten(std::string_view name, std::string_view value) {
    constexpr std::size_t kShown = 40;
    const char quote = QuoteFor(value);
    return ShownText(name, kShown) + "=" + quote + ShownText(value, kShown) + quote;
}

} // namespace

std::string ShownText(std::string_view text, std::size_t bound) {
    std::string shown(text.substr(0, bound));
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    return text.size() > bound ? shown + "..." : shown;
}

std::string PassedOverNote(std::string_view line) {
    return "атрибут "_cp + AsWritten(AttributeName(line), AttributeValue(line)) +
           " ничего не задает и пропущен"_cp;
}

std::string SetAgainNote(std::string_view name, std::string_view value) {
    return "атрибут "_cp + AsWritten(name, value) +
           " пропущен: его снова задает последующий элемент session"_cp;
}

std::string UnreadValueNote(std::string_view name, std::string_view value, const std::string& taken) {
    return "значение "_cp + AsWritten(name, value) + " не читается, взято "_cp + taken;
}

TDevice::TDevice()
    : Properties(CreateProperties()), PollLog(std::make_unique<TTerminalDataClass>()),
      CommandLog(std::make_unique<TTerminalDataClass>()) {}

TDevice::~TDevice() = default;

void TDevice::Assign(const TDevice* source) {
    if (source == nullptr) return;
    ListIndex = source->ListIndex;
    Properties->Assign(*source->Properties);
    ApplyProperties();
}

void TDevice::ClearPollLog() {
    PollLog->Clear();
}

void TDevice::ClearCommandLog() {
    CommandLog->Clear();
}

void TDevice::LogData(uint8_t, uint8_t, TTerminalDataClass* log, const std::string& data,
                      const std::string& prefix) {
    AddLog(log, prefix + FormatLogData(data));
}

void TDevice::ConnectionRestored() {
    if (!VarConnectStateName.empty()) SetDynamicTag(VarConnectStateName, true, 0.0f);
}

void TDevice::ConnectionLost() {
    if (!VarConnectStateName.empty()) SetDynamicTag(VarConnectStateName, true, 1.0f);
}

std::unique_ptr<TDevicePropertyList> TDevice::CreateProperties() {
    auto list = std::make_unique<TDevicePropertyList>();
    list->InitProperties();
    return list;
}

bool TDevice::SaveToXml(int32_t indent, std::vector<std::string>& lines, std::string* why) {
    try {
        // A value that holds its own quote too holds both and cannot go out at all; nor can a
        // comment's opening, which the reader would take to run on over what follows it.
        std::string line(indent > 0 ? static_cast<std::size_t>(indent) : 0, ' ');
        line += "<session ";
        for (int32_t i = 0; i < Properties->Count(); ++i) {
            const TDeviceProperty* p = Properties->Property(i);
            const char quote = QuoteFor(p->Value);
            const bool bothQuotes = p->Value.find(quote) != std::string::npos;
            if (bothQuotes || p->Value.find("<!--") != std::string::npos) {
                if (why != nullptr)
                    *why = "значение "_cp + p->Name +
                           (bothQuotes ? " содержит кавычки обоих видов"_cp
                                       : " содержит начало комментария <!--"_cp);
                return false;
            }
            line.append(p->Name).append(1, '=').append(1, quote).append(p->Value).append(1, quote) += ' ';
        }
        line += "/>";
        lines.push_back(std::move(line));
        return true;
    } catch (const std::bad_alloc&) {
        throw; // the save says memory ran out
    } catch (...) {
        return false;
    }
}

bool TDevice::LoadFromXml(const std::string& source, TXmlStop* stop, TLoadNotes* notes) {
    const auto stopped = [stop](std::string cause, std::size_t offset) {
        if (stop != nullptr) *stop = {std::move(cause), offset};
        return false;
    };
    try {
        const std::string text = platform::Trim(source);
        InitDeviceProperties(Properties.get());
        if (text.empty()) return false;
        // Whole elements and comments only: a device read up to something it passes over in silence
        // would come up with defaults, enabled and polling another address.
        std::string_view rest = text;
        std::string element;
        bool session = false;
        std::vector<const TDeviceProperty*> set; // by the sessions read so far
        for (SkipComments(rest); !rest.empty(); SkipComments(rest)) {
            const std::size_t at = text.size() - rest.size();
            if (!ExtractNextElement(rest, element)) {
                const TXmlStop why = NoElementCause(rest);
                return stopped(why.Cause, at + why.Offset);
            }
            TXMLDataItem item;
            const bool whole = item.Parse(element);
            if (platform::LowerCase(item.Name) != "session") continue;
            if (!whole) return stopped("элемент session не разбирается"_cp, at);
            session = true;
            ReadSession(item.Attributes, set, notes);
        }
        // A session commented out or misspelt is no device switched off: it would come up enabled.
        if (!session) return stopped("элемент session не найден"_cp, 0);
        notes_ = notes;
        ApplyProperties();
        notes_ = nullptr;
        return true;
    } catch (const std::bad_alloc&) {
        notes_ = nullptr;
        throw; // the load says memory ran out, not that the device is wrong
    } catch (...) {
        notes_ = nullptr;
        return false;
    }
}

void TDevice::ReadSession(const std::vector<std::string>& attributes,
                          std::vector<const TDeviceProperty*>& set, TLoadNotes* notes) {
    std::vector<const TDeviceProperty*> seen; // in this session
    const auto has = [](const std::vector<const TDeviceProperty*>& list, const TDeviceProperty* p) {
        return std::find(list.begin(), list.end(), p) != list.end();
    };
    for (const std::string& line : attributes) {
        TDeviceProperty* p = Properties->FindProperty(std::string(AttributeName(line)));
        // A misspelt name leaves its setting at the default, and a repeat is not what is read.
        if (p == nullptr || has(seen, p)) {
            if (notes != nullptr && notes->Take()) notes->Kept.push_back(PassedOverNote(line));
            continue;
        }
        seen.push_back(p);
        // A later session wins over what an earlier one set, and the load says so.
        if (!has(set, p))
            set.push_back(p);
        else if (notes != nullptr && notes->Take())
            notes->Kept.push_back(SetAgainNote(p->Name, p->Value));
        p->Value = AttributeValue(line);
    }
}

void TDevice::NoteDefault(const TDeviceProperty& property, const std::string& taken) {
    if (notes_ != nullptr && notes_->Take())
        notes_->Kept.push_back(UnreadValueNote(property.Name, property.Value, taken));
}

int32_t TDevice::IntegerOf(const TDeviceProperty& property, int32_t fallback) {
    int32_t value;
    if (platform::TryStrToInt(property.Value, value)) return value;
    NoteDefault(property, platform::IntToStr(fallback));
    return fallback;
}

bool TDevice::BooleanOf(const TDeviceProperty& property, bool fallback) {
    bool value;
    if (platform::TryStrToBool(property.Value, value)) return value;
    NoteDefault(property, platform::BoolToStr(fallback));
    return fallback;
}

void TDevice::ApplyProperties() {
    LockTagIndex = -1;
    for (int32_t i = 0; i < Properties->Count(); ++i) {
        const TDeviceProperty* p = Properties->Property(i);
        const std::string key = platform::UpperCase(p->Name);
        const std::string& v = p->Value;
        if (key == "DEVICENAME")
            DeviceName = CutName(v);
        else if (key == "DEVICEIPADDRESS")
            DeviceIPAddress = CutName(v);
        else if (key == "DEVICEADDRESS")
            DeviceAddress = IntegerOf(*p, -1);
        else if (key == "IPPORT") {
            IPPort = platform::StrToIntDef(v, 0);
            // Only a TCP link reads it; what that link connects to is said.
            if (Properties->IsTcpLink()) IntegerOf(*p, TTCPConnection::kIPPortFallback);
        } else if (key == "TIMEOUT")
            TimeOut = IntegerOf(*p, 1000);
        else if (key == "RETRYCOUNT")
            RetryCount = IntegerOf(*p, 3);
        else if (key == "ENABLED")
            Enabled = BooleanOf(*p, kEnabledFallback);
        else if (key == "ROUTINGPREFIX")
            RoutingPrefix = v;
        else if (key == "REQWESTINTERVAL")
            ReqwestInterval = IntegerOf(*p, 1000);
        else if (key == "VARCONNECTSTATENAME")
            VarConnectStateName = v;
        else if (key == "COMMANDSTATENAME")
            CommandStateName = v;
        else if (key == "VARBLOCKCOMMAND")
            VarBlockCommand = platform::Trim(v);
        else if (key == "RS232PORT")
            RS232Port = v;
        else if (key == "RS232BAUDRATE")
            RS232BaudRate = IntegerOf(*p, 9600);
        else if (key == "RS232STOPBITS")
            RS232StopBits = static_cast<uint8_t>(IntegerOf(*p, 0));
        else if (key == "RS232BYTESIZE")
            RS232ByteSize = static_cast<uint8_t>(IntegerOf(*p, 8));
        else if (key == "RS232PARITY")
            RS232Parity = static_cast<uint16_t>(IntegerOf(*p, 256));
        // The connection reads these itself; what it will take for them is said here.
        else if (notes_ == nullptr)
            continue;
        else if (key == "PINGTIMEOUT")
            IntegerOf(*p, TOstrolinkaConnection::kPingTimeOutFallback);
        else if (bool b; p->PropType == TPropertyType::Boolean && !platform::TryStrToBool(v, b))
            NoteDefault(*p, platform::BoolToStr(Properties->GetBooleanFallback(p->Name)));
    }
}

void TDevice::Imitate(TReceiveVariables* received, TTerminalDataClass* log) {
    AddLog(log, "Imitator start action:");
    if (ImitatorRate >= 0) ReqwestInterval = ImitatorRate;
    if (!ImitatorList) {
        ImitatorList = std::make_unique<TImitatorVariableList>();
        ImitatorList->Build(DeviceAddress, RoutingPrefix);
    }
    for (int32_t i = 0; i < ImitatorList->Count(); ++i) {
        TImitatorVariable* pair = ImitatorList->PairAt(i);
        const TVariableIndexItem* item =
            VariableIndex != nullptr ? VariableIndex->ItemAt(pair->Index) : nullptr;
        if (item == nullptr) continue;
        TDMLVariableEntry entry;
        if (Intercom == nullptr || !Intercom->DMLVariablesList.Read(item->EntryIndex, entry)) continue;
        const float low = entry.Info.Low;
        const float high = entry.Info.High;
        const float value = low + (high - low) * static_cast<float>(pair->Percent) / 100.0f;
        if (received != nullptr)
            received->Add(item->Prefix.Get(), item->Device, value, item->StrAddress.Get(), item->Address);
        // 0..100 and round again.
        if (++pair->Percent > 100) pair->Percent = 0;
        AddLog(log, platform::FieldText(entry.Info.Name) + " = " + SingleText(value));
    }
    AddLog(log, "Imitator end action.");
}

void TDevice::BeforePoll(TReceiveVariables*) {}

bool TDevice::PreCommand(const TCommandRecord&, TReceiveVariables*) {
    return false;
}

void TDevice::AfterPoll(TReceiveVariables*) {}

void TDevice::BuildConnectRequest(TOstrolinkaConnection*, uint8_t, std::string& frame, TTerminalDataClass*,
                                  bool& needAnswer, int32_t) {
    frame.clear();
    needAnswer = false;
}

int32_t TDevice::ParseConnectResponse(TOstrolinkaConnection*, uint8_t, TTerminalDataClass*,
                                      TReceiveVariables*, const std::string&, int32_t) {
    return 0;
}

void TDevice::BuildBroadcastRequest(TOstrolinkaConnection*, TTerminalDataClass*, std::string& frame) {
    frame.clear();
}

void TDevice::BuildReadRequest(TOstrolinkaConnection*, int32_t, std::string& frame, TTerminalDataClass*,
                               bool& needAnswer) {
    frame.clear();
    needAnswer = false;
}

int32_t TDevice::ParseReadResponse(TOstrolinkaConnection*, int32_t, TTerminalDataClass*, TReceiveVariables*,
                                   const std::string&) {
    return 0;
}

void TDevice::BuildDisconnectRequest(TOstrolinkaConnection*, uint8_t, std::string& frame, TTerminalDataClass*,
                                     bool& needAnswer, int32_t) {
    frame.clear();
    needAnswer = false;
}

int32_t TDevice::ParseDisconnectResponse(TOstrolinkaConnection*, uint8_t, TTerminalDataClass*,
                                         TReceiveVariables*, const std::string&, int32_t) {
    return 0;
}

void TDevice::BuildWriteRequest(TOstrolinkaConnection*, int32_t, std::string& frame, TTerminalDataClass*,
                                bool& needAnswer, TReceiveVariables*, const TCommandRecord&) {
    frame.clear();
    needAnswer = false;
}

int32_t TDevice::ParseWriteResponse(TOstrolinkaConnection*, int32_t, TTerminalDataClass*, TReceiveVariables*,
                                    const std::string&, const TCommandRecord&) {
    return 0;
}

void TDevice::DoExternalRequest(TRemotePeer*, const TRemoteRequestHeader&, std::string& reply,
                                TTerminalDataClass*, const std::string*) {
    reply = "Внешний запрос не поддерживается драйвером."_cp;
}

void TDevice::AccessLockChanged(bool, TReceiveVariables*) {}

void TDevice::UpdateLinkState(bool success) {
    if (success) {
        if (!LinkUp) {
            ConnectionRestored();
            LinkUp = true;
        }
        FailureCount = 0;
        return;
    }
    if (FailureCount < RetryCount) {
        // Below the limit the link counts as up, also right after start.
        LinkUp = true;
        ++FailureCount;
        return;
    }
    if (LinkUp) {
        ConnectionLost();
        Report(kErrReported, DeviceName + ": " + "Потеря связи с устройством."_cp);
    }
    LinkUp = false;
}

} // namespace framework
