// A /dev/shm of a test child's own: a small memory file system in a private mount namespace (inside
// a user namespace where the child is not root), empty or filled, so that a full or nearly full
// /dev/shm can be met without touching the machine's.
#pragma once

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace privateshm {

inline bool WriteFile(const char* path, const std::string& text) {
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return ok;
}

inline std::string Failed(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

// Moves the calling process, which must still be single-threaded, into the namespaces and mounts a
// tmpfs of `size` bytes on /dev/shm; with `fill`, a file then takes all of it. Empty when done,
// otherwise why it could not be (the test skips).
inline std::string Enter(std::size_t size, bool fill) {
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    if (uid == 0) {
        if (::unshare(CLONE_NEWNS) != 0) return Failed("unshare(CLONE_NEWNS)");
    } else {
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            return Failed("unshare(CLONE_NEWUSER | CLONE_NEWNS)");
        if (!WriteFile("/proc/self/setgroups", "deny") ||
            !WriteFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !WriteFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
            return Failed("mapping the user into its namespace");
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return Failed("making the mounts private");
    const std::string options = "size=" + std::to_string(size) + ",mode=1777";
    if (::mount("tmpfs", "/dev/shm", "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0)
        return Failed("mounting a tmpfs on /dev/shm");
    if (!fill) return {};
    const int fd = ::open("/dev/shm/filler", O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return Failed("creating the filler");
    static const char page[4096] = {};
    while (::write(fd, page, sizeof page) > 0) {
    }
    const int err = errno;
    ::close(fd);
    if (err != ENOSPC) {
        errno = err;
        return Failed("filling /dev/shm");
    }
    return {};
}

} // namespace privateshm
