// The host's write requests, queued one per variable with the variable's routing, and handed to
// the server one batch at a time through the command region of the exchange area.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "framework/collections.h"
#include "framework/intercom_layout.h"
#include "module/received_buffer.h"

namespace module {

class TDRVVariableList;

// The write-request block has the layout of the value block: header, then 20-byte requests.
using THostWriteRequest = THostValueEntry;
constexpr std::size_t kWriteBlockHeaderSize = sizeof(THostValueHeader);

struct TQueuedCommand {
    int32_t VariableId;
    framework::TShortString Domain;
    int32_t Device;
    int32_t TagAddress;
    framework::TShortString StrAddress;
    float Value;
    float OldValue;
    int32_t Time;
    int32_t Date;
};

class TCommandsBuffer : public framework::TBaseArray {
public:
    static constexpr int32_t kMaxBatch = framework::kMaxCommands;
    // A queue longer than this is given up when new requests come: the server is not taking them.
    static constexpr int32_t kMaxQueued = 10;

    // The variable list turns ids into routing; it must outlive the buffer.
    explicit TCommandsBuffer(TDRVVariableList& variables);
    ~TCommandsBuffer() override;

    // Host thread. Queues the requests of a block of `size` bytes, read no further than `size`.
    // False when a request names a variable that is not bound, or the block is shorter than its
    // header or than its Count says; every bound request that is there is queued all the same.
    // A null block or a size of 0 queues nothing and gives True.
    virtual bool AddRequests(const void* block, int32_t size);
    // Takes the item; an earlier request for the same variable is dropped. Call under the lock
    // (AddRequests does).
    bool AddUnique(TQueuedCommand* item);

    // Module thread. Moves the front of the queue into the command region when the region is idle
    // (Flag 0, Count 0): the commands of one routing prefix and one device number, in queue order,
    // at most 16. The server runs a batch as one device's command cycle, and with one device thread
    // per port a batch mixing devices would reach a thread that lacks some of them. True when a
    // batch was placed; the caller then publishes it at once (TCommandsList::Publish).
    bool FillCommands();

    // Number of queued requests, read under the lock.
    int32_t QueuedCount();
    // Queued item i (front is 0); only while no other thread changes the queue.
    const TQueuedCommand* QueuedAt(int32_t i) const { return Item<TQueuedCommand>(i); }

    void FreeItem(void* item) override;

private:
    TDRVVariableList& variables_;
    std::mutex lock_;
};

} // namespace module
