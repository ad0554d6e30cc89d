#include "framework/device_commands.h"

#include <algorithm>
#include <cstring>

#include "framework/driver.h"
#include "framework/intercom.h"
#include "platform/text.h"

namespace framework {

namespace {
bool SingleDeviceMode() {
    return Driver != nullptr && Driver->IsSingleDeviceMode();
}
} // namespace

TDeviceCommandsList::TDeviceCommandsList() {
    std::memset(&RegionCopy, 0, sizeof RegionCopy);
}

TDeviceCommandsList::~TDeviceCommandsList() {
    FreeAll();
}

void TDeviceCommandsList::FreeItem(void* item) {
    delete static_cast<TCommandRecord*>(item);
}

bool TDeviceCommandsList::IsForUs(const std::string& domain, int32_t device, const std::string& prefix,
                                  int32_t address) const {
    return platform::Trim(platform::UpperCase(domain)) == platform::Trim(platform::UpperCase(prefix)) &&
           device == address;
}

void TDeviceCommandsList::FetchCommands(const std::string& prefix, int32_t address) {
    if (Intercom == nullptr) return;
    TCommandsList& region = Intercom->CommandsList;
    const bool single = SingleDeviceMode();
    if (region.GetFlag() != csPublished) return;
    if (!single && !IsForUs(region.GetDeviceName(), region.GetDevice(), prefix, address)) return;
    // Another thread may be looking at the same batch: only one moves it on.
    if (!region.ExchangeFlag(csPublished, csTaken)) return;
    if (!region.CopyTo(RegionCopy)) return;
    // Between the look and the exchange the module may have given the batch up and published
    // another: then the copy is not ours, and the next batch goes back to its own taker.
    const bool ours = RegionCopy.Flag == csTaken &&
                      (single || IsForUs(RegionCopy.Domain.Get(), RegionCopy.Device, prefix, address));
    if (!ours) {
        if (RegionCopy.Flag == csTaken) region.ExchangeFlag(csTaken, csPublished);
        return;
    }
    // An acknowledgement owed for a batch the module abandoned does not carry over to this one.
    AckPending = false;
    const int32_t count = std::clamp(RegionCopy.Count, 0, kMaxCommands);
    for (int32_t i = 0; i < count; ++i) {
        auto* item = new TCommandRecord(RegionCopy.Commands[i]);
        if (single) {
            item->Domain.Set("OSTROLINKA");
            item->Device = 1;
            item->TagAddress = item->VariableId;
            item->StrAddress.Set("");
        }
        Insert(item);
    }
}

void TDeviceCommandsList::Acknowledge() {
    if (!AckPending || Intercom == nullptr) return;
    if (Intercom->CommandsList.ExchangeFlag(csTaken, csDone)) AckPending = false;
}

} // namespace framework
