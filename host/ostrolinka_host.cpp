#include "host/ostrolinka_host.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/ini_file.h"
#include "platform/text.h"

namespace ostrolinka_host {

namespace {

constexpr int64_t kMsPerDay = 86400000;

bool ParseSeconds(std::string_view text, double& seconds) {
    return platform::TryStrToFloat(platform::Trim(text), seconds) && std::isfinite(seconds) && seconds >= 0;
}

// Characters a terminal shows for UTF-8 text: every byte that does not continue a sequence.
std::size_t Columns(const std::string& utf8) {
    std::size_t n = 0;
    for (unsigned char c : utf8)
        n += (c & 0xC0) != 0x80;
    return n;
}

std::string PadRight(const std::string& utf8, std::size_t width) {
    const std::size_t n = Columns(utf8);
    return n >= width ? utf8 : utf8 + std::string(width - n, ' ');
}

std::string PadLeft(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string TwoDigits(int v, int digits = 2) {
    std::string s = std::to_string(v);
    return s.size() >= static_cast<std::size_t>(digits) ? s : std::string(digits - s.size(), '0') + s;
}

} // namespace

bool ParseTimedValue(std::string_view text, TTimedValue& out, std::string& error) {
    const std::size_t at = text.rfind('@');
    if (at == std::string_view::npos) {
        error = "'" + std::string(text) + "' is not NAME=VALUE@SECONDS (no '@')";
        return false;
    }
    const std::string_view assignment = text.substr(0, at);
    const std::size_t eq = assignment.rfind('=');
    if (eq == std::string_view::npos) {
        error = "'" + std::string(text) + "' is not NAME=VALUE@SECONDS (no '=')";
        return false;
    }
    TTimedValue result;
    result.Name = platform::Cp(platform::Trim(assignment.substr(0, eq)));
    if (result.Name.empty()) {
        error = "'" + std::string(text) + "' names no tag";
        return false;
    }
    if (!platform::TryStrToFloat(platform::Trim(assignment.substr(eq + 1)), result.Value)) {
        error = "'" + std::string(text) + "': bad value";
        return false;
    }
    if (!ParseSeconds(text.substr(at + 1), result.AtSeconds)) {
        error = "'" + std::string(text) + "': bad time in seconds";
        return false;
    }
    out = std::move(result);
    return true;
}

const char* UsageText() {
    return "usage: ostrolinka-host [options] DIRECTORY\n"
           "\n"
           "Loads the driver module in DIRECTORY, gives it a window, runs it and shows the values it\n"
           "sends: a live table on a terminal, one line per value otherwise.\n"
           "\n"
           "  --module FILE              module file name in DIRECTORY (default Quillary.dlm)\n"
           "  --tagdb FILE               host tag database (default: $OSTROLINKA_TAGDB, else\n"
           "                             DIRECTORY/Ostrolinka.tagdb); the module's processes inherit it\n"
           "  --seconds N                stop after N seconds (default: on SIGINT or SIGTERM)\n"
           "  --write NAME=VALUE@SECONDS write a tag through the module at that time (repeatable)\n"
           "  --set NAME=VALUE@SECONDS   set a tag in the tag database at that time (repeatable),\n"
           "                             e.g. an access-lock tag\n"
           "  --table | --lines          force the live table or the lines\n"
           "  --help                     this text\n"
           "\n"
           "Exit status: 0 after a clean stop; 2 bad usage; 3 the module cannot be loaded; 4 its\n"
           "initialisation or start failed; 5 its stop or shutdown failed.\n";
}

namespace {

// One argument of the command line: "--name=value" carries its value, an option that takes one
// and has none takes the next argument.
struct TArgument {
    const std::vector<std::string>& Args;
    std::size_t& At;
    std::string& Error;
    std::string Name;
    std::string Value;
    bool HaveValue = false;

    TArgument(const std::vector<std::string>& args, std::size_t& at, std::string& error)
        : Args(args), At(at), Error(error), Name(args[at]) {
        if (Name.rfind("--", 0) != 0) return;
        const std::size_t eq = Name.find('=');
        if (eq == std::string::npos) return;
        Value = Name.substr(eq + 1);
        Name.resize(eq);
        HaveValue = true;
    }
    bool Take(std::string& into) {
        if (HaveValue) {
            into = Value;
            return true;
        }
        if (At + 1 >= Args.size()) {
            Error = Name + " needs a value";
            return false;
        }
        into = Args[++At];
        return true;
    }
    bool Flag() {
        if (!HaveValue) return true;
        Error = Name + " takes no value";
        return false;
    }
};

// The options that take a value; false with the error set when the value does not do.
bool ApplyValueOption(TArgument& arg, TOptions& result) {
    std::string& error = arg.Error;
    std::string text;
    if (arg.Name == "--module") {
        if (!arg.Take(result.ModuleFile)) return false;
        if (result.ModuleFile.empty() || result.ModuleFile.find('/') != std::string::npos) {
            error = "--module takes a file name in DIRECTORY, not a path";
            return false;
        }
    } else if (arg.Name == "--tagdb") {
        if (!arg.Take(result.TagDatabase)) return false;
        if (result.TagDatabase.empty()) {
            error = "--tagdb needs a file";
            return false;
        }
    } else if (arg.Name == "--seconds") {
        if (!arg.Take(text)) return false;
        if (!ParseSeconds(text, result.Seconds) || result.Seconds <= 0) {
            error = "--seconds needs a number of seconds above 0, not '" + text + "'";
            return false;
        }
    } else { // --write, --set
        if (!arg.Take(text)) return false;
        TTimedValue item;
        if (!ParseTimedValue(text, item, error)) {
            error = arg.Name + " " + error;
            return false;
        }
        (arg.Name == "--write" ? result.Writes : result.Sets).push_back(std::move(item));
    }
    return true;
}

bool ApplyArgument(TArgument& arg, TOptions& result, bool& haveDirectory) {
    const std::string& name = arg.Name;
    if (name == "--help" || name == "-h") {
        if (!arg.Flag()) return false;
        result.Help = true;
    } else if (name == "--table" || name == "--lines") {
        if (!arg.Flag()) return false;
        result.Display = name == "--table" ? TDisplay::Table : TDisplay::Lines;
    } else if (name == "--module" || name == "--tagdb" || name == "--seconds" || name == "--write" ||
               name == "--set") {
        return ApplyValueOption(arg, result);
    } else if (name.size() > 1 && name[0] == '-') {
        arg.Error = "unknown option '" + name + "'";
        return false;
    } else {
        if (haveDirectory) {
            arg.Error = "one DIRECTORY only ('" + name + "' is another)";
            return false;
        }
        result.Directory = name;
        haveDirectory = true;
    }
    return true;
}

} // namespace

bool ParseOptions(const std::vector<std::string>& args, TOptions& options, std::string& error) {
    TOptions result;
    bool haveDirectory = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        TArgument arg(args, i, error);
        if (!ApplyArgument(arg, result, haveDirectory)) return false;
    }
    if (!haveDirectory && !result.Help) {
        error = "no DIRECTORY given";
        return false;
    }
    options = std::move(result);
    return true;
}

std::vector<THostValueEntry> ReadValueBlock(const void* block) {
    std::vector<THostValueEntry> entries;
    if (block == nullptr) return entries;
    THostValueBlockHeader header;
    std::memcpy(&header, block, sizeof header);
    const int32_t count = std::clamp<int32_t>(header.Count, 0, kMaxValueEntries);
    entries.resize(static_cast<std::size_t>(count));
    if (count > 0)
        std::memcpy(entries.data(), static_cast<const uint8_t*>(block) + sizeof header,
                    static_cast<std::size_t>(count) * sizeof(THostValueEntry));
    return entries;
}

std::vector<uint8_t> BuildWriteBlock(int32_t sourceId, const std::vector<THostValueEntry>& requests) {
    const THostValueBlockHeader header{sourceId, static_cast<int32_t>(requests.size())};
    std::vector<uint8_t> block(sizeof header + requests.size() * sizeof(THostValueEntry));
    std::memcpy(block.data(), &header, sizeof header);
    if (!requests.empty())
        std::memcpy(block.data() + sizeof header, requests.data(), requests.size() * sizeof(THostValueEntry));
    return block;
}

void CurrentTimeDate(int32_t& time, int32_t& date) {
    const int64_t n = std::llround(platform::Now() * static_cast<double>(kMsPerDay));
    // Floor division: the calendar does not end at 1899.
    int64_t days = n / kMsPerDay;
    int64_t ms = n % kMsPerDay;
    if (ms < 0) ms += kMsPerDay, --days;
    date = static_cast<int32_t>(days + kDateOfDay0);
    time = static_cast<int32_t>(ms);
}

std::string FormatTimeDate(int32_t time, int32_t date) {
    std::string text;
    if (date >= 1) {
        int year = 0, month = 0, day = 0;
        platform::DecodeDate(static_cast<double>(date) - kDateOfDay0, year, month, day);
        text = TwoDigits(year, 4) + "-" + TwoDigits(month) + "-" + TwoDigits(day);
    } else {
        text = "?";
    }
    text += ' ';
    if (time >= 0 && time < kMsPerDay) {
        text += TwoDigits(time / 3600000) + ":" + TwoDigits(time / 60000 % 60) + ":" +
                TwoDigits(time / 1000 % 60) + "." + TwoDigits(time % 1000, 3);
    } else {
        text += "?";
    }
    return text;
}

std::string FormatValue(float value) {
    if (std::isnan(value)) return "nan";
    // Plain digits in the range a register shows, the exponent only beyond it.
    const float magnitude = std::fabs(value);
    const bool plain = magnitude == 0 || (magnitude >= 1e-4f && magnitude < 1e15f);
    char buffer[64];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, value,
                                 plain ? std::chars_format::fixed : std::chars_format::scientific);
    return std::string(buffer, r.ptr);
}

TSchedule::TSchedule(const std::vector<TTimedValue>& writes, const std::vector<TTimedValue>& sets) {
    // A tag set at the same moment as a write takes effect first: it may be the lock the write meets.
    for (const TTimedValue& s : sets)
        actions_.push_back({false, s});
    for (const TTimedValue& w : writes)
        actions_.push_back({true, w});
    std::stable_sort(actions_.begin(), actions_.end(),
                     [](const TAction& a, const TAction& b) { return a.Item.AtSeconds < b.Item.AtSeconds; });
}

std::vector<TSchedule::TAction> TSchedule::Due(double seconds) {
    std::vector<TAction> due;
    while (next_ < actions_.size() && actions_[next_].Item.AtSeconds <= seconds)
        due.push_back(actions_[next_++]);
    return due;
}

std::string ModuleLogFile(const std::string& directory, const std::string& moduleFile) {
    const std::size_t dot = moduleFile.rfind('.');
    const std::string stem = dot == std::string::npos ? moduleFile : moduleFile.substr(0, dot);
    std::string dir = directory;
    if (!dir.empty() && dir.back() != '/') dir += '/';
    const platform::TIniFile settings(dir + stem + ".ini");
    return settings.ReadString("DLM", "LogFile", "");
}

uint64_t FileSize(const std::string& file) {
    struct stat st {};
    return ::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
}

std::vector<std::string> LogLinesFrom(const std::string& file, uint64_t from) {
    std::vector<std::string> lines;
    std::string text;
    if (!platform::ReadRegularFile(file, text) || from > text.size()) return lines;
    std::size_t at = static_cast<std::size_t>(from);
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(platform::Utf8FromCp1251(line));
        at = end + 1;
    }
    return lines;
}

std::string DisplayName(int32_t id, const std::string& cp1251Name) {
    return cp1251Name.empty() ? "#" + std::to_string(id) : platform::Utf8FromCp1251(cp1251Name);
}

std::string TValueTable::Line(const THostValueEntry& entry, const std::string& nameUtf8) {
    std::string line =
        FormatTimeDate(entry.Time, entry.Date) + "  " + nameUtf8 + " = " + FormatValue(entry.Value);
    // Bit-wise: a read value carries itself as OldValue, nan included.
    if (std::memcmp(&entry.Value, &entry.OldValue, sizeof(float)) != 0)
        line += "  (write of " + FormatValue(entry.OldValue) + " given up)";
    return line;
}

std::string TValueTable::Apply(const THostValueEntry& entry, const std::string& nameUtf8) {
    TRow& row = rows_[entry.VariableId];
    row.Id = entry.VariableId;
    row.Name = nameUtf8;
    row.Last = entry;
    ++row.Updates;
    ++received_;
    return Line(entry, nameUtf8);
}

const TValueTable::TRow* TValueTable::Find(int32_t id) const {
    const auto it = rows_.find(id);
    return it == rows_.end() ? nullptr : &it->second;
}

std::vector<std::string> TValueTable::Render() const {
    std::size_t nameWidth = 4;
    for (const auto& [id, row] : rows_)
        nameWidth = std::max(nameWidth, Columns(row.Name));
    std::vector<std::string> lines;
    lines.push_back(PadLeft("id", 6) + "  " + PadRight("name", nameWidth) + "  " + PadLeft("value", 14) +
                    "  " + PadRight("time", 23) + "  " + PadLeft("updates", 7));
    for (const auto& [id, row] : rows_) {
        std::string line = PadLeft(std::to_string(id), 6) + "  " + PadRight(row.Name, nameWidth) + "  " +
                           PadLeft(FormatValue(row.Last.Value), 14) + "  " +
                           PadRight(FormatTimeDate(row.Last.Time, row.Last.Date), 23) + "  " +
                           PadLeft(std::to_string(row.Updates), 7);
        lines.push_back(std::move(line));
    }
    return lines;
}

} // namespace ostrolinka_host
