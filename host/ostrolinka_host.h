// ostrolinka-host: a host program for driver modules. What it decides, apart from the process
// around it: its command line, the value blocks it takes, the write blocks it makes, the table it
// shows and the actions it runs on time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "host/host_records.h"

namespace ostrolinka_host {

// NAME=VALUE@SECONDS: a host tag given a value that many seconds after the driver runs.
struct TTimedValue {
    std::string Name; // cp1251, as the tag database holds it
    double Value = 0;
    double AtSeconds = 0;
};

enum class TDisplay { Auto, Table, Lines };

struct TOptions {
    std::string Directory; // where the module and its files lie
    std::string ModuleFile = "Quillary.dlm";
    std::string TagDatabase;         // empty: OSTROLINKA_TAGDB, else Directory/Ostrolinka.tagdb
    double Seconds = 0;              // 0: until a signal
    std::vector<TTimedValue> Writes; // through the module
    std::vector<TTimedValue> Sets;   // straight into the tag database
    TDisplay Display = TDisplay::Auto;
    int32_t MessageId = 0x0400 + 2002;
    int32_t SourceId = 1;
    bool Help = false;
};

// False with the reason when the text is no NAME=VALUE@SECONDS. The name is everything before the
// last "=" that precedes the "@", so that names may hold "=" themselves.
bool ParseTimedValue(std::string_view text, TTimedValue& out, std::string& error);
// argv without the program name. False with the reason on bad usage.
bool ParseOptions(const std::vector<std::string>& args, TOptions& options, std::string& error);
const char* UsageText();

// The entries of a value block, its Count clamped to 0..kMaxValueEntries: a module must not make
// the host read past the block.
std::vector<THostValueEntry> ReadValueBlock(const void* block);
// A write block of the requests with its size in bytes.
std::vector<uint8_t> BuildWriteBlock(int32_t sourceId, const std::vector<THostValueEntry>& requests);

// Time and Date fields of an entry for the local time now, rounded to the millisecond.
void CurrentTimeDate(int32_t& time, int32_t& date);
// "YYYY-MM-DD hh:mm:ss.zzz"; "?" for fields no calendar day can have.
std::string FormatTimeDate(int32_t time, int32_t date);
// Shortest text that reads back as the same single.
std::string FormatValue(float value);

// The actions of the command line, in the order they fall due; each is handed out once.
class TSchedule {
public:
    struct TAction {
        bool IsWrite = false;
        TTimedValue Item;
    };
    TSchedule(const std::vector<TTimedValue>& writes, const std::vector<TTimedValue>& sets);
    // The actions due at `seconds` since the start that were not handed out yet.
    std::vector<TAction> Due(double seconds);
    bool Empty() const { return next_ >= actions_.size(); }

private:
    std::vector<TAction> actions_;
    std::size_t next_ = 0;
};

// The last value of every variable the module sent, with the names of the tag database.
class TValueTable {
public:
    struct TRow {
        int32_t Id = 0;
        std::string Name; // UTF-8 for the console
        THostValueEntry Last{};
        uint64_t Updates = 0;
    };
    // Takes one entry; returns the line that reports it.
    std::string Apply(const THostValueEntry& entry, const std::string& nameUtf8);
    const TRow* Find(int32_t id) const;
    const std::map<int32_t, TRow>& Rows() const { return rows_; }
    // The table as lines: a header, then one line a variable in id order.
    std::vector<std::string> Render() const;
    uint64_t Received() const { return received_; }

    // One reported value as a line: time, name, value, and the commanded value of a write that was
    // given up.
    static std::string Line(const THostValueEntry& entry, const std::string& nameUtf8);

private:
    std::map<int32_t, TRow> rows_;
    uint64_t received_ = 0;
};

// The module's log file as the settings file beside the module names it (section DLM, key
// LogFile; the module opens it as written, so a relative name is relative to the working
// directory); empty when it names none.
std::string ModuleLogFile(const std::string& directory, const std::string& moduleFile);
// Size of a file now, 0 when there is none.
uint64_t FileSize(const std::string& file);
// The lines the file holds from byte `from` on, cp1251 turned into UTF-8, line ends dropped; none
// when it is no regular file within the bound of platform/files.h.
std::vector<std::string> LogLinesFrom(const std::string& file, uint64_t from);

// Name shown for a variable: its database name, or "#id" when the database does not know it.
std::string DisplayName(int32_t id, const std::string& cp1251Name);

} // namespace ostrolinka_host
