// Files the system reads whole, the files it appends its log to, and the one way it replaces a
// file. Only regular files are opened (links followed): a FIFO's or a device's open or read may block
// or never end. What is read is bounded, so that a file that is not what it seems never fills memory.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace platform {

// The largest file the system reads: 64 MiB. It bounds what a read holds of one file, not what a load
// makes of it: the largest real file, a description of 100,000 device types, is 24 MB and loads in
// about a second with a few copies of its text, while a configuration's memory follows its devices.
inline constexpr std::uint64_t kMaxFileSize = 64ull * 1024 * 1024;

// Reads the whole file into data. False when it is missing, not a regular file, larger than
// kMaxFileSize or cannot be read; `why` then gets the log line (cp1251) saying so, left empty for a
// missing file, which callers report in their own words; `reason` gets the same without the file's name.
bool ReadRegularFile(const std::string& path, std::string& data, std::string* why = nullptr,
                     std::string* reason = nullptr);

// Appends bytes to the file, made when missing. A FIFO, a device or a directory is not written and
// nothing waits on it: false with the log line in `why`.
bool AppendToRegularFile(const std::string& path, std::string_view bytes, std::string* why = nullptr);

// What ReplaceRegularFile does with a link that stands at its name.
enum class TLinkAtName {
    Follow,  // the user's own file: the file it points to is replaced, the link stays
    Replace, // a name the system picks itself (a backup): the link goes, what it points to is not touched
};

// The permission bits (0 to 07777) and the owner a replacing file takes; -1 for those of the file it
// replaces.
struct TFileAccess {
    int Mode = -1;
    uid_t Uid = static_cast<uid_t>(-1);
    gid_t Gid = static_cast<gid_t>(-1);
};

// Replaces the file at path with bytes: a temporary file <file>.<pid>-<n>.tmp beside it is written
// whole, synced and renamed over it, so a failure leaves the old file whole. The new file gets the
// bits and the owner of `access`, each else the replaced file's; an owner the process may not give
// is left its own. Bytes past kMaxFileSize, which no read takes back, are not written. First a
// killed writer's temporary files beside it go, and only they: regular files of exactly that name
// (pid and serial without leading zeros), whose pid is below pid_max and gone, and that nobody wrote
// for 600 s. A temporary name that is taken moves to the next serial. False with the log line in
// `why`.
bool ReplaceRegularFile(const std::string& path, std::string_view bytes,
                        TLinkAtName link = TLinkAtName::Follow, const TFileAccess& access = {},
                        std::string* why = nullptr);

// Why a text past kMaxFileSize is not written (cp1251): no read would take it back.
std::string PastReadBound();

// The log line of a file not written, and why (cp1251).
std::string NotWritten(const std::string& path, const std::string& reason);

// How a reason names a system error number: "ошибка N" (cp1251).
std::string ErrorNumberText(int error);

// Writes all the bytes to fd: 0, or the error number that stopped it.
int WriteAll(int fd, std::string_view bytes);

} // namespace platform
