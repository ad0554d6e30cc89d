#include "framework/device_list.h"

#include <algorithm>
#include <iterator>
#include <new>
#include <utility>
#include <vector>

#include "framework/connection.h"
#include "framework/driver.h"
#include "framework/driver_error.h"
#include "framework/intercom.h"
#include "framework/xml_data_item.h"
#include "platform/files.h"
#include "platform/text.h"

namespace framework {

std::atomic<bool> ThreadOnPort{false};
std::atomic<bool> ErrorMngrDisabled{false};
std::atomic<int32_t> GeneralCommandInterval{6000};
std::atomic<bool> AutoRunServer{true};
std::atomic<int32_t> CheckServerInterval{60};
std::atomic<bool> RAPEnabled{false};
std::atomic<uint16_t> RAPPort{6042};

namespace {

// Without a driver object the framework's own classes serve.
std::unique_ptr<TDevice> NewDevice() {
    return Driver != nullptr ? Driver->CreateDevice() : std::make_unique<TDevice>();
}

std::string RootName() {
    return Driver != nullptr ? Driver->GetShortName() : TDriver::BaseShortName();
}

std::string Attribute(const char* name, const std::string& value) {
    return std::string(" ") + name + "=\"" + value + "\"";
}

bool ReadsRemoteAccess() {
    return Driver != nullptr && Driver->SupportsRemoteAccess();
}

// How the load and the save name the driver's settings on the root, and a device of the file by its
// number there and its name.
std::string SettingsText() {
    return "настройки драйвера: "_cp;
}

std::string DeviceText(int32_t index, std::string_view name) {
    return "устройство №"_cp + platform::IntToStr(index + 1) + " «"_cp +
           ShownText(name.substr(0, TDevice::kMaxNameLength)) + "»: "_cp;
}

} // namespace

// The configuration lines exactly as the file carries them, CR LF after each.
std::string TDeviceList::ConfigText() const {
    const std::string root = RootName();
    std::string text = "<" + root + Attribute("ThreadOnPort", platform::BoolToStr(ThreadOnPort)) +
                       Attribute("ErrorMngrDisabled", platform::BoolToStr(ErrorMngrDisabled)) +
                       Attribute("GeneralCommandInterval", platform::IntToStr(GeneralCommandInterval)) +
                       Attribute("AutoRunServer", AutoRunServer ? "-1" : "0") +
                       Attribute("CheckServerInterval", platform::IntToStr(CheckServerInterval)) +
                       Attribute("RAPEnabled", platform::BoolToStr(RAPEnabled)) +
                       Attribute("RAPPort", platform::IntToStr(RAPPort)) + " >\r\n";
    // Line by line into the one text: its lines apart, then joined, would cost it twice over.
    std::vector<std::string> session;
    for (int32_t i = 0; i < Count(); ++i) {
        // A text past what a read takes would be refused when written: no need to build all of it.
        if (text.size() > platform::kMaxFileSize) throw Exception(platform::PastReadBound());
        session.clear();
        std::string why = "его описание не составлено"_cp;
        if (!Device(i)->SaveToXml(6, session, &why))
            throw Exception(DeviceText(i, Device(i)->DeviceName) + why);
        text += "   <device>\r\n";
        for (const std::string& line : session)
            text.append(line).append("\r\n");
        text += "   </device>\r\n";
    }
    text += "</" + root + ">\r\n";
    return text;
}

namespace {

// Says where the reading of a configuration text stopped and why: the offset in the file and the
// beginning of what stands there. Every view it is given lies inside the text.
class TReadStop {
public:
    TReadStop(const std::string& text, std::string& error) : text_(text), error_(error) {}

    std::size_t OffsetOf(std::string_view at) const {
        return static_cast<std::size_t>(at.data() - text_.data());
    }

    // Where an element just taken began: it ends before the blanks in front of what is left.
    std::size_t StartOf(const std::string& element, std::string_view after) const {
        return BlanksBefore(OffsetOf(after)) - element.size();
    }

    // The root's content as a view of the text; the root element, taken whole, starts at rootAt.
    std::string_view ContentOf(const TXMLDataItem& root, const std::string& element,
                               std::size_t rootAt) const {
        if (root.Content.empty()) return {};
        const std::size_t end = BlanksBefore(rootAt + element.rfind("</"));
        return std::string_view(text_).substr(end - root.Content.size(), root.Content.size());
    }

    // No element could be taken where the text goes on, past its comments.
    bool NoElement(std::string_view at) const {
        const TXmlStop why = NoElementCause(at);
        return At(why.Cause, OffsetOf(at) + why.Offset);
    }

    bool At(const std::string& cause, std::string_view at) const { return At(cause, OffsetOf(at)); }
    // Always false, as the load that stops here.
    bool At(const std::string& cause, std::size_t offset) const {
        std::string shown = text_.substr(offset, kShown);
        // One line of it, without control bytes that a message box or a log line would not show.
        shown = ShownText(shown.substr(0, shown.find_first_of("\r\n")), kShown);
        error_ = cause + ", смещение "_cp + platform::IntToStr(static_cast<int64_t>(offset));
        if (!shown.empty()) error_ += ": «"_cp + shown + "»"_cp;
        return false;
    }

private:
    static constexpr std::size_t kShown = 40;

    std::size_t BlanksBefore(std::size_t end) const {
        while (end > 0 && static_cast<unsigned char>(text_[end - 1]) <= 0x20)
            --end;
        return end;
    }

    const std::string& text_;
    std::string& error_;
};

// Where the trimmed content of an element taken whole from the file at `at` begins in the file.
std::size_t ContentStart(const std::string& element, std::size_t at) {
    std::size_t start = element.find('>') + 1;
    while (start < element.size() && static_cast<unsigned char>(element[start]) <= 0x20)
        ++start;
    return at + start;
}

// The driver settings that the root's attributes carry.
void ReadSettings(const TXMLDataItem& root) {
    ThreadOnPort = root.GetBoolAttribute("ThreadOnPort", false);
    ErrorMngrDisabled = root.GetBoolAttribute("ErrorMngrDisabled", false);
    GeneralCommandInterval = root.GetIntAttribute("GeneralCommandInterval", 6000);
    AutoRunServer = root.GetBoolAttribute("AutoRunServer", true);
    CheckServerInterval = root.GetIntAttribute("CheckServerInterval", 60);
    if (!ReadsRemoteAccess()) return;
    RAPEnabled = root.GetBoolAttribute("RAPEnabled", RAPEnabled);
    // Cut to 16 bits, a number beyond them would listen on another port; it is taken as a value
    // that is not a number. 0 leaves the choice to the system.
    const int32_t port = root.GetIntAttribute("RAPPort", RAPPort);
    if (port >= 0 && port <= kMaxIPPort) RAPPort = static_cast<uint16_t>(port);
}

// What ReadSettings took by default: a root attribute that names no setting or repeats one, a value
// that does not convert with the setting as read.
void NoteSettingDefaults(const TXMLDataItem& root, TLoadNotes& notes) {
    // Each setting: whether it is a yes/no (else a number) and the text of what ReadSettings took.
    using platform::BoolToStr, platform::IntToStr;
    static const struct {
        std::string_view name;
        bool flag;
        std::string (*taken)();
    } kSettings[] = {
        {"ThreadOnPort", true, [] { return std::string(BoolToStr(ThreadOnPort)); }},
        {"ErrorMngrDisabled", true, [] { return std::string(BoolToStr(ErrorMngrDisabled)); }},
        {"GeneralCommandInterval", false, [] { return IntToStr(GeneralCommandInterval); }},
        {"AutoRunServer", true, [] { return std::string(BoolToStr(AutoRunServer)); }},
        {"CheckServerInterval", false, [] { return IntToStr(CheckServerInterval); }},
        {"RAPEnabled", true, [] { return std::string(BoolToStr(RAPEnabled)); }},
        {"RAPPort", false, [] { return IntToStr(RAPPort); }},
    };
    bool seen[std::size(kSettings)] = {};
    for (const std::string& line : root.Attributes) {
        const std::string_view name = AttributeName(line), value = AttributeValue(line);
        const auto s = std::find_if(std::begin(kSettings), std::end(kSettings),
                                    [name](const auto& setting) { return setting.name == name; });
        if (s == std::end(kSettings) || std::exchange(seen[s - std::begin(kSettings)], true)) {
            if (notes.Take()) notes.Kept.push_back(SettingsText() + PassedOverNote(line));
            continue;
        }
        // The remote-access pair is written always and read only by a driver that has it.
        if (name.starts_with("RAP") && !ReadsRemoteAccess()) continue;
        bool flag;
        int32_t number;
        const bool converts = s->flag ? platform::TryStrToBool(platform::UpperCase(std::string(value)), flag)
                                      : platform::TryStrToInt(value, number) &&
                                            (name != "RAPPort" || (number >= 0 && number <= kMaxIPPort));
        if (!converts && notes.Take())
            notes.Kept.push_back(SettingsText() + UnreadValueNote(name, value, s->taken()));
    }
}

} // namespace

std::string TConfigLoad::Message(const std::string& path) const {
    if (Reason.empty()) return "Конфигурационный файл не найден."_cp;
    return "Конфигурационный файл "_cp + path + " не прочитан: "_cp + Reason + ".";
}

TDeviceList::~TDeviceList() {
    if (Connection != nullptr) FreeConnection(Connection);
    FreeAll();
}

void TDeviceList::FreeItem(void* item) {
    delete static_cast<TDeviceRecord*>(item);
}

TDeviceRecord* TDeviceList::AppendDevice(std::unique_ptr<TDevice> device) {
    auto record = std::make_unique<TDeviceRecord>();
    record->Device = std::move(device);
    record->LastPoll = platform::Now();
    TDeviceRecord* result = record.get();
    Insert(record.release());
    return result;
}

void TDeviceList::Assign(const TDeviceList* source) {
    if (source == nullptr) return;
    // The copies are made aside: memory that runs out on the way leaves this list as it was.
    TDeviceList copies;
    for (int32_t i = 0; i < source->Count(); ++i) {
        std::unique_ptr<TDevice> device = NewDevice();
        device->Assign(source->Device(i));
        copies.AppendDevice(std::move(device));
    }
    std::swap(items_, copies.items_);
    std::swap(capacity_, copies.capacity_);
    std::swap(count_, copies.count_);
}

TDeviceRecord* TDeviceList::AddDevice() {
    std::unique_ptr<TDevice> device = NewDevice();
    device->ApplyProperties();
    return AppendDevice(std::move(device));
}

bool TDeviceList::SaveToFile(const std::string& fileName, std::string* why, std::size_t* digest) {
    std::string cause;
    try {
        const std::string text = ConfigText();
        if (!platform::ReplaceRegularFile(fileName, text, platform::TLinkAtName::Follow, {}, why))
            return false;
        if (digest != nullptr) *digest = BytesDigest(text);
        return true;
    } catch (const Exception& e) {
        cause = e.Message();
    } catch (const std::bad_alloc&) {
        cause = "не хватает памяти"_cp;
    } catch (...) {
        cause = "текст файла не составлен"_cp;
    }
    if (why != nullptr) *why = platform::NotWritten(fileName, cause);
    return false;
}

TConfigLoad TDeviceList::LoadFromFile(const std::string& fileName) {
    FreeAll();
    TConfigLoad load;
    try {
        std::string text;
        if (platform::ReadRegularFile(fileName, text, nullptr, &load.Reason)) {
            load.Digest = BytesDigest(text);
            load.Read = ReadConfig(text, load);
        }
        // The module and the server leave the same list: a refused configuration polls nothing.
        if (!load.Read && !load.DevicesKept) FreeAll();
        return load;
    } catch (const std::bad_alloc&) {
        load.Reason = "не хватает памяти"_cp;
        load.OutOfMemory = true;
    } catch (...) {
        load.Reason = "файл не читается"_cp;
    }
    FreeAll();
    load.Read = load.DevicesKept = false;
    load.Defaulted = {};
    load.Digest.reset();
    return load;
}

std::size_t BytesDigest(const std::string& bytes) {
    return std::hash<std::string>{}(bytes);
}

std::optional<std::size_t> FileDigest(const std::string& fileName) {
    std::string bytes;
    if (!platform::ReadRegularFile(fileName, bytes)) return std::nullopt;
    return BytesDigest(bytes);
}

bool TDeviceList::ReadConfig(const std::string& text, TConfigLoad& load) {
    const TReadStop stop(text, load.Reason);
    // The views below stay inside text, so that where the reading stops is an offset in the file.
    std::string_view rest = text;
    SkipXmlDeclaration(rest);
    std::string element;
    if (!ExtractNextElement(rest, element)) return stop.NoElement(rest);
    const std::size_t rootAt = stop.StartOf(element, rest);
    SkipComments(rest);
    if (!rest.empty()) return stop.At("текст после корневого элемента"_cp, rest);
    TXMLDataItem root;
    if (!root.Parse(element)) return stop.At("элемент не разбирается"_cp, rootAt);
    if (root.Name != RootName())
        return stop.At("корневой элемент должен называться "_cp + RootName(), rootAt);
    ReadSettings(root);
    NoteSettingDefaults(root, load.Defaulted);

    // The content ends where the root's closing tag and the blanks before it begin.
    std::string_view content = stop.ContentOf(root, element, rootAt);
    while (ExtractNextElement(content, element)) {
        const std::size_t at = stop.StartOf(element, content);
        TXMLDataItem item;
        if (!item.Parse(element)) return stop.At("элемент не разбирается"_cp, at);
        if (platform::LowerCase(item.Name) != "device") {
            load.DevicesKept = true; // the devices before it were read whole
            return stop.At("элемент "_cp + item.Name + " не является устройством"_cp, at);
        }
        // The device's settings are its session's; any put on the element itself would be dropped.
        if (!item.Attributes.empty()) return stop.At("атрибуты элемента device не читаются"_cp, at);
        std::unique_ptr<TDevice> device = NewDevice();
        TXmlStop inside;
        const std::size_t noted = load.Defaulted.Kept.size();
        const bool loaded = device->LoadFromXml(item.Content, &inside, &load.Defaulted);
        // A device that stops the load names itself in its notes too, by the name its sessions gave.
        if (load.Defaulted.Kept.size() > noted) {
            const std::string named = DeviceText(Count(), device->Properties->GetString("DeviceName", ""));
            for (std::size_t i = noted; i < load.Defaulted.Kept.size(); ++i)
                load.Defaulted.Kept[i].insert(0, named);
        }
        if (!loaded) {
            if (inside.Cause.empty()) return stop.At("неверное описание устройства"_cp, at);
            return stop.At("элемент device не читается целиком: "_cp + inside.Cause,
                           ContentStart(element, at) + inside.Offset);
        }
        device->ListIndex = Count();
        AppendDevice(std::move(device));
    }
    return content.empty() || stop.NoElement(content);
}

std::unique_ptr<TOstrolinkaConnection> TDeviceList::CreateConnection(TDevicePropertyList*) {
    return nullptr;
}

bool TDeviceList::FreeConnection(TOstrolinkaConnection*& connection) {
    delete connection;
    connection = nullptr;
    return true;
}

bool TDeviceList::CloseConnection() {
    return Connection == nullptr || Connection->Close(nullptr);
}

bool TDeviceList::ConnectionFits(const TOstrolinkaConnection& connection, TDevicePropertyList* properties) {
    // The factory's answer for these settings decides; an unopened connection costs no I/O.
    const std::unique_ptr<TOstrolinkaConnection> probe = CreateConnection(properties);
    return probe != nullptr && probe->Kind() == connection.Kind();
}

TDeviceRecord* TDeviceList::FindDevice(const std::string& prefix, int32_t address) const {
    const std::string key = platform::UpperCase(prefix);
    for (int32_t i = 0; i < Count(); ++i) {
        TDeviceRecord* r = Record(i);
        if (platform::UpperCase(r->Device->RoutingPrefix) == key && r->Device->DeviceAddress == address)
            return r;
    }
    return nullptr;
}

int32_t TDeviceList::PendingCommandDevice() const {
    if (Intercom == nullptr || Intercom->CommandsList.GetFlag() != csPublished) return -1;
    if (Driver != nullptr && Driver->IsSingleDeviceMode()) return 0;
    const std::string name = platform::Trim(Intercom->CommandsList.GetDeviceName());
    const int32_t device = Intercom->CommandsList.GetDevice();
    for (int32_t i = 0; i < Count(); ++i) {
        const TDevice* d = Device(i);
        if (platform::Trim(platform::UpperCase(d->RoutingPrefix)) == name && d->DeviceAddress == device)
            return i;
    }
    return -1;
}

} // namespace framework
