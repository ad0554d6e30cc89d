// Files the system reads whole, the files it appends its log to, and the one way it replaces a
// file. Only regular files are opened (links followed): a FIFO's or a device's open or read may block
// or never end. What is read is bounded, so that a file that is not what it seems never fills memory.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// The largest file the system reads: 64 MiB. Its largest real file is a device description, and a
// description of 100,000 device types is 24 MB (it loads in about a second); a loader holds a few
// copies of the text, so the bound keeps a load within a few hundred MB and seconds.
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

// Replaces the file at path with bytes: a temporary file <file>.<pid>-<n>.tmp beside it is written
// whole, synced and renamed over it, so a failure leaves the old file whole. The new file gets the
// permission bits `mode` when given (0 to 07777), else those of the file it replaces. Temporary files
// that a killed writer left beside it are removed first. False with the log line in `why`.
bool ReplaceRegularFile(const std::string& path, std::string_view bytes,
                        TLinkAtName link = TLinkAtName::Follow, int mode = -1, std::string* why = nullptr);

// Writes all the bytes to fd: 0, or the error number that stopped it.
int WriteAll(int fd, std::string_view bytes);

} // namespace platform
