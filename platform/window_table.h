// The window table: a shared-memory block of the namespace in which every process that owns windows
// takes its handles, so that a handle is unique across processes and another process can tell whether
// it still stands for a live window.
//
// Slot i gives the handles (generation << 16) | i. A slot word holds the handle last given out and the
// owner's pid; pid 0 means free. A slot whose owner has died (a zombie counts as dead, and a pid reused
// by a younger process is told apart by the process start time) is free too, so a crashed process
// loses nothing for the others.
#pragma once

#include <cstdint>
#include <sys/types.h>

namespace platform {

class WindowTable {
public:
    static constexpr uint32_t SlotCount = 65536;

    // The table of the current namespace, attached on first use with all its pages reserved; nullptr
    // when shared memory cannot be had or has no room for it.
    static WindowTable* Instance();

    // A new handle owned by this process; 0 when every slot is taken.
    uint32_t Allocate();
    // Gives the slot of a handle of this process back.
    void Release(uint32_t handle);
    // Owner process of a handle that is live in the table, 0 when the handle is stale or its owner dead.
    pid_t LiveOwner(uint32_t handle) const;

private:
    WindowTable() = default;
    struct Slot;
    Slot* slots_ = nullptr;
};

// Start time of a live process (field 22 of /proc/<pid>/stat); false when there is no such process or
// it is a zombie.
bool ProcessStartTime(pid_t pid, uint64_t& start);

} // namespace platform
