#include "platform/shared_memory.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "platform/names.h"

namespace platform {

namespace {

bool UsableName(std::string_view name) {
    return !name.empty() && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

// The blocks this process holds, by descriptor. Never freed: blocks close in exit-time destructors.
struct THeldNames {
    std::mutex lock;
    std::map<int, std::string> paths;
};

// The process that registered them: a forked child shares its parent's descriptors and locks, and
// must not give up names that are its parent's.
std::atomic<pid_t> HeldBy{0};

THeldNames& Held() {
    static auto* held = new THeldNames();
    return *held;
}

} // namespace

bool ReserveBlock(int fd, std::size_t size) {
    int rc;
    do {
        rc = ::posix_fallocate(fd, 0, static_cast<off_t>(size));
    } while (rc == EINTR);
    if (rc == 0) return true;
    if (rc != EOPNOTSUPP && rc != EINVAL) return false;
    // A file system that reserves nothing: the size at least.
    struct stat st {};
    if (::fstat(fd, &st) != 0) return false;
    return static_cast<std::size_t>(st.st_size) >= size || ::ftruncate(fd, static_cast<off_t>(size)) == 0;
}

bool UnlinkWhenLast(int fd, const std::string& path) {
    // The exclusive lock succeeds only for the last holder; tried, it leaves no shared lock behind
    // either way, so two holders leaving at once cannot both miss.
    if (Flock(fd, LOCK_EX | LOCK_NB) != 0 || !NamesObject(fd, path)) return false;
    return ::shm_unlink(path.c_str()) == 0;
}

void RegisterHeldName(int fd, const std::string& path) {
    THeldNames& held = Held();
    {
        std::lock_guard<std::mutex> guard(held.lock);
        held.paths[fd] = path;
    }
    // Only once the registry exists: an exit from a signal handler must find it made, not make it.
    HeldBy.store(::getpid(), std::memory_order_release);
}

void UnregisterHeldName(int fd) {
    THeldNames& held = Held();
    std::lock_guard<std::mutex> guard(held.lock);
    held.paths.erase(fd);
}

void ExitReleasingNames(int status) {
    if (HeldBy.load(std::memory_order_acquire) == ::getpid()) {
        // Maybe from a signal handler that interrupted the lock's holder: wait a little, not for good.
        THeldNames& held = Held();
        bool locked = held.lock.try_lock();
        for (int i = 0; i < 100 && !locked; ++i) {
            const timespec pause{0, 1000000};
            ::nanosleep(&pause, nullptr);
            locked = held.lock.try_lock();
        }
        if (locked) {
            for (const auto& [fd, path] : held.paths)
                UnlinkWhenLast(fd, path);
            held.lock.unlock();
        }
    }
    ::_exit(status);
}

int Flock(int fd, int op) {
    int rc;
    do {
        rc = ::flock(fd, op);
    } while (rc != 0 && errno == EINTR);
    return rc;
}

// Whether `path` still names the object behind `fd`: a block that was replaced or removed while we
// were between two steps is no longer ours.
bool NamesObject(int fd, const std::string& path) {
    const int probe = ::shm_open(path.c_str(), O_RDONLY, 0);
    if (probe < 0) return false;
    struct stat a {
    }, b{};
    const bool same =
        ::fstat(fd, &a) == 0 && ::fstat(probe, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
    ::close(probe);
    return same;
}

std::string SharedMemoryPath(std::string_view name) {
    return "/" + NamespacedName(name);
}

TSharedMemory::~TSharedMemory() {
    Close();
}

TSharedMemoryResult TSharedMemory::Create(std::string_view name, std::size_t size) {
    Close();
    if (size == 0 || !UsableName(name)) return TSharedMemoryResult::Failed;
    const std::string path = SharedMemoryPath(name);
    // A few rounds at most: each round either ends or removes one block that nobody holds.
    for (int round = 0; round < 4; ++round) {
        const int fd = ::shm_open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
        if (fd < 0) {
            if (errno != EEXIST) return TSharedMemoryResult::Failed;
            const int old = ::shm_open(path.c_str(), O_RDWR, 0);
            if (old < 0) {
                if (errno == ENOENT) continue;
                return TSharedMemoryResult::AlreadyExists; // someone else's, we may not even open it
            }
            if (Flock(old, LOCK_EX | LOCK_NB) != 0) {
                ::close(old);
                return TSharedMemoryResult::AlreadyExists;
            }
            // Nobody holds it: its creator died. Remove it while we hold it exclusively.
            if (NamesObject(old, path)) ::shm_unlink(path.c_str());
            ::close(old);
            continue;
        }
        // Between the creation and our shared lock a rival may have taken the fresh block for an
        // orphan and replaced it; then the block is the rival's.
        if (Flock(fd, LOCK_SH) != 0) {
            ::close(fd);
            return TSharedMemoryResult::Failed;
        }
        if (!NamesObject(fd, path)) {
            ::close(fd);
            return TSharedMemoryResult::AlreadyExists;
        }
        ::fchmod(fd, 0600);
        if (!ReserveBlock(fd, size)) {
            ::shm_unlink(path.c_str());
            ::close(fd);
            return TSharedMemoryResult::Failed;
        }
        path_ = path;
        const TSharedMemoryResult r = Map(fd, size);
        if (r != TSharedMemoryResult::Ok) ::shm_unlink(path.c_str());
        return r;
    }
    return TSharedMemoryResult::AlreadyExists;
}

TSharedMemoryResult TSharedMemory::Open(std::string_view name) {
    Close();
    if (!UsableName(name)) return TSharedMemoryResult::Failed;
    const std::string path = SharedMemoryPath(name);
    const int fd = ::shm_open(path.c_str(), O_RDWR, 0);
    if (fd < 0) return errno == ENOENT ? TSharedMemoryResult::NotFound : TSharedMemoryResult::Failed;
    // A block that nobody holds is dead; it is left for the next creation to replace.
    if (Flock(fd, LOCK_EX | LOCK_NB) == 0) {
        ::close(fd);
        return TSharedMemoryResult::NotFound;
    }
    if (Flock(fd, LOCK_SH) != 0) {
        ::close(fd);
        return TSharedMemoryResult::Failed;
    }
    struct stat st {};
    if (!NamesObject(fd, path) || ::fstat(fd, &st) != 0 || st.st_size <= 0) {
        // Removed meanwhile, or still being sized by its creator.
        ::close(fd);
        return TSharedMemoryResult::NotFound;
    }
    path_ = path;
    return Map(fd, static_cast<std::size_t>(st.st_size));
}

TSharedMemoryResult TSharedMemory::Map(int fd, std::size_t size) {
    void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED) {
        ::close(fd);
        path_.clear();
        return TSharedMemoryResult::Failed;
    }
    fd_ = fd;
    data_ = static_cast<uint8_t*>(p);
    size_ = size;
    RegisterHeldName(fd_, path_);
    return TSharedMemoryResult::Ok;
}

void TSharedMemory::Close() {
    if (data_ != nullptr) ::munmap(data_, size_);
    data_ = nullptr;
    size_ = 0;
    if (fd_ >= 0) {
        UnregisterHeldName(fd_);
        UnlinkWhenLast(fd_, path_);
        ::close(fd_);
        fd_ = -1;
    }
    path_.clear();
}

} // namespace platform
