#include "framework/threads_list.h"

#include <memory>
#include <mutex>

#include "framework/driver.h"
#include "framework/driver_error.h"
#include "framework/xml_data_item.h"
#include "platform/text.h"

namespace framework {

namespace {

// The answer to the commands of a service request, one line each; the only command known is the
// service's name.
std::string ServiceAnswer(std::string content) {
    std::string title;
    if (Driver) {
        TDeviceInfoRecord info;
        Driver->GetDeviceInfo(info);
        title = platform::FieldText(info.Title);
    }
    std::string body = "<TQL>\r\n";
    while (!content.empty()) {
        std::string child;
        ExtractNextElement(content, child);
        if (child.empty()) break;
        TXMLDataItem item;
        if (!item.Parse(child)) {
            body += "<ERROR Message=\"Invalid expression\"/>\r\n";
            break;
        }
        if (platform::UpperCase(item.Name) == "GET_SERVICE_NAME")
            body += "<GET_SERVICE_NAME name=\"" + title + "\"/>\r\n";
        else
            body += "<ERROR Message=\"Unknoun command!\"/>\r\n";
    }
    if (!content.empty()) body += "<ERROR Message=\"Invalid expression!\"/>\r\n";
    body += "</TQL>\r\n";
    return body;
}

} // namespace

TThreadsList::~TThreadsList() {
    FreeAll();
}

void TThreadsList::FreeItem(void* item) {
    auto* thread = static_cast<TDeviceThread*>(item);
    if (thread == nullptr) return;
    const int32_t devices = thread->Devices ? thread->Devices->Count() : 0;
    if (!platform::TThread::Free(std::unique_ptr<platform::TThread>(thread), kStopTimeoutMs))
        Report(kErrReported, "Device thread (" + platform::IntToStr(devices) +
                                 " devices) did not stop within 3000 ms and is left running.");
}

void TThreadsList::CreateThreads(TDeviceList* source, bool byPort) {
    if (source == nullptr) return;
    std::unique_ptr<TDeviceList> rest = Driver ? Driver->CreateDeviceList() : std::make_unique<TDeviceList>();
    rest->Assign(source);
    while (rest->Count() > 0) {
        const int32_t before = rest->Count();
        Insert(new TDeviceThread(rest.get(), byPort));
        if (rest->Count() >= before) break; // a thread that took nothing would loop for ever
    }
}

void TThreadsList::ResumeAll() {
    for (int32_t i = 0; i < Count(); ++i)
        Thread(i)->Resume();
    Running.store(true);
}

void TThreadsList::TerminateAll() {
    for (int32_t i = 0; i < Count(); ++i) {
        TDeviceThread* t = Thread(i);
        t->Terminate();
        t->WaitFor(kStopTimeoutMs);
    }
    Running.store(false);
}

bool TThreadsList::LockDevice(const std::string& prefix, int32_t address, bool on) {
    const std::string domain = address == 0 ? std::string("OSTROLINKA") : prefix;
    if (domain.empty() || address < 0) return false;
    if (address == 0) {
        bool any = false;
        for (int32_t i = 0; i < Count(); ++i) {
            TDeviceThread* t = Thread(i);
            if (t->Devices->Count() == 0) continue;
            t->SetPause(on);
            any = true;
        }
        return any;
    }
    for (int32_t i = 0; i < Count(); ++i) {
        TDeviceThread* t = Thread(i);
        TDevice* d = t->FindThreadDevice(domain, address);
        if (d == nullptr) continue;
        bool enabled;
        {
            std::lock_guard<std::mutex> guard(DriverLock);
            enabled = d->Enabled;
        }
        if (!enabled) return false;
        t->SetPause(on);
        return true;
    }
    return false;
}

void TThreadsList::DoExternalRequest(TRemotePeer* peer, TRemoteRequestHeader& header, std::string& errorText,
                                     TTerminalDataClass* log, const std::string* stream) {
    errorText = "THREADS_LIST::"_cp + "Устройство не найдено или недоступно."_cp;
    const std::string domain = header.Domain.Get();
    if (domain.empty() || header.DeviceAddress < 1) {
        ProcessTQLRequest(peer, header, errorText, log, stream);
        return;
    }
    TDeviceThread* thread = nullptr;
    TDevice* device = nullptr;
    for (int32_t i = 0; i < Count() && device == nullptr; ++i) {
        thread = Thread(i);
        device = thread->FindThreadDevice(domain, header.DeviceAddress);
    }
    if (device == nullptr) {
        AddLog(log, "THREADS_LIST:: Device not found or locked.");
        return;
    }
    bool enabled;
    {
        // The device belongs to another thread: its lock state changes only under the lock.
        std::lock_guard<std::mutex> guard(DriverLock);
        bool newEnabled;
        if (ReadAccessLock(*device, newEnabled)) device->SetEnabled(newEnabled);
        enabled = device->Enabled;
    }
    if (!enabled) return;
    if (!thread->Paused.load()) {
        errorText = "THREADS_LIST::"_cp + "Ошибка блокировки потока запрашиваемого устройства."_cp;
        return;
    }
    AddLog(log, "THREADS_LIST:: Device found: " + device->DeviceName);
    device->DoExternalRequest(peer, header, errorText, log, stream);
    AddLog(log, "THREADS_LIST:: DoExternalRequest finished.");
}

void TThreadsList::ProcessTQLRequest(TRemotePeer* peer, TRemoteRequestHeader& header, std::string& errorText,
                                     TTerminalDataClass* log, const std::string* stream) {
    struct TEndLine {
        TTerminalDataClass* log;
        ~TEndLine() { AddLog(log, "   DEVICE::Окончание обработки запроса к устройству."_cp); }
    };
    errorText = "   DEVICE::Request not supported!";
    AddLog(log, "   DEVICE::Обработка запроса к устройству..."_cp);
    const TEndLine endLine{log};

    errorText = "   DEVICE::Request data error!";
    if (header.RequestCode != kServiceRequest) {
        errorText.clear();
        return;
    }
    // The length is the client's: checked against the longest request, summed in 64 bits.
    const int64_t expected = int64_t{kRemoteHeaderSize} + int64_t{header.PayloadLength};
    if (header.PayloadLength <= 0 || expected > kMaxRemoteRequest || stream == nullptr ||
        static_cast<int64_t>(stream->size()) != expected)
        return;
    std::string text = platform::Trim(std::string_view(*stream).substr(kRemoteHeaderSize));
    AddLog(log, "TQL Request:");
    AddLog(log, text);

    std::string element;
    ExtractNextElement(text, element);
    TXMLDataItem root;
    if (element.empty() || !root.Parse(element) || root.Name != "TQL" || !text.empty()) {
        header.Status = kRemoteFailed;
        header.Status2 = kRemoteBadServiceHeader;
        const std::string body = "<TQL Message=\"Invalid TQL header!\"/></TQL>";
        SendRemoteReply(peer, header, &body, errorText);
        AddLog(log, "Invalid TQL Request.");
        return;
    }

    const std::string body = ServiceAnswer(root.Content);
    header.Status = kRemoteOk;
    header.Status2 = kRemoteOk;
    SendRemoteReply(peer, header, &body, errorText);
}

} // namespace framework
