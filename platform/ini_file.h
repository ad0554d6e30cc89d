// Read-only ini file with the original platform's profile rules: sections and keys match without
// regard to letter case, the first match wins, values are trimmed, and a missing file, section or key
// gives the caller's default. Text stays cp1251 as stored.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

class TIniFile {
public:
    // Reads the whole file once; a file that cannot be read behaves as an empty one.
    explicit TIniFile(const std::string& fileName);

    const std::string& FileName() const { return fileName_; }
    // Why an existing file was not read (platform/files.h), for the log; empty when it was read or
    // is missing.
    const std::string& ReadFailure() const { return readFailure_; }

    std::string ReadString(std::string_view section, std::string_view key, const std::string& def) const;
    // Integer text: optional sign and decimal digits, or "$" and hexadecimal digits; anything else
    // gives the default.
    int32_t ReadInteger(std::string_view section, std::string_view key, int32_t def) const;
    // An integer: 0 is False, any other True.
    bool ReadBool(std::string_view section, std::string_view key, bool def) const;

private:
    struct Section {
        std::string name;
        std::vector<std::pair<std::string, std::string>> keys;
    };

    void Parse(std::string_view text);
    const std::string* Find(std::string_view section, std::string_view key) const;

    std::string fileName_;
    std::string readFailure_;
    std::vector<Section> sections_;
};

} // namespace platform
