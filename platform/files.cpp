#include "platform/files.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <charconv>

#include "platform/text.h"

namespace platform {

std::string ErrorNumberText(int error) {
    return "ошибка "_cp + IntToStr(error);
}

namespace {

constexpr time_t kLeftoverAge = 600; // seconds nobody wrote a leftover before it goes
constexpr pid_t kPidLimit = 4194304; // the kernel's own bound when pid_max cannot be read
constexpr int kTempNameTries = 100;  // temporary names tried when the ones before are taken

std::string NotRegular() {
    return "это не обычный файл"_cp;
}
std::string TooLarge() {
    return "он больше "_cp + IntToStr(static_cast<int64_t>(kMaxFileSize)) + " байт"_cp;
}

} // namespace

std::string NotWritten(const std::string& path, const std::string& reason) {
    return "Файл \""_cp + path + "\" не записан: "_cp + reason + ".";
}

std::string PastReadBound() {
    return "его текст больше "_cp + IntToStr(static_cast<int64_t>(kMaxFileSize)) +
           " байт, а такой файл не читается"_cp;
}

namespace {

// Parses a number as the system writes one (digits, no leading zero) from p on.
bool Number(const char*& p, const char* end, unsigned& value) {
    if (p == end || *p < '1' || *p > '9') return false;
    const auto [next, failed] = std::from_chars(p, end, value);
    p = next;
    return failed == std::errc();
}

// The writer's pid when name is one of base's temporary files, "<base>.<pid>-<n>.tmp"; 0 otherwise.
unsigned TempWriter(std::string_view name, std::string_view base) {
    if (name.size() < base.size() + 8 || !name.starts_with(base) || name[base.size()] != '.' ||
        !name.ends_with(".tmp"))
        return 0;
    const char* p = name.data() + base.size() + 1;
    const char* const end = name.data() + name.size() - 4;
    unsigned pid = 0, n = 0;
    return Number(p, end, pid) && p != end && *p++ == '-' && Number(p, end, n) && p == end ? pid : 0;
}

// Pids the system gives are below pid_max.
pid_t PidLimit() {
    static const pid_t limit = [] {
        std::string text;
        long value = 0;
        if (ReadRegularFile("/proc/sys/kernel/pid_max", text))
            std::from_chars(text.data(), text.data() + text.size(), value);
        return value > 1 && value <= INT_MAX ? static_cast<pid_t>(value) : kPidLimit;
    }();
    return limit;
}

// A save that was killed leaves its temporary file; it goes only when nobody can still be writing
// it: a regular file (a link or a FIFO of that name is someone else's) of a pid the system gives that
// is gone, untouched for a while (from another pid namespace a live writer looks gone).
void RemoveLeftovers(const std::string& folder, const std::string& base) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return;
    const time_t old = ::time(nullptr) - kLeftoverAge;
    while (const dirent* entry = ::readdir(dir)) {
        const unsigned pid = TempWriter(entry->d_name, base);
        struct stat st {};
        if (pid != 0 && pid < static_cast<unsigned>(PidLimit()) && ::kill(static_cast<pid_t>(pid), 0) != 0 &&
            errno == ESRCH && ::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode) && st.st_mtime <= old)
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::closedir(dir);
}

// Opens the file only when it is a regular one, links followed, and waits on nothing while it does;
// -1 with the reason otherwise. A missing file gives no reason unless `create` makes it.
int OpenRegular(const std::string& path, int flags, bool create, struct stat& st, std::string& reason) {
    reason.clear();
    if (path.empty() || path.find('\0') != std::string::npos) {
        if (create) reason = ErrorNumberText(ENOENT);
        return -1;
    }
    if (::stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) {
            reason = ErrorNumberText(errno);
            return -1;
        }
        if (!create) return -1;
    } else if (!S_ISREG(st.st_mode)) {
        reason = NotRegular(); // not even opened: opening some devices alone has effects
        return -1;
    }
    // The name may have come to name something else since: nothing waits in the open, and what was
    // opened is looked at again.
    const int fd =
        ::open(path.c_str(), flags | (create ? O_CREAT : 0) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        reason = errno == ENXIO ? NotRegular() : ErrorNumberText(errno); // ENXIO: a FIFO without a reader
        return -1;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        reason = NotRegular();
        return -1;
    }
    return fd;
}

// Writes bytes to a new temporary file beside target, gives it access and renames it over target: 0,
// or the error number that stopped it (the temporary file then gone).
int WriteBeside(const std::string& target, std::string_view bytes, const TFileAccess& access) {
    static std::atomic<unsigned> serial{0};
    std::string temp;
    int fd = -1;
    // Only the owner may open the bytes until they have their own bits: a reader who opened the file
    // earlier would keep reading whatever bits it gets later. A name left taken is passed over.
    for (int tries = 0; fd < 0 && tries < kTempNameTries; ++tries) {
        temp = target + "." + IntToStr(::getpid()) + "-" + IntToStr(++serial) + ".tmp";
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, access.Mode >= 0 ? 0600 : 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    int error = fd < 0 ? errno : WriteAll(fd, bytes);
    // The owner before the bits: a change of owner clears the set-id bits. Where the process may not
    // give the file away (EPERM), or the id means nothing in its user namespace (EINVAL), the file
    // stays its own, in the group when that alone may be given.
    if (error == 0 && (access.Uid != static_cast<uid_t>(-1) || access.Gid != static_cast<gid_t>(-1)) &&
        ::fchown(fd, access.Uid, access.Gid) != 0) {
        if (errno != EPERM && errno != EINVAL)
            error = errno;
        else
            ::fchown(fd, static_cast<uid_t>(-1), access.Gid);
    }
    if (error == 0 && access.Mode >= 0 && ::fchmod(fd, static_cast<mode_t>(access.Mode)) != 0) error = errno;
    if (error == 0 && ::fsync(fd) != 0) error = errno;
    if (fd >= 0 && ::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(temp.c_str(), target.c_str()) != 0) error = errno;
    if (error != 0 && fd >= 0) ::unlink(temp.c_str());
    return error;
}

} // namespace

bool ReadRegularFile(const std::string& path, std::string& data, std::string* why, std::string* reasonOut) {
    data.clear();
    if (why != nullptr) why->clear();
    if (reasonOut != nullptr) reasonOut->clear();
    struct stat st {};
    std::string reason;
    const int fd = OpenRegular(path, O_RDONLY, false, st, reason);
    if (fd >= 0) {
        // Closed however the reading ends: a full memory throws from the appends.
        const struct TClose {
            int fd;
            ~TClose() { ::close(fd); }
        } close{fd};
        // Read to the end, not to the size the file claims: it may grow, or claim none.
        if (static_cast<std::uint64_t>(st.st_size) > kMaxFileSize) {
            reason = TooLarge();
        } else {
            data.reserve(static_cast<std::size_t>(st.st_size));
            char buffer[65536];
            for (;;) {
                const ssize_t got = ::read(fd, buffer, sizeof buffer);
                if (got < 0 && errno == EINTR) continue;
                if (got < 0) {
                    reason = ErrorNumberText(errno);
                    break;
                }
                if (got == 0) break;
                if (data.size() + static_cast<std::size_t>(got) > kMaxFileSize) {
                    reason = TooLarge();
                    break;
                }
                data.append(buffer, static_cast<std::size_t>(got));
            }
        }
        if (reason.empty()) return true;
        data.clear();
        data.shrink_to_fit();
    }
    if (why != nullptr && !reason.empty()) *why = "Файл \""_cp + path + "\" не прочитан: "_cp + reason + ".";
    if (reasonOut != nullptr) *reasonOut = reason;
    return false;
}

bool AppendToRegularFile(const std::string& path, std::string_view bytes, std::string* why) {
    struct stat st {};
    std::string reason;
    const int fd = OpenRegular(path, O_WRONLY | O_APPEND, true, st, reason);
    if (fd >= 0) {
        if (const int error = WriteAll(fd, bytes)) reason = ErrorNumberText(error);
        ::close(fd);
        if (reason.empty()) return true;
    }
    if (why != nullptr) *why = NotWritten(path, reason);
    return false;
}

bool ReplaceRegularFile(const std::string& path, std::string_view bytes, TLinkAtName link,
                        const TFileAccess& access, std::string* why) {
    std::string target = path, reason;
    // What no read would take back is not written: the file stays as it was.
    if (bytes.size() > kMaxFileSize) {
        if (why != nullptr) *why = NotWritten(path, PastReadBound());
        return false;
    }
    struct stat st {};
    bool exists = ::lstat(path.c_str(), &st) == 0;
    if (exists && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        if (link == TLinkAtName::Replace) {
            exists = false;
        } else if (::realpath(path.c_str(), resolved) == nullptr || ::stat(resolved, &st) != 0) {
            reason = ErrorNumberText(errno);
        } else {
            target = resolved;
        }
    }
    if (reason.empty() && exists && !S_ISREG(st.st_mode)) reason = NotRegular();
    if (reason.empty()) {
        const std::size_t slash = target.rfind('/');
        RemoveLeftovers(slash == std::string::npos ? "." : target.substr(0, slash + 1),
                        target.substr(slash + 1));
        TFileAccess take = access;
        if (exists) {
            if (take.Mode < 0) take.Mode = static_cast<int>(st.st_mode & 07777);
            if (take.Uid == static_cast<uid_t>(-1)) take.Uid = st.st_uid;
            if (take.Gid == static_cast<gid_t>(-1)) take.Gid = st.st_gid;
        }
        const int error = WriteBeside(target, bytes, take);
        if (error == 0) return true;
        reason = ErrorNumberText(error);
    }
    if (why != nullptr) *why = NotWritten(path, reason);
    return false;
}

int WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t put = ::write(fd, bytes.data(), bytes.size());
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return put < 0 ? errno : EIO;
        bytes.remove_prefix(static_cast<std::size_t>(put));
    }
    return 0;
}

} // namespace platform
