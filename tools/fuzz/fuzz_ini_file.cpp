// libFuzzer target: any bytes as a settings file, read as the server and the module read theirs. The
// reader must take any file in time linear in it, and the typed reads must agree with the text read.
#include "platform/ini_file.h"
#include "platform/text.h"

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/fuzz_ini_file." + std::to_string(::getpid()) + ".ini";
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data),
                                                                  static_cast<std::streamsize>(size));
    const platform::TIniFile ini(path);
    static const char* const keys[][2] = {{"server", "delay_on_start"}, {"ports", "COM1"}, {"debug", "trace"},
                                          {"a", "b"}, {"", ""}};
    for (const auto& [section, key] : keys) {
        const std::string value = ini.ReadString(section, key, "\x01missing");
        int32_t number = 0;
        const bool isNumber = value != "\x01missing" && platform::TryStrToInt(value, number);
        Check(ini.ReadInteger(section, key, 7) == (isNumber ? number : 7));
        Check(ini.ReadBool(section, key, true) == (isNumber ? number != 0 : true));
    }
    return 0;
}
