#include "platform/ini_file.h"

#include "platform/files.h"
#include "platform/text.h"

namespace platform {
namespace {

// The profile reader drops one matching pair of enclosing quotes.
std::string Unquote(std::string value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

} // namespace

TIniFile::TIniFile(const std::string& fileName) : fileName_(fileName) {
    std::string text;
    ReadRegularFile(fileName, text, &readFailure_);
    Parse(text);
}

void TIniFile::Parse(std::string_view text) {
    Section* current = nullptr; // keys before the first section belong to none
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        const std::string line = Trim(text.substr(pos, end - pos)); // also drops the CR of CR LF
        pos = end + 1;
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            const std::size_t close = line.find(']');
            const std::string name = Trim(
                std::string_view(line).substr(1, close == std::string::npos ? std::string::npos : close - 1));
            sections_.push_back(Section{name, {}});
            current = &sections_.back();
            continue;
        }
        const std::size_t eq = line.find('=');
        if (current == nullptr || eq == std::string::npos) continue;
        std::string key = TrimRight(std::string_view(line).substr(0, eq));
        if (key.empty()) continue;
        current->keys.emplace_back(std::move(key), Unquote(TrimLeft(std::string_view(line).substr(eq + 1))));
    }
}

const std::string* TIniFile::Find(std::string_view section, std::string_view key) const {
    for (const Section& s : sections_) {
        if (!SameText(s.name, section)) continue;
        // Only the first section of a name is searched, as the profile reader does.
        for (const auto& [k, v] : s.keys)
            if (SameText(k, key)) return &v;
        return nullptr;
    }
    return nullptr;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 const std::string& def) const {
    const std::string* v = Find(section, key);
    return v ? *v : def;
}

int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key, int32_t def) const {
    const std::string* v = Find(section, key);
    int32_t value = 0;
    return v && TryStrToInt(*v, value) ? value : def;
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

} // namespace platform
