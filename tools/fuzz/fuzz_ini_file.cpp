// libFuzzer target: any bytes as a settings file, read as the server and the module read theirs. The
// reader must take any file in time linear in it, and the typed reads must agree with the text read.
#include "platform/ini_file.h"
#include "platform/text.h"

#include "fuzz_input_file.h"

#include <cstdint>
#include <string>

using fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = fuzz::InputFile(data, size, ".ini");
    const platform::TIniFile ini(path);
    static const char* const keys[][2] = {
        {"server", "delay_on_start"}, {"ports", "COM1"}, {"debug", "trace"}, {"a", "b"}, {"", ""}};
    for (const auto& [section, key] : keys) {
        const std::string value = ini.ReadString(section, key, "\x01missing");
        int32_t number = 0;
        const bool isNumber = value != "\x01missing" && platform::TryStrToInt(value, number);
        Check(ini.ReadInteger(section, key, 7) == (isNumber ? number : 7));
        Check(ini.ReadBool(section, key, true) == (isNumber ? number != 0 : true));
    }
    return 0;
}
