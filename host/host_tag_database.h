// The host tag database file: the host's variables, as the stand-ins of the host's tag library and
// variables library answer for them.
//
// The file is cp1251 text, one variable a line; blank lines and lines beginning with "#" are
// skipped. A line is a list of key=value fields separated by TAB characters, keys in any letter
// case, each key at most once:
//   id        integer >= 0, required, unique; also the tag's global index
//   name      required, at most 40 characters, unique ignoring letter case
//   routing   the tag's routing text, at most 254 characters
//   value     current value ("nan", "inf", "-inf" too)   deadband  dead band
//   low, high the limits             divisor   scale divisor of received values, 0 for none
//   kind      the tag kind, 0..255   twostate  non-zero for a two-state tag
// Numbers are written with "." as decimal point; missing fields are 0 or empty. A line with an
// unknown key, a bad number or a duplicate id or name is skipped whole and reported.
//
// The file is found through the environment variable OSTROLINKA_TAGDB; without it, it is
// "Ostrolinka.tagdb" beside the running program. Writers replace it whole (write a new file, then
// rename it over the old one), so that readers never see half a file, and give the new file a later
// modification time than the old one, since readers look for changes by identity, size and times.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <sys/types.h>

namespace host {

struct THostTag {
    int32_t Id = 0;
    std::string Name;
    std::string Routing;
    double Value = 0;
    double Deadband = 0;
    double Low = 0;
    double High = 0;
    double Divisor = 0;
    uint8_t Kind = 0;
    int32_t TwoState = 0;
};

constexpr std::size_t kMaxTagName = 40;
constexpr std::size_t kMaxTagRouting = 254;

// OSTROLINKA_TAGDB, else Ostrolinka.tagdb in the directory of the running program.
std::string HostTagDatabaseFile();

// One line of the file; false with the reason when it is no valid entry (comments and blank lines
// are no entries either: reason empty).
bool ParseHostTagLine(std::string_view line, THostTag& tag, std::string& reason);
std::string FormatHostTagLine(const THostTag& tag);

// Writes text as a whole new file in place of the old one, its modification time later than the
// old one's, so that readers always see the change; false when it could not be written.
bool ReplaceFileWhole(const std::string& fileName, const std::string& text);
// The tags, one line each, through ReplaceFileWhole.
bool WriteHostTagDatabase(const std::string& fileName, const std::vector<THostTag>& tags);

class THostTagDatabase {
public:
    explicit THostTagDatabase(std::string fileName) : fileName_(std::move(fileName)) {}

    // Reads the file again when it is another file or was changed since the last read. A file that
    // is gone, or that is no regular file or too large to read (the first problem then says so),
    // leaves no tags. True when the tags were read anew.
    bool Refresh();

    const THostTag* FindByName(std::string_view name) const;
    const THostTag* FindById(int32_t id) const;
    const std::vector<THostTag>& Tags() const { return tags_; }
    // "line n: reason" for every line of the last read that was skipped.
    const std::vector<std::string>& Problems() const { return problems_; }
    const std::string& FileName() const { return fileName_; }

private:
    struct TStamp {
        dev_t Device = 0;
        ino_t Inode = 0;
        off_t Size = -1;
        int64_t Modified = 0;
        int64_t Changed = 0;
        bool operator==(const TStamp&) const = default;
    };
    void Load(const std::string& text);

    std::string fileName_;
    bool read_ = false;
    TStamp stamp_;
    std::vector<THostTag> tags_;
    // Positions in tags_ by id and by upper-cased name: a host may hold tens of thousands of tags.
    std::unordered_map<int32_t, std::size_t> byId_;
    std::unordered_map<std::string, std::size_t> byName_;
    std::vector<std::string> problems_;
};

} // namespace host
