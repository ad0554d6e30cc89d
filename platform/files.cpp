#include "platform/files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/text.h"

namespace platform {
namespace {

std::string NotRegular() {
    return "это не обычный файл"_cp;
}
std::string TooLarge() {
    return "он больше "_cp + IntToStr(static_cast<int64_t>(kMaxFileSize)) + " байт"_cp;
}
std::string Failure(int error) {
    return "ошибка "_cp + IntToStr(error);
}

// Opens the file only when it is a regular one, links followed, and waits on nothing while it does;
// -1 with the reason otherwise. A missing file gives no reason unless `create` makes it.
int OpenRegular(const std::string& path, int flags, bool create, struct stat& st, std::string& reason) {
    reason.clear();
    if (path.empty() || path.find('\0') != std::string::npos) {
        if (create) reason = Failure(ENOENT);
        return -1;
    }
    if (::stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) {
            reason = Failure(errno);
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
        reason = errno == ENXIO ? NotRegular() : Failure(errno); // ENXIO: a FIFO without a reader
        return -1;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        reason = NotRegular();
        return -1;
    }
    return fd;
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
                    reason = Failure(errno);
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
        ::close(fd);
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
        while (!bytes.empty()) {
            const ssize_t put = ::write(fd, bytes.data(), bytes.size());
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) {
                reason = Failure(put < 0 ? errno : EIO);
                break;
            }
            bytes.remove_prefix(static_cast<std::size_t>(put));
        }
        ::close(fd);
        if (reason.empty()) return true;
    }
    if (why != nullptr) *why = "Файл \""_cp + path + "\" не записан: "_cp + reason + ".";
    return false;
}

} // namespace platform
