// Named shared memory blocks.
//
// A block is a POSIX shared memory object named "/" + NamespacedName(name), mode 0600. It lives
// while a process holds it: every holder keeps a shared flock on the object, so a block that nobody
// holds any more (its creator crashed) is recognised by an exclusive flock that succeeds, and the
// next creation replaces it. The last holder to close a block removes its name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

enum class TSharedMemoryResult {
    Ok,
    AlreadyExists, // a live process holds a block of that name
    NotFound,      // no block of that name, or one that nobody holds
    Failed,        // the name is unusable, or the system refused
};

class TSharedMemory {
public:
    TSharedMemory() = default;
    ~TSharedMemory();
    TSharedMemory(const TSharedMemory&) = delete;
    TSharedMemory& operator=(const TSharedMemory&) = delete;

    // Creates a zero-filled block of `size` (> 0) bytes exclusively and maps it.
    TSharedMemoryResult Create(std::string_view name, std::size_t size);
    // Maps an existing block; its size comes from the block.
    TSharedMemoryResult Open(std::string_view name);
    // Unmaps; the last holder removes the name.
    void Close();

    bool IsMapped() const { return data_ != nullptr; }
    uint8_t* Data() const { return data_; }
    std::size_t Size() const { return size_; }

private:
    TSharedMemoryResult Map(int fd, std::size_t size);

    int fd_ = -1;
    uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    std::string path_;
};

// The object name a block of `name` gets: "/" + NamespacedName(name).
std::string SharedMemoryPath(std::string_view name);

// flock that goes on after a signal.
int Flock(int fd, int op);
// Whether `path` still names the object behind `fd`: a block that was replaced or removed while we
// were between two steps is no longer ours.
bool NamesObject(int fd, const std::string& path);
// Sizes the object behind `fd` to `size` bytes with its pages reserved now, so that a full memory
// file system fails here instead of raising SIGBUS at the first write. Never shrinks it.
bool ReserveBlock(int fd, std::size_t size);
// Gives up this process's lock on the object behind `fd` and removes `path` when no other process
// holds it. True when the name was removed here.
bool UnlinkWhenLast(int fd, const std::string& path);

// Every block this process holds, the window table included, as (descriptor, object name).
void RegisterHeldName(int fd, const std::string& path);
void UnregisterHeldName(int fd);
// How every program of the system leaves by _exit, maybe while its threads still use its blocks: it
// gives up its hold on the name of every block it holds, keeping the mappings, and removes the names
// nobody else holds. Usable from a signal handler, and in a forked child, which leaves its parent's
// names alone.
[[noreturn]] void ExitReleasingNames(int status);

} // namespace platform
