#include "module/commands_buffer.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "framework/intercom.h"
#include "module/drv_variable_list.h"

namespace module {

TCommandsBuffer::TCommandsBuffer(TDRVVariableList& variables) : variables_(variables) {}

TCommandsBuffer::~TCommandsBuffer() {
    FreeAll();
}

void TCommandsBuffer::FreeItem(void* item) {
    delete static_cast<TQueuedCommand*>(item);
}

int32_t TCommandsBuffer::QueuedCount() {
    std::lock_guard<std::mutex> guard(lock_);
    return Count();
}

bool TCommandsBuffer::AddRequests(const void* block, int32_t size) {
    if (block == nullptr || size <= 0) return true;
    std::lock_guard<std::mutex> guard(lock_);
    if (Count() > kMaxQueued) FreeAll();
    if (static_cast<std::size_t>(size) < kWriteBlockHeaderSize) return false;
    const auto* bytes = static_cast<const unsigned char*>(block);
    int32_t count = 0;
    std::memcpy(&count, bytes + offsetof(THostValueHeader, Count), sizeof count);
    // The host's Count is not trusted beyond its block: only the requests that are there are read.
    const int64_t room = (static_cast<int64_t>(size) - static_cast<int64_t>(kWriteBlockHeaderSize)) /
                         static_cast<int64_t>(sizeof(THostWriteRequest));
    bool result = count >= 0 && count <= room;
    const int64_t n = std::clamp<int64_t>(count, 0, room);
    for (int64_t i = 0; i < n; ++i) {
        THostWriteRequest request;
        std::memcpy(&request, bytes + kWriteBlockHeaderSize + static_cast<std::size_t>(i) * sizeof request,
                    sizeof request);
        const TDrvVariableRecord* record = variables_.FindById(request.VariableId);
        if (record == nullptr) {
            result = false;
            continue;
        }
        AddUnique(new TQueuedCommand{request.VariableId, record->Domain, record->Device, record->TagAddress,
                                     record->StrAddress, request.Value, request.OldValue, request.Time,
                                     request.Date});
    }
    return result;
}

bool TCommandsBuffer::AddUnique(TQueuedCommand* item) {
    for (int32_t i = Count() - 1; i >= 0; --i)
        if (QueuedAt(i)->VariableId == item->VariableId) AtFree(i);
    Insert(item);
    return true;
}

bool TCommandsBuffer::FillCommands() {
    framework::TIntercomInterface* area = framework::Intercom;
    if (area == nullptr || !area->IsOpen()) return false;
    framework::TCommandsList& region = area->CommandsList;
    if (region.GetFlag() != framework::csIdle || region.GetCount() != 0) return false;
    std::lock_guard<std::mutex> guard(lock_);
    const TQueuedCommand* first = QueuedAt(0);
    if (first == nullptr) {
        region.Init();
        return false;
    }
    // Copied: the first item is freed once it is in the region.
    const framework::TShortString domain = first->Domain;
    const int32_t device = first->Device;
    int32_t taken = 0;
    while (taken < kMaxBatch) {
        const TQueuedCommand* item = QueuedAt(0);
        if (item == nullptr || item->Device != device || item->Domain.Get() != domain.Get()) break;
        const framework::TCommandRecord command{item->VariableId, item->Domain,     item->Device,
                                                item->TagAddress, item->StrAddress, item->Value,
                                                item->OldValue};
        if (!region.Add(command)) break;
        AtFree(0);
        ++taken;
    }
    if (taken == 0) {
        region.Init();
        return false;
    }
    region.SetDeviceName(domain.Get());
    return true;
}

} // namespace module
