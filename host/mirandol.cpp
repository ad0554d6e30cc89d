// Stand-in of the host's variables library: variable records and routing domains answered from the
// host tag database file, read again whenever it changes.
#include "hostapi/variables_library.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QListWidget>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/host_tag_database.h"
#include "platform/text.h"

using hostapi::kVLListCountOffset;
using hostapi::kVLListRecordsOffset;
using hostapi::kVLNavigatorBufferSize;
using hostapi::TVLRoutingDomainInfo;
using hostapi::TVLVariableInfo;
using hostapi::VLHandle;

namespace {

constexpr int32_t kDone = 0;
constexpr int32_t kNotFound = 1;
constexpr int32_t kBadArgument = -1;

struct TDomain {
    std::string Name;
    std::vector<const host::THostTag*> Variables; // in file order
};

// The tags of the file named now and the routing domains they form, both rebuilt when it changes.
class TVariables {
public:
    const host::THostTagDatabase& Tags() {
        Refresh();
        return *db_;
    }
    const std::vector<TDomain>& Domains() {
        Refresh();
        return domains_;
    }

private:
    void Refresh() {
        const std::string file = host::HostTagDatabaseFile();
        bool fresh = false;
        if (!db_ || db_->FileName() != file) {
            db_ = std::make_unique<host::THostTagDatabase>(file);
            fresh = true;
        }
        if (!db_->Refresh() && !fresh) return;
        for (const std::string& p : db_->Problems())
            std::fprintf(stderr, "%s: %s\n", file.c_str(), p.c_str());
        domains_.clear();
        for (const host::THostTag& tag : db_->Tags()) {
            const std::string prefix = DomainOf(tag.Routing);
            if (prefix.empty()) continue;
            TDomain* domain = nullptr;
            for (TDomain& d : domains_)
                if (d.Name == prefix) domain = &d;
            if (domain == nullptr) domain = &domains_.emplace_back(TDomain{prefix, {}});
            domain->Variables.push_back(&tag);
        }
    }
    // The routing prefix as the host keeps it, letter case and all: the text before the first ":".
    static std::string DomainOf(const std::string& routing) {
        const std::string text = platform::Trim(routing);
        const std::size_t colon = text.find(':');
        if (colon == std::string::npos || colon == 0) return {};
        std::string name = platform::Trim(text.substr(0, colon));
        if (name.size() > sizeof(TVLRoutingDomainInfo::Name) - 1)
            name.resize(sizeof(TVLRoutingDomainInfo::Name) - 1);
        return name;
    }

    std::unique_ptr<host::THostTagDatabase> db_;
    std::vector<TDomain> domains_;
};

std::mutex Lock;
TVariables Variables;

float Single(double v) {
    return static_cast<float>(v);
}

void Fill(const host::THostTag& tag, TVLVariableInfo& info) {
    std::memset(&info, 0, sizeof info);
    info.VariableId = tag.Id;
    platform::SetFieldText(info.Name, tag.Name);
    platform::SetFieldText(info.Routing, tag.Routing);
    info.Value = Single(tag.Value);
    info.Kind = tag.Kind;
    info.Low = Single(tag.Low);
    info.High = Single(tag.High);
    info.Deadband = Single(tag.Deadband);
    info.Divisor = Single(tag.Divisor);
    info.TwoState = tag.TwoState;
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) int32_t VLGetRoutingDomainNum() {
    std::lock_guard<std::mutex> guard(Lock);
    return static_cast<int32_t>(Variables.Domains().size());
}

__attribute__((visibility("default"))) int32_t VLGetRoutingDomainInfo(int32_t index,
                                                                      TVLRoutingDomainInfo* info) {
    if (info == nullptr || info->Size != static_cast<int32_t>(sizeof *info)) return kBadArgument;
    std::lock_guard<std::mutex> guard(Lock);
    const std::vector<TDomain>& domains = Variables.Domains();
    if (index < 0 || static_cast<std::size_t>(index) >= domains.size()) return kBadArgument;
    info->DomainId = index + 1;
    platform::SetFieldText(info->Name, domains[index].Name);
    info->VariableCount = static_cast<int32_t>(domains[index].Variables.size());
    return kDone;
}

__attribute__((visibility("default"))) int32_t VLGetVariableInfoByDomainId(int32_t domainId, int32_t index,
                                                                           TVLVariableInfo* info) {
    if (info == nullptr) return kBadArgument;
    std::lock_guard<std::mutex> guard(Lock);
    const std::vector<TDomain>& domains = Variables.Domains();
    if (domainId < 1 || static_cast<std::size_t>(domainId) > domains.size()) return kBadArgument;
    const TDomain& domain = domains[domainId - 1];
    if (index < 0 || static_cast<std::size_t>(index) >= domain.Variables.size()) return kBadArgument;
    Fill(*domain.Variables[index], *info);
    return kDone;
}

__attribute__((visibility("default"))) int32_t VLGetVariableInfoById(int32_t variableId, int32_t*,
                                                                     TVLVariableInfo* info) {
    if (info == nullptr) return kBadArgument;
    std::lock_guard<std::mutex> guard(Lock);
    const host::THostTag* tag = Variables.Tags().FindById(variableId);
    if (tag == nullptr) return kNotFound;
    Fill(*tag, *info);
    return kDone;
}

__attribute__((visibility("default"))) int32_t VLGetVariableInfoByName(const char* name, int32_t*,
                                                                       TVLVariableInfo* info) {
    if (name == nullptr || info == nullptr) return kBadArgument;
    std::lock_guard<std::mutex> guard(Lock);
    const host::THostTag* tag = Variables.Tags().FindByName(name);
    if (tag == nullptr) return kNotFound;
    Fill(*tag, *info);
    return kDone;
}

__attribute__((visibility("default"))) int32_t VLGetVariablesListByType(int32_t, int32_t, int32_t,
                                                                        VLHandle* handle) {
    if (handle == nullptr) return kBadArgument;
    *handle = nullptr;
    std::lock_guard<std::mutex> guard(Lock);
    const std::vector<host::THostTag>& tags = Variables.Tags().Tags();
    const std::size_t size = kVLListRecordsOffset + tags.size() * sizeof(TVLVariableInfo);
    auto* block = static_cast<unsigned char*>(std::calloc(1, size));
    if (block == nullptr) return kBadArgument;
    const int32_t count = static_cast<int32_t>(tags.size());
    std::memcpy(block + kVLListCountOffset, &count, sizeof count);
    for (std::size_t i = 0; i < tags.size(); ++i) {
        TVLVariableInfo info;
        Fill(tags[i], info);
        std::memcpy(block + kVLListRecordsOffset + i * sizeof info, &info, sizeof info);
    }
    *handle = block;
    return kDone;
}

__attribute__((visibility("default"))) int32_t VLFreeResource(VLHandle* handle) {
    if (handle == nullptr || *handle == nullptr) return kBadArgument;
    std::free(*handle);
    *handle = nullptr;
    return kDone;
}

// The window argument is a handle of the platform layer, which knows no Qt widget: the chooser is
// placed over the modal window that is open (the caller's), and is modal to the application itself.
__attribute__((visibility("default"))) uint16_t VLNavigatorDialog(uint32_t, char* buffer) {
    if (buffer == nullptr) return 0;
    std::memset(buffer, 0, kVLNavigatorBufferSize);
    const auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (app == nullptr || app->thread() != QThread::currentThread()) return 0;
    std::vector<std::string> names;
    {
        std::lock_guard<std::mutex> guard(Lock);
        for (const host::THostTag& tag : Variables.Tags().Tags())
            names.push_back(tag.Name);
    }

    QDialog dialog(QApplication::activeModalWidget());
    dialog.setWindowTitle(QString::fromUtf8("Выбор переменной"));
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.resize(320, 400);
    auto* list = new QListWidget(&dialog);
    for (const std::string& name : names)
        list->addItem(QString::fromStdString(platform::Utf8FromCp1251(name)));
    if (!names.empty()) list->setCurrentRow(0);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(list, &QListWidget::itemDoubleClicked, &dialog, &QDialog::accept);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(list);
    layout->addWidget(buttons);

    if (dialog.exec() != QDialog::Accepted) return 0;
    const int row = list->currentRow();
    if (row < 0 || static_cast<std::size_t>(row) >= names.size()) return 0;
    // The name is picked from our own copy, byte for byte, cut to leave room for its zero.
    const std::string& name = names[static_cast<std::size_t>(row)];
    std::memcpy(buffer, name.data(), std::min(name.size(), kVLNavigatorBufferSize - 1));
    return 1;
}

} // extern "C"
