#include "host/host_tag_database.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <limits>
#include <set>

#include "platform/files.h"
#include "platform/text.h"

namespace host {

namespace {

std::string ProgramDirectory() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    const std::string exe(path, static_cast<std::size_t>(n));
    const std::size_t slash = exe.find_last_of('/');
    return slash == std::string::npos ? "." : exe.substr(0, slash == 0 ? 1 : slash);
}

// A host value may also be not a number or infinite, written as "nan", "inf" or "-inf".
bool ParseNumber(std::string_view text, double& value) {
    const std::string t = platform::LowerCase(platform::Trim(text));
    if (t == "nan")
        value = std::numeric_limits<double>::quiet_NaN();
    else if (t == "inf" || t == "+inf")
        value = std::numeric_limits<double>::infinity();
    else if (t == "-inf")
        value = -std::numeric_limits<double>::infinity();
    else
        return platform::TryStrToFloat(t, value);
    return true;
}

bool ParseInteger(std::string_view text, int32_t& value) {
    return platform::TryStrToInt(platform::Trim(text), value);
}

// The shortest text that reads back as the same double.
std::string NumberText(double v) {
    return platform::FloatToStrShortest(v);
}

} // namespace

std::string HostTagDatabaseFile() {
    const char* env = std::getenv("OSTROLINKA_TAGDB");
    if (env != nullptr && *env != '\0') return env;
    return ProgramDirectory() + "/Ostrolinka.tagdb";
}

bool ParseHostTagLine(std::string_view line, THostTag& tag, std::string& reason) {
    reason.clear();
    tag = THostTag{};
    const std::string trimmed = platform::Trim(line);
    if (trimmed.empty() || trimmed[0] == '#') return false;
    std::set<std::string> seen;
    std::size_t from = 0;
    const std::string_view text(trimmed);
    while (from <= text.size()) {
        const std::size_t tab = text.find('\t', from);
        const std::string_view field =
            text.substr(from, tab == std::string_view::npos ? std::string_view::npos : tab - from);
        from = tab == std::string_view::npos ? text.size() + 1 : tab + 1;
        if (platform::Trim(field).empty()) continue;
        const std::size_t eq = field.find('=');
        if (eq == std::string_view::npos) {
            reason = "field without \"=\": " + std::string(field);
            return false;
        }
        const std::string key = platform::LowerCase(platform::Trim(field.substr(0, eq)));
        const std::string_view value = field.substr(eq + 1);
        if (!seen.insert(key).second) {
            reason = "key given twice: " + key;
            return false;
        }
        bool ok = true;
        if (key == "id")
            ok = ParseInteger(value, tag.Id) && tag.Id >= 0;
        else if (key == "name")
            tag.Name = platform::Trim(value), ok = !tag.Name.empty() && tag.Name.size() <= kMaxTagName;
        else if (key == "routing")
            tag.Routing = platform::Trim(value), ok = tag.Routing.size() <= kMaxTagRouting;
        else if (key == "value")
            ok = ParseNumber(value, tag.Value);
        else if (key == "deadband")
            ok = ParseNumber(value, tag.Deadband);
        else if (key == "low")
            ok = ParseNumber(value, tag.Low);
        else if (key == "high")
            ok = ParseNumber(value, tag.High);
        else if (key == "divisor")
            ok = ParseNumber(value, tag.Divisor);
        else if (key == "twostate")
            ok = ParseInteger(value, tag.TwoState);
        else if (key == "kind") {
            int32_t kind = 0;
            ok = ParseInteger(value, kind) && kind >= 0 && kind <= 255;
            tag.Kind = static_cast<uint8_t>(kind);
        } else {
            reason = "unknown key: " + key;
            return false;
        }
        if (!ok) {
            reason = "bad value of " + key + ": " + std::string(value);
            return false;
        }
    }
    if (!seen.count("id") || !seen.count("name")) {
        reason = "id and name are required";
        return false;
    }
    return true;
}

std::string FormatHostTagLine(const THostTag& tag) {
    return "id=" + platform::IntToStr(tag.Id) + "\tname=" + tag.Name + "\trouting=" + tag.Routing +
           "\tvalue=" + NumberText(tag.Value) + "\tdeadband=" + NumberText(tag.Deadband) +
           "\tlow=" + NumberText(tag.Low) + "\thigh=" + NumberText(tag.High) +
           "\tdivisor=" + NumberText(tag.Divisor) + "\tkind=" + platform::IntToStr(tag.Kind) +
           "\ttwostate=" + platform::IntToStr(tag.TwoState);
}

bool ReplaceFileWhole(const std::string& fileName, const std::string& text) {
    struct stat old, now;
    const bool replacing = ::stat(fileName.c_str(), &old) == 0;
    if (!platform::ReplaceRegularFile(fileName, text)) return false;
    // Readers see a change by the file's identity, size and times. A file's time only moves every
    // few milliseconds and a freed inode number comes back, so the new time is made later than the
    // old one by hand.
    if (replacing && ::stat(fileName.c_str(), &now) == 0 &&
        (now.st_mtim.tv_sec < old.st_mtim.tv_sec ||
         (now.st_mtim.tv_sec == old.st_mtim.tv_sec && now.st_mtim.tv_nsec <= old.st_mtim.tv_nsec))) {
        timespec times[2] = {old.st_mtim, old.st_mtim};
        if (++times[1].tv_nsec >= 1000000000) {
            times[1].tv_nsec = 0;
            ++times[1].tv_sec;
        }
        times[0] = times[1];
        ::utimensat(AT_FDCWD, fileName.c_str(), times, 0);
    }
    return true;
}

bool WriteHostTagDatabase(const std::string& fileName, const std::vector<THostTag>& tags) {
    std::string text;
    for (const THostTag& t : tags)
        text += FormatHostTagLine(t) + "\n";
    return ReplaceFileWhole(fileName, text);
}

bool THostTagDatabase::Refresh() {
    struct stat st;
    TStamp now;
    if (::stat(fileName_.c_str(), &st) == 0) {
        now.Device = st.st_dev;
        now.Inode = st.st_ino;
        now.Size = st.st_size;
        now.Modified = int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
        now.Changed = int64_t{st.st_ctim.tv_sec} * 1000000000 + st.st_ctim.tv_nsec;
    }
    if (read_ && now == stamp_) return false;
    std::string text, why;
    if (now.Size >= 0) platform::ReadRegularFile(fileName_, text, &why);
    stamp_ = now;
    read_ = true;
    Load(text);
    if (!why.empty()) problems_.insert(problems_.begin(), platform::Utf8FromCp1251(why));
    return true;
}

void THostTagDatabase::Load(const std::string& text) {
    tags_.clear();
    byId_.clear();
    byName_.clear();
    problems_.clear();
    std::size_t from = 0;
    int line = 0;
    while (from < text.size()) {
        const std::size_t nl = text.find('\n', from);
        const std::string_view row =
            std::string_view(text).substr(from, nl == std::string::npos ? std::string::npos : nl - from);
        from = nl == std::string::npos ? text.size() : nl + 1;
        ++line;
        THostTag tag;
        std::string reason;
        if (!ParseHostTagLine(row, tag, reason)) {
            if (!reason.empty()) problems_.push_back("line " + std::to_string(line) + ": " + reason);
            continue;
        }
        std::string key = platform::UpperCase(tag.Name);
        if (byId_.count(tag.Id) != 0 || byName_.count(key) != 0) {
            problems_.push_back("line " + std::to_string(line) + ": id or name given before");
            continue;
        }
        byId_.emplace(tag.Id, tags_.size());
        byName_.emplace(std::move(key), tags_.size());
        tags_.push_back(std::move(tag));
    }
}

const THostTag* THostTagDatabase::FindByName(std::string_view name) const {
    const auto found = byName_.find(platform::UpperCase(platform::Trim(name)));
    return found == byName_.end() ? nullptr : &tags_[found->second];
}

const THostTag* THostTagDatabase::FindById(int32_t id) const {
    const auto found = byId_.find(id);
    return found == byId_.end() ? nullptr : &tags_[found->second];
}

} // namespace host
