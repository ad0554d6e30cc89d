// The module's worker thread: keeps the server program alive, hands queued host writes to the
// server one batch at a time and gives up batches nobody takes, forwards dynamic and static tag
// values to the host, and copies the server's errors into the module log.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "platform/thread.h"

namespace module {

// Server start bookkeeping. The time of the last start is on the monotonic clock, so that setting
// the wall clock neither stops the watch nor makes it start servers on end; 0 is "never".
extern std::atomic<uint64_t> LastServerStart;
extern std::atomic<int32_t> StartAttempts;

// Held by every code of the module that takes the lock byte of regions 4 or 7 to 9, and by the
// release of the locks a dead server left, so that the module never releases a lock of its own.
// Timed, so that the windows can give up on it rather than stand still.
extern std::timed_mutex RegionLockTakers;
// Before a new server starts: frees the locks of regions 4 and 7 to 9 that the dead one may have
// left taken, which would make every later access wait and fail.
void ReleaseStaleLocks();

// A report that would repeat every pass while its condition lasts: made once, and again only after
// the condition has cleared.
class TOnceReport {
public:
    TOnceReport(int32_t code, std::string text) : code_(code), text_(std::move(text)) {}
    void Raise();
    void Clear() { raised_ = false; }

private:
    int32_t code_;
    std::string text_;
    bool raised_ = false;
};

class TDriverThread : public platform::TThread {
public:
    static constexpr int32_t kTickMs = 10;
    // Ticks before the first server check.
    static constexpr int32_t kServerStartDelay = 10;

    TDriverThread();

    // True when a live server was found or a start was launched.
    bool EnsureServer(bool allowStart);

protected:
    void Execute() override;

private:
    void Pass();
    void CommandPhase();
    void AbandonBatch();
    void DynamicTagPhase();
    void StaticTagPhase();
    void ServerErrorPhase();
    // The command-state tag of the device that the batch in the region is for.
    void SetCommandState(const std::string& domain, int32_t device, float value);

    uint64_t tick_ = 0;
    uint64_t scanTick_ = 0;
    int32_t serverStartDelay_ = kServerStartDelay;
    std::string currentPoint_;
    // When the batch in the region was published, on the monotonic clock; 0 while there is none.
    uint64_t batchSince_ = 0;
    TOnceReport noIntercom_;
};

} // namespace module
