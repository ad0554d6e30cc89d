#include "platform/window_table.h"

#include "platform/names.h"
#include "platform/shared_memory.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

// Both fields live in memory shared between processes, so they must be plain lock-free atomics.
struct WindowTable::Slot {
    std::atomic<uint64_t> word;  // owner pid (with ClaimingBit) << 32 | handle
    std::atomic<uint64_t> start; // owner's process start time
};

static_assert(std::atomic<uint64_t>::is_always_lock_free);
static_assert(sizeof(std::atomic<uint64_t>) == 8);

namespace {

// Set while a claimer has the slot but has not yet written its start time; such a slot is busy as long
// as its pid lives.
constexpr uint32_t ClaimingBit = 0x80000000u;

constexpr uint64_t Word(uint32_t handle, uint32_t pid) {
    return (static_cast<uint64_t>(pid) << 32) | handle;
}
constexpr uint32_t HandleOf(uint64_t word) {
    return static_cast<uint32_t>(word);
}
constexpr uint32_t PidOf(uint64_t word) {
    return static_cast<uint32_t>(word >> 32);
}

} // namespace

bool ProcessStartTime(pid_t pid, uint64_t& start) {
    if (pid <= 0) return false;
    char path[48];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buf[1024];
    ssize_t got = 0;
    for (;;) {
        got = ::read(fd, buf, sizeof buf - 1);
        if (got >= 0 || errno != EINTR) break;
    }
    ::close(fd);
    if (got <= 0) return false;
    buf[got] = '\0';
    // The command name may hold spaces and parentheses; the fields start after its last ')'.
    const char* p = std::strrchr(buf, ')');
    if (p == nullptr || p[1] != ' ') return false;
    p += 2;
    const char state = *p;
    if (state == 'Z' || state == 'X' || state == 'x') return false;
    // Field 3 is the state; the start time is field 22.
    for (int field = 3; field < 22; ++field) {
        p = std::strchr(p, ' ');
        if (p == nullptr) return false;
        ++p;
    }
    char* end = nullptr;
    start = std::strtoull(p, &end, 10);
    return end != p;
}

namespace {

int tableFd = -1;
std::string tablePath;

// The last process of the namespace to leave takes the table's name away, as with every shared
// block; the mapping itself stays, for windows destroyed by later exit-time destructors.
void RemoveTableWhenLast() {
    if (tableFd >= 0) UnlinkWhenLast(tableFd, tablePath);
}

// A table that could not be made is not left behind by the process that tried.
void GiveUp(int fd, const std::string& name) {
    UnlinkWhenLast(fd, name);
    ::close(fd);
}

} // namespace

WindowTable* WindowTable::Instance() {
    static WindowTable* table = []() -> WindowTable* {
        const std::string name = "/" + NamespacedName("ostrolinka.windows");
        const size_t size = sizeof(Slot) * SlotCount;
        // Every process creates or attaches the same block and only ever grows it, so there is no
        // window in which one process could see another's half-made table: a grown block is zeros.
        // Each holder keeps a shared lock; a table whose name was taken away between our open and our
        // lock is no longer the namespace's, and we open again.
        for (int round = 0; round < 8; ++round) {
            const int fd = ::shm_open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            if (fd < 0) return nullptr;
            if (Flock(fd, LOCK_SH) != 0) {
                ::close(fd);
                return nullptr;
            }
            if (!NamesObject(fd, name)) {
                ::close(fd);
                continue;
            }
            struct stat st {};
            if (::fstat(fd, &st) != 0 || st.st_uid != ::geteuid()) {
                ::close(fd);
                return nullptr;
            }
            // Every page is reserved before a slot is touched: a table that does not fit is no table,
            // never a SIGBUS at the first handle. Pages another process reserved cost nothing more.
            if (!ReserveBlock(fd, size)) {
                GiveUp(fd, name);
                return nullptr;
            }
            void* mem = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            if (mem == MAP_FAILED) {
                GiveUp(fd, name);
                return nullptr;
            }
            tableFd = fd;
            tablePath = name;
            RegisterHeldName(fd, name);
            std::atexit(RemoveTableWhenLast);
            // Kept for the life of the process: windows may be destroyed from exit-time destructors.
            auto* t = new WindowTable();
            t->slots_ = static_cast<Slot*>(mem);
            return t;
        }
        return nullptr;
    }();
    return table;
}

namespace {

// A slot is free when nobody holds it, or its holder is dead or is an older process under the same pid.
bool SlotFree(const std::atomic<uint64_t>& startField, uint64_t word, pid_t me, uint64_t myStart) {
    const uint32_t p = PidOf(word);
    if (p == 0) return true;
    const pid_t pid = static_cast<pid_t>(p & ~ClaimingBit);
    uint64_t start = myStart;
    if (pid != me && !ProcessStartTime(pid, start)) return true;
    if ((p & ClaimingBit) != 0) return false;
    return startField.load(std::memory_order_relaxed) != start;
}

} // namespace

uint32_t WindowTable::Allocate() {
    const pid_t me = ::getpid();
    uint64_t myStart = 0;
    if (!ProcessStartTime(me, myStart)) return 0;
    // Processes start their search at different places, so that they seldom compete for a slot.
    static std::atomic<uint32_t> cursor{static_cast<uint32_t>(me) * 2654435761u};
    for (uint32_t n = 0; n < SlotCount; ++n) {
        const uint32_t index = cursor.fetch_add(1, std::memory_order_relaxed) % SlotCount;
        Slot& slot = slots_[index];
        uint64_t word = slot.word.load(std::memory_order_acquire);
        if (!SlotFree(slot.start, word, me, myStart)) continue;
        uint32_t generation = (HandleOf(word) >> 16) + 1;
        if (generation > 0xFFFF) generation = 1;
        const uint32_t handle = (generation << 16) | index;
        if (!slot.word.compare_exchange_strong(word, Word(handle, static_cast<uint32_t>(me) | ClaimingBit),
                                               std::memory_order_acq_rel)) {
            continue;
        }
        slot.start.store(myStart, std::memory_order_relaxed);
        slot.word.store(Word(handle, static_cast<uint32_t>(me)), std::memory_order_release);
        return handle;
    }
    return 0;
}

void WindowTable::Release(uint32_t handle) {
    Slot& slot = slots_[handle % SlotCount];
    uint64_t expected = Word(handle, static_cast<uint32_t>(::getpid()));
    // The handle stays in the word, so the next holder of the slot takes the following generation.
    slot.word.compare_exchange_strong(expected, Word(handle, 0), std::memory_order_acq_rel);
}

pid_t WindowTable::LiveOwner(uint32_t handle) const {
    if (handle == 0) return 0;
    const Slot& slot = slots_[handle % SlotCount];
    const uint64_t word = slot.word.load(std::memory_order_acquire);
    const uint32_t p = PidOf(word);
    if (HandleOf(word) != handle || p == 0 || (p & ClaimingBit) != 0) return 0;
    const pid_t pid = static_cast<pid_t>(p);
    uint64_t start = 0;
    if (!ProcessStartTime(pid, start) || slot.start.load(std::memory_order_relaxed) != start) return 0;
    return pid;
}

} // namespace platform
