#include "framework/user_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/files.h"
#include "platform/text.h"

namespace framework {

namespace {

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

bool ReplaceFile(const std::string& fileName, const std::string& text) {
    std::string target = fileName;
    struct stat st {};
    mode_t mode = 0666;
    if (::lstat(fileName.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) {
            char resolved[PATH_MAX];
            if (::realpath(fileName.c_str(), resolved) == nullptr) return false;
            target = resolved;
            if (::stat(target.c_str(), &st) != 0) return false;
        }
        mode = st.st_mode & 07777;
    }
    static std::atomic<unsigned> serial{0};
    const std::string temp =
        target + "." + platform::IntToStr(::getpid()) + "-" + platform::IntToStr(++serial) + ".tmp";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    bool ok = WriteAll(fd, text);
    if (ok && st.st_mode != 0) ok = ::fchmod(fd, mode) == 0;
    if (ok) ok = ::fsync(fd) == 0;
    if (::close(fd) != 0) ok = false;
    if (ok) ok = ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

std::string BackupName(const std::string& fileName) {
    return fileName + ".bak";
}

bool KeepBackup(const std::string& fileName) {
    std::string bytes;
    return platform::ReadRegularFile(fileName, bytes) && ReplaceFile(BackupName(fileName), bytes);
}

} // namespace framework
