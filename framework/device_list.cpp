#include "framework/device_list.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <iterator>
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
std::unique_ptr<TDevice> NewDevice() { return Driver != nullptr ? Driver->CreateDevice() : std::make_unique<TDevice>(); }

std::string RootName() { return Driver != nullptr ? Driver->GetShortName() : TDriver::BaseShortName(); }

const char* TrueFalse(bool value) { return value ? "True" : "False"; }

std::string Attribute(const char* name, const std::string& value) { return std::string(" ") + name + "=\"" + value + "\""; }

// The configuration lines exactly as the file carries them, CR LF after each.
std::string ConfigText(const TDeviceList& list) {
    const std::string root = RootName();
    std::vector<std::string> lines;
    lines.push_back("<" + root + Attribute("ThreadOnPort", TrueFalse(ThreadOnPort)) +
                    Attribute("ErrorMngrDisabled", TrueFalse(ErrorMngrDisabled)) +
                    Attribute("GeneralCommandInterval", platform::IntToStr(GeneralCommandInterval)) +
                    Attribute("AutoRunServer", AutoRunServer ? "-1" : "0") +
                    Attribute("CheckServerInterval", platform::IntToStr(CheckServerInterval)) +
                    Attribute("RAPEnabled", TrueFalse(RAPEnabled)) +
                    Attribute("RAPPort", platform::IntToStr(RAPPort)) + " >");
    for (int32_t i = 0; i < list.Count(); ++i) {
        lines.push_back("   <device>");
        if (!list.Device(i)->SaveToXml(6, lines)) throw Exception("session line");
        lines.push_back("   </device>");
    }
    lines.push_back("</" + root + ">");
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return text;
}

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The new file is written beside the old one and renamed over it, so that a failed save leaves
// the old configuration whole.
bool ReplaceFile(const std::string& fileName, const std::string& text) {
    std::string target = fileName;
    struct stat st{};
    mode_t mode = 0666;
    if (::lstat(fileName.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) {
            char resolved[PATH_MAX];
            if (::realpath(fileName.c_str(), resolved) == nullptr) return false;
            target = resolved;
            if (::stat(target.c_str(), &st) != 0) return false;
        }
        mode = st.st_mode & 07777;
    }
    static std::atomic<unsigned> serial{0};
    const std::string temp = target + "." + platform::IntToStr(::getpid()) + "-" + platform::IntToStr(++serial) + ".tmp";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    bool ok = WriteAll(fd, text);
    if (ok && st.st_mode != 0) ok = ::fchmod(fd, mode) == 0;
    if (ok) ok = ::fsync(fd) == 0;
    if (::close(fd) != 0) ok = false;
    if (ok) ok = ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

} // namespace

TDeviceList::~TDeviceList() {
    if (Connection != nullptr) FreeConnection(Connection);
    FreeAll();
}

void TDeviceList::FreeItem(void* item) { delete static_cast<TDeviceRecord*>(item); }

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
    FreeAll();
    for (int32_t i = 0; i < source->Count(); ++i) {
        std::unique_ptr<TDevice> device = NewDevice();
        device->Assign(source->Device(i));
        AppendDevice(std::move(device));
    }
}

TDeviceRecord* TDeviceList::AddDevice() {
    std::unique_ptr<TDevice> device = NewDevice();
    device->ApplyProperties();
    return AppendDevice(std::move(device));
}

bool TDeviceList::SaveToFile(const std::string& fileName) {
    try {
        return ReplaceFile(fileName, ConfigText(*this));
    } catch (...) {
        return false;
    }
}

bool TDeviceList::LoadFromFile(const std::string& fileName) {
    FreeAll();
    try {
        std::string text, why;
        if (!platform::ReadRegularFile(fileName, text, &why)) {
            if (!why.empty() && ErrorObj != nullptr) ErrorObj->WriteMessage(kErrNone, why);
            return false;
        }
        text = platform::Trim(text);

        std::string element;
        ExtractNextElement(text, element);
        TXMLDataItem root;
        if (!platform::Trim(text).empty() || element.empty() || !root.Parse(element)) return false;
        if (root.Name != RootName()) return false;

        ThreadOnPort = root.GetBoolAttribute("ThreadOnPort", false);
        ErrorMngrDisabled = root.GetBoolAttribute("ErrorMngrDisabled", false);
        GeneralCommandInterval = root.GetIntAttribute("GeneralCommandInterval", 6000);
        AutoRunServer = root.GetBoolAttribute("AutoRunServer", true);
        CheckServerInterval = root.GetIntAttribute("CheckServerInterval", 60);
        if (Driver != nullptr && Driver->SupportsRemoteAccess()) {
            RAPEnabled = root.GetBoolAttribute("RAPEnabled", RAPEnabled);
            // Cut to 16 bits, a number beyond them would listen on another port; it is taken as a
            // value that is not a number. 0 leaves the choice to the system.
            const int32_t port = root.GetIntAttribute("RAPPort", RAPPort);
            if (port >= 0 && port <= kMaxIPPort) RAPPort = static_cast<uint16_t>(port);
        }

        // Text left over that holds no element parses as a nameless one and ends the read.
        TElementWalker content(platform::Trim(root.Content));
        while (!content.Rest().empty()) {
            content.Next(element);
            TXMLDataItem item;
            if (!item.Parse(element)) return false;
            if (platform::LowerCase(item.Name) != "device") return false;
            std::unique_ptr<TDevice> device = NewDevice();
            if (!device->LoadFromXml(platform::Trim(item.Content))) {
                device.reset();
                FreeAll();
                return false;
            }
            device->ListIndex = Count();
            AppendDevice(std::move(device));
        }
        return true;
    } catch (...) {
        return false;
    }
}

std::unique_ptr<TOstrolinkaConnection> TDeviceList::CreateConnection(TDevicePropertyList*) { return nullptr; }

bool TDeviceList::FreeConnection(TOstrolinkaConnection*& connection) {
    delete connection;
    connection = nullptr;
    return true;
}

bool TDeviceList::CloseConnection() { return Connection == nullptr || Connection->Close(nullptr); }

bool TDeviceList::ConnectionFits(const TOstrolinkaConnection& connection, TDevicePropertyList* properties) {
    // The factory's answer for these settings decides; an unopened connection costs no I/O.
    const std::unique_ptr<TOstrolinkaConnection> probe = CreateConnection(properties);
    return probe != nullptr && probe->Kind() == connection.Kind();
}

TDeviceRecord* TDeviceList::FindDevice(const std::string& prefix, int32_t address) const {
    const std::string key = platform::UpperCase(prefix);
    for (int32_t i = 0; i < Count(); ++i) {
        TDeviceRecord* r = Record(i);
        if (platform::UpperCase(r->Device->RoutingPrefix) == key && r->Device->DeviceAddress == address) return r;
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
        if (platform::Trim(platform::UpperCase(d->RoutingPrefix)) == name && d->DeviceAddress == device) return i;
    }
    return -1;
}

} // namespace framework
