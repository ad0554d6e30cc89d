// A device thread's queue of host write commands: taken from a batch that the module published in
// the exchange area, executed one by one by the thread, acknowledged when the last one is done.
#pragma once

#include <cstdint>
#include <string>

#include "framework/collections.h"
#include "framework/intercom_layout.h"

namespace framework {

class TDeviceCommandsList : public TBaseArray {
public:
    TDeviceCommandsList();
    ~TDeviceCommandsList() override;
    void FreeItem(void* item) override;

    // Takes the published batch into the queue when it is for this prefix and address (any batch in
    // single-device mode). The batch goes from published to taken in one atomic step.
    void FetchCommands(const std::string& prefix, int32_t address);
    // Marks the taken batch done once the queue ran empty.
    void Acknowledge();

    const TCommandRecord* CommandAt(int32_t i) const { return Item<TCommandRecord>(i); }

    TCommandsRegion RegionCopy;
    // Set by the thread when the queue runs empty; cleared by Acknowledge and by a new batch.
    bool AckPending = false;

private:
    bool IsForUs(const std::string& domain, int32_t device, const std::string& prefix, int32_t address) const;
};

} // namespace framework
