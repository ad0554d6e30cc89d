// For targets whose reader takes a file name: each input goes to one file of the process, removed
// when the fuzzer ends; and the check that turns a broken rule into a finding.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

namespace fuzz {

inline void Check(bool condition) {
    if (!condition) std::abort();
}

inline const std::string& InputFile(const uint8_t* data, size_t size, const char* extension) {
    static const struct TFile {
        std::string path;
        ~TFile() { ::unlink(path.c_str()); }
    } file{"/tmp/fuzz_input." + std::to_string(::getpid()) + extension};
    std::ofstream(file.path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return file.path;
}

} // namespace fuzz
