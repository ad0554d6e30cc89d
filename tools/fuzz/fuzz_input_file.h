// For targets whose reader takes a file name: each input goes to one file of the process, removed
// when the fuzzer ends; and the check that turns a broken rule into a finding.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace fuzz {

inline void Check(bool condition) {
    if (!condition) std::abort();
}

// A file name of the process whose file goes when the fuzzer ends, whatever wrote it.
struct TRemovedAtExit {
    std::string path;
    ~TRemovedAtExit() { ::unlink(path.c_str()); }
};

inline const std::string& InputFile(const uint8_t* data, size_t size, const char* extension) {
    static const TRemovedAtExit file{"/tmp/fuzz_input." + std::to_string(::getpid()) + extension};
    std::ofstream(file.path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return file.path;
}

// The whole file; empty when it cannot be read.
inline std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace fuzz
